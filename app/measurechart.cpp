// "График измерений": the measurement chart window.
#include "measurechart.h"
#include "ui_measurechart.h"

#include "filechoice_gui.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QSaveFile>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

using namespace QtCharts;

namespace {
const int SpanMinutes[] = {1, 10, 60};

QLineSeries *makeSeries(const char *name, const QColor &colour, Qt::PenStyle style, qreal width)
{
    auto *series = new QLineSeries;
    series->setObjectName(QLatin1String(name));
    QPen pen(colour);
    pen.setStyle(style);
    pen.setWidthF(width);
    series->setPen(pen);
    return series;
}
// Round tick values, with as many decimals in the labels as the step needs.
void setValueRange(QValueAxis *axis, const MeasureTrend::Range &range)
{
    axis->setRange(range.low, range.high);
    axis->applyNiceNumbers();
    const double step = (axis->max() - axis->min()) / std::max(1, axis->tickCount() - 1);
    const int decimals = step >= 1 || step <= 0 ? 0 : int(std::ceil(-std::log10(step) - 1e-9));
    axis->setLabelFormat(QStringLiteral("%.") + QString::number(qBound(0, decimals, 4)) + QStringLiteral("f"));
}
} // namespace

MeasureChart::MeasureChart(const MeasureTrend &trend, QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::MeasureChart), trend(trend),
      lastDir(QDir::homePath())
{
    ui->setupUi(this);

    chartObject = new QChart;
    chartObject->legend()->setAlignment(Qt::AlignBottom);
    chartObject->setMargins(QMargins(4, 4, 4, 4));

    concentration = makeSeries("series_Concentration", QColor(0x1f, 0x5f, 0xbf), Qt::SolidLine, 2);
    output = makeSeries("series_Output", QColor(0x2e, 0x8b, 0x3e), Qt::SolidLine, 1.5);
    limit1 = makeSeries("series_Limit1", QColor(0xe0, 0x8a, 0x00), Qt::DashLine, 1.5);
    limit2 = makeSeries("series_Limit2", QColor(0xc8, 0x1e, 0x1e), Qt::DashLine, 1.5);
    for (QLineSeries *s : {concentration, limit1, limit2, output})
        chartObject->addSeries(s);

    timeAxis = new QDateTimeAxis;
    concentrationAxis = new QValueAxis;
    outputAxis = new QValueAxis;
    chartObject->addAxis(timeAxis, Qt::AlignBottom);
    chartObject->addAxis(concentrationAxis, Qt::AlignLeft);
    chartObject->addAxis(outputAxis, Qt::AlignRight);
    for (QLineSeries *s : {concentration, limit1, limit2}) {
        s->attachAxis(timeAxis);
        s->attachAxis(concentrationAxis);
    }
    output->attachAxis(timeAxis);
    output->attachAxis(outputAxis);

    view = new QChartView(chartObject, this);
    view->setObjectName(QStringLiteral("chartView"));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(480, 280);
    ui->verticalLayout->insertWidget(1, view, 1);

    retranslate();
    refresh();
}

MeasureChart::~MeasureChart()
{
    delete ui;
}

qint64 MeasureChart::spanMs() const
{
    const int index = qBound(0, ui->comboBox_Span->currentIndex(), 2);
    return qint64(SpanMinutes[index]) * 60 * 1000;
}

void MeasureChart::retranslate()
{
    const bool voltage = trend.output() == MeasureTrend::Output::Voltage;
    const QString unit = trend.unitName();
    concentration->setName(tr("Концентрация, %1").arg(unit));
    output->setName(voltage ? tr("Напряжение, мВ") : tr("Ток, мА"));
    limit1->setName(tr("Порог 1"));
    limit2->setName(tr("Порог 2"));
    concentrationAxis->setTitleText(unit);
    outputAxis->setTitleText(voltage ? tr("мВ") : tr("мА"));
}

void MeasureChart::refresh()
{
    if (!isVisible())
        return;
    retranslate();

    const qint64 span = spanMs();
    const QVector<MeasureTrend::Sample> shown = trend.span(span);
    const qint64 end = shown.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : shown.last().msecs;
    const qint64 start = end - span;

    // Reads that failed break the lines: the samples since the last break go
    // into the two named series, each earlier stretch into a series of its
    // own (drawn alike, without a legend entry).
    QVector<QVector<QPointF>> conc(1);
    QVector<QVector<QPointF>> out(1);
    for (const MeasureTrend::Sample &s : shown) {
        if (s.gapBefore && !conc.last().isEmpty()) {
            conc.append(QVector<QPointF>());
            out.append(QVector<QPointF>());
        }
        conc.last().append(QPointF(qreal(s.msecs), s.concentration));
        out.last().append(QPointF(qreal(s.msecs), s.output));
    }
    concentration->replace(conc.last());
    output->replace(out.last());
    const int earlier = conc.size() - 1;
    while (earlierSeries.size() < 2 * earlier) {
        for (QLineSeries *like : {concentration, output}) {
            auto *series = new QLineSeries;
            series->setObjectName(like->objectName() + QStringLiteral("_earlier"));
            series->setPen(like->pen());
            chartObject->addSeries(series);
            series->attachAxis(timeAxis);
            series->attachAxis(like == output ? outputAxis : concentrationAxis);
            for (QLegendMarker *marker : chartObject->legend()->markers(series))
                marker->setVisible(false);
            earlierSeries.append(series);
        }
    }
    for (int i = 0; i < earlierSeries.size(); ++i) {
        const int stretch = i / 2;
        if (stretch < earlier)
            earlierSeries[i]->replace(i % 2 == 0 ? conc[stretch] : out[stretch]);
        else
            earlierSeries[i]->clear();
    }
    // The thresholds the detector holds now, across the whole span.
    if (shown.isEmpty()) {
        limit1->clear();
        limit2->clear();
    } else {
        const MeasureTrend::Sample &last = shown.last();
        limit1->replace(QVector<QPointF>{QPointF(qreal(start), last.limit1), QPointF(qreal(end), last.limit1)});
        limit2->replace(QVector<QPointF>{QPointF(qreal(start), last.limit2), QPointF(qreal(end), last.limit2)});
    }

    // Ticks every 10 s, 2 min or 10 min.
    timeAxis->setTickCount(span == 10 * 60 * 1000 ? 6 : 7);
    timeAxis->setFormat(span > 10 * 60 * 1000 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end));
    setValueRange(concentrationAxis, trend.concentrationRange(span));
    setValueRange(outputAxis, trend.outputRange(span));

    if (shown.isEmpty()) {
        ui->label_Info->setText(tr("Измерений пока нет. Точки появляются с каждым чтением: "
                                   "включите «Авто» на вкладке «Чтение» или начните калибровку по газу."));
    } else {
        ui->label_Info->setText(tr("Точек на графике: %1, последнее измерение: %2")
                                    .arg(shown.size())
                                    .arg(QDateTime::fromMSecsSinceEpoch(end).toString(QStringLiteral("HH:mm:ss"))));
    }
}

void MeasureChart::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        retranslate();
        refresh();
    }
    QWidget::changeEvent(event);
}

void MeasureChart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void MeasureChart::on_comboBox_Span_currentIndexChanged(int)
{
    refresh();
}

bool MeasureChart::exportPng(const QString &path)
{
    const QPixmap picture = view->grab();
    QSaveFile file(path);
    if (picture.isNull() || !file.open(QIODevice::WriteOnly))
        return false;
    if (!picture.save(&file, "PNG"))
        return false;
    return file.commit();
}

bool MeasureChart::exportCsv(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = trend.csv(spanMs()).toUtf8();
    if (file.write(text) != text.size())
        return false;
    return file.commit();
}

QString MeasureChart::chooseFile(const QString &caption, const QString &name, const QString &filter)
{
    const QString path = FileChoice::saveFileName(this, caption, QDir(lastDir).filePath(name), filter);
    if (!path.isEmpty())
        lastDir = QFileInfo(path).absolutePath();
    return path;
}

void MeasureChart::on_pushButton_ExportPng_clicked()
{
    const QString path = chooseFile(tr("Экспорт PNG"), QStringLiteral("measurements.png"),
                                    tr("Изображения PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!exportPng(path))
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка записи файла"));
}

void MeasureChart::on_pushButton_ExportCsv_clicked()
{
    const QString path = chooseFile(tr("Экспорт CSV"), QStringLiteral("measurements.csv"),
                                    tr("Таблицы CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportCsv(path))
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка записи файла"));
}

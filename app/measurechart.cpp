// "График измерений": the measurement chart window.
#include "measurechart.h"
#include "ui_measurechart.h"

#include "filechoice_gui.h"
#include "programlanguage.h"

#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRubberBand>
#include <QWheelEvent>
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
// The span box's last entry takes the minutes from the spin box.
const int OtherSpan = 3;
// The narrowest time range the zoom goes to.
const qint64 LeastZoomMs = 5 * 1000;
// A band narrower than this (pixels) is a click, not a zoom.
const int LeastBand = 6;

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

MeasureChart::MeasureChart(MeasureTrend &trend, QWidget *parent)
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
    view->setMouseTracking(true);
    view->viewport()->setMouseTracking(true);
    view->viewport()->installEventFilter(this);
    ui->verticalLayout->insertWidget(1, view, 1);

    // The cursor: a line across the plot and a label with the time and the
    // values there, above the series.
    cursorLine = new QGraphicsLineItem(chartObject);
    cursorLine->setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DotLine));
    cursorBox = new QGraphicsRectItem(chartObject);
    cursorBox->setBrush(QColor(255, 255, 240, 230));
    cursorBox->setPen(QPen(QColor(0x80, 0x80, 0x80)));
    cursorLabel = new QGraphicsSimpleTextItem(cursorBox);
    for (QGraphicsItem *item : {static_cast<QGraphicsItem *>(cursorLine), static_cast<QGraphicsItem *>(cursorBox)}) {
        item->setZValue(100);
        item->hide();
    }
    // The plot moves when the axes' labels change width: what is drawn at a
    // time moves with it.
    connect(chartObject, &QChart::plotAreaChanged, this, [this] {
        placeMarks();
        if (cursorOn)
            placeCursor(cursorPos);
    });

    retranslate();
    refresh();
}

MeasureChart::~MeasureChart()
{
    delete ui;
}

qint64 MeasureChart::spanMs() const
{
    const int index = ui->comboBox_Span->currentIndex();
    const int minutes = index == OtherSpan ? ui->spinBox_Span->value() : SpanMinutes[qBound(0, index, 2)];
    return qint64(minutes) * 60 * 1000;
}

bool MeasureChart::isFrozen() const
{
    return ui->pushButton_Freeze->isChecked();
}

void MeasureChart::zoomTo(qint64 from, qint64 to)
{
    if (to - from < LeastZoomMs) {
        const qint64 middle = from + (to - from) / 2;
        from = middle - LeastZoomMs / 2;
        to = from + LeastZoomMs;
    }
    if (to - from > MeasureTrend::KeepMs)
        from = to - MeasureTrend::KeepMs;
    zoomFrom = from;
    zoomUntil = to;
    ui->pushButton_ResetZoom->setEnabled(true);
    refresh();
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
    ui->pushButton_Freeze->setText(isFrozen() ? tr("Продолжить") : tr("Остановить"));
}

void MeasureChart::refresh()
{
    if (!isVisible())
        return;
    retranslate();

    // Live, the right edge is the newest sample; stopped, where it was then;
    // zoomed, the range chosen.
    qint64 span = spanMs();
    qint64 end = trend.isEmpty() ? QDateTime::currentMSecsSinceEpoch() : trend.newest().msecs;
    if (isZoomed()) {
        end = zoomUntil;
        span = zoomUntil - zoomFrom;
    } else if (isFrozen()) {
        end = frozenTo;
    }
    const qint64 start = end - span;
    shownFrom = start;
    shownTo = end;
    const QVector<MeasureTrend::Sample> shown = trend.between(start, end);

    // Reads that failed, and pauses in reading, break the lines: the samples
    // since the last break go into the two named series, each earlier
    // stretch into a series of its own (drawn alike, without a legend entry).
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
    // A read alone between pauses has no line: it shows as a dot.
    concentration->setPointsVisible(conc.last().size() == 1);
    output->setPointsVisible(out.last().size() == 1);
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
        if (stretch < earlier) {
            const QVector<QPointF> &points = i % 2 == 0 ? conc[stretch] : out[stretch];
            earlierSeries[i]->replace(points);
            earlierSeries[i]->setPointsVisible(points.size() == 1);
        } else {
            earlierSeries[i]->clear();
        }
    }
    // The thresholds as the detector held them at each moment: a step where
    // they were changed, from the first read (or the start of the view) up
    // to the newest one (or the end of the view).
    QVector<QPointF> steps1;
    QVector<QPointF> steps2;
    if (!trend.isEmpty()) {
        const qint64 first = std::max(start, trend.at(0).msecs);
        const qint64 last = std::min(end, trend.newest().msecs);
        for (const MeasureTrend::LimitStep &step : trend.limitSteps(first, last)) {
            if (!steps1.isEmpty()) {
                steps1.append(QPointF(qreal(step.msecs), steps1.last().y()));
                steps2.append(QPointF(qreal(step.msecs), steps2.last().y()));
            }
            steps1.append(QPointF(qreal(step.msecs), step.limit1));
            steps2.append(QPointF(qreal(step.msecs), step.limit2));
        }
        if (!steps1.isEmpty() && last > steps1.last().x()) {
            steps1.append(QPointF(qreal(last), steps1.last().y()));
            steps2.append(QPointF(qreal(last), steps2.last().y()));
        }
    }
    limit1->replace(steps1);
    limit2->replace(steps2);

    // Ticks every 10 s, 2 min or 10 min for the spans of the box.
    timeAxis->setTickCount(span == 10 * 60 * 1000 ? 6 : 7);
    timeAxis->setFormat(span > 10 * 60 * 1000 ? QStringLiteral("HH:mm") : QStringLiteral("HH:mm:ss"));
    timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(start), QDateTime::fromMSecsSinceEpoch(end));
    setValueRange(concentrationAxis, trend.concentrationRange(start, end));
    setValueRange(outputAxis, trend.outputRange(start, end));

    if (trend.isEmpty()) {
        ui->label_Info->setText(tr("Измерений пока нет. Точки появляются с каждым чтением: "
                                   "включите «Авто» на вкладке «Чтение» или начните калибровку по газу."));
    } else {
        QString info = tr("Точек на графике: %1, последнее измерение: %2")
                           .arg(shown.size())
                           .arg(QDateTime::fromMSecsSinceEpoch(trend.newest().msecs).toString(QStringLiteral("HH:mm:ss")));
        if (isFrozen() || isZoomed())
            info += QLatin1Char(' ') + tr("(график остановлен, измерения продолжают записываться)");
        ui->label_Info->setText(info);
    }
    // The marks in the view, drawn anew.
    for (const MarkItem &item : qAsConst(markItems))
        delete item.line;   // the label is the line's child
    markItems.clear();
    for (const MeasureTrend::Mark &mark : trend.marks(start, end)) {
        MarkItem item;
        item.msecs = mark.msecs;
        item.line = new QGraphicsLineItem(chartObject);
        item.line->setPen(QPen(QColor(0x6a, 0x3d, 0x9a), 1.5, Qt::DashDotLine));
        item.line->setZValue(50);
        item.label = new QGraphicsSimpleTextItem(mark.label, item.line);
        item.label->setBrush(QColor(0x6a, 0x3d, 0x9a));
        markItems.append(item);
    }
    placeMarks();
    if (cursorOn)
        placeCursor(cursorPos);
}

qreal MeasureChart::xOf(qint64 msecs) const
{
    const QRectF plot = chartObject->plotArea();
    if (shownTo <= shownFrom)
        return plot.left();
    return plot.left() + plot.width() * double(msecs - shownFrom) / double(shownTo - shownFrom);
}

void MeasureChart::placeMarks()
{
    const QRectF plot = chartObject->plotArea();
    for (const MarkItem &item : qAsConst(markItems)) {
        const qreal x = xOf(item.msecs);
        item.line->setLine(x, plot.top(), x, plot.bottom());
        // The label at the top, right of the line (left of it at the right edge).
        const QRectF text = item.label->boundingRect();
        const qreal left = x + 3 + text.width() > plot.right() ? x - 3 - text.width() : x + 3;
        item.label->setPos(left, plot.top() + 2);
    }
}

void MeasureChart::markMoment(const QDateTime &when, const QString &label)
{
    trend.addMark(when.toMSecsSinceEpoch(), label);
    refresh();
}

QStringList MeasureChart::markLabels() const
{
    QStringList labels;
    for (const MarkItem &item : markItems)
        labels << item.label->text();
    return labels;
}

QString MeasureChart::exportName(const QString &suffix) const
{
    const qint64 at = shownTo > 0 ? shownTo : QDateTime::currentMSecsSinceEpoch();
    const QString date = QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("yyyy-MM-dd_HH-mm"));
    const QString serial = trend.serialNumber();
    return (serial.isEmpty() ? date : serial + QLatin1Char('_') + date) + QLatin1Char('.') + suffix;
}

qint64 MeasureChart::timeAt(const QPoint &viewportPos) const
{
    const QPointF inChart = chartObject->mapFromScene(view->mapToScene(viewportPos));
    return qint64(std::llround(chartObject->mapToValue(inChart, concentration).x()));
}

bool MeasureChart::inPlot(const QPoint &viewportPos) const
{
    return chartObject->plotArea().contains(chartObject->mapFromScene(view->mapToScene(viewportPos)));
}

QString MeasureChart::cursorText() const
{
    return cursorOn ? cursorLabel->text() : QString();
}

void MeasureChart::hideCursor()
{
    cursorOn = false;
    cursorLine->hide();
    cursorBox->hide();
}

void MeasureChart::placeCursor(const QPoint &viewportPos)
{
    if (!inPlot(viewportPos)) {
        hideCursor();
        return;
    }
    cursorOn = true;
    cursorPos = viewportPos;
    const qint64 at = timeAt(viewportPos);
    const QRectF plot = chartObject->plotArea();
    const qreal x = xOf(at);
    cursorLine->setLine(x, plot.top(), x, plot.bottom());

    // The values of the read nearest in time to the cursor.
    QStringList lines;
    lines << QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("HH:mm:ss"));
    const int index = trend.nearest(at, shownFrom, shownTo);
    if (index >= 0) {
        const MeasureTrend::Sample &s = trend.at(index);
        const bool voltage = trend.output() == MeasureTrend::Output::Voltage;
        lines[0] = QDateTime::fromMSecsSinceEpoch(s.msecs).toString(QStringLiteral("HH:mm:ss"));
        lines << concentration->name() + QStringLiteral(": ") + QString::number(s.concentration, 'f', s.decimals)
              << output->name() + QStringLiteral(": ") + QString::number(s.output, 'f', voltage ? 2 : 3)
              << limit1->name() + QStringLiteral(": ") + QString::number(s.limit1, 'f', s.decimals)
              << limit2->name() + QStringLiteral(": ") + QString::number(s.limit2, 'f', s.decimals);
    }
    cursorLabel->setText(lines.join(QLatin1Char('\n')));
    cursorLabel->setPos(4, 2);
    const QRectF text = cursorLabel->boundingRect();
    QRectF box(0, 0, text.width() + 8, text.height() + 4);
    // Right of the line, or left of it near the right edge.
    qreal left = x + 8;
    if (left + box.width() > plot.right())
        left = x - 8 - box.width();
    cursorBox->setRect(box);
    cursorBox->setPos(std::max(plot.left(), left), plot.top() + 4);
    cursorLine->show();
    cursorBox->show();
}

bool MeasureChart::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != view->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        placeCursor(mouse->pos());
        if (band) {
            const QRectF plot = chartObject->plotArea();
            const QPoint top = view->mapFromScene(chartObject->mapToScene(plot.topLeft()));
            const QPoint bottom = view->mapFromScene(chartObject->mapToScene(plot.bottomRight()));
            const int x = qBound(top.x(), mouse->pos().x(), bottom.x());
            band->setGeometry(QRect(QPoint(std::min(bandStart.x(), x), top.y()),
                                    QPoint(std::max(bandStart.x(), x), bottom.y())));
        }
        return true;
    }
    case QEvent::Leave:
        hideCursor();
        return false;
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !inPlot(mouse->pos()))
            return false;
        // A band over the time axis only: the full height of the plot.
        if (!band)
            band = new QRubberBand(QRubberBand::Rectangle, view->viewport());
        bandStart = mouse->pos();
        band->setGeometry(QRect(bandStart, QSize(1, 1)));
        band->show();
        return true;
    }
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !band)
            return false;
        const QRect chosen = band->geometry();
        band->hide();
        band->deleteLater();
        band = nullptr;
        if (std::abs(mouse->pos().x() - bandStart.x()) >= LeastBand)
            zoomTo(timeAt(QPoint(chosen.left(), bandStart.y())), timeAt(QPoint(chosen.right(), bandStart.y())));
        return true;
    }
    case QEvent::Wheel: {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const QPoint at = wheel->position().toPoint();
        if (!inPlot(at) || wheel->angleDelta().y() == 0)
            return false;
        // In by a fifth a notch, out again; the time under the mouse stays put.
        const double factor = std::pow(wheel->angleDelta().y() > 0 ? 0.8 : 1.25, std::abs(wheel->angleDelta().y()) / 120.0);
        const qint64 pivot = timeAt(at);
        const qint64 from = pivot - qint64(std::llround(double(pivot - shownFrom) * factor));
        const qint64 to = pivot + qint64(std::llround(double(shownTo - pivot) * factor));
        zoomTo(from, to);
        return true;
    }
    default:
        return false;
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

void MeasureChart::on_comboBox_Span_currentIndexChanged(int index)
{
    ui->spinBox_Span->setEnabled(index == OtherSpan);
    refresh();
}

void MeasureChart::on_spinBox_Span_valueChanged(int)
{
    refresh();
}

void MeasureChart::on_pushButton_Freeze_toggled(bool frozen)
{
    // Stopped, the view keeps its right edge; the samples go on coming in,
    // and going on again catches up with them.
    if (frozen)
        frozenTo = shownTo;
    retranslate();
    refresh();
}

void MeasureChart::on_pushButton_ResetZoom_clicked()
{
    zoomFrom = zoomUntil = 0;
    ui->pushButton_ResetZoom->setEnabled(false);
    refresh();
}

bool MeasureChart::exportPng(const QString &path)
{
    // The chart under a title line: which device, and when.
    const QImage chartImage = view->grab().toImage();
    if (chartImage.isNull())
        return false;
    const QString serial = trend.serialNumber().isEmpty() ? QStringLiteral("?") : trend.serialNumber();
    const QString title = tr("Датчик %1, %2, %3–%4")
                              .arg(serial, QDateTime::fromMSecsSinceEpoch(shownTo).toString(QStringLiteral("dd.MM.yyyy")),
                                   QDateTime::fromMSecsSinceEpoch(shownFrom).toString(QStringLiteral("HH:mm:ss")),
                                   QDateTime::fromMSecsSinceEpoch(shownTo).toString(QStringLiteral("HH:mm:ss")));
    QFont font = this->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    const int titleHeight = QFontMetrics(font).height() * 2;
    QImage picture(chartImage.width(), chartImage.height() + titleHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, 0, picture.width(), titleHeight), Qt::AlignCenter, title);
        painter.drawImage(0, titleHeight, chartImage);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
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
    const QByteArray text = trend.csv(shownFrom, shownTo, ProgramLanguage::locale()).toUtf8();
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
    const QString path = chooseFile(tr("Экспорт PNG"), exportName(QStringLiteral("png")),
                                    tr("Изображения PNG (*.png)"));
    if (path.isEmpty())
        return;
    if (!exportPng(path))
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка записи файла"));
}

void MeasureChart::on_pushButton_ExportCsv_clicked()
{
    const QString path = chooseFile(tr("Экспорт CSV"), exportName(QStringLiteral("csv")),
                                    tr("Таблицы CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (!exportCsv(path))
        QMessageBox::critical(this, tr("Ошибка"), tr("Ошибка записи файла"));
}

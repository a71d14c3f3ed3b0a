// The measurement chart: opened from the menu, fed by the reads the program
// makes anyway (automatic reading, the gas calibration) without a request of
// its own, showing the thresholds, trimming to its span and exporting.
#include "shelltest.h"
#include "windowsim.h"

#include "calibration.h"
#include "programlink.h"
#include "filechoice_gui.h"
#include "mainwindow.h"
#include "measurechart.h"
#include "windowplace.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QTabWidget>
#include <QSpinBox>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtTest>
#include <memory>

using namespace QtCharts;
using namespace ShellTest;

namespace {
const QByteArray LiveRead = TestFrames::withCrc(QByteArray::fromHex("01040000000a"));

QLineSeries *series(MeasureChart *chart, const char *name)
{
    for (QAbstractSeries *s : chart->chart()->series())
        if (s->objectName() == QLatin1String(name))
            return static_cast<QLineSeries *>(s);
    qFatal("no series %s", name);
    return nullptr;
}

double lastY(MeasureChart *chart, const char *name)
{
    QLineSeries *s = series(chart, name);
    return s->count() ? s->at(s->count() - 1).y() : -1e9;
}

// Frames other than the live-value read, for failure messages.
QList<QByteArray> otherThanLiveReads(const QList<QByteArray> &frames)
{
    QList<QByteArray> out;
    for (const QByteArray &f : frames)
        if (f != LiveRead)
            out.append(f);
    return out;
}
} // namespace

class ChartTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void liveValuesLimitsAndExport();
    void nothingExtraIsSent();
    void runsWhileCalibrating();
    void spanTrimsWhatIsShown();
    void failedReadsBreakTheLines();
    void cursorFreezeZoomAndFreeSpan();
    void markedMoments();
    void windowsOpenOnTheScreen();

private:
    MeasureChart *openChart(MainWindow *w);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<MainWindow> window;
};

void ChartTest::initTestCase()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    prepare(*dir);
}

void ChartTest::init()
{
    resetLink();
}

void ChartTest::cleanup()
{
    FileChoice::saveHook = nullptr;
    window.reset();
    theMainWindow = nullptr;
    resetLink();
}

MeasureChart *ChartTest::openChart(MainWindow *w)
{
    auto *action = child<QAction>(w, "action_chart");
    action->trigger();
    auto *chart = w->findChild<MeasureChart *>();
    if (chart && !chart->isVisible())
        return nullptr;
    return chart;
}

void ChartTest::liveValuesLimitsAndExport()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);

    // After the menu's original actions, with its shortcut.
    auto *menu = child<QMenu>(w, "menu");
    auto *action = child<QAction>(w, "action_chart");
    QVERIFY(menu->actions().indexOf(action) > menu->actions().indexOf(child<QAction>(w, "action_reference")));
    QCOMPARE(action->text(), QStringLiteral("График измерений"));
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+G")));

    MeasureChart *chart = openChart(w);
    QVERIFY(chart);
    QVERIFY(chart->isWindow());
    QCOMPARE(chart->windowTitle(), QStringLiteral("График измерений"));
    QVERIFY(!QApplication::activeModalWidget());
    // Page set-up's read is already on it.
    QVERIFY(series(chart, "series_Concentration")->count() >= 1);
    // Thresholds 200 and 400 at one decimal.
    QCOMPARE(series(chart, "series_Limit1")->at(0).y(), 20.0);
    QCOMPARE(series(chart, "series_Limit2")->at(0).y(), 40.0);
    QCOMPARE(series(chart, "series_Output")->name(), QStringLiteral("Ток, мА"));

    // Automatic reading brings the simulator's new values.
    child<QCheckBox>(w, "checkBoxAutoupdate")->setChecked(true);
    SIM("set input 2 345");
    SIM("set input 1 12345");
    QTRY_COMPARE_WITH_TIMEOUT(lastY(chart, "series_Concentration"), 34.5, 8000);
    QTRY_COMPARE_WITH_TIMEOUT(lastY(chart, "series_Output"), 12.345, 8000);

    // A new threshold on the device shows after the next full read.
    SIM("set holding 0x1005 250");
    child<QCheckBox>(w, "checkBoxAutoupdate")->setChecked(false);
    child<QPushButton>(w, "pushButton_Read_Param")->click();
    // A step at the read that brought it: 20.0 before, 25.0 since.
    QLineSeries *l1 = series(chart, "series_Limit1");
    QCOMPARE(l1->at(0).y(), 20.0);
    QCOMPARE(l1->at(l1->count() - 1).y(), 25.0);
    QCOMPARE(l1->at(l1->count() - 1).x(), qreal(series(chart, "series_Concentration")->at(series(chart, "series_Concentration")->count() - 1).x()));

    // CSV: the points of the span, with the value the simulator gave.
    const QString csvPath = dir->filePath(QStringLiteral("m.csv"));
    const QString pngPath = dir->filePath(QStringLiteral("m.png"));
    QStringList asked;
    QStringList proposed;
    QString answer = csvPath;
    FileChoice::saveHook = [&](QWidget *, const QString &caption, const QString &name, const QString &) {
        asked << caption;
        proposed << QFileInfo(name).fileName();
        return answer;
    };
    SIM("set holding 0x100F 4321");
    child<QPushButton>(w, "pushButton_Read_Param")->click();
    const QString serial = QStringLiteral("TL02ID0004321");
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    auto readCsv = [&csvPath] {
        QFile csv(csvPath);
        if (!csv.open(QIODevice::ReadOnly))
            return QStringList();
        return QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    // In Russian: Russian column names and decimal commas; the serial number
    // and the date above them and in the name offered.
    child<QPushButton>(chart, "pushButton_ExportCsv")->click();
    QStringList lines = readCsv();
    QVERIFY(lines.size() > 3);
    QCOMPARE(lines.at(0), QStringLiteral("Заводской номер;") + serial);
    QCOMPARE(lines.at(1), QStringLiteral("Дата;") + today);
    QCOMPARE(lines.at(2), QStringLiteral("Время;Концентрация, PPM;Ток, мА;Порог 1, PPM;Порог 2, PPM"));
    QCOMPARE(lines.size() - 3, series(chart, "series_Concentration")->count());
    QVERIFY2(lines.last().endsWith(QStringLiteral(";34,5;12,345;25,0;40,0")), qPrintable(lines.last()));
    QVERIFY2(proposed.last().startsWith(serial + QLatin1Char('_') + today) && proposed.last().endsWith(QLatin1String(".csv")),
             qPrintable(proposed.last()));

    answer = pngPath;
    child<QPushButton>(chart, "pushButton_ExportPng")->click();
    QImage png(pngPath, "PNG");
    QVERIFY(!png.isNull());
    QVERIFY(png.width() >= 480 && png.height() >= 280);
    // A title above the chart: taller than the chart view, its top rows not all white.
    QVERIFY(png.height() > chart->findChild<QChartView *>(QStringLiteral("chartView"))->height());
    bool titleInk = false;
    for (int y = 0; y < png.height() - chart->findChild<QChartView *>(QStringLiteral("chartView"))->height(); ++y)
        for (int x = 0; x < png.width() && !titleInk; ++x)
            titleInk = png.pixelColor(x, y).lightness() < 128;
    QVERIFY(titleInk);
    QVERIFY2(proposed.last().startsWith(serial + QLatin1Char('_') + today) && proposed.last().endsWith(QLatin1String(".png")),
             qPrintable(proposed.last()));
    QCOMPARE(asked, (QStringList{QStringLiteral("Экспорт CSV"), QStringLiteral("Экспорт PNG")}));

    // In English: English names and decimal points.
    QTest::mouseClick(child<QRadioButton>(w, "radioButtonLanguageEn"), Qt::LeftButton);
    answer = csvPath;
    child<QPushButton>(chart, "pushButton_ExportCsv")->click();
    lines = readCsv();
    QCOMPARE(lines.value(0), QStringLiteral("Serial number;") + serial);
    QCOMPARE(lines.value(2), QStringLiteral("Time;Concentration, PPM;Current, mA;Threshold 1, PPM;Threshold 2, PPM"));
    QVERIFY2(lines.last().endsWith(QStringLiteral(";34.5;12.345;25.0;40.0")), qPrintable(lines.last()));
    QTest::mouseClick(child<QRadioButton>(w, "radioButtonLanguageRus"), Qt::LeftButton);

    // A file that cannot be written is reported, not passed over.
    answer = dir->filePath(QStringLiteral("no-such-dir/m.csv"));
    ModalCloser closer;
    child<QPushButton>(chart, "pushButton_ExportCsv")->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen.first().title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.seen.first().text, QStringLiteral("Ошибка записи файла"));

    // Closing hides it; the menu brings the same window back.
    chart->close();
    QCOMPARE(openChart(w), chart);
}

void ChartTest::nothingExtraIsSent()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    auto *autoBox = child<QCheckBox>(w, "checkBoxAutoupdate");

    // Automatic reading with the chart never opened...
    autoBox->setChecked(true);
    sim.clearLog();
    QTest::qWait(3500);
    autoBox->setChecked(false);
    const QList<QByteArray> without = sim.rxFrames();

    // ...and with it open and drawing.
    MeasureChart *chart = openChart(w);
    QVERIFY(chart);
    const int before = series(chart, "series_Concentration")->count();
    autoBox->setChecked(true);
    sim.clearLog();
    QTest::qWait(3500);
    autoBox->setChecked(false);
    const QList<QByteArray> with = sim.rxFrames();

    QVERIFY2(without.size() >= 1 && with.size() >= 1, qPrintable(describe(with)));
    QVERIFY2(otherThanLiveReads(without).isEmpty(), qPrintable(describe(without)));
    QVERIFY2(otherThanLiveReads(with).isEmpty(), qPrintable(describe(with)));
    // One point per read, and no more reads than a second apiece (with room).
    QCOMPARE(series(chart, "series_Concentration")->count() - before, with.size());
    QVERIFY2(with.size() <= without.size() + 2, qPrintable(QStringLiteral("%1 vs %2").arg(with.size()).arg(without.size())));
}

void ChartTest::runsWhileCalibrating()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    MeasureChart *chart = openChart(w);
    QVERIFY(chart);

    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(1);
    QVERIFY(currentCalibration);
    auto *calibrate = child<QPushButton>(currentCalibration, "Buttoncalibrate");
    calibrate->click();
    QCOMPARE(calibrate->text(), QStringLiteral("Подтвердить калибровку"));
    sim.clearLog();
    SIM("set input 2 77");
    SIM("set input 0 8123");
    QTRY_COMPARE_WITH_TIMEOUT(lastY(chart, "series_Concentration"), 7.7, 8000);
    // Only the calibration's own reads went out meanwhile.
    QVERIFY2(otherThanLiveReads(sim.rxFrames()).isEmpty(), qPrintable(describe(sim.rxFrames())));
    QVERIFY(chart->isVisible());

    // The confirmation still works with the chart open: the zero code is the ADC code read.
    calibrate->click();
    QCOMPARE(sim.holding(0x1000), 8123);
    QCOMPARE(calibrate->text(), QStringLiteral("Калибровать ноль"));
}

void ChartTest::spanTrimsWhatIsShown()
{
    // Samples every 5 s over 30 minutes, the last one with 36.0.
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 30 * 60 * 1000;
    for (int i = 0; i <= 360; ++i) {
        ParamBlock b{};
        b.Config = 0x0010;
        b.ConcVal = quint16(i);
        b.CurrentTok = 4000;
        b.Limit1 = 200;
        b.Limit2 = 400;
        trend.add(b, t0 + i * 5 * 1000);
    }
    MeasureChart chart(trend);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    auto *span = child<QComboBox>(chart, "comboBox_Span");
    auto *axis = qobject_cast<QDateTimeAxis *>(chart.chart()->axes(Qt::Horizontal).first());
    QVERIFY(axis);

    const int expected[] = {13, 121, 361};
    const qint64 minutes[] = {1, 10, 60};
    for (int i = 0; i < 3; ++i) {
        span->setCurrentIndex(i);
        QCOMPARE(series(&chart, "series_Concentration")->count(), expected[i]);
        QCOMPARE(series(&chart, "series_Output")->count(), expected[i]);
        QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 30 * 60 * 1000);
        QCOMPARE(axis->min().toMSecsSinceEpoch(), t0 + 30 * 60 * 1000 - minutes[i] * 60 * 1000);
        // The thresholds from the start of the view, or from the first read after it.
        QCOMPARE(series(&chart, "series_Limit2")->at(0).x(), qreal(std::max(axis->min().toMSecsSinceEpoch(), t0)));
    }
    QCOMPARE(lastY(&chart, "series_Concentration"), 36.0);
    span->setCurrentIndex(0);
    QCOMPARE(series(&chart, "series_Concentration")->at(0).y(), 34.8);
}

void ChartTest::failedReadsBreakTheLines()
{
    // Ten reads 5 s apart; the reads failed before the fifth and the eighth.
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 100 * 1000;
    for (int i = 0; i < 10; ++i) {
        if (i == 4 || i == 7)
            trend.addGap();
        ParamBlock b{};
        b.ConcVal = quint16(i);
        b.CurrentTok = quint16(4000 + i);
        trend.add(b, t0 + i * 5 * 1000);
    }
    MeasureChart chart(trend);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    child<QComboBox>(chart, "comboBox_Span")->setCurrentIndex(1);
    auto stretches = [&chart](const char *name) {
        QList<int> counts;
        for (QAbstractSeries *s : chart.chart()->series())
            if (s->objectName() == QLatin1String(name) && static_cast<QLineSeries *>(s)->count() > 0)
                counts << static_cast<QLineSeries *>(s)->count();
        return counts;
    };
    // The newest stretch in the named series, the earlier ones beside it.
    QCOMPARE(series(&chart, "series_Concentration")->count(), 3);
    QCOMPARE(series(&chart, "series_Output")->count(), 3);
    QCOMPARE(stretches("series_Concentration_earlier"), QList<int>({4, 3}));
    QCOMPARE(stretches("series_Output_earlier"), QList<int>({4, 3}));
    QCOMPARE(series(&chart, "series_Concentration")->at(0).y(), 7.0);
    // No legend entry for the stretches.
    for (QLegendMarker *m : chart.chart()->legend()->markers())
        QVERIFY(!m->series()->objectName().endsWith(QLatin1String("_earlier")) || !m->isVisible());
    // A view from the fourth read on: the end of the first stretch, alone,
    // shows as a dot.
    chart.zoomTo(t0 + 15 * 1000, t0 + 45 * 1000);
    QCOMPARE(stretches("series_Concentration_earlier"), QList<int>({1, 3}));
    QCOMPARE(series(&chart, "series_Concentration")->count(), 3);
    for (QAbstractSeries *s : chart.chart()->series()) {
        auto *line = static_cast<QLineSeries *>(s);
        if (line->objectName() == QLatin1String("series_Concentration_earlier") && line->count() > 0)
            QCOMPARE(line->pointsVisible(), line->count() == 1);
    }

    // A pause in reading (no reads for longer than PauseMs) breaks them too.
    ParamBlock b{};
    b.ConcVal = 50;
    trend.add(b, t0 + 45 * 1000 + MeasureTrend::PauseMs + 1000);
    child<QPushButton>(chart, "pushButton_ResetZoom")->click();
    QCOMPARE(stretches("series_Concentration_earlier"), QList<int>({4, 3, 3}));
    QCOMPARE(series(&chart, "series_Concentration")->count(), 1);
    QVERIFY(series(&chart, "series_Concentration")->pointsVisible());
    QCOMPARE(lastY(&chart, "series_Concentration"), 50.0);
}

namespace {
// A point of the chart view's viewport at time `msecs` and value `y` of the
// concentration axis.
QPoint viewportPoint(MeasureChart &chart, qint64 msecs, double y)
{
    auto *view = chart.findChild<QChartView *>(QStringLiteral("chartView"));
    const QPointF inChart = chart.chart()->mapToPosition(QPointF(qreal(msecs), y), series(&chart, "series_Concentration"));
    return view->mapFromScene(chart.chart()->mapToScene(inChart));
}

void sendMouse(MeasureChart &chart, QEvent::Type type, const QPoint &at, Qt::MouseButton button = Qt::NoButton)
{
    QWidget *viewport = chart.findChild<QChartView *>(QStringLiteral("chartView"))->viewport();
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button), Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}
} // namespace

void ChartTest::cursorFreezeZoomAndFreeSpan()
{
    // One read a second for ten minutes, concentration i/10 at the i-th second.
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 10 * 60 * 1000;
    auto read = [&trend, t0](int i) {
        ParamBlock b{};
        b.Config = 0x0010;
        b.ConcVal = quint16(i % 1000);
        b.CurrentTok = quint16(4000 + i);
        b.Limit1 = 200;
        b.Limit2 = 400;
        trend.add(b, t0 + i * 1000);
    };
    for (int i = 0; i <= 600; ++i)
        read(i);
    MeasureChart chart(trend);
    chart.resize(900, 500);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    auto *axis = qobject_cast<QDateTimeAxis *>(chart.chart()->axes(Qt::Horizontal).first());
    const qint64 end = t0 + 600 * 1000;

    // A span of any number of minutes from the spin box.
    auto *spin = child<QSpinBox>(chart, "spinBox_Span");
    QVERIFY(!spin->isEnabled());
    child<QComboBox>(chart, "comboBox_Span")->setCurrentIndex(3);
    QVERIFY(spin->isEnabled());
    spin->setValue(3);
    QCOMPARE(axis->min().toMSecsSinceEpoch(), end - 3 * 60 * 1000);
    QCOMPARE(series(&chart, "series_Concentration")->count(), 181);

    // The cursor: time and every series' value of the read under the mouse.
    const QPoint at550 = viewportPoint(chart, t0 + 550 * 1000, 10);
    sendMouse(chart, QEvent::MouseMove, at550);
    const QString text = chart.cursorText();
    QVERIFY2(text.startsWith(QDateTime::fromMSecsSinceEpoch(t0 + 550 * 1000).toString(QStringLiteral("HH:mm:ss"))),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Концентрация, PPM: 55.0")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Ток, мА: 4.550")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Порог 1: 20.0")) && text.contains(QStringLiteral("Порог 2: 40.0")), qPrintable(text));
    // Off the plot (over the axis labels) and on leaving the view it goes.
    sendMouse(chart, QEvent::MouseMove, QPoint(1, 1));
    QVERIFY(chart.cursorText().isEmpty());
    sendMouse(chart, QEvent::MouseMove, at550);
    QVERIFY(!chart.cursorText().isEmpty());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart.findChild<QChartView *>(QStringLiteral("chartView"))->viewport(), &leave);
    QVERIFY(chart.cursorText().isEmpty());

    // Stopped, the view stays while reads come in; going on catches up.
    auto *freeze = child<QPushButton>(chart, "pushButton_Freeze");
    freeze->click();
    QVERIFY(chart.isFrozen());
    QCOMPARE(freeze->text(), QStringLiteral("Продолжить"));
    for (int i = 601; i <= 630; ++i)
        read(i);
    chart.refresh();
    QCOMPARE(axis->max().toMSecsSinceEpoch(), end);
    QCOMPARE(lastY(&chart, "series_Concentration"), 60.0);
    QCOMPARE(trend.newest().msecs, end + 30 * 1000);
    freeze->click();
    QCOMPARE(freeze->text(), QStringLiteral("Остановить"));
    QCOMPARE(axis->max().toMSecsSinceEpoch(), end + 30 * 1000);
    QCOMPARE(lastY(&chart, "series_Concentration"), 63.0);

    // A band drawn with the mouse zooms the time axis to it.
    const qint64 now = end + 30 * 1000;
    const QPoint a = viewportPoint(chart, now - 120 * 1000, 10);
    const QPoint b = viewportPoint(chart, now - 60 * 1000, 10);
    auto *reset = child<QPushButton>(chart, "pushButton_ResetZoom");
    QVERIFY(!reset->isEnabled());
    sendMouse(chart, QEvent::MouseButtonPress, a, Qt::LeftButton);
    sendMouse(chart, QEvent::MouseMove, b, Qt::LeftButton);
    sendMouse(chart, QEvent::MouseButtonRelease, b, Qt::LeftButton);
    QVERIFY(chart.isZoomed());
    QVERIFY(reset->isEnabled());
    // Within a pixel or two of the band's ends.
    const qint64 slack = 3 * 180 * 1000 / 600;
    QVERIFY2(std::abs(axis->min().toMSecsSinceEpoch() - (now - 120 * 1000)) <= slack, qPrintable(axis->min().toString()));
    QVERIFY2(std::abs(axis->max().toMSecsSinceEpoch() - (now - 60 * 1000)) <= slack, qPrintable(axis->max().toString()));
    const qint64 zoomedMin = axis->min().toMSecsSinceEpoch();
    const qint64 zoomedMax = axis->max().toMSecsSinceEpoch();
    // Zoomed, new reads do not move it either.
    read(631);
    chart.refresh();
    QCOMPARE(axis->max().toMSecsSinceEpoch(), zoomedMax);
    // The wheel zooms in further around the mouse, and out again.
    const QPoint middle = viewportPoint(chart, (zoomedMin + zoomedMax) / 2, 10);
    QWidget *viewport = chart.findChild<QChartView *>(QStringLiteral("chartView"))->viewport();
    QWheelEvent in(middle, viewport->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &in);
    const qint64 inWidth = axis->max().toMSecsSinceEpoch() - axis->min().toMSecsSinceEpoch();
    QVERIFY2(inWidth < zoomedMax - zoomedMin && inWidth > (zoomedMax - zoomedMin) / 2, qPrintable(QString::number(inWidth)));
    QVERIFY(axis->min().toMSecsSinceEpoch() > zoomedMin && axis->max().toMSecsSinceEpoch() < zoomedMax);
    QWheelEvent out(middle, viewport->mapToGlobal(middle), QPoint(), QPoint(0, -240), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &out);
    QVERIFY(axis->max().toMSecsSinceEpoch() - axis->min().toMSecsSinceEpoch() > inWidth);
    // A click is no band.
    const qint64 beforeClick = axis->min().toMSecsSinceEpoch();
    sendMouse(chart, QEvent::MouseButtonPress, middle, Qt::LeftButton);
    sendMouse(chart, QEvent::MouseButtonRelease, middle, Qt::LeftButton);
    QCOMPARE(axis->min().toMSecsSinceEpoch(), beforeClick);

    reset->click();
    QVERIFY(!chart.isZoomed());
    QVERIFY(!reset->isEnabled());
    QCOMPARE(axis->max().toMSecsSinceEpoch(), trend.newest().msecs);
    QCOMPARE(axis->min().toMSecsSinceEpoch(), trend.newest().msecs - 3 * 60 * 1000);
}

void ChartTest::markedMoments()
{
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 120 * 1000;
    for (int i = 0; i <= 120; ++i) {
        ParamBlock b{};
        b.ConcVal = quint16(i);
        trend.add(b, t0 + i * 1000, QStringLiteral("a"));
    }
    MeasureChart chart(trend);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QVERIFY(chart.markLabels().isEmpty());

    chart.markMoment(QDateTime::fromMSecsSinceEpoch(t0 + 100 * 1000), QStringLiteral("Ноль"));
    chart.markMoment(QDateTime::fromMSecsSinceEpoch(t0 + 90 * 1000), QStringLiteral("Газ"));
    // Held by the samples, drawn left to right while in the span.
    QCOMPARE(trend.marks(t0, t0 + 120 * 1000).size(), 2);
    QCOMPARE(chart.markLabels(), (QStringList{QStringLiteral("Газ"), QStringLiteral("Ноль")}));
    // Out of a view that ends before them, back when it reaches them again.
    chart.zoomTo(t0, t0 + 80 * 1000);
    QVERIFY(chart.markLabels().isEmpty());
    child<QPushButton>(chart, "pushButton_ResetZoom")->click();
    QCOMPARE(chart.markLabels().size(), 2);
    // The line is drawn on the plot at its moment, in the marks' colour.
    QWidget *viewport = chart.findChild<QChartView *>(QStringLiteral("chartView"))->viewport();
    const int x = viewportPoint(chart, t0 + 100 * 1000, 0).x();
    auto markPixels = [viewport, x] {
        const QImage image = viewport->grab().toImage();
        int hits = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int dx = -1; dx <= 1; ++dx) {
                const QColor c = image.pixelColor(qBound(0, x + dx, image.width() - 1), y);
                if (std::abs(c.red() - 0x6a) + std::abs(c.green() - 0x3d) + std::abs(c.blue() - 0x9a) < 60)
                    ++hits;
            }
        return hits;
    };
    QVERIFY2(markPixels() > 20, qPrintable(QString::number(markPixels())));

    // Cleared with the samples.
    trend.clear();
    chart.refresh();
    QVERIFY(chart.markLabels().isEmpty());
    QCOMPARE(markPixels(), 0);
    QVERIFY(trend.marks(t0, t0 + 120 * 1000).isEmpty());
}

void ChartTest::windowsOpenOnTheScreen()
{
    using WindowPlace::fitInto;
    const QRect screen(0, 0, 1280, 1024);
    // On the screen already: left alone.
    QCOMPARE(fitInto(QRect(100, 100, 600, 400), screen), QRect(100, 100, 600, 400));
    // Partly below and right of the edge: moved up and left, size kept.
    QCOMPARE(fitInto(QRect(900, 700, 600, 500), screen), QRect(680, 524, 600, 500));
    // Above and left of it: moved down and right.
    QCOMPARE(fitInto(QRect(-50, -20, 600, 500), screen), QRect(0, 0, 600, 500));
    // Taller than the screen: as tall as it, at its top.
    QCOMPARE(fitInto(QRect(200, 300, 600, 1200), screen), QRect(200, 0, 600, 1024));
    // A free area that does not start at 0 (a panel on top, a second screen).
    QCOMPARE(fitInto(QRect(1500, 1000, 800, 600), QRect(1280, 30, 1920, 1050)), QRect(1500, 480, 800, 600));

    // A window too big and placed off the edge opens wholly in the screen's
    // free area, over the window it belongs to where there is room.
    QWidget owner;
    owner.setGeometry(50, 50, 300, 200);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    MeasureTrend trend;
    MeasureChart chart(trend, &owner);
    const QRect free = owner.screen()->availableGeometry();
    chart.resize(free.width() + 100, free.height() + 200);
    chart.move(free.right() - 50, free.bottom() - 50);
    WindowPlace::fitOnScreen(&chart, &owner);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    QVERIFY2(free.contains(chart.frameGeometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(chart.frameGeometry().x()).arg(chart.frameGeometry().y())
                            .arg(chart.frameGeometry().width()).arg(chart.frameGeometry().height())));
    // A small one never placed: centred over its owner.
    QWidget small(&owner, Qt::Window);
    small.resize(200, 100);
    WindowPlace::fitOnScreen(&small, &owner);
    QVERIFY2(std::abs(small.geometry().center().x() - owner.frameGeometry().center().x()) <= 4,
             qPrintable(QString::number(small.geometry().center().x())));
}

QTEST_MAIN(ChartTest)
#include "tst_chart.moc"

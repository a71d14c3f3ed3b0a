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

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QtCharts/QChart>
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
    QCOMPARE(series(chart, "series_Limit1")->at(0).y(), 25.0);
    QCOMPARE(series(chart, "series_Limit1")->at(1).y(), 25.0);

    // CSV: the points of the span, with the value the simulator gave.
    const QString csvPath = dir->filePath(QStringLiteral("m.csv"));
    const QString pngPath = dir->filePath(QStringLiteral("m.png"));
    QStringList asked;
    QString answer = csvPath;
    FileChoice::saveHook = [&](QWidget *, const QString &caption, const QString &, const QString &) {
        asked << caption;
        return answer;
    };
    child<QPushButton>(chart, "pushButton_ExportCsv")->click();
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.first(), QStringLiteral("time;concentration PPM;current mA;limit1 PPM;limit2 PPM"));
    QCOMPARE(lines.size() - 1, series(chart, "series_Concentration")->count());
    QVERIFY2(lines.last().endsWith(QStringLiteral(";34.5;12.345;25.0;40.0")), qPrintable(lines.last()));

    answer = pngPath;
    child<QPushButton>(chart, "pushButton_ExportPng")->click();
    QImage png(pngPath, "PNG");
    QVERIFY(!png.isNull());
    QVERIFY(png.width() >= 480 && png.height() >= 280);
    QCOMPARE(asked, (QStringList{QStringLiteral("Экспорт CSV"), QStringLiteral("Экспорт PNG")}));

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
    // Samples every 30 s over 30 minutes, the last one with 6.0.
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 30 * 60 * 1000;
    for (int i = 0; i <= 60; ++i) {
        ParamBlock b{};
        b.Config = 0x0010;
        b.ConcVal = quint16(i);
        b.CurrentTok = 4000;
        b.Limit1 = 200;
        b.Limit2 = 400;
        trend.add(b, t0 + i * 30 * 1000);
    }
    MeasureChart chart(trend);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    auto *span = child<QComboBox>(chart, "comboBox_Span");
    auto *axis = qobject_cast<QDateTimeAxis *>(chart.chart()->axes(Qt::Horizontal).first());
    QVERIFY(axis);

    const int expected[] = {3, 21, 61};
    const qint64 minutes[] = {1, 10, 60};
    for (int i = 0; i < 3; ++i) {
        span->setCurrentIndex(i);
        QCOMPARE(series(&chart, "series_Concentration")->count(), expected[i]);
        QCOMPARE(series(&chart, "series_Output")->count(), expected[i]);
        QCOMPARE(axis->max().toMSecsSinceEpoch(), t0 + 30 * 60 * 1000);
        QCOMPARE(axis->min().toMSecsSinceEpoch(), t0 + 30 * 60 * 1000 - minutes[i] * 60 * 1000);
        QCOMPARE(series(&chart, "series_Limit2")->at(0).x(), qreal(axis->min().toMSecsSinceEpoch()));
    }
    QCOMPARE(lastY(&chart, "series_Concentration"), 6.0);
    span->setCurrentIndex(0);
    QCOMPARE(series(&chart, "series_Concentration")->at(0).y(), 5.8);
}

void ChartTest::failedReadsBreakTheLines()
{
    // Ten reads 10 s apart; the reads failed before the fifth and the eighth.
    MeasureTrend trend;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 100 * 1000;
    for (int i = 0; i < 10; ++i) {
        if (i == 4 || i == 7)
            trend.addGap();
        ParamBlock b{};
        b.ConcVal = quint16(i);
        b.CurrentTok = quint16(4000 + i);
        trend.add(b, t0 + i * 10 * 1000);
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
    // A minute's span starts at the fourth read: the end of the first stretch.
    child<QComboBox>(chart, "comboBox_Span")->setCurrentIndex(0);
    QCOMPARE(stretches("series_Concentration_earlier"), QList<int>({1, 3}));
    QCOMPARE(series(&chart, "series_Concentration")->count(), 3);
}

QTEST_MAIN(ChartTest)
#include "tst_chart.moc"

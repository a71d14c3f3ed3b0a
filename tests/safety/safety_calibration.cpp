// Calibration against the simulated detector: a computed code that its
// register cannot hold reaches no device, and leaving the calibration tab
// switches the output test off before the main window reads the device.
#include "calibration.h"
#include "calibrationclock.h"
#include "programlink.h"
#include "mainwindow.h"
#include "measurewindow.h"
#include "safetysuite.h"
#include "shelltest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using ShellTest::child;
using TestFrames::writes;
using TestWidgets::choose;

namespace {

// Zero code 8000, 20 mA code 40000, range 0..100.0 ("X,X"), span gas 50.0
// at 24000, output codes 1000 and 5000, no simulation.
using Holdings = QList<QPair<int, int>>;   // register, value

const Holdings Calibrated = {
    {0x1000, 8000}, {0x1001, 40000}, {0x1003, 0}, {0x1004, 1000}, {0x1008, 0x10}, {0x100A, 1000},
    {0x100B, 5000}, {0x1015, 24000}, {0x1016, 500}, {0x1019, 0}, {0x101A, 0}};

const int Watched[] = {0x1000, 0x1001, 0x100A, 0x100B, 0x1015, 0x1016};

bool setHoldings(SimProcess &sim, const Holdings &values)
{
    for (const auto &v : values) {
        bool ok = false;
        sim.send(QStringLiteral("set holding %1 %2").arg(v.first).arg(v.second), &ok);
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

class CalibrationSafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ShellTest::prepare(dir); }
    void init() { ShellTest::resetLink(); theMainWindow = nullptr; }
    void cleanup() { window.reset(); theMainWindow = nullptr; ShellTest::resetLink(); }

    void codeOutsideRegisterRefused_data();
    void codeOutsideRegisterRefused();
    void simulationOffBeforeTheTabChangeRead();

private:
    QTemporaryDir dir;
    std::unique_ptr<MainWindow> window;
};

void CalibrationSafety::codeOutsideRegisterRefused_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("point");       // gas: 0 zero, 1 span; current tabs: 0 4 mA, 1 20 mA
    QTest::addColumn<double>("entered");  // gas shown for a span; current in mA
    QTest::addColumn<QString>("input");      // "register value" of the measured live value
    QTest::addColumn<Holdings>("holdings");

    // Never span-calibrated (code 0, gas 0): half the range at code 0 puts
    // the 20 mA code at 8100 + 2 x (0 - 8100) = -8100.
    QTest::newRow("zero without a span point") << 0 << 0 << 0.0 << QStringLiteral("0 8100")
                                               << Holdings{{0x1015, 0}, {0x1016, 0}};
    // Span gas 1.0 at 30000: 8000 + 100 x 22000.
    QTest::newRow("span far above") << 0 << 1 << 1.0 << QStringLiteral("0 30000")
                                    << Holdings{};
    // 4 mA point measured at 10 mA with code 0: 40000 - 16 x 4000 at 4 mA.
    QTest::newRow("input 4 mA point") << 1 << 0 << 10.0 << QStringLiteral("0 0")
                                      << Holdings{};
    // 20 mA point at 5 mA with PWM 60000: the 20 mA code far above 65535.
    QTest::newRow("output 20 mA point") << 2 << 1 << 5.0 << QStringLiteral("3 60000")
                                        << Holdings{};
}

void CalibrationSafety::codeOutsideRegisterRefused()
{
    QFETCH(int, tab);
    QFETCH(int, point);
    QFETCH(double, entered);
    QFETCH(QString, input);
    QFETCH(Holdings, holdings);

    SimProcess sim;
    QVERIFY(ShellTest::openSim(sim));
    QVERIFY(setHoldings(sim, Calibrated) && setHoldings(sim, holdings));
    bool ok = false;
    sim.send(QStringLiteral("set input ") + input, &ok);
    QVERIFY(ok);
    command.DeviceType = 1;
    command.WriteCount = 48;
    QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultOk));
    QMap<int, int> device;
    for (int reg : Watched)
        device[reg] = sim.holding(reg);
    const ParamBlock before = command.DeviceParams;

    ModalCloser closer;
    // The calibration timer a main window would own.
    QTimer timer;
    TimerClock clock(timer);
    Calibration page(clock);
    QObject::connect(&timer, &QTimer::timeout, &page, &Calibration::timerTick);
    auto *tabs = child<QTabWidget>(page, "tabWidget");
    tabs->setCurrentIndex(tab);
    QDoubleSpinBox *current = nullptr;
    QComboBox *points = nullptr;
    if (tab == 0) {
        choose(child<QComboBox>(page, "comboBox_CalibSens"), point);
        child<QDoubleSpinBox>(page, "doubleSpinBox_CalibConc")->setValue(entered);
        auto *calibrate = child<QPushButton>(page, "Buttoncalibrate");
        calibrate->click();
        sim.clearLog();
        calibrate->click();
    } else {
        points = child<QComboBox>(page, tab == 1 ? "comboBox_CalibIn" : "comboBox_CalibOut");
        current = child<QDoubleSpinBox>(page, tab == 1 ? "doubleSpinBox_CalibIn" : "doubleSpinBox_CalibOut");
        choose(points, point);
        current->setValue(entered);
        sim.clearLog();
        child<QPushButton>(page, tab == 1 ? "pushButton_CalibIn_Ok" : "pushButton_CalibOut_Ok")->click();
    }

    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Калибровка"));
    QCOMPARE(closer.seen[0].text,
             QStringLiteral("Калибровка невозможна: вычисленный код лежит вне диапазона 0-65535. Ничего не записано"));
    // Nothing reached the device, nothing changed in the block.
    QVERIFY2(writes(sim).isEmpty(), qPrintable(ShellTest::describe(writes(sim))));
    for (int reg : Watched)
        QVERIFY2(sim.holding(reg) == device[reg], qPrintable(QString::number(reg, 16)));
    const ParamBlock &p = command.DeviceParams;
    QCOMPARE(p.ADCCode4m, before.ADCCode4m);
    QCOMPARE(p.ADCCode20m, before.ADCCode20m);
    QCOMPARE(p.ADCCodeCalib, before.ADCCodeCalib);
    QCOMPARE(p.ConcCalib, before.ConcCalib);
    QCOMPARE(p.PWMCode4m, before.PWMCode4m);
    QCOMPARE(p.PWMCode20m, before.PWMCode20m);
    // The page's calibration point keeps its current (not the refused one).
    if (points) {
        choose(points, 1 - point);
        choose(points, point);
        QCOMPARE(current->value(), point == 0 ? 4.0 : 20.0);
    }
}

void CalibrationSafety::simulationOffBeforeTheTabChangeRead()
{
    SimProcess sim;
    QVERIFY(ShellTest::openSim(sim));
    QVERIFY(setHoldings(sim, Calibrated));
    command.UserName = QStringLiteral("Velta");
    command.LoggedIn = 1;
    command.DeviceType = 1;
    window.reset(new MainWindow);
    theMainWindow = window.get();
    window->show();
    auto *mainTabs = child<QTabWidget>(*window, "tabWidget");
    mainTabs->setCurrentIndex(1);
    QVERIFY(currentCalibration && currentMeasureWindow);
    child<QTabWidget>(*currentCalibration, "tabWidget")->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 1, 5000);
    sim.clearLog();

    mainTabs->setCurrentIndex(0);
    const QList<QByteArray> frames = sim.rxFrames();
    int off = -1, read = -1;
    for (int i = 0; i < frames.size(); ++i) {
        const QByteArray &f = frames[i];
        if (off < 0 && quint8(f[1]) == 16 && ShellTest::word(f, 2) == 0x1019 && ShellTest::word(f, 7) == 0)
            off = i;
        if (read < 0 && quint8(f[1]) == 43)   // the tab change's full read
            read = i;
    }
    QVERIFY2(off >= 0 && read >= 0, qPrintable(ShellTest::describe(frames)));
    QVERIFY2(off < read, qPrintable(ShellTest::describe(frames)));
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(0));
    QVERIFY(!child<QCheckBox>(*currentMeasureWindow, "checkBox_ImmitConc")->isChecked());
    QVERIFY(!window->calibrationTimerActive());
    // And no later tick switches it on again.
    QTest::qWait(1200);
    QCOMPARE(sim.holding(0x1019), 0);
}

SAFETY_GROUP("calibration", CalibrationSafety)
#include "safety_calibration.moc"

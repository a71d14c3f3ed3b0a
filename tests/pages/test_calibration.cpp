// The calibration page against the simulated detector, without a main
// window: the test owns the calibration timer and runs the page's tick on
// its timeouts, as the main window does.
#include "calibration.h"
#include "calibrationclock.h"
#include "programlink.h"
#include "modalcloser.h"
#include "pagetest.h"
#include "simprocess.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTranslator>
#include <QtTest>

using namespace PageTest;
using TestWidgets::choose;

namespace {

// The device's calibration constants for most cases: zero code 8000, 20 mA
// code 40000, range 0..100.0 (discreteness "X,X"), span gas 50.0 at 24000,
// output codes 1000 and 5000.
const QStringList Defaults = {
    QStringLiteral("0x1000=8000"), QStringLiteral("0x1001=40000"), QStringLiteral("0x1003=0"),
    QStringLiteral("0x1004=1000"), QStringLiteral("0x1008=16"), QStringLiteral("0x100A=1000"),
    QStringLiteral("0x100B=5000"), QStringLiteral("0x1015=24000"), QStringLiteral("0x1016=500"),
    QStringLiteral("0x1019=0"), QStringLiteral("0x101A=0")};

QStringList withHoldings(QStringList extra)
{
    QStringList all = Defaults;
    all += extra;
    return all;
}

struct Page {
    QTimer timer;
    TimerClock clock{timer};
    Calibration page{clock};
    QTabWidget *tabs = child<QTabWidget>(&page, "tabWidget");
    QComboBox *sens = child<QComboBox>(&page, "comboBox_CalibSens");
    QPushButton *calibrate = child<QPushButton>(&page, "Buttoncalibrate");
    QPushButton *cancel = child<QPushButton>(&page, "pushButton_CancelCalibrate");
    QDoubleSpinBox *calibConc = child<QDoubleSpinBox>(&page, "doubleSpinBox_CalibConc");
    QDoubleSpinBox *currentConc = child<QDoubleSpinBox>(&page, "doubleSpinBox_CurrentConc");
    QLabel *status = child<QLabel>(&page, "labelStatusInfo");
    QDoubleSpinBox *calibIn = child<QDoubleSpinBox>(&page, "doubleSpinBox_CalibIn");
    QComboBox *inPoint = child<QComboBox>(&page, "comboBox_CalibIn");
    QPushButton *inOk = child<QPushButton>(&page, "pushButton_CalibIn_Ok");
    QDoubleSpinBox *calibOut = child<QDoubleSpinBox>(&page, "doubleSpinBox_CalibOut");
    QComboBox *outPoint = child<QComboBox>(&page, "comboBox_CalibOut");
    QPushButton *outOk = child<QPushButton>(&page, "pushButton_CalibOut_Ok");
    QLabel *outLabel = child<QLabel>(&page, "label_CalibOut");

    Page() { QObject::connect(&timer, &QTimer::timeout, &page, &Calibration::timerTick); }
};

} // namespace

class CalibrationTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void gasProcedure_data();
    void gasProcedure();
    void gasCancelAndLiveConcentration();
    void gasProcedureEndsWhenItsTabIsLeft();
    void confirmationWorksTranslated();
    void degenerateRangeRefused_data();
    void degenerateRangeRefused();

    void inputTwoPointFit();
    void inputEqualCurrentsAndCrossedPoints_data();
    void inputEqualCurrentsAndCrossedPoints();
    void inputTabFollowsDeviceType();

    void outputFit();
    void eachTabCalibratesWithItsOwnCurrent();
    void outputTestOnTheWire();
    void outputTestSwitchedOffOnEveryExit_data();
    void outputTestSwitchedOffOnEveryExit();
    void outputTestNeverRunSendsNothing();
    void switchOffFailureReportedAndRetried();

    void exchangeFailuresReported();
};

void CalibrationTest::init()
{
    command.resetState();
}

void CalibrationTest::cleanup()
{
    command.resetState();
}

// ------------------------------------------------------------------- gas

void CalibrationTest::gasProcedure_data()
{
    QTest::addColumn<int>("mode");              // comboBox_CalibSens: 0 zero, 1 span
    QTest::addColumn<QStringList>("holdings");
    QTest::addColumn<double>("gasShown");        // doubleSpinBox_CalibConc for a span
    QTest::addColumn<int>("adc");                // the sensor's code during the procedure
    QTest::addColumn<int>("code4m");
    QTest::addColumn<int>("code20m");
    QTest::addColumn<int>("adcCalib");
    QTest::addColumn<int>("concCalib");

    // Zero: the line through the new zero and the stored span point
    // (50.0 at 24000) at 100.0: 8100 + 1000 / 500 * (24000 - 8100).
    QTest::newRow("zero") << 0 << Defaults << 0.0 << 8100 << 8100 << 39900 << 24000 << 500;
    // No span gas stored: half the upper range value stands in for it.
    QTest::newRow("zero without span gas")
        << 0 << withHoldings({QStringLiteral("0x1016=0")}) << 0.0 << 8100 << 8100 << 39900 << 24000 << 500;
    // Range 20.0..100.0, span gas 60.0 at 20100: 8100 + 800 / 400 * 12000.
    QTest::newRow("zero above range minimum")
        << 0 << withHoldings({QStringLiteral("0x1003=200"), QStringLiteral("0x1016=600"), QStringLiteral("0x1015=20100")})
        << 0.0 << 8100 << 8100 << 32100 << 20100 << 600;
    // Span: 40.0 at 28000 with zero 8000: 8000 + 1000 / 400 * 20000.
    QTest::newRow("span") << 1 << Defaults << 40.0 << 28000 << 8000 << 58000 << 28000 << 400;
    // A span gas of 0 is taken as half the range: 8000 + 2 * 12100.
    QTest::newRow("span at zero gas") << 1 << Defaults << 0.0 << 20100 << 8000 << 32200 << 20100 << 500;
    // A sensor whose code falls with the gas: 8000 + 2.5 * (7000 - 8000).
    QTest::newRow("span below zero code") << 1 << Defaults << 40.0 << 7000 << 8000 << 5500 << 7000 << 400;
}

void CalibrationTest::gasProcedure()
{
    QFETCH(int, mode);
    QFETCH(QStringList, holdings);
    QFETCH(double, gasShown);
    QFETCH(int, adc);
    QFETCH(int, code4m);
    QFETCH(int, code20m);
    QFETCH(int, adcCalib);
    QFETCH(int, concCalib);

    SimProcess sim;
    QVERIFY(openSim(sim, holdings, {QStringLiteral("0=%1").arg(adc)}, 1, 27));
    ModalCloser closer;
    Page p;
    choose(p.sens, mode);
    QCOMPARE(p.calibrate->text(), mode == 0 ? QStringLiteral("Калибровать ноль") : QStringLiteral("Калибровать диапазон"));
    p.calibConc->setValue(gasShown);

    p.calibrate->click();
    QCOMPARE(p.calibrate->text(), QStringLiteral("Подтвердить калибровку"));
    QCOMPARE(p.status->text(), mode == 0 ? QStringLiteral("Подайте нулевой газ") : QStringLiteral("Подайте калибровочный газ"));
    QVERIFY(p.page.calibrationTimerRunning());
    sim.clearLog();

    p.calibrate->click();
    QVERIFY(!p.page.calibrationTimerRunning());
    QCOMPARE(p.calibrate->text(), mode == 0 ? QStringLiteral("Калибровать ноль") : QStringLiteral("Калибровать диапазон"));
    // A confirmation says the step is done, without a box.
    QCOMPARE(p.status->text(), QStringLiteral("Калибровка выполнена"));
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));

    const QList<QByteArray> block = writesTo(sim, 0x1000);
    QCOMPARE(block.size(), 1);
    // The codes shown are read back from the device after the write.
    const QList<QPair<int, int>> heads = sim.requestHeads();
    int written = -1, readBack = -1;
    for (int i = 0; i < heads.size(); ++i) {
        if (heads[i].second == 16 && written < 0)
            written = i;
        else if (written >= 0 && heads[i].second == 3)
            readBack = i;
    }
    QVERIFY2(written >= 0 && readBack > written, qPrintable(describe(sim.allRequests())));
    QCOMPARE(word(block[0], 4), 27);     // WriteCount registers
    QCOMPARE(sim.holding(0x1000), code4m);
    QCOMPARE(sim.holding(0x1001), code20m);
    QCOMPARE(sim.holding(0x1015), adcCalib);
    QCOMPARE(sim.holding(0x1016), concCalib);
    QCOMPARE(int(command.DeviceParams.ADCCode20m), code20m);
}

void CalibrationTest::gasCancelAndLiveConcentration()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8100"), QStringLiteral("2=37")}));
    Page p;
    QCOMPARE(p.currentConc->value(), 3.7);
    QCOMPARE(p.currentConc->suffix(), QStringLiteral(" PPM"));
    QCOMPARE(p.calibConc->value(), 50.0);
    QCOMPARE(p.calibConc->decimals(), 1);

    p.calibrate->click();
    QVERIFY(sim.send(QStringLiteral("set input 2 412")).isEmpty());
    // Live refresh every 500 ms while waiting for the confirmation.
    QTRY_COMPARE_WITH_TIMEOUT(p.currentConc->value(), 41.2, 5000);
    QVERIFY(p.page.calibrationTimerRunning());

    p.cancel->click();
    QVERIFY(!p.page.calibrationTimerRunning());
    QCOMPARE(p.status->text(), QStringLiteral(" "));
    QCOMPARE(p.calibrate->text(), QStringLiteral("Калибровать ноль"));
    QTest::qWait(700);
    QVERIFY2(writes(sim).isEmpty(), qPrintable(describe(writes(sim))));
    QCOMPARE(sim.holding(0x1000), 8000);

    // Leaving the page's tab while waiting stops the live refresh.
    p.calibrate->click();
    QVERIFY(p.page.calibrationTimerRunning());
    p.tabs->setCurrentIndex(1);
    QVERIFY(!p.page.calibrationTimerRunning());
}

void CalibrationTest::gasProcedureEndsWhenItsTabIsLeft()
{
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8100")}));
    ModalCloser closer;
    Page p;
    // Waiting for the confirmation, the page's tab goes to the input or the
    // output tab: the procedure is cancelled as by "Отменить".
    for (int tab : {1, 2}) {
        p.tabs->setCurrentIndex(0);
        p.calibrate->click();
        QCOMPARE(p.calibrate->text(), QStringLiteral("Подтвердить калибровку"));
        p.tabs->setCurrentIndex(tab);
        QCOMPARE(p.calibrate->text(), QStringLiteral("Калибровать ноль"));
        QCOMPARE(p.status->text(), QStringLiteral(" "));
        // On the output tab the timer runs again, for the output test only.
        QCOMPARE(p.page.calibrationTimerRunning(), tab == 2);
    }
    p.tabs->setCurrentIndex(0);
    sim.clearLog();
    // Back on the gas tab the button starts a new procedure; nothing is
    // applied from the old one.
    p.calibrate->click();
    QCOMPARE(p.calibrate->text(), QStringLiteral("Подтвердить калибровку"));
    QVERIFY(writesTo(sim, 0x1000).isEmpty());

    // endProcedures cancels a waiting gas procedure ...
    p.page.endProcedures();
    QCOMPARE(p.calibrate->text(), QStringLiteral("Калибровать ноль"));
    QCOMPARE(p.status->text(), QStringLiteral(" "));
    QVERIFY(!p.page.calibrationTimerRunning());
    // ... and ends a running output test, on the device too.
    p.tabs->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 1, 5000);
    p.page.endProcedures();
    QCOMPARE(sim.holding(0x1019), 0);
    QVERIFY(!p.page.outputTestOn());
    QVERIFY(!p.page.calibrationTimerRunning());
    QCOMPARE(sim.holding(0x1000), 8000);
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
}

void CalibrationTest::confirmationWorksTranslated()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    QTranslator translator;
    QVERIFY(translator.load(QStringLiteral(TL_RUNTIME_DIR "/TL_Program_en_US.qm")));
    QCoreApplication::installTranslator(&translator);
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8100")}));
    {
        Page p;
        p.calibrate->click();
        QCOMPARE(p.calibrate->text(), QStringLiteral("Confirm calibration"));
        p.calibrate->click();
        QCOMPARE(p.calibrate->text(), QStringLiteral("Calibrate zero"));
        QCOMPARE(sim.holding(0x1000), 8100);
    }
    QCoreApplication::removeTranslator(&translator);
}

void CalibrationTest::degenerateRangeRefused_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("holdings");
    QTest::addColumn<double>("gasShown");
    QTest::addColumn<QString>("text");

    const QString equalRange = QStringLiteral("Калибровка невозможна: верхнее и нижнее значения диапазона совпадают");
    const QString gasAtMinimum =
        QStringLiteral("Калибровка невозможна: калибровочная концентрация равна нижнему значению диапазона");
    QTest::newRow("zero, empty range")
        << 0 << 0 << withHoldings({QStringLiteral("0x1003=500"), QStringLiteral("0x1004=500")}) << 0.0 << equalRange;
    QTest::newRow("zero, stored gas at range minimum")
        << 0 << 0 << withHoldings({QStringLiteral("0x1003=200"), QStringLiteral("0x1016=200")}) << 0.0 << gasAtMinimum;
    QTest::newRow("zero, half range at range minimum")
        << 0 << 0 << withHoldings({QStringLiteral("0x1003=500"), QStringLiteral("0x1016=0")}) << 0.0 << gasAtMinimum;
    QTest::newRow("span, gas at range minimum")
        << 0 << 1 << withHoldings({QStringLiteral("0x1003=200")}) << 20.0 << gasAtMinimum;
    QTest::newRow("span, empty range")
        << 0 << 1 << withHoldings({QStringLiteral("0x1003=1000")}) << 40.0 << equalRange;
    QTest::newRow("input, empty range")
        << 1 << 0 << withHoldings({QStringLiteral("0x1003=300"), QStringLiteral("0x1004=300")}) << 0.0 << equalRange;
}

void CalibrationTest::degenerateRangeRefused()
{
    QFETCH(int, tab);
    QFETCH(int, mode);
    QFETCH(QStringList, holdings);
    QFETCH(double, gasShown);
    QFETCH(QString, text);

    SimProcess sim;
    QVERIFY(openSim(sim, holdings, {QStringLiteral("0=9000")}));
    const ParamBlock before = command.DeviceParams;
    ModalCloser closer;
    Page p;
    p.tabs->setCurrentIndex(tab);
    if (tab == 0) {
        choose(p.sens, mode);
        p.calibConc->setValue(gasShown);
        p.calibrate->click();
        p.calibrate->click();
        QCOMPARE(p.calibrate->text(), mode == 0 ? QStringLiteral("Калибровать ноль") : QStringLiteral("Калибровать диапазон"));
    } else {
        p.calibIn->setValue(4.2);
        p.inOk->click();
    }
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Калибровка"));
    QCOMPARE(closer.seen[0].text, text);
    QVERIFY2(writes(sim).isEmpty(), qPrintable(describe(writes(sim))));
    QCOMPARE(command.DeviceParams.ADCCode4m, before.ADCCode4m);
    QCOMPARE(command.DeviceParams.ADCCode20m, before.ADCCode20m);
    QCOMPARE(command.DeviceParams.ADCCodeCalib, before.ADCCodeCalib);
    QCOMPARE(command.DeviceParams.ConcCalib, before.ConcCalib);
}

// ------------------------------------------------------------------- input

void CalibrationTest::inputTwoPointFit()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8400")}));
    Page p;
    p.tabs->setCurrentIndex(1);
    QCOMPARE(p.calibIn->value(), 4.0);

    // 4 mA point measured at 4.1 mA; the 20 mA point stays (40000, 20.0):
    // slope 31600 / 15.9, code at 4 mA 40000 - 16 * slope = 8201.26.
    p.calibIn->setValue(4.1);
    QVERIFY(p.inOk->isEnabled());
    p.inOk->click();
    QVERIFY(!p.inOk->isEnabled());
    QCOMPARE(sim.holding(0x1000), 8201);
    QCOMPARE(sim.holding(0x1001), 40000);
    // Span gas 50.0 is half the range: 8201 + 31799 / 2, truncated.
    QCOMPARE(sim.holding(0x1015), 24100);

    // 20 mA point at 19.8 mA with code 39500, the low point kept at
    // (8400, 4.1): slope 31100 / 15.7; 8201.91 and 39896.18.
    choose(p.inPoint, 1);
    QCOMPARE(p.calibIn->value(), 20.0);
    QVERIFY(sim.send(QStringLiteral("set input 0 39500")).isEmpty());
    p.calibIn->setValue(19.8);
    p.inOk->click();
    QCOMPARE(sim.holding(0x1000), 8201);
    QCOMPARE(sim.holding(0x1001), 39896);
    QCOMPARE(sim.holding(0x1015), 24048);

    // The points keep what was measured, currents included.
    choose(p.inPoint, 0);
    QCOMPARE(p.calibIn->value(), 4.1);
}

void CalibrationTest::inputEqualCurrentsAndCrossedPoints_data()
{
    QTest::addColumn<int>("point");
    QTest::addColumn<double>("current");
    QTest::addColumn<int>("adc");
    QTest::addColumn<int>("code4m");
    QTest::addColumn<int>("code20m");
    QTest::addColumn<int>("adcCalib");

    // The 20 mA point taken at 4.0 mA, the same current as the low point:
    // low code at 4 mA, high code at 20 mA.
    QTest::newRow("equal currents") << 1 << 4.0 << 30000 << 8000 << 30000 << 19000;
    // The 4 mA point's code above the 20 mA code: both points get it.
    QTest::newRow("low point above high") << 0 << 4.0 << 45000 << 45000 << 45000 << 45000;
    // The 20 mA point's code below the 4 mA code: both points get it.
    QTest::newRow("high point below low") << 1 << 20.0 << 7000 << 7000 << 7000 << 7000;
}

void CalibrationTest::inputEqualCurrentsAndCrossedPoints()
{
    QFETCH(int, point);
    QFETCH(double, current);
    QFETCH(int, adc);
    QFETCH(int, code4m);
    QFETCH(int, code20m);
    QFETCH(int, adcCalib);

    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=%1").arg(adc)}));
    ModalCloser closer;
    Page p;
    p.tabs->setCurrentIndex(1);
    choose(p.inPoint, point);
    p.calibIn->setValue(current + 1);
    p.calibIn->setValue(current);
    p.inOk->click();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(sim.holding(0x1000), code4m);
    QCOMPARE(sim.holding(0x1001), code20m);
    QCOMPARE(sim.holding(0x1015), adcCalib);
}

void CalibrationTest::inputTabFollowsDeviceType()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    command.DeviceType = 2;
    {
        QTimer timer;
        TimerClock clock(timer);
        Calibration page(clock);
        QVERIFY(!child<QTabWidget>(&page, "tabWidget")->isTabEnabled(1));
        command.DeviceType = 1;
        page.updateFromParameters();
        QVERIFY(child<QTabWidget>(&page, "tabWidget")->isTabEnabled(1));
    }
}

// ------------------------------------------------------------------- output

void CalibrationTest::outputFit()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("3=1100")}));
    Page p;
    p.tabs->setCurrentIndex(2);
    QCOMPARE(p.outLabel->text(), QStringLiteral("Введите текущее значение\nвыходного тока в mA"));

    // 4 mA point at 4.2 mA, PWM 1100; high point (5000, 20.0):
    // slope 3900 / 15.8, code at 4 mA 5000 - 16 * slope = 1050.63.
    p.calibOut->setValue(4.2);
    p.outOk->click();
    QVERIFY(!p.outOk->isEnabled());
    QCOMPARE(sim.holding(0x100A), 1050);
    QCOMPARE(sim.holding(0x100B), 5000);

    // 20 mA point at 19.5 mA, PWM 4900: slope 3800 / 15.3; 1050.33, 5024.18.
    choose(p.outPoint, 1);
    QCOMPARE(p.calibOut->value(), 20.0);
    QVERIFY(sim.send(QStringLiteral("set input 3 4900")).isEmpty());
    p.calibOut->setValue(19.5);
    QVERIFY(p.outOk->isEnabled());
    p.outOk->click();
    QCOMPARE(sim.holding(0x100A), 1050);
    QCOMPARE(sim.holding(0x100B), 5024);

    // 20 mA code below the 4 mA one: both points take it.
    QVERIFY(sim.send(QStringLiteral("set input 3 900")).isEmpty());
    p.calibOut->setValue(19.0);
    p.outOk->click();
    QCOMPARE(sim.holding(0x100A), 900);
    QCOMPARE(sim.holding(0x100B), 900);
}

void CalibrationTest::eachTabCalibratesWithItsOwnCurrent()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8400"), QStringLiteral("3=1100")}));
    Page p;

    // A current typed on the output tab must not be used by the input tab's
    // "Ok", which shows its own 4.1 mA.
    p.tabs->setCurrentIndex(1);
    p.calibIn->setValue(4.1);
    p.tabs->setCurrentIndex(2);
    p.calibOut->setValue(12.0);
    p.tabs->setCurrentIndex(1);
    QVERIFY(p.inOk->isEnabled());
    p.inOk->click();
    QCOMPARE(sim.holding(0x1000), 8201);   // as with 4.1 mA (see inputTwoPointFit)

    // Choosing the free test current turns "Ok" off even when the shown
    // current does not change, so the test value never becomes a 20 mA point.
    p.tabs->setCurrentIndex(2);
    choose(p.outPoint, 0);
    p.calibOut->setValue(4.0);
    QVERIFY(p.outOk->isEnabled());
    choose(p.outPoint, 2);
    QCOMPARE(p.calibOut->value(), 4.0);
    QVERIFY(!p.outOk->isEnabled());
    p.tabs->setCurrentIndex(0);
}

void CalibrationTest::outputTestOnTheWire()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults));
    Page p;
    p.tabs->setCurrentIndex(2);
    QVERIFY(p.page.calibrationTimerRunning());

    // 4 mA point: simulation on with the zero code, two registers from 0x1019.
    QTRY_VERIFY_WITH_TIMEOUT(!writesTo(sim, 0x1019).isEmpty(), 5000);
    const QByteArray frame = writesTo(sim, 0x1019).first();
    QCOMPARE(frame.size(), 13);
    QCOMPARE(quint8(frame[0]), quint8(1));
    QCOMPARE(word(frame, 4), 2);
    QCOMPARE(quint8(frame[6]), quint8(4));
    QCOMPARE(word(frame, 7), 1);
    QCOMPARE(word(frame, 9), 8000);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(1));
    QVERIFY(p.page.outputTestOn());

    choose(p.outPoint, 1);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x101A), 40000, 5000);

    // Free test current: "Ok" goes off, the code follows the entered
    // current at 1/16 of the code span per mA above 4 mA.
    choose(p.outPoint, 2);
    QCOMPARE(p.outLabel->text(), QStringLiteral("Введите тестовое значение\nвыходного тока в mA"));
    QCOMPARE(p.calibOut->value(), 4.0);
    p.calibOut->setValue(12.0);
    QVERIFY(!p.outOk->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x101A), 8000 + 32000 / 2, 5000);
    p.calibOut->setValue(4.5);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x101A), 9000, 5000);
    p.calibOut->setValue(3.0);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x101A), 6000, 5000);
    QCOMPARE(sim.holding(0x1019), 1);
}

void CalibrationTest::outputTestSwitchedOffOnEveryExit_data()
{
    QTest::addColumn<QString>("exit");
    QTest::newRow("own tab to gas") << QStringLiteral("tab0");
    QTest::newRow("own tab to input") << QStringLiteral("tab1");
    QTest::newRow("refresh from a read") << QStringLiteral("refresh");
    QTest::newRow("stopOutputTest") << QStringLiteral("stop");
    QTest::newRow("page destroyed") << QStringLiteral("destroy");
}

void CalibrationTest::outputTestSwitchedOffOnEveryExit()
{
    QFETCH(QString, exit);
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults));
    ModalCloser closer;
    auto *p = new Page;
    p->tabs->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 1, 5000);
    sim.clearLog();

    if (exit == QLatin1String("tab0"))
        p->tabs->setCurrentIndex(0);
    else if (exit == QLatin1String("tab1"))
        p->tabs->setCurrentIndex(1);
    else if (exit == QLatin1String("refresh"))
        p->page.updateFromParameters();
    else if (exit == QLatin1String("stop"))
        p->page.stopOutputTest();

    const bool destroyed = exit == QLatin1String("destroy");
    if (destroyed) {
        delete p;
        p = nullptr;
    } else {
        QVERIFY(!p->page.calibrationTimerRunning());
        QVERIFY(!p->page.outputTestOn());
    }
    // Switched off at once, on the device and in the block.
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(0));
    const QList<QByteArray> off = writesTo(sim, 0x1019);
    QVERIFY2(!off.isEmpty(), "no switch-off written");
    QCOMPARE(word(off.last(), 4), 2);
    QCOMPARE(word(off.last(), 7), 0);
    // And it stays off: no later tick switches it on again.
    QTest::qWait(1200);
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(writesTo(sim, 0x1019).size(), off.size());
    QVERIFY(closer.seen.isEmpty());
    delete p;
}

void CalibrationTest::outputTestNeverRunSendsNothing()
{
    ModalCloser guard;   // a box opened by a slow exchange must not hang the run
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults));
    {
        Page p;
        p.tabs->setCurrentIndex(1);
        p.page.stopOutputTest();
        p.tabs->setCurrentIndex(0);
        p.page.updateFromParameters();
    }
    QVERIFY2(sim.rxFrames().isEmpty(), qPrintable(describe(sim.rxFrames())));
}

void CalibrationTest::switchOffFailureReportedAndRetried()
{
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults));
    command.attemptLimit = 1;
    ModalCloser closer;
    Page p;
    p.page.resize(460, 300);
    p.page.show();
    p.tabs->setCurrentIndex(2);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 1, 5000);

    QVERIFY(sim.send(QStringLiteral("fault noreply -1")).isEmpty());
    p.page.stopOutputTest();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    // The detector cannot even be asked for its serial number before the write.
    QVERIFY2(closer.seen[0].text.startsWith(QStringLiteral("Ошибка обмена данными")), qPrintable(closer.seen[0].text));
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(0));
    // Not known to be off: the next way out tries again.
    QVERIFY(p.page.outputTestOn());
    QVERIFY(!p.page.calibrationTimerRunning());

    QVERIFY(sim.send(QStringLiteral("fault clear")).isEmpty());
    QVERIFY(sim.send(QStringLiteral("set holding 0x1019 1")).isEmpty());
    sim.clearLog();
    p.tabs->setCurrentIndex(0);
    QCOMPARE(writesTo(sim, 0x1019).size(), 1);
    QCOMPARE(sim.holding(0x1019), 0);
    QVERIFY(!p.page.outputTestOn());
    QCOMPARE(closer.seen.size(), 1);
}

void CalibrationTest::exchangeFailuresReported()
{
    SimProcess sim;
    QVERIFY(openSim(sim, Defaults, {QStringLiteral("0=8100")}));
    command.attemptLimit = 1;
    ModalCloser closer;
    Page p;

    // A failing live refresh reports every time and keeps the timer going.
    QVERIFY(sim.send(QStringLiteral("fault noreply -1")).isEmpty());
    p.calibrate->click();
    QTRY_VERIFY_WITH_TIMEOUT(closer.seen.size() >= 2, 8000);
    QVERIFY(p.page.calibrationTimerRunning());
    for (const SeenBox &box : closer.seen) {
        QCOMPARE(box.title, QStringLiteral("Ошибка"));
        QCOMPARE(box.text, QStringLiteral("Ошибка обмена данными"));
    }
    QVERIFY(sim.send(QStringLiteral("set input 2 250")).isEmpty());
    QVERIFY(sim.send(QStringLiteral("fault clear")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(p.currentConc->value(), 25.0, 5000);
    p.cancel->click();

    // Measuring read fails: nothing computed, nothing written.
    closer.clear();
    p.tabs->setCurrentIndex(1);
    sim.clearLog();
    QVERIFY(sim.send(QStringLiteral("fault noreply 1")).isEmpty());
    p.calibIn->setValue(4.05);
    p.inOk->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].text, QStringLiteral("Ошибка обмена данными"));
    QVERIFY(writes(sim).isEmpty());
    QCOMPARE(command.DeviceParams.ADCCode4m, quint16(8000));

    // Final write refused: reported; the new codes stay in the block for
    // the next block write.
    closer.clear();
    QVERIFY(sim.send(QStringLiteral("fault exception 4 1 1")).isEmpty());
    p.calibIn->setValue(4.0);
    p.inOk->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(command.DeviceParams.ADCCode4m, quint16(8100));
    QCOMPARE(sim.holding(0x1000), 8000);
}

QTEST_MAIN(CalibrationTest)
#include "test_calibration.moc"

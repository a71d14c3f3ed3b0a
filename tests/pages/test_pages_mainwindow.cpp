// The device pages inside the real main window: the calibration timer is
// the main window's, the output test ends on every way out of it, page
// set-up applies the access levels, and the settings page's values reach the
// detector only when no threshold lies above the upper range value.
#include "calibration.h"
#include "devicesetting_2_window.h"
#include "devicesetting_3_window.h"
#include "measurewindow.h"
#include "programlink.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "pagetest.h"
#include "simlink.h"
#include "simprocess.h"
#include "windowsim.h"

#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <tuple>

using namespace PageTest;

class PagesMainWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void calibrationTimerIsTheMainWindows();
    void outputTestEndsWhenCalibrationTabLeft();
    void outputTestEndsWithPageSetupAndClose_data();
    void outputTestEndsWithPageSetupAndClose();
    void accessLevels_data();
    void accessLevels();
    void saveRefusesThresholdAboveRange();

private:
    void startOutputTest(MainWindow *w, SimProcess &sim);

    std::unique_ptr<QTemporaryDir> iniDir;
    std::unique_ptr<MainWindow> window;
};

void PagesMainWindowTest::initTestCase()
{
    QVERIFY(QDir::setCurrent(QStringLiteral(TL_RUNTIME_DIR)));
}

void PagesMainWindowTest::init()
{
    command.resetState();
    iniDir.reset(new QTemporaryDir);
    QVERIFY(iniDir->isValid());
    MainWindow::setIniPathOverride(iniDir->filePath(QStringLiteral("ini")));
}

void PagesMainWindowTest::cleanup()
{
    window.reset();
    theMainWindow = nullptr;
    command.resetState();
}

void PagesMainWindowTest::startOutputTest(MainWindow *w, SimProcess &sim)
{
    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(1);
    QVERIFY(currentCalibration);
    child<QTabWidget>(currentCalibration, "tabWidget")->setCurrentIndex(2);
    QVERIFY(w->calibrationTimerActive());
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 1, 5000);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(1));
    sim.clearLog();
}

void PagesMainWindowTest::calibrationTimerIsTheMainWindows()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(1);
    auto *calibrate = child<QPushButton>(currentCalibration, "Buttoncalibrate");
    calibrate->click();
    QVERIFY(w->calibrationTimerActive());
    QVERIFY(currentCalibration->calibrationTimerRunning());
    QCOMPARE(calibrate->text(), QStringLiteral("Подтвердить калибровку"));
    // The live refresh runs on the main window's ticks.
    QVERIFY(sim.send(QStringLiteral("set input 2 321")).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(child<QDoubleSpinBox>(currentCalibration, "doubleSpinBox_CurrentConc")->value(), 32.1, 5000);

    // Leaving the calibration tab cancels the procedure at once.
    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(2);
    QVERIFY(!w->calibrationTimerActive());
    QCOMPARE(calibrate->text(), QStringLiteral("Калибровать ноль"));
    QCOMPARE(child<QLabel>(currentCalibration, "labelStatusInfo")->text(), QStringLiteral(" "));
}

void PagesMainWindowTest::outputTestEndsWhenCalibrationTabLeft()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    startOutputTest(w, sim);
    Calibration *page = currentCalibration;

    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(0);
    QTRY_VERIFY_WITH_TIMEOUT(!w->calibrationTimerActive(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.holding(0x1019), 0, 5000);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(0));
    QVERIFY(!page->outputTestOn());
    const int offWrites = writesTo(sim, 0x1019).size();
    QVERIFY(offWrites >= 1);
    QCOMPARE(word(writesTo(sim, 0x1019).last(), 7), 0);
    QTest::qWait(1200);
    QCOMPARE(writesTo(sim, 0x1019).size(), offWrites);
    QCOMPARE(sim.holding(0x1019), 0);
}

void PagesMainWindowTest::outputTestEndsWithPageSetupAndClose_data()
{
    QTest::addColumn<QString>("exit");
    QTest::newRow("new connection") << QStringLiteral("pagesetup");
    QTest::newRow("language switch") << QStringLiteral("language");
    QTest::newRow("program closes") << QStringLiteral("close");
}

void PagesMainWindowTest::outputTestEndsWithPageSetupAndClose()
{
    QFETCH(QString, exit);
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    ModalCloser closer;
    startOutputTest(w, sim);

    if (exit == QLatin1String("pagesetup")) {
        w->pageSetup();
    } else if (exit == QLatin1String("language")) {
        child<QRadioButton>(w, "radioButtonLanguageEn")->click();
        QCOMPARE(child<QTabWidget>(currentCalibration, "tabWidget")->tabText(2), QStringLiteral("Current output"));
    } else {
        w->close();
        window.reset();
        theMainWindow = nullptr;
    }
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(command.DeviceParams.ImmitConcOn, quint16(0));
    QVERIFY(!writesTo(sim, 0x1019).isEmpty());
    QCOMPARE(word(writesTo(sim, 0x1019).first(), 7), 0);
    if (window)
        QVERIFY(!w->calibrationTimerActive());
    QTest::qWait(1200);
    QCOMPARE(sim.holding(0x1019), 0);
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
}

void PagesMainWindowTest::accessLevels_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("production");
    QTest::newRow("User") << QStringLiteral("User") << false;
    QTest::newRow("Admin") << QStringLiteral("Admin") << false;
    QTest::newRow("Velta") << QStringLiteral("Velta") << true;
}

void PagesMainWindowTest::accessLevels()
{
    QFETCH(QString, level);
    QFETCH(bool, production);
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim, level);
    QVERIFY(w);
    QVERIFY(currentMeasureWindow && currentDeviceSetting2 && currentDeviceSetting3);
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget_3")->isVisible(), production);
    QCOMPARE(currentDeviceSetting3->isVisible(), production);
    for (const char *name : {"checkBox_ImmitConc", "doubleSpinBox_ImmitConc", "label_PWMCode", "doubleSpinBox_PWMCode"})
        QCOMPARE(child<QWidget>(currentMeasureWindow, name)->isVisible(), production);
    QCOMPARE(child<QDoubleSpinBox>(currentDeviceSetting2, "doubleSpinBox_SerialNum")->isReadOnly(), !production);
    // Page set-up's read reached the measurement page.
    QCOMPARE(child<QLabel>(currentMeasureWindow, "label_SerialNum_field")->text(), QStringLiteral("TL02ID0004711"));
}

// The simulator holds PPM X,X, range 100.0, thresholds 20.0 and 40.0.  A
// raised threshold and a lowered range are refused with the rule's words,
// by "Сохранить параметры" and by the factory store, and nothing reaches the
// detector; raised together, they are saved.
void PagesMainWindowTest::saveRefusesThresholdAboveRange()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(2);
    auto *limit1 = child<QDoubleSpinBox>(currentDeviceSetting2, "doubleSpinBox_Limit1");
    auto *range = child<QDoubleSpinBox>(currentDeviceSetting2, "doubleSpinBox_ValueMax");
    auto *save = child<QPushButton>(w, "pushButton_Save_Param");
    const QString text = QStringLiteral("Порог %1 выше верхнего значения диапазона (%2 PPM): такой порог никогда не "
                                        "сработает\nПараметры в прибор не записаны.");
    for (const auto &c : {std::make_tuple(150.0, 100.0, text.arg("1 (150.0 PPM)", "100.0")),
                          std::make_tuple(20.0, 30.0, text.arg("2 (40.0 PPM)", "30.0"))}) {
        limit1->setValue(std::get<0>(c));
        range->setValue(std::get<1>(c));
        sim.clearLog();
        ModalCloser closer;
        save->click();
        w->on_pushButtonSaveFactorySettings_clicked();
        QCOMPARE(closer.seen.size(), 2);
        for (const SeenBox &box : closer.seen)
            QVERIFY(box.title == QStringLiteral("Ошибка") && box.text == std::get<2>(c));
        QTest::qWait(100);
        QVERIFY(sim.rxFrames().isEmpty());
    }
    limit1->setValue(150.0);
    range->setValue(200.0);
    ModalCloser closer;
    save->click();
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
    QCOMPARE(sim.holding(0x1004), 2000);
    QCOMPARE(sim.holding(0x1005), 1500);
}

QTEST_MAIN(PagesMainWindowTest)
#include "test_pages_mainwindow.moc"

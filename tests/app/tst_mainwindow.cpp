// Main window against the simulated detector: window states, read cycle,
// automatic reading, saving, sound switch, tab change, address field,
// language switch, calibration timer and the ini file.
#include <csignal>
#include <sys/resource.h>
#include "shelltest.h"
#include "testdata.h"

#include "calibration.h"
#include "programlink.h"
#include "devicesetting_2_window.h"
#include "devicesetting_3_window.h"
#include "mainwindow.h"
#include "measurewindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

#include <clocale>

using namespace ShellTest;

namespace {
const QStringList LeftColumn = {
    "pushButtonBootloader", "pushButtonReadFactorySettings", "pushButton_Save_Param",
    "pushButton_Read_Param", "checkBoxAutoupdate", "pushButtonLoadConfigDevice",
    "pushButtonSaveConfigPC", "pushButtonResetDevice", "pushButtonSaveFactorySettings"};

bool shown(const QWidget &w, const QString &name)
{
    return child(w, qPrintable(name))->isVisible();
}

void click(const QWidget &w, const char *button)
{
    QTest::mouseClick(child<QAbstractButton>(w, button), Qt::LeftButton);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(tmp); }
    void init()
    {
        resetLink();
        QFile::remove(MainWindow::iniPath());
    }
    void cleanup()
    {
        resetLink();
        MainWindow::setIniPathOverride(tmp.filePath(QStringLiteral("ini")));
    }

    void noDeviceAndBootloaderStates();
    void detectorState_data();
    void detectorState();
    void readCycleAndWriteCount_data();
    void readCycleAndWriteCount();
    void automaticReading();
    void saveBeforeReadWarns();
    void saveWritesBlockThenReads();
    void soundBitEcho();
    void tabChange();
    void resetAndAddress();
    void calibrationTimerStopsOffItsTab();
    void babblingLine();
    void languageSwitchWithDetector();
    void textsFitTheirPlaces();
    void iniRoundTrip();
    void iniEdgeCases();
    void iniLanguageLine_data();
    void iniLanguageLine();

private:
    QTemporaryDir tmp;
};

void TestMainWindow::noDeviceAndBootloaderStates()
{
    MainWindow w;
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8"));
    QCOMPARE(w.minimumSize(), QSize(645, 590));
    QCOMPARE(w.maximumSize(), QSize(645, 590));
    for (const char *name : {"widget_AddrMb", "groupBox_SoundOn", "groupBoxLanguage"})
        QVERIFY2(shown(w, name), name);
    QVERIFY(!shown(w, "tabWidget"));
    for (const QString &name : LeftColumn)
        QVERIFY2(!shown(w, name), qPrintable(name));
    QVERIFY(!w.findChild<QAction *>(QStringLiteral("action_config"))->isVisible());
    QVERIFY(child<QRadioButton>(w, "radioButtonLanguageRus")->isChecked());
    QVERIFY(status(w).isEmpty());
    // An address above 255 would go out as 0, the broadcast address.
    QCOMPARE(child<QSpinBox>(w, "spinBox")->maximum(), 255);

    command.DeviceType = 999;
    command.SlaveAddress = 5;
    w.pageSetup();
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , устройство Bootloader"));
    QCOMPARE(command.SlaveAddress, quint16(0));
    for (const QString &name : LeftColumn)
        QCOMPARE(shown(w, name), name == QLatin1String("pushButtonBootloader"));
    QVERIFY(!shown(w, "tabWidget") && !shown(w, "widget_AddrMb"));
    QVERIFY(shown(w, "groupBox_SoundOn") && shown(w, "groupBoxLanguage"));
    // Nothing is read: a read without a port would have replaced this.
    QCOMPARE(status(w), QStringLiteral("Успешное подключение Bootloader"));
    QVERIFY(!currentMeasureWindow && !currentCalibration);

    command.DeviceType = 0;   // the status bar is left alone
    w.pageSetup();
    QVERIFY(shown(w, "widget_AddrMb") && !shown(w, "pushButtonBootloader"));
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8"));
    QCOMPARE(status(w), QStringLiteral("Успешное подключение Bootloader"));
}

void TestMainWindow::detectorState_data()
{
    QTest::addColumn<QString>("level");
    QTest::addColumn<bool>("calibParamsShown");
    QTest::newRow("User") << "User" << false;
    QTest::newRow("Admin") << "Admin" << false;
    QTest::newRow("Velta") << "Velta" << true;
}

void TestMainWindow::detectorState()
{
    QFETCH(QString, level);
    QFETCH(bool, calibParamsShown);
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    theMainWindow = &w;
    w.show();
    command.DeviceType = 1;
    command.UserName = level;
    w.pageSetup();

    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , устройство TL-02"));
    QVERIFY(shown(w, "tabWidget") && shown(w, "widget_AddrMb"));
    for (const QString &name : LeftColumn)
        QCOMPARE(shown(w, name), name != QLatin1String("pushButtonBootloader"));
    QVERIFY(w.findChild<QAction *>(QStringLiteral("action_config"))->isVisible());
    QCOMPARE(shown(w, "stackedWidget_3"), calibParamsShown);
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget")->currentWidget(), currentMeasureWindow);
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget_3")->currentWidget(), currentDeviceSetting3);
    QVERIFY(currentMeasureWindow && currentCalibration && currentDeviceSetting2 && currentDeviceSetting3);
    // The calibration and settings pages are filled by the read their tab
    // makes when it opens; until then the tab does not show another
    // detector's values.
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget_calib")->currentWidget()->objectName(), QStringLiteral("label_NotRead"));
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget_2")->currentWidget()->objectName(), QStringLiteral("label_NotRead"));

    // Page set-up ends with a read of the device.
    QCOMPARE(sim.rxFrames().size(), 4);
    verifyFullRead(sim.rxFrames(), 0, 48);
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));
    QCOMPARE(int(command.DeviceParams.Limit1), 200);
    QCOMPARE(QString::fromUtf8(command.DeviceParams.IdVendorName), QStringLiteral("Velta"));

    // A second pass replaces the pages; a device that goes away leaves none.
    QPointer<MeasureWindow> oldMeasure = currentMeasureWindow;
    QPointer<DeviceSetting_3_Window> oldParams = currentDeviceSetting3;
    w.pageSetup();
    QVERIFY(currentMeasureWindow && currentMeasureWindow != oldMeasure.data());
    for (const char *stack : {"stackedWidget", "stackedWidget_calib", "stackedWidget_2", "stackedWidget_3"})
        QCOMPARE(child<QStackedWidget>(w, stack)->count(), 2);   // the page and its "not read" label
    QTRY_VERIFY(oldMeasure.isNull() && oldParams.isNull());
    command.DeviceType = 0;
    w.pageSetup();
    QVERIFY(!currentMeasureWindow && !currentCalibration && !currentDeviceSetting2 && !currentDeviceSetting3);
    QCOMPARE(child<QStackedWidget>(w, "stackedWidget_3")->count(), 0);
}

void TestMainWindow::readCycleAndWriteCount_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("count");
    QTest::newRow("1.05 type 1") << QStringList{"--version", "1.05", "--address", "7"} << 1 << 27;
    QTest::newRow("1.06 type 1") << QStringList{"--version", "1.06", "--address", "7"} << 1 << 48;
    QTest::newRow("1.05 type 2") << QStringList{"--version", "1.05", "--type", "2", "--address", "7"} << 2 << 48;
    QTest::newRow("no number") << QStringList{"--version", "beta", "--address", "7"} << 1 << 27;
    QTest::newRow("comma is no separator") << QStringList{"--version", "1,5", "--address", "7"} << 1 << 27;
}

void TestMainWindow::readCycleAndWriteCount()
{
    QFETCH(QStringList, simArgs);
    QFETCH(int, type);
    QFETCH(int, count);
    SimProcess sim;
    QVERIFY(openSim(sim, simArgs, 7));
    MainWindow w;
    command.DeviceType = qint16(type);
    w.pageSetup();
    QCOMPARE(child<QSpinBox>(w, "spinBox")->value(), 7);

    // A locale with a decimal comma does not change how the version reads
    // (the C locale only where the machine has a German one).
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QByteArray cLocale = setlocale(LC_NUMERIC, nullptr);
    setlocale(LC_NUMERIC, "de_DE.UTF-8");
    sim.clearLog();
    SIM("set input 0 1234");
    click(w, "pushButton_Read_Param");
    QLocale::setDefault(saved);
    setlocale(LC_NUMERIC, cLocale.constData());
    QCOMPARE(sim.rxFrames().size(), 4);
    verifyFullRead(sim.rxFrames(), 0, count, 7);
    QCOMPARE(command.WriteCount, quint16(count));
    QCOMPARE(int(command.DeviceParams.CurrentADC), 1234);
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));

    // The same count goes into the block write.
    sim.clearLog();
    click(w, "pushButton_Save_Param");
    const QList<QByteArray> frames = sim.rxFrames();
    QVERIFY2(functions(frames).mid(0, 3) == QList<int>({3, 4, 16}), qPrintable(describe(frames)));
    QCOMPARE(word(frames[2], 2), 0x1000);
    QCOMPARE(word(frames[2], 4), count);
    QCOMPARE(frames[2].size(), 9 + 2 * count);
}

void TestMainWindow::automaticReading()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    command.DeviceType = 1;
    w.pageSetup();
    auto *autoBox = child<QCheckBox>(w, "checkBoxAutoupdate");
    auto *readButton = child<QPushButton>(w, "pushButton_Read_Param");

    sim.clearLog();
    autoBox->setChecked(true);
    QVERIFY(!readButton->isEnabled());
    SIM("set input 2 77");
    QTRY_VERIFY_WITH_TIMEOUT(sim.rxFrames().size() >= 2, 8000);
    for (const QByteArray &f : sim.rxFrames()) {
        QCOMPARE(quint8(f[1]), quint8(4));
        QCOMPARE(word(f, 4), 10);
    }
    QTRY_COMPARE_WITH_TIMEOUT(int(command.DeviceParams.ConcVal), 77, 5000);

    // A failed tick is reported in the status bar only, and the next one
    // tries again.  Meanwhile the live values are not passed off as live:
    // greyed, with "нет связи" and the time of the last good read.
    ModalCloser closer;
    auto *stale = child<QLabel>(*currentMeasureWindow, "label_LiveStale");
    auto *concentration = child<QDoubleSpinBox>(*currentMeasureWindow, "doubleSpinBox_ConcVal");
    QVERIFY(!stale->isVisibleTo(currentMeasureWindow) && concentration->isEnabled());
    SIM("fault noreply 10");
    QTRY_COMPARE_WITH_TIMEOUT(status(w), QStringLiteral("Ошибка обмена данными"), 8000);
    QVERIFY(stale->isVisibleTo(currentMeasureWindow) && !concentration->isEnabled());
    QVERIFY2(QRegularExpression(QStringLiteral("^нет связи: значения последнего чтения в \\d\\d:\\d\\d:\\d\\d$"))
                 .match(stale->text()).hasMatch(),
             qPrintable(stale->text()));
    QTRY_COMPARE_WITH_TIMEOUT(status(w), QStringLiteral("Успешная передача данных"), 8000);
    QVERIFY(!stale->isVisibleTo(currentMeasureWindow) && concentration->isEnabled());
    QVERIFY(closer.seen.isEmpty());

    // Page set-up stops the timer but leaves the box: its read is the inputs only.
    sim.clearLog();
    w.pageSetup();
    QVERIFY(autoBox->isChecked());
    QVERIFY(readButton->isEnabled());
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x04}));
    sim.clearLog();
    QTest::qWait(1500);
    QCOMPARE(sim.rxFrames().size(), 0);

    autoBox->setChecked(false);
    autoBox->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(!sim.rxFrames().isEmpty(), 5000);
    autoBox->setChecked(false);
    QVERIFY(readButton->isEnabled());
    sim.clearLog();
    QTest::qWait(1500);
    QCOMPARE(sim.rxFrames().size(), 0);
}

void TestMainWindow::saveBeforeReadWarns()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    w.show();
    command.DeviceType = 1;
    ModalCloser closer;
    SIM("fault noreply 10");
    w.pageSetup();   // its read fails: the block size is still unknown
    QCOMPARE(command.WriteCount, quint16(0));
    sim.clearLog();
    closer.clear();
    // The button is off; pressed anyway, the save says why and sends nothing.
    QVERIFY(!child<QPushButton>(w, "pushButton_Save_Param")->isEnabled());
    w.on_pushButton_Save_Param_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].className, QStringLiteral("QMessageBox"));
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Параметры этого прибора не прочитаны: прочитайте параметры. "
                                                 "В прибор ничего не записано"));
    QCOMPARE(status(w), QStringLiteral("Ошибка обмена данными"));
    QCOMPARE(sim.rxFrames().size(), 0);
}

void TestMainWindow::saveWritesBlockThenReads()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    command.DeviceType = 1;
    w.pageSetup();
    auto *autoBox = child<QCheckBox>(w, "checkBoxAutoupdate");
    autoBox->setChecked(true);

    command.DeviceParams.Limit1 = 321;
    sim.clearLog();
    ModalCloser closer;
    click(w, "pushButton_Save_Param");
    QVERIFY(!autoBox->isChecked());
    // The serial number and type of the detector read, the block, the read.
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x03, 0x04, 0x10, 0x2B, 0x2B, 0x03, 0x04}));
    verifyFullRead(sim.rxFrames(), 3, 48);
    QCOMPARE(sim.holding(0x1005), 321);
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));

    // A failed write warns and keeps the edited block for another press.
    command.DeviceParams.Limit1 = 322;
    SIM("fault exception 4 10 2");   // the block refused after the serial number and type
    click(w, "pushButton_Save_Param");
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Ошибка обмена данными"));
    QCOMPARE(status(w), QStringLiteral("Ошибка обмена данными"));
    click(w, "pushButton_Save_Param");
    QCOMPARE(sim.holding(0x1005), 322);
}

void TestMainWindow::soundBitEcho()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    command.DeviceType = 1;
    w.pageSetup();
    auto *sound = child<QCheckBox>(w, "checkBox_SoundOn");
    QCOMPARE(sound->text(), QStringLiteral("Выкл."));

    // The device reports the switch-off: the box follows and sends it, once.
    SIM("set input 9 0x0100");
    sim.clearLog();
    click(w, "pushButton_Read_Param");
    QVERIFY(sound->isChecked());
    QCOMPARE(sound->text(), QStringLiteral("Вкл."));
    QCOMPARE(sim.commands(), QList<quint16>({0x2002}));
    sim.clearLog();
    click(w, "pushButton_Read_Param");
    QCOMPARE(sim.commands(), QList<quint16>());

    SIM("set input 9 0");
    sim.clearLog();
    click(w, "pushButton_Read_Param");
    QVERIFY(!sound->isChecked());
    QCOMPARE(sound->text(), QStringLiteral("Выкл."));
    QCOMPARE(sim.commands(), QList<quint16>({0x7007}));

    // A click that is not answered: warning only, new state, old text.
    SIM("fault noreply 10");
    ModalCloser closer;
    w.findChild<QStatusBar *>()->showMessage(QStringLiteral("marker"));
    sound->click();
    QVERIFY(sound->isChecked());
    QCOMPARE(sound->text(), QStringLiteral("Выкл."));
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Ошибка обмена данными"));
    QCOMPARE(status(w), QStringLiteral("marker"));
}

void TestMainWindow::tabChange()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    command.DeviceType = 1;
    w.pageSetup();
    auto *tabs = child<QTabWidget>(w, "tabWidget");
    auto *autoBox = child<QCheckBox>(w, "checkBoxAutoupdate");
    autoBox->setChecked(true);

    for (int tab : {1, 2, 0}) {
        sim.clearLog();
        tabs->setCurrentIndex(tab);
        QCOMPARE(autoBox->isEnabled(), tab == 0);
        QVERIFY(!autoBox->isChecked());
        QVERIFY(child<QPushButton>(w, "pushButton_Read_Param")->isEnabled());
        QCOMPARE(sim.rxFrames().size(), 4);
        verifyFullRead(sim.rxFrames(), 0, 48);
    }

    // Page set-up from another tab: the tab change reads, then page set-up.
    tabs->setCurrentIndex(2);
    sim.clearLog();
    w.pageSetup();
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(sim.rxFrames().size(), 8);
    verifyFullRead(sim.rxFrames(), 4, 48);
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));
}

void TestMainWindow::resetAndAddress()
{
    SimProcess sim;
    QVERIFY(openSim(sim, {"--address", "9"}, 1));
    MainWindow w;
    auto *address = child<QSpinBox>(w, "spinBox");
    address->setValue(300);
    QCOMPARE(command.SlaveAddress, quint16(255));
    address->setValue(9);
    QCOMPARE(command.SlaveAddress, quint16(9));
    command.DeviceType = 1;
    w.pageSetup();
    verifyFullRead(sim.rxFrames(), 0, 48, 9);

    w.findChild<QStatusBar *>()->showMessage(QStringLiteral("marker"));
    sim.clearLog();
    ModalCloser closer;
    click(w, "pushButtonResetDevice");
    QCOMPARE(sim.commands(), QList<quint16>({0x6060}));
    // Nothing is reported, answered or not.
    SIM("fault noreply 10");
    click(w, "pushButtonResetDevice");
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(status(w), QStringLiteral("marker"));
}

void TestMainWindow::calibrationTimerStopsOffItsTab()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    theMainWindow = &w;
    command.DeviceType = 1;
    w.pageSetup();
    auto *tabs = child<QTabWidget>(w, "tabWidget");
    tabs->setCurrentIndex(1);
    w.startCalibrationTimer(30);
    QTest::qWait(200);
    QVERIFY(w.calibrationTimerActive());
    tabs->setCurrentIndex(0);
    QTRY_VERIFY(!w.calibrationTimerActive());
}

namespace {
// Counts the paint events of one widget.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
} // namespace

void TestMainWindow::babblingLine()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    w.show();
    command.DeviceType = 1;
    w.pageSetup();
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));
    SIM("fault babble 10");

    // While the read waits on a line that never falls silent, the window
    // answers: timers run, it repaints, and the progress window comes up.
    PaintCounter counter;
    w.installEventFilter(&counter);
    int ticks = 0;
    QString progressCancel;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] {
        ++ticks;
        w.update();
        if (auto *p = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget()))
            progressCancel = p->findChild<QPushButton *>()->text();
    });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    click(w, "pushButton_Read_Param");
    qint64 ms = clock.elapsed();
    qInfo("read on a babbling line failed after %lld ms, %d ticks, %d paints", ms, ticks, counter.paints);
    QCOMPARE(status(w), QStringLiteral("Ошибка обмена данными: линия не замолкает (непрерывные данные). "
                                       "Неисправный прибор или помехи на линии"));
    QVERIFY2(ms < 5200 + 10000, qPrintable(QString::number(ms)));
    QVERIFY(ticks >= ms / 50 / 4 && counter.paints >= ticks / 4);
    QCOMPARE(progressCancel, QStringLiteral("Отмена"));

    // "Отмена" cuts the exchange short.
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, [] {
        if (auto *p = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget()))
            p->cancel();
    });
    canceller.start(20);
    clock.restart();
    click(w, "pushButton_Read_Param");
    ms = clock.elapsed();
    canceller.stop();
    QCOMPARE(status(w), QStringLiteral("Обмен данными прерван"));
    QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));

    // A close cuts it short too, and the window closes once the read is back.
    QTimer::singleShot(300, &w, &QWidget::close);
    clock.restart();
    click(w, "pushButton_Read_Param");
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!w.isVisible());
    w.removeEventFilter(&counter);
    SIM("fault off");
}

void TestMainWindow::languageSwitchWithDetector()
{
    SimProcess sim;
    QVERIFY(openSim(sim));
    MainWindow w;
    theMainWindow = &w;
    w.show();
    command.DeviceType = 1;
    command.UserName = QStringLiteral("Velta");
    w.pageSetup();
    auto *sound = child<QCheckBox>(w, "checkBox_SoundOn");
    SIM("set input 9 0x0100");
    click(w, "pushButton_Read_Param");
    QCOMPARE(sound->text(), QStringLiteral("Вкл."));
    child<QTabWidget>(w, "tabWidget")->setCurrentIndex(2);

    QPointer<MeasureWindow> oldMeasure = currentMeasureWindow;
    QPointer<Calibration> oldCalibration = currentCalibration;
    sim.clearLog();
    click(w, "radioButtonLanguageEn");
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , device TL-02"));
    QCOMPARE(child<QPushButton>(w, "pushButton_Read_Param")->text(), QStringLiteral("Read parameters"));
    QCOMPARE(child<QLabel>(w, "label")->text(), QStringLiteral("MODBUS address:"));
    QCOMPARE(child<QTabWidget>(w, "tabWidget")->tabText(1), QStringLiteral("Calibration"));
    QCOMPARE(sound->text(), QStringLiteral("On"));
    QCOMPARE(status(w), QStringLiteral("Data transferred"));
    QCOMPARE(w.iniValue(MainWindow::IniLanguage), QStringLiteral("TL_Program_en_US."));

    // Pages rebuilt; the device read twice (tab change, then page set-up).
    QVERIFY(currentMeasureWindow && currentMeasureWindow != oldMeasure.data());
    QTRY_VERIFY(oldMeasure.isNull() && oldCalibration.isNull());
    QCOMPARE(child<QTabWidget>(w, "tabWidget")->currentIndex(), 0);
    QCOMPARE(sim.rxFrames().size(), 8);
    verifyFullRead(sim.rxFrames(), 4, 48);

    // The selected language again still runs the whole switch.
    sim.clearLog();
    click(w, "radioButtonLanguageEn");
    verifyFullRead(sim.rxFrames(), 0, 48);

    click(w, "radioButtonLanguageRus");
    QCOMPARE(child<QPushButton>(w, "pushButton_Read_Param")->text(), QStringLiteral("Считать параметры"));
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , устройство TL-02"));
    QCOMPARE(sound->text(), QStringLiteral("Вкл."));
    QCOMPARE(w.iniValue(MainWindow::IniLanguage), QStringLiteral("TL_Program_en_RU."));
}

void TestMainWindow::textsFitTheirPlaces()
{
    // The fixed widths were made for narrower fonts than most Linux desktops use.
    MainWindow w;
    w.show();
    for (const char *language : {"radioButtonLanguageRus", "radioButtonLanguageEn", "radioButtonLanguageRus"}) {
        click(w, language);
        QCoreApplication::processEvents();   // layouts follow the new texts
        for (const QString &name : LeftColumn) {
            auto *button = qobject_cast<QPushButton *>(child(w, qPrintable(name)));
            if (!button)
                continue;
            const QFontMetrics fm(button->font());
            for (const QString &line : button->text().split(QLatin1Char('\n')))
                QVERIFY2(fm.horizontalAdvance(line) <= button->width() - 8, qPrintable(line));
        }
        auto *label = child<QLabel>(w, "label");
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    }
}

void TestMainWindow::iniRoundTrip()
{
    const QString path = MainWindow::iniPath();
    QVERIFY(writeFile(path, QByteArray("/home/тест/params\r\n/fw\r\n/fw/image.bin\r\n/in.txt\r\n/out.txt\r\n"
                                       "TL_Program_en_US.\r\n")));
    {
        MainWindow w;
        const QStringList expected = {"/home/тест/params", "/fw", "/fw/image.bin", "/in.txt", "/out.txt"};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(w.iniValue(i), expected[i]);
        QVERIFY(child<QRadioButton>(w, "radioButtonLanguageEn")->isChecked());
        w.setIniValue(MainWindow::IniSavePath, QStringLiteral("/новый/out.txt"));
        w.setIniValue(10, QStringLiteral("ignored"));
        QVERIFY(!readFile(path).contains("новый"));   // written when the window goes
    }
    QCOMPARE(readFile(path), QByteArray("/home/тест/params\r\n/fw\r\n/fw/image.bin\r\n/in.txt\r\n"
                                        "/новый/out.txt\r\nTL_Program_en_US.\r\n"));
    // The technician's line comes after an empty journal line, and the
    // file ends with it.
    {
        MainWindow w;
        w.setIniValue(MainWindow::IniTechnician, QStringLiteral("Анна"));
    }
    QCOMPARE(readFile(path), QByteArray("/home/тест/params\r\n/fw\r\n/fw/image.bin\r\n/in.txt\r\n"
                                        "/новый/out.txt\r\nTL_Program_en_US.\r\n\r\nАнна\r\n"));
}

void TestMainWindow::iniEdgeCases()
{
    const QString path = MainWindow::iniPath();
    // Missing: created at start, written with six lines at the end.
    {
        MainWindow w;
        QVERIFY(QFile::exists(path));
    }
    QCOMPARE(readFile(path), QByteArray("\r\n\r\n\r\n\r\n\r\nTL_Program_en_RU.\r\n"));

    // Short file, blanks, a NUL byte, a bare LF.
    QByteArray data("  /a b  \r\nabc");
    data.append('\0');
    data.append("def\r\n\t/c\n");
    QVERIFY(writeFile(path, data));
    {
        MainWindow w;
        QCOMPARE(w.iniValue(0), QStringLiteral("/a b"));
        QCOMPARE(w.iniValue(1), QStringLiteral("abc"));
        QCOMPARE(w.iniValue(2), QStringLiteral("/c"));
        QVERIFY(w.iniValue(3).isEmpty() && w.iniValue(4).isEmpty());
    }
    QCOMPARE(readFile(path), QByteArray("/a b\r\nabc\r\n/c\r\n\r\n\r\nTL_Program_en_RU.\r\n"));

    // A full disk while saving: the old file stays whole.
    {
        const QByteArray before = readFile(path);
        MainWindow w;
        w.setIniValue(MainWindow::IniConfigDir, QString(200, QLatin1Char('d')));
        struct rlimit old {};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        struct rlimit small = old;
        small.rlim_cur = 64;
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const bool saved = w.saveIni();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!saved);
        QCOMPARE(readFile(path), before);
        w.setIniValue(MainWindow::IniConfigDir, QString());
    }

    // A directory that does not exist: nothing read, saving fails quietly.
    MainWindow::setIniPathOverride(tmp.filePath(QStringLiteral("missing-dir/ini")));
    MainWindow w;
    QVERIFY(child<QRadioButton>(w, "radioButtonLanguageRus")->isChecked());
    QVERIFY(!w.saveIni());
}

void TestMainWindow::iniLanguageLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("english");
    QTest::newRow("english") << QByteArray("TL_Program_en_US.\r\n") << true;
    QTest::newRow("english, trailing blanks") << QByteArray("TL_Program_en_US.   \r\n") << true;
    QTest::newRow("english, no line end") << QByteArray("TL_Program_en_US.") << true;
    QTest::newRow("russian") << QByteArray("TL_Program_en_RU.\r\n") << false;
    QTest::newRow("other case") << QByteArray("tl_program_en_us.\r\n") << false;
    QTest::newRow("without dot") << QByteArray("TL_Program_en_US\r\n") << false;
    QTest::newRow("missing line") << QByteArray() << false;
}

void TestMainWindow::iniLanguageLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, english);
    QVERIFY(writeFile(MainWindow::iniPath(), QByteArray("\r\n\r\n\r\n\r\n\r\n") + line));
    MainWindow w;
    QCOMPARE(child<QRadioButton>(w, "radioButtonLanguageEn")->isChecked(), english);
    QCOMPARE(child<QRadioButton>(w, "radioButtonLanguageRus")->isChecked(), !english);
    QCOMPARE(child<QGroupBox>(w, "groupBoxLanguage")->title(),
             english ? QStringLiteral("Language") : QStringLiteral("Язык приложения"));
    QCOMPARE(w.iniValue(MainWindow::IniLanguage),
             english ? QStringLiteral("TL_Program_en_US.") : QStringLiteral("TL_Program_en_RU."));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

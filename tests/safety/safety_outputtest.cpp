// Every way out of the current-output test switches the detector's
// concentration simulation off before anything else reaches a device: the
// flows of the main window, a port switch in the connection dialog with two
// detectors on the line, and a termination signal.  And after Disconnect
// nothing goes out at all.
#include "modalcloser.h"
#include "safetysuite.h"
#include "safetyutil.h"
#include "shelltest.h"
#include "signalquit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <csignal>
#include <memory>
#include <unistd.h>

using namespace SafetyUtil;

class OutputTestSafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void flowsEndTheOutputTestFirst_data();
    void flowsEndTheOutputTestFirst();
    void portSwitchLeavesNeitherDetectorSimulating();
    void terminationSignalQuitsThroughTheNormalPath();
    void signalCutsABabblingExchange();
    void nothingIsSentAfterDisconnect();

private:
    QTemporaryDir dir;
    SimProcess sim;
    SimProcess other;
};

void OutputTestSafety::initTestCase()
{
    ShellTest::prepare(dir);
}

void OutputTestSafety::init()
{
    ShellTest::resetLink();
    QVERIFY2(sim.start(), qPrintable(sim.errorText()));
}

void OutputTestSafety::cleanup()
{
    FileChoice::openHook = nullptr;
    FileChoice::saveHook = nullptr;
    ShellTest::resetLink();
    sim.stop();
    other.stop();
}

void OutputTestSafety::flowsEndTheOutputTestFirst_data()
{
    QTest::addColumn<QString>("flow");
    for (const char *f : {"save to PC", "load file", "store factory settings", "read factory settings",
                          "gas library", "firmware", "connect"})
        QTest::newRow(f) << QString::fromLatin1(f);
}

void OutputTestSafety::flowsEndTheOutputTestFirst()
{
    QFETCH(QString, flow);
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, sim));
    QVERIFY(startOutputTest(window, sim));

    const QString saved = dir.filePath(QStringLiteral("saved.txt"));
    QFile::remove(saved);
    chooseFile(&FileChoice::saveHook, saved);
    chooseFile(&FileChoice::openHook, QString());   // the file dialogs are cancelled
    sim.clearLog();
    {
        ModalCloser closer;   // the library and connection dialogs are closed
        if (flow == QLatin1String("save to PC"))
            window.on_pushButtonSaveConfigPC_clicked();
        else if (flow == QLatin1String("load file"))
            window.on_pushButtonLoadConfigDevice_clicked();
        else if (flow == QLatin1String("store factory settings"))
            window.on_pushButtonSaveFactorySettings_clicked();
        else if (flow == QLatin1String("read factory settings"))
            window.on_pushButtonReadFactorySettings_clicked();
        else if (flow == QLatin1String("gas library"))
            window.on_action_config_triggered();
        else if (flow == QLatin1String("firmware"))
            window.on_pushButtonBootloader_clicked();
        else
            window.on_action_connect_triggered();
    }

    // The first thing on the line is the switch-off (after the serial number
    // and type that every write checks), and it is the last word on the
    // simulation: no tick switches it on again.
    QTest::qWait(1300);
    const QList<QByteArray> frames = sim.rxFrames();
    QVERIFY2(frames.size() > 2, "nothing was sent");
    QCOMPARE(ShellTest::functions(frames.mid(0, 2)), QList<int>({3, 4}));
    QCOMPARE(quint8(frames[2][1]), quint8(16));
    QCOMPARE(ShellTest::word(frames[2], 2), 0x1019);
    QCOMPARE(firstValue(frames[2]), 0);
    for (const QByteArray &f : writesTo(sim, 0x1019))
        QCOMPARE(firstValue(f), 0);
    QCOMPARE(sim.holding(0x1019), 0);
    QVERIFY(!currentCalibration || !currentCalibration->outputTestOn());
    if (flow == QLatin1String("store factory settings"))
        QCOMPARE(sim.commands(), QList<quint16>{0x3003});
    if (flow == QLatin1String("save to PC")) {
        // The file keeps the simulation off too.
        const ParamBlock file = blockOfFile(saved);
        QCOMPARE(int(file.ImmitConcOn), 0);
        QCOMPARE(int(file.Limit1), 200);
    }
    theMainWindow = nullptr;
}

void OutputTestSafety::portSwitchLeavesNeitherDetectorSimulating()
{
    QVERIFY2(other.start(), qPrintable(other.errorText()));
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, sim));
    QVERIFY(startOutputTest(window, sim));
    other.clearLog();

    // In the connection dialog the user picks the other detector's port and
    // connects to it.
    ModalCloser closer;
    bool switched = false;
    closer.pushHandler([&](QWidget *w) {
        auto *combo = w->findChild<QComboBox *>(QStringLiteral("cb_Com"));
        auto *button = w->findChild<QPushButton *>(QStringLiteral("Button_connect"));
        if (!combo || !button)
            return false;
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), other.portPath());
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
        switched = true;
        return true;
    });
    window.on_action_connect_triggered();
    QVERIFY(switched);
    QCOMPARE(command.PortName, other.portPath());
    QTest::qWait(1500);

    // Detector A was told to stop before the port changed; B never heard
    // A's test code, nor any simulation at all.
    const QList<QByteArray> offA = writesTo(sim, 0x1019);
    QVERIFY(!offA.isEmpty());
    QCOMPARE(firstValue(offA.last()), 0);
    QCOMPARE(sim.holding(0x1019), 0);
    QVERIFY2(writesTo(other, 0x1019).isEmpty(), qPrintable(ShellTest::describe(other.rxFrames())));
    QCOMPARE(other.holding(0x1019), 0);
    theMainWindow = nullptr;
}

void OutputTestSafety::terminationSignalQuitsThroughTheNormalPath()
{
    const QString ini = MainWindow::iniPath();
    QFile::remove(ini);
    QuitOnSignals quitOnSignals;
    {
        MainWindow window;
        theMainWindow = &window;
        window.show();
        QVERIFY(showDetector(window, sim));
        QVERIFY(startOutputTest(window, sim));

        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(0, [] { std::raise(SIGTERM); });
        QTimer::singleShot(15000, qApp, &QCoreApplication::quit);   // a safety net only
        qApp->exec();
        QVERIFY2(clock.elapsed() < 10000, "SIGTERM did not end the event loop");
        QCOMPARE(QuitOnSignals::received(), int(SIGTERM));
        theMainWindow = nullptr;
    }   // the window goes as in main()
    QCOMPARE(sim.holding(0x1019), 0);
    QCOMPARE(firstValue(writesTo(sim, 0x1019).last()), 0);
    QVERIFY(QFile::exists(ini));
}

// A signal while an output-test write waits on a line that never falls
// silent: the write is cut short at once, the program quits, tries the
// switch-off once, and says on stderr that it could not be confirmed.
void OutputTestSafety::signalCutsABabblingExchange()
{
    QuitOnSignals quitOnSignals;
    QTemporaryFile errFile;
    QVERIFY(errFile.open());
    qint64 signalToQuitMs = -1;
    auto window = std::make_unique<MainWindow>();
    theMainWindow = window.get();
    window->show();
    QVERIFY(showDetector(*window, sim));
    QVERIFY(startOutputTest(*window, sim));
    SIM("fault babble 10");
    QElapsedTimer clock;
    QTimer poller;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        if (command.busy() && !clock.isValid()) {
            clock.start();
            std::raise(SIGTERM);
        }
    });
    poller.start(10);
    QTimer::singleShot(20000, qApp, &QCoreApplication::quit);   // a safety net only
    const int savedErr = ::dup(2);
    ::dup2(errFile.handle(), 2);
    qApp->exec();
    signalToQuitMs = clock.isValid() ? clock.elapsed() : -1;
    poller.stop();
    sim.clearLog();
    theMainWindow = nullptr;
    window.reset();   // the window goes as in main(), with stderr still caught
    ::dup2(savedErr, 2);
    ::close(savedErr);
    qInfo("signal to quit: %lld ms", signalToQuitMs);
    QVERIFY2(signalToQuitMs >= 0 && signalToQuitMs < 1500, qPrintable(QString::number(signalToQuitMs)));
    errFile.seek(0);
    const QString err = QString::fromLocal8Bit(errFile.readAll());
    QVERIFY2(err.contains(QStringLiteral("tl-configuration: Не удалось подтвердить, что имитация концентрации на "
                                         "приборе отключена")),
             qPrintable(err));
    // One try: the identity read before the write, its attempts and no more.
    const int requests = sim.rxFrames().size();
    QVERIFY2(requests >= 1 && requests <= 10, qPrintable(QString::number(requests)));
    SIM("fault off");
}

void OutputTestSafety::nothingIsSentAfterDisconnect()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, sim));
    auto *sound = window.findChild<QCheckBox *>(QStringLiteral("checkBox_SoundOn"));
    QVERIFY(sound->isEnabled());

    // Disconnect in the connection dialog, then close it.
    ModalCloser closer;
    closer.pushHandler([](QWidget *w) {
        auto *button = w->findChild<QPushButton *>(QStringLiteral("Button_connect"));
        if (!button || button->text() != QLatin1String("Disconnect"))
            return false;
        button->click();
        return false;   // the closer then closes the dialog
    });
    window.on_action_connect_triggered();
    QCOMPARE(int(command.DeviceType), 0);
    QVERIFY(!command.isOpen());
    sim.clearLog();

    // The sound box offers nothing, and even a change of its state sends
    // nothing and leaves the port closed.
    QVERIFY(!sound->isEnabled());
    window.on_checkBox_SoundOn_stateChanged(Qt::Checked);
    QTest::qWait(300);
    QVERIFY2(sim.rxFrames().isEmpty(), qPrintable(ShellTest::describe(sim.rxFrames())));
    QVERIFY(!command.isOpen());
    theMainWindow = nullptr;
}

SAFETY_GROUP("outputtest", OutputTestSafety)
#include "safety_outputtest.moc"

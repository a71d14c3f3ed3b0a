// A parameter block goes only to the detector it was read from: a port
// switched to a detector whose read fails, an address with nothing read, a
// detector swapped behind the same port, on every path that writes.  And a
// write that went out unconfirmed is said to be so.  What counts is what
// reached the second detector.
#include "deviceops.h"
#include "modalcloser.h"
#include "restoretestutil.h"
#include "safetysuite.h"
#include "safetyutil.h"
#include "shelltest.h"
#include "tlctlrun.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTemporaryDir>

using namespace SafetyUtil;

namespace {

// Every request on `sim`'s line that writes something (functions 6, 16, 14).
QString writesOnLine(SimProcess &sim)
{
    QStringList found;
    for (const QByteArray &f : sim.allRequests())
        if (f.size() > 1 && (f[1] == 6 || f[1] == 16 || f[1] == 14))
            found << QString::fromLatin1(f.toHex(' '));
    return found.join(QStringLiteral(" | "));
}

QVector<int> holdings(SimProcess &sim)
{
    QVector<int> v;
    for (int reg = 0x1000; reg <= 0x102F; ++reg)
        v.append(sim.holding(reg));
    return v;
}

// The names of the widgets the four page stacks show.
QStringList shownPages(MainWindow &window)
{
    QStringList names;
    for (const char *name : {"stackedWidget", "stackedWidget_calib", "stackedWidget_2", "stackedWidget_3"}) {
        auto *stack = window.findChild<QStackedWidget *>(QLatin1String(name));
        names << (stack && stack->currentWidget() ? stack->currentWidget()->objectName() : QStringLiteral("-"));
    }
    return names;
}

bool allNotRead(MainWindow &window)
{
    return shownPages(window).count(QStringLiteral("label_NotRead")) == 4;
}

} // namespace

class IdentitySafety : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ShellTest::prepare(dir); }
    void init() { ShellTest::resetLink(); }
    void cleanup()
    {
        FileChoice::openHook = nullptr;
        ShellTest::resetLink();
        a.stop();
        b.stop();
    }

    void portSwitchWithFailingReadWritesNothing();
    void addressChangeWritesNothing();
    void swappedDetectorGetsNoWrite();
    void deviceOperationsCheckTheTarget();
    void writtenButNotVerified();
    void networkLineLostAfterTheRequest();

private:
    QString linkPath() const { return dir.filePath(QStringLiteral("ttyTL-identity")); }

    // Detector A: limit1 77.7 PPM, serial number 111; B: serial number 222.
    bool start(SimProcess &sim, int serial, const QStringList &args = {})
    {
        if (!sim.start(args))
            return false;
        bool ok = true;
        auto set = [&](const QString &line) {
            bool done = false;
            sim.send(line, &done);
            ok = ok && done;
        };
        set(QStringLiteral("set holding 0x100F %1").arg(serial));
        set(QStringLiteral("set holding 0x1010 0"));
        if (&sim == &a)
            set(QStringLiteral("set holding 0x1005 777"));
        sim.clearLog();
        return ok;
    }

    // The window on detector A behind the link path, read.
    bool showA(MainWindow &window)
    {
        if (!start(a, 111, {QStringLiteral("--link"), linkPath()}))
            return false;
        command.PortName = linkPath();
        if (!command.openPort())
            return false;
        command.SlaveAddress = 1;
        command.DeviceType = 1;
        command.UserName = QStringLiteral("Velta");
        command.LoggedIn = 1;
        window.pageSetup();
        return command.DeviceParams.Limit1 == 777 && command.Origin.serialNumber == 111;
    }

    // A leaves the line; B takes the same link path.
    bool swapToB()
    {
        a.stop();
        return start(b, 222, {QStringLiteral("--link"), linkPath()});
    }

    QTemporaryDir dir;
    SimProcess a;
    SimProcess b;
};

void IdentitySafety::portSwitchWithFailingReadWritesNothing()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showA(window));
    QVERIFY(start(b, 222));
    QVERIFY(b.send(QStringLiteral("fault fewer 27 -1")).isEmpty());
    const QVector<int> before = holdings(b);
    b.clearLog();

    // The connection dialog opens B's port and probes it; page set-up reads
    // it, and the holding block does not come.
    QVERIFY(DeviceOps::open(command, b.portPath()));
    QVERIFY(DeviceOps::probe(command).ok());
    window.pageSetup();
    QVERIFY2(allNotRead(window), qPrintable(shownPages(window).join(' ')));
    for (const char *name : {"pushButton_Save_Param", "pushButtonSaveFactorySettings", "pushButtonLoadConfigDevice",
                             "pushButtonSaveConfigPC", "pushButtonReadFactorySettings"})
        QVERIFY2(!window.findChild<QPushButton *>(QLatin1String(name))->isEnabled(), name);

    // Pressed anyway: refused, and said why.
    ModalCloser closer;
    window.on_pushButton_Save_Param_clicked();
    window.on_pushButtonSaveFactorySettings_clicked();
    QCOMPARE(closer.seen.size(), 2);
    for (const SeenBox &box : closer.seen) {
        QCOMPARE(box.title, QStringLiteral("Ошибка"));
        QVERIFY2(box.text.contains(QStringLiteral("не прочитаны")), qPrintable(box.text));
    }
    QVERIFY2(writesOnLine(b).isEmpty(), qPrintable(writesOnLine(b)));
    QCOMPARE(holdings(b), before);

    // Once B has been read, its own block goes to it.
    b.send(QStringLiteral("fault clear"));
    window.on_pushButton_Read_Param_clicked();
    QCOMPARE(shownPages(window).first(), QStringLiteral("MeasureWindow"));
    QCOMPARE(int(command.Origin.serialNumber), 222);
    b.clearLog();
    window.on_pushButton_Save_Param_clicked();
    QCOMPARE(closer.seen.size(), 2);
    QCOMPARE(writesTo(b, 0x1000).size(), 1);
    QCOMPARE(holdings(b), before);
    theMainWindow = nullptr;
}

void IdentitySafety::addressChangeWritesNothing()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showA(window));
    auto *address = window.findChild<QSpinBox *>(QStringLiteral("spinBox"));
    address->setValue(2);
    QVERIFY(allNotRead(window));
    QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_Save_Param"))->isEnabled());

    ModalCloser closer;
    window.on_pushButton_Save_Param_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QVERIFY2(closer.seen[0].text.contains(QStringLiteral("не прочитаны")), qPrintable(closer.seen[0].text));
    // Nobody answers at 2: the pages stay empty, also back at 1 until read.
    window.on_pushButton_Read_Param_clicked();
    QVERIFY(allNotRead(window));
    address->setValue(1);
    QVERIFY(allNotRead(window));
    QVERIFY2(writesOnLine(a).isEmpty(), qPrintable(writesOnLine(a)));
    QCOMPARE(a.holding(0x1005), 777);
    window.on_pushButton_Read_Param_clicked();
    QCOMPARE(shownPages(window).first(), QStringLiteral("MeasureWindow"));
    theMainWindow = nullptr;
}

void IdentitySafety::swappedDetectorGetsNoWrite()
{
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showA(window));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    const QString other = QStringLiteral("К прибору подключён другой прибор: прочитайте параметры заново");
    ModalCloser closer;

    struct Path {
        const char *name;
        int tab;
        bool swapFirst;
        std::function<void()> press;
    };
    const QString file = dir.filePath(QStringLiteral("limit.txt"));
    const Path paths[] = {
        {"save parameters", 0, true, [&] { window.on_pushButton_Save_Param_clicked(); }},
        {"store factory settings", 0, true, [&] { window.on_pushButtonSaveFactorySettings_clicked(); }},
        {"input calibration", 1, true, [&] {
             currentCalibration->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
             auto *ok = currentCalibration->findChild<QPushButton *>(QStringLiteral("pushButton_CalibIn_Ok"));
             ok->setEnabled(true);
             ok->click();
         }},
        // The detector is swapped while the load's confirmation is up.
        {"load a file", 0, false, [&] {
             ParamBlock changed = command.DeviceParams;
             changed.Limit1 = 250;
             QVERIFY(writeFile(file, hexFile(changed)));
             chooseFile(&FileChoice::openHook, file);
             RestoreSeen seen;
             const ModalCloser::Handler accept = answerRestore(&seen, true);
             closer.pushHandler([&](QWidget *w) {
                 if (QLatin1String(w->metaObject()->className()) != QLatin1String("RestoreConfirmDialog"))
                     return false;
                 swapToB();
                 return accept(w);
             });
             window.on_pushButtonLoadConfigDevice_clicked();
             QVERIFY(seen.shown);
         }},
    };
    for (const Path &p : paths) {
        // A on the line and read on the path's tab, then B in its place.
        b.stop();
        a.stop();
        QVERIFY(start(a, 111, {QStringLiteral("--link"), linkPath()}));
        tabs->setCurrentIndex(p.tab);
        window.on_pushButton_Read_Param_clicked();
        QVERIFY2(DeviceOps::blockFromLink(command) && command.Origin.serialNumber == 111, p.name);
        if (p.swapFirst)
            QVERIFY(swapToB());
        closer.clear();
        p.press();
        QVERIFY2(closer.seen.size() >= 1 && closer.seen.last().text == other,
                 qPrintable(QStringLiteral("%1: %2").arg(p.name, closer.seen.isEmpty() ? QString() : closer.seen.last().text)));
        QVERIFY2(writesOnLine(b).isEmpty(), qPrintable(QStringLiteral("%1: %2").arg(p.name, writesOnLine(b))));
        QCOMPARE(b.holding(0x1005), 200);
        QVERIFY(!window.findChild<QPushButton *>(QStringLiteral("pushButton_Save_Param"))->isEnabled());
    }

    // The output test runs on A; B, swapped in, is never made to simulate.
    b.stop();
    QVERIFY(start(a, 111, {QStringLiteral("--link"), linkPath()}));
    tabs->setCurrentIndex(0);
    window.on_pushButton_Read_Param_clicked();
    QVERIFY(startOutputTest(window, a));
    QVERIFY(swapToB());
    const auto refused = [&] {
        for (const SeenBox &box : closer.seen)
            if (box.text == other)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(refused(), 10000);
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(0);
    QVERIFY2(writesOnLine(b).isEmpty(), qPrintable(writesOnLine(b)));
    QCOMPARE(b.holding(0x1019), 0);
    theMainWindow = nullptr;
}

// What tlctl's set, restore, factory and gas apply are made of, with the
// detector swapped after the read.
void IdentitySafety::deviceOperationsCheckTheTarget()
{
    QVERIFY(start(a, 111, {QStringLiteral("--link"), linkPath()}));
    QVERIFY(DeviceOps::open(command, linkPath()));
    command.SlaveAddress = 1;
    QVERIFY(DeviceOps::probe(command).ok());
    QVERIFY(DeviceOps::read(command, DeviceOps::ReadMode::Full).ok());
    const Command::BlockOrigin fromA = command.Origin;
    command.DeviceParams.Limit1 = 300;
    QVERIFY(swapToB());
    const QVector<int> before = holdings(b);
    b.clearLog();

    const std::function<DeviceOps::Outcome()> writes[] = {
        [] { return DeviceOps::writeAndReadBack(command); }, [] { return DeviceOps::storeFactory(command); },
        [] { return DeviceOps::writeThresholds(command); }, [] { return DeviceOps::writeSimulation(command); },
    };
    for (const auto &write : writes) {
        command.Origin = fromA;
        const DeviceOps::Outcome o = write();
        QCOMPARE(int(o.failed), int(DeviceOps::Step::Foreign));
        QVERIFY(!o.unverified);
        // Once refused, the block belongs to nobody.
        QCOMPARE(int(DeviceOps::writeBlock(command).failed), int(DeviceOps::Step::NotRead));
    }
    QVERIFY2(writesOnLine(b).isEmpty(), qPrintable(writesOnLine(b)));
    QVERIFY(b.commands().isEmpty());
    QCOMPARE(holdings(b), before);
    QCOMPARE(int(command.DeviceParams.Limit1), 300);   // the user's edit is kept

    // The identity read that fails writes nothing either.
    command.Origin = fromA;
    command.Origin.serialNumber = 222;
    QVERIFY(b.send(QStringLiteral("fault noreply -1")).isEmpty());
    const DeviceOps::Outcome o = DeviceOps::writeAndReadBack(command);
    QCOMPARE(int(o.failed), int(DeviceOps::Step::Identity));
    QCOMPARE(o.linkResult, quint16(ResultNoReply));
    QVERIFY2(writesOnLine(b).isEmpty(), qPrintable(writesOnLine(b)));
}

void IdentitySafety::writtenButNotVerified()
{
    QVERIFY(start(a, 111));
    const QStringList set{QStringLiteral("--port"), a.portPath(), QStringLiteral("set"), QStringLiteral("limit1=25"),
                          QStringLiteral("--user"), QStringLiteral("User")};
    // tlctl set makes 7 requests before its write (probe, full read, the
    // identity read); the write's reply is lost, then the read-back's.
    struct Case {
        const char *fault;
        const char *says;
    };
    const Case cases[] = {
        {"fault noreply 10 7", "writing 48 holding registers from 0x1000 at address 1"},
        {"fault noreply -1 8", "reading back: reading the identification"},
    };
    for (const Case &c : cases) {
        QVERIFY(a.send(QStringLiteral("set holding 0x1005 777")).isEmpty());
        QVERIFY(a.send(QLatin1String(c.fault)).isEmpty());
        const TlctlRun r = runTlctl(set, password(QStringLiteral("7529")));
        QCOMPARE(r.code, 4);
        QVERIFY2(r.oneErrorLine() && r.err.contains(QLatin1String(c.says))
                     && r.err.contains(QLatin1String("written, not verified: read the detector again before relying on it")),
                 qPrintable(r.err));
        QVERIFY(a.send(QStringLiteral("fault clear")).isEmpty());
        QCOMPARE(a.holding(0x1005), 250);
    }

    // The program says the same in its box.
    MainWindow window;
    theMainWindow = &window;
    QVERIFY(showDetector(window, a));
    QVERIFY(a.send(QStringLiteral("fault noreply 10 2")).isEmpty());   // after the identity read
    command.DeviceParams.Limit1 = 300;
    ModalCloser closer;
    window.on_pushButton_Save_Param_clicked();
    QCOMPARE(closer.seen.size(), 1);
    QVERIFY2(closer.seen[0].text.contains(QStringLiteral("записано, но не подтверждено")), qPrintable(closer.seen[0].text));
    QCOMPARE(a.holding(0x1005), 300);
    theMainWindow = nullptr;
}

// A serial device server that drops the connection after passing on a write
// and half its answer, and takes no connection after that.
void IdentitySafety::networkLineLostAfterTheRequest()
{
    QVERIFY(a.start({QStringLiteral("--tcp"), QStringLiteral("0")}));
    QProcess proxy;
    proxy.start(QStringLiteral(TL_PYTHON),
                {QStringLiteral(TL_SOURCE_DIR "/tests/safety/cutproxy.py"), a.tcpAddress()});
    QVERIFY(proxy.waitForReadyRead(10000));
    const QString listen = QString::fromLatin1(proxy.readLine()).trimmed();
    QVERIFY2(listen.startsWith(QLatin1String("127.0.0.1:")), qPrintable(listen));

    const TlctlRun r = runTlctl({QStringLiteral("--port"), QStringLiteral("tcp://") + listen, QStringLiteral("set"),
                                 QStringLiteral("limit1=25"), QStringLiteral("--user"), QStringLiteral("User")},
                                password(QStringLiteral("7529")));
    proxy.kill();
    proxy.waitForFinished(3000);
    QCOMPARE(r.code, 4);
    QVERIFY2(r.oneErrorLine()
                 && r.err.contains(QStringLiteral("connection to %1 lost after the request was sent").arg(listen))
                 && r.err.contains(QLatin1String("written, not verified")) && !r.err.contains(QLatin1String("time-out")),
             qPrintable(r.err));
    QCOMPARE(a.holding(0x1005), 250);
}

SAFETY_GROUP("identity", IdentitySafety)
#include "safety_identity.moc"

// The device link when the line or the port goes wrong: a short read never
// turns into a block write, a closed port sends nothing, a lost port ends the
// exchange quickly and quietly, a broadcast that did not go out is a failure.
// The same over the network: RTU over TCP and Modbus TCP.
#include "programlink.h"
#include "safetysuite.h"
#include "simprocess.h"
#include "tlctlrun.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

// Counts the Qt warnings printed while it lives ("device not open" and kin).
class WarningCounter
{
public:
    WarningCounter() { previous = qInstallMessageHandler(handler); texts().clear(); }
    ~WarningCounter() { qInstallMessageHandler(previous); }
    static QStringList &texts()
    {
        static QStringList list;
        return list;
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &text)
    {
        if (type != QtDebugMsg && type != QtInfoMsg)
            texts().append(text);
    }
    QtMessageHandler previous = nullptr;
};

void countSent(bool sent, const QByteArray &, void *context)
{
    if (sent)
        ++*static_cast<int *>(context);
}

bool sameBlock(const ParamBlock &a, const ParamBlock &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

class LinkSafety : public QObject
{
    Q_OBJECT
    SimProcess sim;
    QTemporaryDir dir;

    // The port is reached through the simulator's symlink: once the
    // simulator is gone, the name is gone too (a pty number may be reused).
    QString linkPath() const { return dir.filePath(QStringLiteral("ttyTL-link-safety")); }

    bool connectThroughLink()
    {
        command.resetState();
        if (!sim.start({QStringLiteral("--link"), linkPath()}))
            return false;
        command.PortName = linkPath();
        command.SlaveAddress = 1;
        const bool up = command.openPort() && command.transact(4, 0, 0, 10) == ResultOk;
        sim.clearLog();
        return up;
    }

private slots:
    void cleanup()
    {
        command.setTrafficHook(nullptr, nullptr);
        sim.stop();
        command.resetState();
    }

    void shortReadStoresNothing()
    {
        QVERIFY(connectThroughLink());
        QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(int(command.DeviceParams.HWVersion), 123);
        // What the user has on the pages, and an older board version.
        command.DeviceParams.Limit1 = 777;
        command.DeviceParams.HWVersion = 321;
        const ParamBlock before = command.DeviceParams;
        const quint16 scratchBefore = command.ScratchWord;

        bool ok = false;
        sim.send(QStringLiteral("fault fewer 27 -1"), &ok);
        QVERIFY(ok);
        sim.clearLog();
        QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultMismatch));
        QCOMPARE(sim.rxFrames().size(), 10);
        QVERIFY(sameBlock(command.DeviceParams, before));
        QCOMPARE(command.ScratchWord, scratchBefore);
        QCOMPARE(int(command.DeviceParams.HWVersion), 321);

        // The same 27 registers asked for as 27 are a good answer.
        QCOMPARE(command.transact(3, 0, 0x1000, 27), quint16(ResultOk));
        QCOMPARE(int(command.DeviceParams.Limit1), sim.holding(0x1005));
    }

    void tlctlShortReadWritesNothing()
    {
        QVERIFY(sim.start());
        QVector<int> before;
        for (int reg = 0x1000; reg <= 0x102F; ++reg)
            before.append(sim.holding(reg));
        QVERIFY(!before.contains(-1));
        bool ok = false;
        sim.send(QStringLiteral("fault fewer 27 -1"), &ok);
        QVERIFY(ok);
        sim.clearLog();

        const TlctlRun r = runTlctl({QStringLiteral("--port"), sim.portPath(), QStringLiteral("set"),
                                     QStringLiteral("limit1=25"), QStringLiteral("--user"), QStringLiteral("User")},
                                    password(QStringLiteral("7529")));
        QVERIFY(r.finished);
        QCOMPARE(r.code, 4);
        QVERIFY2(r.oneErrorLine(), qPrintable(r.err));
        QVERIFY(!r.out.contains(QStringLiteral("took every value")));

        // The device saw reads only: no block write, no command.
        const QList<QByteArray> rx = sim.rxFrames();
        QVERIFY(!rx.isEmpty());
        for (const QByteArray &f : rx)
            QVERIFY2(f.size() > 1 && (f[1] == 3 || f[1] == 4 || f[1] == 43), f.toHex().constData());
        QVERIFY(sim.commands().isEmpty());
        sim.send(QStringLiteral("fault clear"));
        QCOMPARE(sim.holding(0x101B), 123);
        for (int reg = 0x1000; reg <= 0x102F; ++reg)
            QCOMPARE(sim.holding(reg), before[reg - 0x1000]);
    }

    void closedPortSendsNothing()
    {
        QVERIFY(connectThroughLink());
        command.closePort();
        WarningCounter warnings;
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultNotConnected));
        QCOMPARE(command.transact(16, 0x6060, 0x1020, 1), quint16(ResultNotConnected));
        command.SlaveAddress = 0;
        QCOMPARE(command.transact(16, 0x2002, 0x1020, 1), quint16(ResultNotConnected));
        const quint8 data[4] = {1, 2, 3, 4};
        QCOMPARE(command.transactBlock(14, 0x08001C00, data, 4), quint16(ResultNotConnected));
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!command.isOpen());
        QVERIFY(sim.log().isEmpty());
        QVERIFY2(WarningCounter::texts().isEmpty(), qPrintable(WarningCounter::texts().join('\n')));

        // Opening it again is what makes exchanges possible.
        QVERIFY(command.openPort());
        command.SlaveAddress = 1;
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 1);
    }

    void lostPortEndsQuickly()
    {
        QVERIFY(connectThroughLink());
        // The simulator ends: its pty and the symlink to it are gone.
        sim.stop();
        int sent = 0;
        command.setTrafficHook(countSent, &sent);
        WarningCounter warnings;
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultWriteTimeout));
        QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultWriteTimeout));
        const quint8 data[4] = {1, 2, 3, 4};
        QCOMPARE(command.transactBlock(14, 0x08001C00, data, 4), quint16(ResultWriteTimeout));
        const qint64 ms = t.elapsed();
        command.setTrafficHook(nullptr, nullptr);
        // No run through the remaining attempts: one reopen, then the end.
        QVERIFY2(sent <= 3, qPrintable(QString::number(sent)));
        QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
        QVERIFY2(WarningCounter::texts().isEmpty(), qPrintable(WarningCounter::texts().join('\n')));
        QVERIFY(!command.isOpen());

        // A detector back under the same name is taken up by the next exchange.
        QVERIFY(connectThroughLink());
        sim.stop();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultWriteTimeout));
        QVERIFY(sim.start({QStringLiteral("--link"), linkPath()}));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
    }

    void broadcastThatDidNotGoOut()
    {
        QVERIFY(connectThroughLink());
        command.SlaveAddress = 0;
        QCOMPARE(command.transact(16, 0x2002, 0x1020, 1), quint16(ResultOk));
        QVERIFY(sim.waitForLog(QStringLiteral("CMD 2002")));
        sim.stop();
        WarningCounter warnings;
        QCOMPARE(command.transact(16, 0x7007, 0x1020, 1), quint16(ResultWriteTimeout));
        QCOMPARE(command.transact(6, 0, 0x1005, 1), quint16(ResultWriteTimeout));
        QVERIFY2(WarningCounter::texts().isEmpty(), qPrintable(WarningCounter::texts().join('\n')));
    }

    void networkWritesReachTheDevice_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("RTU over TCP") << "tcp";
        QTest::newRow("Modbus TCP") << "modbus-tcp";
    }

    void networkWritesReachTheDevice()
    {
        QFETCH(QString, scheme);
        const bool mbap = scheme == QLatin1String("modbus-tcp");
        QVERIFY(sim.start({QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--modbus-tcp"),
                           QStringLiteral("0")}));
        const QString port = scheme + QStringLiteral("://") + (mbap ? sim.modbusTcpAddress() : sim.tcpAddress());
        QVector<int> before;
        for (int reg = 0x1000; reg <= 0x102F; ++reg)
            before.append(sim.holding(reg));
        sim.clearLog();

        // tlctl changes one threshold: only that register changes.
        const TlctlRun r = runTlctl({QStringLiteral("--port"), port, QStringLiteral("set"), QStringLiteral("limit1=25"),
                                     QStringLiteral("--user"), QStringLiteral("User")},
                                    password(QStringLiteral("7529")));
        QVERIFY2(r.finished && r.code == 0, qPrintable(r.err));
        for (int reg = 0x1000; reg <= 0x102F; ++reg)
            QCOMPARE(sim.holding(reg), reg == 0x1005 ? 250 : before[reg - 0x1000]);

        // A broadcast command is carried out.
        command.resetState();
        command.PortName = port;
        QVERIFY2(command.openPort(), qPrintable(command.errorString()));
        command.SlaveAddress = 0;
        sim.clearLog();
        QCOMPARE(command.transact(16, 0x2002, 0x1020, 1), quint16(ResultOk));
        QVERIFY(sim.waitForLog(QStringLiteral("CMD 2002")));

        // "DEACTIV" to an unknown device is raw text: a device server passes
        // it on, a Modbus TCP gateway cannot carry it, so nothing is sent and
        // tlctl does not claim it was.
        bool ok = false;
        sim.send(QStringLiteral("set type 5"), &ok);
        QVERIFY(ok);
        sim.clearLog();
        const TlctlRun u = runTlctl({QStringLiteral("--port"), port, QStringLiteral("read")});
        QCOMPARE(u.code, 4);
        QVERIFY2(u.err.contains(mbap ? QLatin1String("(\"DEACTIV\" could not be sent on this line)")
                                     : QLatin1String("(\"DEACTIV\" sent)")),
                 qPrintable(u.err));
        if (mbap) {
            command.SlaveAddress = 1;
            QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
            const QStringList log = sim.log();
            QVERIFY2(!log.join('\n').contains(QLatin1String("RAW")), qPrintable(log.join('\n')));
        } else {
            QVERIFY(sim.waitForLog(QStringLiteral("RAW 44454143544956")));
        }

        // Closed on purpose: nothing goes out.  Server gone: a quick, quiet end.
        command.closePort();
        sim.clearLog();
        QCOMPARE(command.transact(16, 0x6060, 0x1020, 1), quint16(ResultNotConnected));
        QVERIFY(sim.log().isEmpty());
        QVERIFY(command.openPort());
        sim.stop();
        int sent = 0;
        command.setTrafficHook(countSent, &sent);
        WarningCounter warnings;
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(16, 0x6060, 0x1020, 1), quint16(ResultWriteTimeout));
        const quint8 data[4] = {1, 2, 3, 4};
        QCOMPARE(command.transactBlock(14, 0x08001C00, data, 4), quint16(ResultWriteTimeout));
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QVERIFY2(sent <= 2, qPrintable(QString::number(sent)));
        QVERIFY(!command.isOpen());
        QVERIFY2(WarningCounter::texts().isEmpty(), qPrintable(WarningCounter::texts().join('\n')));
    }

};

SAFETY_GROUP("link", LinkSafety)
#include "safety_link.moc"

// The link against the simulated detector over a real pseudo-terminal and
// the real QSerialPort: frames on the wire, retries, broadcasts, timing.
#include "command.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QtTest>
#include <sys/resource.h>

namespace {

QByteArray withCrc(QByteArray body)
{
    const quint16 crc = Modbus::crc16(reinterpret_cast<const quint8 *>(body.constData()), body.size());
    body.append(char(crc & 0xFF));
    body.append(char(crc >> 8));
    return body;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT
    SimProcess sim;

    void connectTo(const QStringList &args = {})
    {
        command.resetState();
        QVERIFY(sim.start(args));
        command.PortName = sim.portPath();
        QVERIFY(command.openPort());
        command.SlaveAddress = 1;
        sim.clearLog();
    }

private slots:
    void cleanup()
    {
        sim.send(QStringLiteral("fault clear"));
        sim.stop();
        command.resetState();
    }

    void framesOnTheWire()
    {
        connectTo();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(command.transact(16, 0x6060, 0x1020, 1), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 2);
        QCOMPARE(rx[0], QByteArray::fromHex("01040000000A700D"));
        QCOMPARE(rx[1], withCrc(QByteArray::fromHex("011010200001026060")));
        QCOMPARE(sim.commands(), QList<quint16>{0x6060});
    }

    void refusedRequestsSendNothing()
    {
        connectTo();
        QCOMPARE(command.transact(5, 0, 0x1000, 1), quint16(ResultUnsupported));
        QCOMPARE(command.transact(16, 0, 0x1000, 0), quint16(ResultMismatch));
        QCOMPARE(command.transact(16, 0, 0x1000, 49), quint16(ResultMismatch));
        QCOMPARE(command.transactBlock(16, 0x08001C00, nullptr, 0), quint16(ResultUnsupported));
        // A good request afterwards is the first thing the device sees.
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 1);
        QCOMPARE(int(rx[0][1]), 4);
        QVERIFY(!sim.log().join('\n').contains(QLatin1String("RAW")));
    }

    void fullReadAndWrite()
    {
        connectTo({"--type", "2", "--version", "1.07"});
        QCOMPARE(command.transact(43, 0, 1, 0), quint16(ResultOk));
        QCOMPARE(command.transact(43, 0, 2, 0), quint16(ResultOk));
        QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        const ParamBlock &p = command.DeviceParams;
        QCOMPARE(QByteArray(p.IdFirmwareVersion), QByteArray("1.07"));
        QCOMPARE(QByteArray(p.IdModelName), QByteArray("TL-02"));
        QCOMPARE(p.DeviceTypeReg, quint16(2));
        QCOMPARE(int(p.ValueMax), sim.holding(0x1004));
        QCOMPARE(int(p.Limit1), sim.holding(0x1005));
        QCOMPARE(int(p.HWVersion), sim.holding(0x101B));
        QCOMPARE(int(p.NetAddress), sim.holding(0x100E) & 0xFF);
        QCOMPARE(int(quint16(p.SerialNum)), sim.holding(0x100F));

        // The binding on the way out: the overlapping registers.
        command.DeviceParams.NetSpeed = 2;
        command.DeviceParams.NetAddress = 7;
        command.DeviceParams.HWVersion = 0x0123;
        command.DeviceParams.Limit1 = 0x84E2;
        sim.clearLog();
        QCOMPARE(command.transact(16, 0, 0x1000, 48), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 1);
        QCOMPARE(rx[0].size(), 105);
        QCOMPARE(sim.holding(0x100D), 0x2302);
        QCOMPARE(sim.holding(0x100E), 0x0207);
        QCOMPARE(sim.holding(0x1005), 0x84E2);
        // A block write that covers 0x1020 is data, not a command.
        QVERIFY(sim.commands().isEmpty());
    }

    void retriesUntilAnswered()
    {
        connectTo();
        sim.send(QStringLiteral("fault noreply 3"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 4);
        QVERIFY2(t.elapsed() >= 3 * 150, qPrintable(QString::number(t.elapsed())));

        sim.clearLog();
        sim.send(QStringLiteral("fault short 2"));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 3);
    }

    void lastAttemptDecides()
    {
        connectTo();
        sim.send(QStringLiteral("fault noreply -1"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultNoReply));
        const qint64 ms = t.elapsed();
        QCOMPARE(sim.rxFrames().size(), 10);
        // Ten waits of 150 ms, each after a write of at most 50 ms.
        QVERIFY2(ms >= 10 * 150 && ms < 6000, qPrintable(QString::number(ms)));

        sim.send(QStringLiteral("fault clear"));
        sim.clearLog();
        sim.send(QStringLiteral("fault mismatch -1"));
        QCOMPARE(command.transact(16, 0, 0x1000, 27), quint16(ResultMismatch));
        QCOMPARE(sim.rxFrames().size(), 10);

        // Nine failures and a good last answer: success.
        sim.send(QStringLiteral("fault clear"));
        sim.clearLog();
        sim.send(QStringLiteral("fault noreply 9"));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 10);
    }

    void exceptionReplies()
    {
        connectTo();
        sim.send(QStringLiteral("fault exception 2 -1"));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultIllegalAddress));
        QCOMPARE(sim.rxFrames().size(), 10);
        sim.send(QStringLiteral("fault clear"));
        sim.send(QStringLiteral("fault exception 3 -1"));
        QCOMPARE(command.transact(3, 0, 0x1000, 48), quint16(ResultIllegalValue));
        sim.send(QStringLiteral("fault clear"));
        sim.clearLog();
        // The device refused: a failure, retried like any other.
        sim.send(QStringLiteral("fault exception 4 -1"));
        QCOMPARE(command.transact(16, 0x6060, 0x1020, 1), quint16(ResultRefused));
        QCOMPARE(sim.rxFrames().size(), 10);
        sim.send(QStringLiteral("fault clear"));
        sim.send(QStringLiteral("fault exception 1 1"));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        // Registers outside the map are refused by the device itself.
        QCOMPARE(command.transact(4, 0, 8, 3), quint16(ResultIllegalAddress));
    }

    void corruptRepliesPauseOnce()
    {
        connectTo();
        sim.send(QStringLiteral("fault badcrc -1"));
        const double cpu0 = cpuSeconds();
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultBadReply));
        const qint64 ms = t.elapsed();
        const double cpu = cpuSeconds() - cpu0;
        QCOMPARE(sim.rxFrames().size(), 10);
        // One 500 ms pause in all, not one per attempt.
        QVERIFY2(ms >= 500 && ms < 4000, qPrintable(QString::number(ms)));
        // The pause sleeps: the CPU is not burnt meanwhile.
        QVERIFY2(cpu < 0.5 * ms / 1000.0, qPrintable(QStringLiteral("cpu %1 s of %2 ms").arg(cpu).arg(ms)));
    }

    void splitReplies()
    {
        connectTo();
        // A short gap inside a reply joins the pieces.
        sim.send(QStringLiteral("fault split 10 1"));
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 1);
        // A long gap splits it: the first piece is taken as the whole reply.
        sim.clearLog();
        sim.send(QStringLiteral("fault split 120 -1"));
        QVERIFY(command.transact(4, 0, 0, 10) != ResultOk);
        QCOMPARE(sim.rxFrames().size(), 10);
    }

    void broadcast()
    {
        connectTo();
        command.SlaveAddress = 0;
        QElapsedTimer t;
        t.start();
        QCOMPARE(command.transact(16, 0x2002, 0x1020, 1), quint16(ResultOk));
        const qint64 ms = t.elapsed();
        QVERIFY2(ms < 1000, qPrintable(QString::number(ms)));
        QVERIFY(sim.waitForLog(QStringLiteral("CMD 2002")));
        QCOMPARE(sim.rxFrames().size(), 1);
        QCOMPARE(int(sim.rxFrames()[0][0]), 0);

        // Address 255 is a broadcast too.
        command.SlaveAddress = 255;
        sim.clearLog();
        t.restart();
        QCOMPARE(command.transact(16, 0x7007, 0x1020, 1), quint16(ResultOk));
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(sim.waitForLog(QStringLiteral("RXOTHER FF101020")) || sim.waitForLog(QStringLiteral("RX FF101020")));

        // A read at address 0 is no broadcast: it waits for a reply.
        command.SlaveAddress = 0;
        sim.clearLog();
        QCOMPARE(command.transact(3, 0, 0x1000, 1), quint16(ResultNoReply));
    }

    void address256GoesOutAsZero()
    {
        connectTo();
        command.SlaveAddress = 256;
        QCOMPARE(command.transact(16, 0x2002, 0x1020, 1), quint16(ResultNoReply));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 10);
        for (const QByteArray &f : rx)
            QCOMPARE(int(f[0]), 0);
    }

    void portClosedUnderTheLinkIsReopened()
    {
        connectTo();
        // Not closePort(): the link still wants the port and opens it afresh.
        command.transport()->close();
        QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
        QVERIFY(command.isOpen());
        QCOMPARE(sim.rxFrames().size(), 1);
    }

    void memoryBlocks()
    {
        QTemporaryDir dir;
        const QString dump = dir.filePath(QStringLiteral("flash.bin"));
        connectTo({"--bootloader", "--dump", dump});
        command.SlaveAddress = 0;
        QByteArray image(450, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 7 + 3) & 0xFF);
        quint32 address = 0x08001C00;
        for (int off = 0; off < image.size(); off += 200) {
            const int len = qMin(200, image.size() - off);
            QCOMPARE(command.transactBlock(14, address, reinterpret_cast<const quint8 *>(image.constData()) + off,
                                           quint16(len)),
                     quint16(ResultOk));
            address += quint32(len);
        }
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 3);
        QCOMPARE(rx[1].mid(2, 4), QByteArray::fromHex("08001CC8"));
        QCOMPARE(rx[2].mid(2, 5), QByteArray::fromHex("08001D9032"));
        sim.send(QStringLiteral("dump"));
        QFile f(dump);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), image);
    }
};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"

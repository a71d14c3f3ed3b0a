// The exchange loop: its retries, time-outs and pauses on a fake line in
// virtual time, and the link against the simulated detector over a real
// pseudo-terminal and the real QSerialPort: frames on the wire, broadcasts,
// memory blocks.
#include "command.h"
#include "fakeline.h"
#include "simlink.h"
#include "simprocess.h"
#include "tcptransport.h"
#include "testframes.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

namespace {

// The link this test works through.
Command link;

using Piece = FakeLine::Piece;
using TestFrames::withCrc;

// The answer a TL-02 gives to a request: registers 1, 2, 3... for reads,
// the echo for writes and memory blocks.
QByteArray answerTo(const QByteArray &req)
{
    switch (req[1]) {
    case 3:
    case 4: {
        const int n = (quint8(req[4]) << 8) | quint8(req[5]);
        QByteArray b = req.left(2);
        b.append(char(2 * n));
        for (int i = 0; i < n; ++i)
            b.append(char(0)).append(char(i + 1));
        return withCrc(b);
    }
    case 6:
    case 16:
        return withCrc(req.left(6));
    case 14:
        return withCrc(req.left(7));
    default:
        return withCrc(req.left(2) + char(1));
    }
}

// A device that answers every request whole `atMs` after it.
FakeLine::Device answering(double atMs = 10)
{
    return [atMs](const QByteArray &req, int) { return QList<Piece>{{atMs, answerTo(req)}}; };
}

QList<double> repeated(int n, double value)
{
    return QVector<double>(n, value).toList();
}

QList<double> gaps(const QList<double> &times)
{
    QList<double> out;
    for (int i = 1; i < times.size(); ++i)
        out.append(times[i] - times[i - 1]);
    return out;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT
    SimProcess sim;

    void connectTo(const QStringList &args = {})
    {
        link.resetState();
        QVERIFY(SimLink::openSim(link, sim, args));
    }

    VirtualClock clock;

    // The link on a fake line in virtual time, address 1.
    FakeLine *onFakeLine(FakeLine::Device device)
    {
        link.resetState();
        clock.now = 0;
        auto made = std::make_unique<FakeLine>(clock, std::move(device));
        FakeLine *line = made.get();
        link.setClock(&clock);
        link.SlaveAddress = 1;
        return link.openTransport(std::move(made)) ? line : nullptr;
    }

    // Lets a second pass on the line in silence; returns the time after it.
    double rest()
    {
        clock.now += 1000000;
        return clock.ms();
    }

private slots:
    void cleanup()
    {
        if (!sim.portPath().isEmpty())
            sim.send(QStringLiteral("fault clear"));
        sim.stop();
        link.resetState();
    }

    // ------------------------------------------------ on a fake line, virtual time

    void replyTakenWhenWhole()
    {
        // Three pieces 10 ms apart: one reply, taken with its last byte.
        FakeLine *line = onFakeLine([](const QByteArray &req, int) {
            const QByteArray a = answerTo(req);
            return QList<Piece>{{10, a.left(5)}, {20, a.mid(5, 10)}, {30, a.mid(15)}};
        });
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(clock.ms(), 30.0);
        QCOMPARE(int(link.DeviceParams.CurrentADC), 1);
        QCOMPARE(int(link.DeviceParams.Status), 10);
        // The next request keeps 4 ms of silence after the last byte.
        QCOMPARE(link.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(line->sentAtMs, (QList<double>{0, 34}));
        QCOMPARE(clock.ms(), 64.0);

        // A gap of 30 ms inside a reply joins its pieces.
        line->device = [](const QByteArray &req, int) {
            const QByteArray a = answerTo(req);
            return QList<Piece>{{10, a.left(9)}, {40, a.mid(9)}};
        };
        double t0 = rest();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(clock.ms() - t0, 40.0);
        QCOMPARE(line->requests.size(), 3);

        // A reply whose length cannot be told ends with 50 ms of silence.
        line->device = [](const QByteArray &, int) {
            return QList<Piece>{{10, withCrc(QByteArray::fromHex("01070011"))}};
        };
        t0 = rest();
        link.attemptLimit = 1;
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultUnsupported));
        QCOMPARE(clock.ms() - t0, 60.0);
    }

    void splitByLongGap()
    {
        // 60 ms inside a reply: the first half is taken as the whole reply
        // after 50 ms of silence, fails its CRC and costs the one pause; the
        // second half is thrown away before the next attempt.
        FakeLine *line = onFakeLine([](const QByteArray &req, int index) {
            const QByteArray a = answerTo(req);
            if (index == 0)
                return QList<Piece>{{10, a.left(9)}, {70, a.mid(9)}};
            return QList<Piece>{{10, a}};
        });
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(line->sentAtMs, (QList<double>{0, 560}));
        QCOMPARE(clock.ms(), 570.0);

        line->device = [](const QByteArray &req, int) {
            const QByteArray a = answerTo(req);
            return QList<Piece>{{10, a.left(9)}, {70, a.mid(9)}};
        };
        const double t0 = rest();
        line->sentAtMs.clear();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultBadReply));
        QCOMPARE(line->sentAtMs.size(), 10);
        QCOMPARE(clock.ms() - t0, 10 * 60.0 + 500);
    }

    void silentDevice()
    {
        FakeLine *line = onFakeLine({});
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNoReply));
        // Ten attempts, each given the 150 ms first-reply time-out.
        QCOMPARE(gaps(line->sentAtMs), repeated(9, 150));
        QCOMPARE(clock.ms(), 1500.0);

        // Memory blocks: fifteen attempts of 450 ms; address 0 is no broadcast here.
        link.SlaveAddress = 0;
        line->sentAtMs.clear();
        const double t0 = rest();
        const quint8 data[4] = {1, 2, 3, 4};
        QCOMPARE(link.transactBlock(14, 0x08001C00, data, 4), quint16(ResultNoReply));
        QCOMPARE(gaps(line->sentAtMs), repeated(14, 450));
        QCOMPARE(clock.ms() - t0, 15 * 450.0);

        // A line scan asks each address once.
        link.attemptLimit = 1;
        line->sentAtMs.clear();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNoReply));
        QCOMPARE(line->sentAtMs.size(), 1);
    }

    void retriesUntilAnswered()
    {
        FakeLine *line = onFakeLine([](const QByteArray &req, int index) {
            return index < 3 ? QList<Piece>{} : QList<Piece>{{10, answerTo(req)}};
        });
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(line->sentAtMs, (QList<double>{0, 150, 300, 450}));
        QCOMPARE(clock.ms(), 460.0);

        // Nine failures and a good last answer: success.
        line->device = [](const QByteArray &req, int index) {
            return index < 13 ? QList<Piece>{{10, withCrc(QByteArray::fromHex("018302"))}}
                              : QList<Piece>{{10, answerTo(req)}};
        };
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(line->requests.size(), 14);
    }

    void lastAttemptDecides_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<quint16>("result");
        QTest::newRow("mismatch") << withCrc(QByteArray::fromHex("0110100100" "01")) << quint16(ResultMismatch);
        QTest::newRow("another unit's echo") << withCrc(QByteArray::fromHex("021010200001")) << quint16(ResultMismatch);
        QTest::newRow("exception 2") << withCrc(QByteArray::fromHex("019002")) << quint16(ResultIllegalAddress);
        QTest::newRow("exception 3") << withCrc(QByteArray::fromHex("019003")) << quint16(ResultIllegalValue);
        QTest::newRow("exception 4") << withCrc(QByteArray::fromHex("019004")) << quint16(ResultRefused);
        QTest::newRow("unknown exception") << withCrc(QByteArray::fromHex("01AB02")) << quint16(ResultUnsupported);
        QTest::newRow("no length known") << withCrc(QByteArray::fromHex("01070011")) << quint16(ResultUnsupported);
    }

    void lastAttemptDecides()
    {
        QFETCH(QByteArray, answer);
        QFETCH(quint16, result);
        FakeLine *line = onFakeLine([answer](const QByteArray &, int) { return QList<Piece>{{10, answer}}; });
        QVERIFY(line);
        QCOMPARE(link.transact(16, 0x6060, 0x1020, 1), result);
        QCOMPARE(line->requests.size(), 10);
        // A whole reply is taken at once and, when it fails its check, asked
        // again after 4 ms of silence, with no pause; one whose length cannot
        // be told ends with 50 ms of silence.
        const bool whole = answer[1] != char(0x07);
        QCOMPARE(gaps(line->sentAtMs), repeated(9, whole ? 14 : 60));
    }

    void corruptRepliesPauseOnce()
    {
        QByteArray bad = answerTo(QByteArray::fromHex("01040000000A"));
        bad[bad.size() - 1] = char(bad[bad.size() - 1] ^ 0x5A);
        FakeLine *line = onFakeLine([bad](const QByteArray &, int) { return QList<Piece>{{10, bad}}; });
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultBadReply));
        // Each bad reply ends with 50 ms of silence; one 500 ms pause in all.
        QList<double> expected = repeated(9, 60);
        expected[0] = 560;
        QCOMPARE(gaps(line->sentAtMs), expected);
        QCOMPARE(clock.ms(), 10 * 60.0 + 500);

        // The next exchange pauses again, once.
        line->device = [](const QByteArray &, int) { return QList<Piece>{{10, QByteArray::fromHex("0104")}}; };
        const double t0 = rest();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultBadReply));
        QCOMPARE(clock.ms() - t0, 10 * 60.0 + 500);
    }

    void broadcastRule()
    {
        FakeLine *line = onFakeLine({});
        QVERIFY(line);
        for (quint16 address : {0, 255}) {
            link.SlaveAddress = address;
            const double t0 = rest();
            line->requests.clear();
            QCOMPARE(link.transact(16, 0x2002, 0x1020, 1), quint16(ResultOk));
            QCOMPARE(line->requests.size(), 1);
            QCOMPARE(int(quint8(line->requests[0][0])), int(address));
            QCOMPARE(clock.ms() - t0, 150.0);
        }
        // Something answering a broadcast ends the wait and changes nothing.
        line->device = answering(20);
        const double t0 = rest();
        QCOMPARE(link.transact(6, 0, 0x1005, 1), quint16(ResultOk));
        QCOMPARE(clock.ms() - t0, 20.0);

        // Reads to address 0, and anything to 256, are no broadcasts.
        line->device = {};
        line->requests.clear();
        link.SlaveAddress = 0;
        QCOMPARE(link.transact(3, 0, 0x1000, 1), quint16(ResultNoReply));
        QCOMPARE(line->requests.size(), 10);
        link.SlaveAddress = 256;
        line->requests.clear();
        QCOMPARE(link.transact(16, 0x2002, 0x1020, 1), quint16(ResultNoReply));
        QCOMPARE(line->requests.size(), 10);
        for (const QByteArray &f : line->requests)
            QCOMPARE(int(f[0]), 0);

        // A broadcast that did not go out is a failure, sent once.
        link.SlaveAddress = 0;
        line->writesStick = true;
        line->requests.clear();
        QCOMPARE(link.transact(16, 0x2002, 0x1020, 1), quint16(ResultWriteTimeout));
        QCOMPARE(line->requests.size(), 1);
    }

    void replyDeadline()
    {
        // First-reply time-out + the longest reply the request allows at
        // 9600 baud (ten bits a byte) + one silence.
        Modbus::Request r;
        r.function = 4;
        r.count = 10;   // 25 bytes
        QCOMPARE(Command::replyDeadlineUs(Command::RegisterLoop, r), qint64(150000 + 26042 + 50000));
        r.function = 43;   // any length: the largest frame, 256 bytes
        QCOMPARE(Command::replyDeadlineUs(Command::RegisterLoop, r), qint64(150000 + 266667 + 50000));
        r.function = 14;
        QCOMPARE(Command::replyDeadlineUs(Command::BlockLoop, r), qint64(450000 + 9375 + 50000));
        const double deadlineMs = 226.042;

        // A byte every 10 ms without end, on an RTU line and through a
        // gateway (0xFF makes no frame of either kind): every attempt ends
        // at its deadline, ten attempts and one pause.
        for (const bool gateway : {false, true}) {
            FakeLine *line = onFakeLine([](const QByteArray &, int) {
                QList<Piece> babble;
                for (int i = 1; i <= 400; ++i)
                    babble.append({i * 10.0, QByteArray(1, '\xFF')});
                return babble;
            });
            QVERIFY(line);
            line->mbap = gateway;
            QList<quint16> attempts;
            link.setTrafficHook(nullptr, &attempts, [](quint16 result, void *c) {
                static_cast<QList<quint16> *>(c)->append(result);
            });
            QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNoSilence));
            QCOMPARE(attempts, QVector<quint16>(10, quint16(ResultNoSilence)).toList());
            const QList<double> g = gaps(line->sentAtMs);
            for (int i = 0; i < g.size(); ++i) {
                const double pause = i == 0 ? 500 : 0;
                QVERIFY2(g[i] >= deadlineMs + pause && g[i] <= deadlineMs + pause + 1 + 4,
                         qPrintable(QStringLiteral("attempt %1 took %2 ms").arg(i + 1).arg(g[i])));
            }
            link.setTrafficHook(nullptr, nullptr);
        }

        // A whole reply that starts late and comes byte by byte is no
        // babble: it is taken once whole, within the deadline.
        FakeLine *line = onFakeLine([](const QByteArray &req, int) {
            const QByteArray a = answerTo(req);
            QList<Piece> bytes;
            for (int i = 0; i < a.size(); ++i)
                bytes.append({140 + i * 1.0417, a.mid(i, 1)});
            return bytes;
        });
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QVERIFY(clock.ms() < deadlineMs);
    }

    void waitHook()
    {
        // The hook is asked at least every 20 ms of a wait; false cuts the
        // exchange short.  An exchange the hook tries to start meanwhile
        // sends nothing and leaves the running one's request alone.
        FakeLine *line = onFakeLine({});
        QVERIFY(line);
        struct Seen {
            QList<qint64> at;
            quint16 nested = 0;
        } seen;
        link.setWaitHook([](qint64 ms, void *c) {
            auto *s = static_cast<Seen *>(c);
            s->at.append(ms);
            if (s->at.size() == 2)
                s->nested = link.transact(3, 0, 0x1000, 27);
            return ms < 0 || ms < 400;
        }, &seen);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultCancelled));
        QCOMPARE(seen.nested, quint16(ResultNotConnected));
        QCOMPARE(line->requests.size(), 3);
        QCOMPARE(int(link.request.function), 4);
        QVERIFY(link.lastRequestSent());
        QVERIFY(clock.ms() >= 400 && clock.ms() <= 420);
        QCOMPARE(seen.at.last(), qint64(-1));
        for (int i = 1; i + 1 < seen.at.size(); ++i)
            QVERIFY(seen.at[i] - seen.at[i - 1] <= Command::WaitSliceMs);
        link.setWaitHook(nullptr, nullptr);
    }

    void lineTrouble()
    {
        // Writes that never leave: one reopen, then the end.
        FakeLine *line = onFakeLine(answering());
        QVERIFY(line);
        line->writesStick = true;
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultWriteTimeout));
        QCOMPARE(line->opens, 2);
        QCOMPARE(line->requests.size(), 2);
        // Two write time-outs, the second after 4 ms of silence.
        QCOMPARE(clock.ms(), 2 * 50.0 + 4);

        // A line gone under the link is opened afresh once per exchange.
        line->writesStick = false;
        line->close();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(line->opens, 3);
        line->close();
        line->refuseOpen = true;
        const int sent = line->requests.size();
        const qint64 before = clock.now;
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultWriteTimeout));
        QCOMPARE(line->opens, 4);
        QCOMPARE(line->requests.size(), sent);
        QCOMPARE(clock.now, before);
        QVERIFY(!link.lastRequestSent());

        // Lost after the request went out: the device may have carried it out.
        line->refuseOpen = false;
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        line->dropAfterWrite = true;
        line->refuseOpen = true;
        QCOMPARE(link.transact(16, 0x6060, 0x1020, 1), quint16(ResultLineLost));
        QVERIFY(link.lastRequestSent());
        // A request that cannot be built sent nothing, whatever went before.
        QCOMPARE(link.transact(5, 0, 0, 1), quint16(ResultUnsupported));
        QVERIFY(!link.lastRequestSent());

        // Closed on purpose: nothing goes out, nothing is reopened.
        line->refuseOpen = false;
        QVERIFY(line->open());
        link.closePort();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNotConnected));
        QVERIFY(!link.transport());
    }

    void rawWriteKeepsSilence()
    {
        FakeLine *line = onFakeLine(answering(10));
        QVERIFY(line);
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QVERIFY(link.writeRaw(QByteArrayLiteral("DEACTIV")));
        QCOMPARE(line->requests.last(), QByteArray("DEACTIV"));
        QCOMPARE(line->sentAtMs.last(), 14.0);
    }

    // ------------------------------------------- tl02-sim over a pseudo-terminal

    void framesOnTheWire()
    {
        connectTo();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(link.transact(16, 0x6060, 0x1020, 1), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 2);
        QCOMPARE(rx[0], QByteArray::fromHex("01040000000A700D"));
        QCOMPARE(rx[1], withCrc(QByteArray::fromHex("011010200001026060")));
        QCOMPARE(sim.commands(), QList<quint16>{0x6060});
    }

    void refusedRequestsSendNothing()
    {
        connectTo();
        QCOMPARE(link.transact(5, 0, 0x1000, 1), quint16(ResultUnsupported));
        QCOMPARE(link.transact(16, 0, 0x1000, 0), quint16(ResultMismatch));
        QCOMPARE(link.transact(16, 0, 0x1000, 49), quint16(ResultMismatch));
        QCOMPARE(link.transactBlock(16, 0x08001C00, nullptr, 0), quint16(ResultUnsupported));
        // A good request afterwards is the first thing the device sees.
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 1);
        QCOMPARE(int(rx[0][1]), 4);
        QVERIFY(!sim.log().join('\n').contains(QLatin1String("RAW")));
    }

    void fullReadAndWrite()
    {
        connectTo({"--type", "2", "--version", "1.07"});
        QCOMPARE(link.transact(43, 0, 1, 0), quint16(ResultOk));
        QCOMPARE(link.transact(43, 0, 2, 0), quint16(ResultOk));
        QCOMPARE(link.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        const ParamBlock &p = link.DeviceParams;
        QCOMPARE(QByteArray(p.IdFirmwareVersion), QByteArray("1.07"));
        QCOMPARE(QByteArray(p.IdModelName), QByteArray("TL-02"));
        QCOMPARE(p.DeviceTypeReg, quint16(2));
        QCOMPARE(int(p.ValueMax), sim.holding(0x1004));
        QCOMPARE(int(p.Limit1), sim.holding(0x1005));
        QCOMPARE(int(p.HWVersion), sim.holding(0x101B));
        QCOMPARE(int(p.NetAddress), sim.holding(0x100E) & 0xFF);
        QCOMPARE(int(quint16(p.SerialNum)), sim.holding(0x100F));

        // The binding on the way out: the overlapping registers.
        link.DeviceParams.NetSpeed = 2;
        link.DeviceParams.NetAddress = 7;
        link.DeviceParams.HWVersion = 0x0123;
        link.DeviceParams.Limit1 = 0x84E2;
        sim.clearLog();
        QCOMPARE(link.transact(16, 0, 0x1000, 48), quint16(ResultOk));
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 1);
        QCOMPARE(rx[0].size(), 105);
        QCOMPARE(sim.holding(0x100D), 0x2302);
        QCOMPARE(sim.holding(0x100E), 0x0207);
        QCOMPARE(sim.holding(0x1005), 0x84E2);
        // A block write that covers 0x1020 is data, not a link.
        QVERIFY(sim.commands().isEmpty());
    }

    void broadcastAndRetries()
    {
        connectTo();
        link.SlaveAddress = 0;
        QCOMPARE(link.transact(16, 0x2002, 0x1020, 1), quint16(ResultOk));
        QVERIFY(sim.waitForLog(QStringLiteral("CMD 2002")));
        QCOMPARE(sim.rxFrames().size(), 1);
        QCOMPARE(int(sim.rxFrames()[0][0]), 0);

        // A lost reply, a cut reply and one in two pieces 10 ms apart.
        link.SlaveAddress = 1;
        sim.clearLog();
        sim.send(QStringLiteral("fault noreply 1"));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        sim.send(QStringLiteral("fault short 1"));
        QCOMPARE(link.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        sim.send(QStringLiteral("fault split 10 1"));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 5);
        QCOMPARE(int(link.DeviceParams.HWVersion), sim.holding(0x101B));
    }

    void portClosedUnderTheLinkIsReopened()
    {
        connectTo();
        // Not closePort(): the link still wants the port and opens it afresh.
        link.transport()->close();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QVERIFY(link.isOpen());
        QCOMPARE(sim.rxFrames().size(), 1);
    }

    void memoryBlocks()
    {
        QTemporaryDir dir;
        const QString dump = dir.filePath(QStringLiteral("flash.bin"));
        connectTo({"--bootloader", "--dump", dump});
        link.SlaveAddress = 0;
        QByteArray image(450, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 7 + 3) & 0xFF);
        quint32 address = 0x08001C00;
        for (int off = 0; off < image.size(); off += 200) {
            const int len = qMin(200, image.size() - off);
            QCOMPARE(link.transactBlock(14, address, reinterpret_cast<const quint8 *>(image.constData()) + off,
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

    // ------------------------------------------------------------ network lines

    void portTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("says");
        QTest::newRow("empty") << "" << "no port given";
        QTest::newRow("unknown scheme") << "udp://127.0.0.1:502" << "unknown kind of port \"udp://\"";
        QTest::newRow("no host") << "tcp://:502" << "no host in \"tcp://:502\"";
        QTest::newRow("no port") << "tcp://127.0.0.1" << "no port number in \"tcp://127.0.0.1\"; write tcp://HOST:PORT";
        QTest::newRow("port 0") << "tcp://127.0.0.1:0" << "bad port number \"0\"";
        QTest::newRow("port too big") << "modbus-tcp://127.0.0.1:65536" << "bad port number \"65536\"";
        QTest::newRow("path after the port") << "tcp://host:502/" << "bad port number \"502/\"";
        QTest::newRow("bare IPv6") << "tcp://::1:502" << "an IPv6 address goes in brackets: tcp://[ADDRESS]:PORT";
        QTest::newRow("IPv4 in brackets") << "tcp://[1.2.3.4]:502" << "\"1.2.3.4\" in \"tcp://[1.2.3.4]:502\" is no IPv6";
        QTest::newRow("bad IPv4") << "tcp://300.1.1.1:502" << "\"300.1.1.1\" in \"tcp://300.1.1.1:502\" is no IPv4";
        QTest::newRow("bad host name") << "tcp://bad_host:502" << "\"bad_host\" in \"tcp://bad_host:502\" is no host name";
    }

    void portTexts()
    {
        QFETCH(QString, text);
        QFETCH(QString, says);
        link.resetState();
        link.PortName = text;
        QVERIFY(!link.openPort());
        QVERIFY(!link.isOpen());
        QVERIFY2(link.errorString().contains(says), qPrintable(link.errorString()));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNotConnected));
    }

    void refusedAndIPv6()
    {
        // A port nobody listens on: one that was just free.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        link.resetState();
        link.PortName = QStringLiteral("tcp://127.0.0.1:%1").arg(port);
        QVERIFY(!link.openPort());
        QCOMPARE(link.errorString(), QStringLiteral("connection refused by 127.0.0.1:%1").arg(port));
        link.PortName = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(port);
        QVERIFY(!link.openPort());
        QCOMPARE(link.errorString(), QStringLiteral("connection refused by 127.0.0.1:%1").arg(port));

        // An IPv6 address in brackets (where the machine has IPv6 loopback).
        QTcpServer six;
        if (!six.listen(QHostAddress::LocalHostIPv6))
            QSKIP("no IPv6 loopback here");
        link.PortName = QStringLiteral("TCP://[::1]:%1").arg(six.serverPort());
        QVERIFY2(link.openPort(), qPrintable(link.errorString()));
        QVERIFY(link.isOpen());
    }

    void mbapFrames()
    {
        const QByteArray rtu = QByteArray::fromHex("01040000000A700D");
        QCOMPARE(Mbap::fromRtu(rtu, 0x1234), QByteArray::fromHex("123400000006" "01040000000A"));
        // Not an RTU frame: nothing to send.
        QVERIFY(Mbap::fromRtu(QByteArrayLiteral("DEACTIV"), 1).isEmpty());
        QVERIFY(Mbap::fromRtu(QByteArray::fromHex("01040000000A700C"), 1).isEmpty());

        // Answers to other requests and other protocols are thrown away; a
        // frame is handed over whole, as RTU with its CRC.
        const QByteArray answer = QByteArray::fromHex("000700000005" "0104020007");
        QByteArray buffer = QByteArray::fromHex("000600000005" "0104020009") + QByteArray::fromHex("000700010005" "0104020008")
            + answer.left(9);
        QVERIFY(Mbap::takeRtu(buffer, 7).isEmpty());
        QCOMPARE(buffer, answer.left(9));
        buffer += answer.mid(9);
        QCOMPARE(Mbap::takeRtu(buffer, 7), withCrc(QByteArray::fromHex("0104020007")));
        QVERIFY(buffer.isEmpty());
        // A length no frame can have: the stream is out of step, all goes.
        buffer = QByteArray::fromHex("000700000000" "01") + answer;
        QVERIFY(Mbap::takeRtu(buffer, 7).isEmpty());
        QVERIFY(buffer.isEmpty());
    }

    void modbusTcpOnTheWire()
    {
        // What a gateway receives: transaction ids counting up, protocol 0,
        // the length, the unit id, the PDU; an answer to an earlier id is
        // not taken for the answer.
        QTcpServer gateway;
        QVERIFY(gateway.listen(QHostAddress::LocalHost));
        ModbusTcpTransport line(Endpoint{QStringLiteral("127.0.0.1"), gateway.serverPort()});
        QVERIFY(line.open());
        QVERIFY(gateway.waitForNewConnection(3000));
        QTcpSocket *peer = gateway.nextPendingConnection();
        QVERIFY(peer);
        QByteArray seen;
        for (const char *hex : {"11040000000A", "110610200000"}) {
            QCOMPARE(line.write(withCrc(QByteArray::fromHex(hex))), qint64(8));
            QVERIFY(line.waitForBytesWritten(1000));
        }
        while (seen.size() < 24 && peer->waitForReadyRead(3000))
            seen += peer->readAll();
        QCOMPARE(seen, QByteArray::fromHex("000100000006" "11040000000A" "000200000006" "110610200000"));
        QCOMPARE(line.write(QByteArrayLiteral("DEACTIV")), qint64(-1));
        peer->write(QByteArray::fromHex("000100000006" "110610200000" "000200000006" "110610200000"));
        QVERIFY(peer->waitForBytesWritten(1000));
        QVERIFY(line.waitForReadyRead(3000));
        QByteArray got = line.readAll();
        for (int i = 0; got.isEmpty() && i < 20 && line.waitForReadyRead(100); ++i)
            got = line.readAll();
        QCOMPARE(got, withCrc(QByteArray::fromHex("110610200000")));
    }

    void overTheNetwork_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("RTU over TCP") << "tcp";
        QTest::newRow("Modbus TCP") << "modbus-tcp";
    }

    void overTheNetwork()
    {
        QFETCH(QString, scheme);
        link.resetState();
        QVERIFY(sim.start({"--type", "2", "--tcp", "0", "--modbus-tcp", "0"}));
        const QString address = scheme == QLatin1String("tcp") ? sim.tcpAddress() : sim.modbusTcpAddress();
        link.PortName = scheme + QStringLiteral("://") + address;
        QVERIFY2(link.openPort(), qPrintable(link.errorString()));
        link.SlaveAddress = 1;
        sim.clearLog();

        // A read cycle and a block write, the frames as on the pty.
        QCOMPARE(link.transact(43, 0, 1, 0), quint16(ResultOk));
        QCOMPARE(link.transact(3, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(QByteArray(link.DeviceParams.IdFirmwareVersion), QByteArray("1.06"));
        QCOMPARE(link.DeviceParams.DeviceTypeReg, quint16(2));
        QCOMPARE(int(link.DeviceParams.Limit1), sim.holding(0x1005));
        link.DeviceParams.Limit1 = 0x1234;
        link.DeviceParams.HWVersion = 0x0321;
        QCOMPARE(link.transact(16, 0, 0x1000, 48), quint16(ResultOk));
        QCOMPARE(sim.holding(0x1005), 0x1234);
        QCOMPARE(sim.holding(0x101B), 0x0321);
        QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 4);
        QCOMPARE(rx[0], withCrc(QByteArray::fromHex("012B000100")));
        QCOMPARE(rx[3].size(), 105);

        // No reply: retried, and the last attempt decides.
        sim.clearLog();
        sim.send(QStringLiteral("fault noreply 2"));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QCOMPARE(sim.rxFrames().size(), 3);
        link.attemptLimit = 2;
        sim.send(QStringLiteral("fault noreply -1"));
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultNoReply));
        sim.send(QStringLiteral("fault clear"));
        link.attemptLimit = 0;

        // Another client takes the listener over: our connection drops and
        // the next exchange connects afresh, once.
        QTcpSocket intruder;
        const QStringList hostPort = address.split(QLatin1Char(':'));
        intruder.connectToHost(hostPort[0], quint16(hostPort[1].toUInt()));
        QVERIFY(intruder.waitForConnected(3000));
        QTRY_VERIFY(sim.errorText().contains(QLatin1String("replaced by a new connection")));
        sim.clearLog();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
        QVERIFY(link.isOpen());
        QCOMPARE(sim.rxFrames().size(), 1);

        // The device server is gone: a quick, clean failure.
        sim.stop();
        QElapsedTimer t;
        t.start();
        QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultWriteTimeout));
        QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!link.isOpen());
        QVERIFY2(link.errorString().startsWith(QLatin1String("connection refused by 127.0.0.1:")),
                 qPrintable(link.errorString()));
    }

};

QTEST_GUILESS_MAIN(TestLink)
#include "test_link.moc"

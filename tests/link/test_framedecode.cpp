// Decoding of frames (hand-built), the ring, the filter, the statistics, the
// export, and the recorder on the link against the simulated detector.
#include "command.h"
#include "deviceops.h"
#include "framedecode.h"
#include "paramtable.h"
#include "simlink.h"
#include "simprocess.h"
#include "testframes.h"
#include "trafficlog.h"

#include <QtTest>
#include <cstring>

using TestFrames::withCrc;
using FrameDecode::Frame;

namespace {

// The link this test works through.
Command link;

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// Config 0x0012: unit %LEL (index 2), one decimal (Scale 10).
ParamBlock lelOneDecimal()
{
    ParamBlock block;
    std::memset(&block, 0, sizeof block);
    block.Config = 0x0012;
    return block;
}

} // namespace

class TestFrameDecode : public QObject
{
    Q_OBJECT
private slots:
    void init() { link.resetState(); }
    void cleanupTestCase() { link.resetState(); }

    void requests();
    void replies();
    void damagedAndForeign();
    void scaleUnknownBeforeTheConfig();
    void ringKeepsTheLastEntries();
    void recorderPairsAttempts();
    void recorderLearnsTheConfigFromTheLine();
    void statisticsByAddress();
    void filterAndExport();
    void recorderOnTheSimulator();
};

void TestFrameDecode::requests()
{
    const ParamBlock block = lelOneDecimal();

    const Frame read = FrameDecode::decode(withCrc(bytes({1, 3, 0x10, 0x00, 0x00, 0x1B})), true, nullptr, block);
    QCOMPARE(int(read.kind), int(FrameDecode::Kind::Frame));
    QVERIFY(read.crcOk);
    QCOMPARE(read.address, 1);
    QCOMPARE(read.function, 3);
    QCOMPARE(read.start, 0x1000);
    QCOMPARE(read.count, 27);
    QCOMPARE(FrameDecode::describe(read), QStringLiteral("address 1, read holding registers 0x1000-0x101A (27)"));

    // Threshold 1 = 200 with the block's Config: 20.0 %LEL, increasing.
    const Frame limit = FrameDecode::decode(withCrc(bytes({7, 16, 0x10, 0x05, 0, 1, 2, 0x00, 0xC8})), true, nullptr,
                                            block);
    QCOMPARE(limit.address, 7);
    QCOMPARE(limit.values, (QStringList{QStringLiteral("limit1 = 20.0 %LEL"),
                                        QStringLiteral("limit1_direction = increasing")}));
    QCOMPARE(limit.command, -1);

    // The frame's own Config wins over the block's: no decimals, PPM.
    const Frame withConfig = FrameDecode::decode(
        withCrc(bytes({1, 16, 0x10, 0x05, 0, 4, 8, 0x80, 0xC8, 0x00, 0x64, 0x00, 0x05, 0x02, 0x00})), true, nullptr,
        block);
    QVERIFY(withConfig.values.contains(QStringLiteral("limit1 = 200 PPM")));
    QVERIFY(withConfig.values.contains(QStringLiteral("limit1_direction = decreasing")));
    QVERIFY(withConfig.values.contains(QStringLiteral("hysteresis = 5 PPM")));
    QVERIFY(withConfig.values.contains(QStringLiteral("limit1_autoreset = on")));

    // Command register writes by meaning.
    const struct { quint16 code; const char *text; } commands[] = {
        {0x6060, "command 0x6060 restart"}, {0x3003, "command 0x3003 store factory settings"},
        {0x6006, "command 0x6006 restore factory settings"}, {0x2002, "command 0x2002 sound switch-off on"},
        {0x7007, "command 0x7007 sound switch-off off"}, {0x5555, "command 0x5555 enter the bootloader"}};
    for (const auto &c : commands) {
        const Frame f = FrameDecode::decode(withCrc(bytes({1, 16, 0x10, 0x20, 0, 1, 2, c.code >> 8, c.code & 0xFF})),
                                            true, nullptr, block);
        QCOMPARE(f.command, int(c.code));
        QCOMPARE(FrameDecode::describe(f), QStringLiteral("address 1, write multiple registers: ") + QLatin1String(c.text));
    }

    const Frame ident = FrameDecode::decode(withCrc(bytes({1, 43, 0, 2, 0})), true, nullptr, block);
    QCOMPARE(ident.idCode, 2);
    QCOMPARE(ident.idObject, 0);

    const Frame broadcast = FrameDecode::decode(withCrc(bytes({0, 6, 0x10, 0x19, 0, 0})), true, nullptr, block);
    QVERIFY(broadcast.broadcast);
    QCOMPARE(broadcast.values, QStringList{QStringLiteral("simulation = off")});
}

void TestFrameDecode::replies()
{
    ParamBlock block = lelOneDecimal();
    const Frame request = FrameDecode::decode(withCrc(bytes({1, 4, 0, 0, 0, 3})), true, nullptr, block);
    const Frame live = FrameDecode::decode(withCrc(bytes({1, 4, 6, 0x04, 0xD2, 0x0F, 0xA0, 0x00, 0x7D})), false,
                                           &request, block);
    QVERIFY(live.crcOk);
    QVERIFY(!live.truncated);
    QCOMPARE(live.values, (QStringList{QStringLiteral("adc = 1234"), QStringLiteral("output = 4.000 mA"),
                                       QStringLiteral("concentration = 12.5 %LEL")}));

    // A type 2 device shows its output in mV.
    block.DeviceTypeReg = 2;
    const Frame mv = FrameDecode::decode(withCrc(bytes({1, 4, 6, 0x04, 0xD2, 0x0F, 0xA0, 0x00, 0x7D})), false,
                                         &request, block);
    QCOMPARE(mv.values.value(1), QStringLiteral("output = 40.00 mV"));

    // A holding reply is numbered from its request's start.
    const Frame holdingRequest = FrameDecode::decode(withCrc(bytes({1, 3, 0x10, 0x0E, 0, 1})), true, nullptr, block);
    const Frame address = FrameDecode::decode(withCrc(bytes({1, 3, 2, 0x00, 0x07})), false, &holdingRequest, block);
    QCOMPARE(address.start, 0x100E);
    QCOMPARE(address.values, QStringList{QStringLiteral("net_address = 7")});

    const Frame exception = FrameDecode::decode(withCrc(bytes({1, 0x83, 2})), false, &holdingRequest, block);
    QVERIFY(exception.isException());
    QCOMPARE(exception.baseFunction(), 3);
    QCOMPARE(exception.exceptionCode, 2);
    QCOMPARE(FrameDecode::describe(exception),
             QStringLiteral("address 1, read holding registers: exception 2 (illegal data address)"));

    QByteArray idReply = bytes({1, 43, 0x0E, 1, 1, 0, 0, 2, 0, 3});
    idReply += "TLV";
    idReply += bytes({2, 4});
    idReply += "1.06";
    const Frame ident = FrameDecode::decode(withCrc(idReply), false, nullptr, block);
    QCOMPARE(ident.values, (QStringList{QStringLiteral("vendor = TLV"), QStringLiteral("firmware_version = 1.06")}));

    // A device's text with line breaks in it: the values keep the text as it
    // came, the description stays one line.
    QByteArray spoofReply = bytes({1, 43, 0x0E, 1, 1, 0, 0, 1, 0, 16});
    spoofReply += "A\n< 01 03\r\x0b\x1b";
    spoofReply += QString(QChar(0x2028)).toUtf8();
    spoofReply += "B";
    QCOMPARE(spoofReply.size(), 10 + 16);
    const Frame spoof = FrameDecode::decode(withCrc(spoofReply), false, nullptr, block);
    QCOMPARE(spoof.objects.value(0).text, QString::fromUtf8("A\n< 01 03\r\x0b\x1b\u2028B"));
    QCOMPARE(FrameDecode::describe(spoof),
             QStringLiteral("address 1, read device identification code 1: vendor = A < 01 03    B"));
}

void TestFrameDecode::damagedAndForeign()
{
    const ParamBlock block = lelOneDecimal();
    QByteArray spoiled = withCrc(bytes({1, 3, 2, 0, 7}));
    spoiled[spoiled.size() - 1] = char(spoiled.at(spoiled.size() - 1) ^ 0x55);
    const Frame bad = FrameDecode::decode(spoiled, false, nullptr, block);
    QVERIFY(!bad.crcOk);
    QVERIFY(FrameDecode::describe(bad).endsWith(QStringLiteral("[CRC error]")));

    // A reply whose byte count says more than it carries.
    const Frame cut = FrameDecode::decode(withCrc(bytes({1, 4, 20, 0, 1})), false, nullptr, block);
    QVERIFY(cut.crcOk);
    QVERIFY(cut.truncated);

    const Frame raw = FrameDecode::decode(QByteArrayLiteral("DEACTIV"), true, nullptr, block);
    QCOMPARE(int(raw.kind), int(FrameDecode::Kind::RawText));
    QCOMPARE(FrameDecode::describe(raw), QStringLiteral("raw text \"DEACTIV\""));

    const Frame tiny = FrameDecode::decode(bytes({1, 3}), false, nullptr, block);
    QCOMPARE(int(tiny.kind), int(FrameDecode::Kind::Short));
    QCOMPARE(FrameDecode::functionName(0x41), QStringLiteral("function 0x41"));
}

void TestFrameDecode::scaleUnknownBeforeTheConfig()
{
    const ParamBlock block = lelOneDecimal();
    const Frame limitRead = FrameDecode::decode(withCrc(bytes({1, 3, 0x10, 0x05, 0, 1})), true, nullptr, block);
    const QByteArray limitReply = withCrc(bytes({1, 3, 2, 0x80, 0xC8}));

    // Before the Config is known the number is the register's, without a
    // unit; the direction (not scaled) is shown as ever.
    const Frame unknown = FrameDecode::decode(limitReply, false, &limitRead, block, false);
    QCOMPARE(unknown.values, (QStringList{QStringLiteral("limit1 = 200 (scale unknown)"),
                                          QStringLiteral("limit1_direction = decreasing")}));
    QCOMPARE(unknown.items.size(), 2);
    QVERIFY(unknown.items[0].scaleUnknown);
    QVERIFY(unknown.items[0].unit.isEmpty());
    QCOMPARE(unknown.items[0].source, FrameDecode::Value::Source::Holding);
    QCOMPARE(QLatin1String(Params::parameters()[unknown.items[0].index].name), QLatin1String("limit1"));
    QVERIFY(!unknown.items[1].scaleUnknown);
    QCOMPARE(unknown.items[1].raw, quint16(0x80C8));

    // Known, the same bytes read in the Config's scale and unit.
    const Frame known = FrameDecode::decode(limitReply, false, &limitRead, block, true);
    QCOMPARE(known.values.value(0), QStringLiteral("limit1 = 20.0 %LEL"));
    QVERIFY(!known.items[0].scaleUnknown);

    // A frame that carries the Config itself needs nothing else: 0x1005 to
    // 0x1008 with Config 0x0003 (%VOL, no decimals).
    const Frame blockRead = FrameDecode::decode(withCrc(bytes({1, 3, 0x10, 0x05, 0, 4})), true, nullptr, block);
    const Frame own = FrameDecode::decode(
        withCrc(bytes({1, 3, 8, 0x00, 0xC8, 0x01, 0x2C, 0x00, 0x05, 0x00, 0x03})), false, &blockRead, block, false);
    QVERIFY2(own.values.contains(QStringLiteral("limit1 = 200 %VOL")), qPrintable(own.values.join(';')));
    QVERIFY(own.values.contains(QStringLiteral("hysteresis = 5 %VOL")));
    for (const FrameDecode::Value &v : own.items)
        QVERIFY(!v.scaleUnknown);

    // Live values: only the concentration is in the Config's scale.
    const Frame liveRead = FrameDecode::decode(withCrc(bytes({1, 4, 0, 0, 0, 3})), true, nullptr, block);
    const Frame live = FrameDecode::decode(withCrc(bytes({1, 4, 6, 0x04, 0xD2, 0x0F, 0xA0, 0x00, 0x7D})), false,
                                           &liveRead, block, false);
    QCOMPARE(live.values, (QStringList{QStringLiteral("adc = 1234"), QStringLiteral("output = 4.000 mA"),
                                       QStringLiteral("concentration = 125 (scale unknown)")}));
    QCOMPARE(live.items[2].source, FrameDecode::Value::Source::Live);

    // A write names its registers the same way; a register without a
    // parameter comes by number.
    const Frame write = FrameDecode::decode(withCrc(bytes({1, 16, 0x10, 0x2E, 0, 1, 2, 0, 9})), true, nullptr, block,
                                            false);
    QCOMPARE(write.items.value(0).source, FrameDecode::Value::Source::Register);
    QCOMPARE(write.values, QStringList{QStringLiteral("0x102E = 9")});
}

void TestFrameDecode::ringKeepsTheLastEntries()
{
    TrafficRing ring(3);
    for (int i = 0; i < 5; ++i) {
        TrafficEntry e;
        e.timeMs = 100 + i;
        ring.append(e);
    }
    QCOMPARE(ring.size(), 3);
    QCOMPARE(ring.firstSeq(), quint64(3));
    QCOMPARE(ring.at(0).timeMs, qint64(102));
    QCOMPARE(ring.at(2).timeMs, qint64(104));
    QVERIFY(!ring.bySeq(2));
    QCOMPARE(ring.bySeq(4)->timeMs, qint64(103));
    ring.clear();
    QCOMPARE(ring.size(), 0);
    QVERIFY(!ring.bySeq(5));
    QCOMPARE(ring.append(TrafficEntry()), quint64(6));   // numbers are not reused
    QCOMPARE(ring.at(0).seq, quint64(6));

    QCOMPARE(TrafficRing().capacity(), 10000);

    // Frames of every length come back as they went in, the long ones of a
    // garbled line too; clear() gives the storage back.
    TrafficRing big(4);
    QVector<QByteArray> frames;
    for (int length : {0, 1, 8, TrafficEntry::InlineBytes, TrafficEntry::InlineBytes + 1, 3000}) {
        QByteArray b(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i)
            b[i] = char(i * 7 + length);
        frames << b;
        TrafficEntry e;
        e.setBytes(b);
        big.append(e);
    }
    for (int i = 0; i < big.size(); ++i) {
        QCOMPARE(big.at(i).bytes(), frames[frames.size() - big.size() + i]);
        QCOMPARE(big.at(i).size(), frames[frames.size() - big.size() + i].size());
    }
    QVERIFY(big.storageBytes() > 0);
    big.clear();
    QCOMPARE(big.storageBytes(), size_t(0));
}

void TestFrameDecode::recorderPairsAttempts()
{
    TrafficRecorder rec(link, 100);
    rec.setClock([] { return qint64(5000); });
    QList<quint64> updated;
    connect(&rec, &TrafficRecorder::updated, this, [&](quint64 seq) { updated << seq; });

    // The program has read device 1 in full: its Config is the link's.
    link.DeviceParams.Config = 0x0012;
    link.Origin.valid = true;
    link.Origin.address = 1;
    const QByteArray readLimit = withCrc(bytes({1, 3, 0x10, 0x05, 0, 1}));
    // First attempt: no reply; second: the reply.
    rec.onBytes(true, readLimit);
    rec.onAttemptEnded(ResultNoReply);
    rec.onBytes(true, readLimit);
    rec.onBytes(false, withCrc(bytes({1, 3, 2, 0x00, 0xFA})));
    rec.onAttemptEnded(ResultOk);
    const TrafficRing &ring = rec.ring();
    QCOMPARE(ring.size(), 3);
    QCOMPARE(ring.at(0).result, int(ResultNoReply));
    QCOMPARE(ring.at(1).result, int(ResultOk));
    QCOMPARE(ring.at(2).result, int(ResultOk));
    QVERIFY(!ring.at(2).sent);
    QCOMPARE(ring.at(2).decode().values, (QStringList{QStringLiteral("limit1 = 25.0 %LEL"),
                                                      QStringLiteral("limit1_direction = increasing")}));
    QCOMPARE(ring.at(2).timeMs, qint64(5000));
    QCOMPARE(updated, (QList<quint64>{1, 2, 3}));

    // An attempt that put nothing on the line: the request built is shown
    // as not sent.
    Modbus::buildRequest(link.request, 1, 4, 0, 0, 10, {&link.DeviceParams, &link.ScratchWord});
    rec.onAttemptEnded(ResultWriteTimeout);
    QCOMPARE(ring.size(), 4);
    QVERIFY(!ring.at(3).onLine);
    QCOMPARE(ring.at(3).function, 4);
    QCOMPARE(ring.at(3).decode().count, 10);
    QCOMPARE(ring.at(3).result, int(ResultWriteTimeout));

    // Raw text awaits no result.
    rec.onBytes(true, QByteArrayLiteral("DEACTIV"));
    QCOMPARE(ring.at(4).result, -1);
}

void TestFrameDecode::recorderLearnsTheConfigFromTheLine()
{
    TrafficRecorder rec(link, 100);
    link.DeviceParams.Config = 0x0012;   // the link's block, but from no full read
    const QByteArray readLimit1 = withCrc(bytes({1, 3, 0x10, 0x05, 0, 1}));
    const QByteArray readLimit2 = withCrc(bytes({2, 3, 0x10, 0x05, 0, 1}));
    auto exchange = [&](const QByteArray &request, const QByteArray &reply) {
        rec.onBytes(true, request);
        rec.onBytes(false, reply);
        rec.onAttemptEnded(ResultOk);
        return rec.ring().at(rec.ring().size() - 1).decode().values.value(0);
    };
    QCOMPARE(exchange(readLimit1, withCrc(bytes({1, 3, 2, 0, 250}))), QStringLiteral("limit1 = 250 (scale unknown)"));

    // Device 1 shows its block (Config 0x0001: mg/m3, no decimals) on the
    // line: its frames from then on are read in that scale; device 2's not.
    QByteArray block = bytes({1, 3, 96});
    for (int reg = 0x1000; reg <= 0x102F; ++reg) {
        block.append(char(0));
        block.append(char(reg == 0x1008 ? 1 : 0));
    }
    exchange(withCrc(bytes({1, 3, 0x10, 0x00, 0, 48})), withCrc(block));
    QCOMPARE(exchange(readLimit1, withCrc(bytes({1, 3, 2, 0, 250}))), QStringLiteral("limit1 = 250 mg/m3"));
    QCOMPARE(exchange(readLimit2, withCrc(bytes({2, 3, 2, 0, 250}))), QStringLiteral("limit1 = 250 (scale unknown)"));

    // A device the program has read in full has the link's Config; a write
    // of the Config on the line counts over it.
    link.Origin.valid = true;
    link.Origin.address = 2;
    QCOMPARE(exchange(readLimit2, withCrc(bytes({2, 3, 2, 0, 250}))), QStringLiteral("limit1 = 25.0 %LEL"));
    exchange(withCrc(bytes({2, 6, 0x10, 0x08, 0, 0x23})), withCrc(bytes({2, 6, 0x10, 0x08, 0, 0x23})));
    QCOMPARE(exchange(readLimit2, withCrc(bytes({2, 3, 2, 0, 250}))), QStringLiteral("limit1 = 2.50 %VOL"));
    // A damaged reply teaches nothing.
    QByteArray spoiled = block;
    spoiled[3 + 2 * 8 + 1] = char(2);   // the Config's low byte
    spoiled = withCrc(spoiled);
    spoiled[spoiled.size() - 1] = char(spoiled.at(spoiled.size() - 1) ^ 0x55);
    exchange(withCrc(bytes({1, 3, 0x10, 0x00, 0, 48})), spoiled);
    QCOMPARE(exchange(readLimit1, withCrc(bytes({1, 3, 2, 0, 250}))), QStringLiteral("limit1 = 250 mg/m3"));

    // The device type an input read shows gives the output its unit.
    rec.onBytes(true, withCrc(bytes({1, 4, 0, 1, 0, 4})));
    rec.onBytes(false, withCrc(bytes({1, 4, 8, 0x0F, 0xA0, 0, 0, 0, 0, 0, 2})));
    rec.onAttemptEnded(ResultOk);
    rec.onBytes(true, withCrc(bytes({1, 4, 0, 1, 0, 1})));
    rec.onBytes(false, withCrc(bytes({1, 4, 2, 0x0F, 0xA0})));
    rec.onAttemptEnded(ResultOk);
    QCOMPARE(rec.ring().at(rec.ring().size() - 1).decode().values, QStringList{QStringLiteral("output = 40.00 mV")});
}

void TestFrameDecode::statisticsByAddress()
{
    TrafficRecorder rec(link, 100);
    qint64 t = 1000;
    rec.setClock([&] { return t; });
    QList<int> changed;
    connect(&rec, &TrafficRecorder::statsChanged, this, [&](int address) { changed << address; });
    const QByteArray read1 = withCrc(bytes({1, 3, 0x10, 0x05, 0, 1}));
    auto answered = [&](const QByteArray &request, const QByteArray &reply, qint64 after, quint16 result) {
        rec.onBytes(true, request);
        t += after;
        rec.onBytes(false, reply);
        rec.onAttemptEnded(result);
        t += 100;
    };
    answered(read1, withCrc(bytes({1, 3, 2, 0, 1})), 30, ResultOk);
    answered(read1, withCrc(bytes({1, 3, 2, 0, 1})), 10, ResultOk);
    answered(read1, withCrc(bytes({1, 3, 2, 0, 1})), 20, ResultOk);
    rec.onBytes(true, read1);
    rec.onAttemptEnded(ResultNoReply);
    QByteArray spoiled = withCrc(bytes({1, 3, 2, 0, 1}));
    spoiled[3] = char(9);
    answered(read1, spoiled, 40, ResultBadReply);
    answered(withCrc(bytes({2, 43, 0x0E, 1, 0})), withCrc(bytes({2, 0xAB, 1})), 5, ResultUnsupported);

    const TrafficStats &stats = rec.stats();
    QCOMPARE(stats.addresses(), (QVector<int>{1, 2}));
    const TrafficStats::Line *one = stats.line(1);
    QVERIFY(one);
    QCOMPARE(one->requests, 5);
    QCOMPARE(one->replies, 4);
    QCOMPARE(one->noReply, 1);
    QCOMPARE(one->crcErrors, 1);
    QCOMPARE(one->exceptions, 0);
    QCOMPARE(one->minMs, qint64(10));
    QCOMPARE(one->medianMs(), qint64(25));   // of 30, 10, 20, 40
    QCOMPARE(one->maxMs, qint64(40));
    const TrafficStats::Line *two = stats.line(2);
    QCOMPARE(two->requests, 1);
    QCOMPARE(two->exceptions, 1);
    QCOMPARE(two->medianMs(), qint64(5));
    QVERIFY(!stats.line(3));
    QCOMPARE(changed, (QList<int>{1, 1, 1, 1, 1, 2}));

    // The median is the recent replies' (a bounded window); minimum and
    // maximum are every reply's.
    const QByteArray read3 = withCrc(bytes({3, 4, 0, 0, 0, 1}));
    const QByteArray reply3 = withCrc(bytes({3, 4, 2, 0, 1}));
    for (int i = 0; i < 50; ++i)
        answered(read3, reply3, 900, ResultOk);
    for (int i = 0; i < TrafficStats::MedianWindow; ++i)
        answered(read3, reply3, i % 2 ? 6 : 8, ResultOk);
    const TrafficStats::Line *three = stats.line(3);
    QCOMPARE(three->requests, 50 + TrafficStats::MedianWindow);
    QCOMPARE(three->medianMs(), qint64(7));
    QCOMPARE(three->maxMs, qint64(900));
    QCOMPARE(three->minMs, qint64(6));
    QCOMPARE(int(three->recent.size()), TrafficStats::MedianWindow);

    // A broadcast is a request that waits for no reply.
    rec.onBytes(true, withCrc(bytes({0, 6, 0x10, 0x19, 0, 0})));
    rec.onAttemptEnded(ResultOk);
    QCOMPARE(stats.line(0)->requests, 1);
    QCOMPARE(stats.line(0)->noReply, 0);
    QCOMPARE(stats.line(0)->medianMs(), qint64(-1));

    rec.clear();
    QVERIFY(stats.addresses().isEmpty());
}

void TestFrameDecode::filterAndExport()
{
    TrafficRecorder rec(link, 10);
    rec.onBytes(true, withCrc(bytes({1, 3, 0x10, 0x05, 0, 1})));
    rec.onBytes(false, withCrc(bytes({1, 0x83, 2})));
    rec.onAttemptEnded(ResultIllegalAddress);
    rec.onBytes(true, withCrc(bytes({2, 4, 0, 0, 0, 10})));
    rec.onBytes(false, withCrc(bytes({2, 4, 20}) + QByteArray(20, 0)));
    rec.onAttemptEnded(ResultOk);
    rec.onBytes(true, withCrc(bytes({3, 3, 0x10, 0x05, 0, 1})));
    rec.onAttemptEnded(ResultNoReply);
    rec.onBytes(true, withCrc(bytes({4, 3, 0x10, 0x05, 0, 1})));   // its attempt still under way
    const TrafficRing &ring = rec.ring();
    auto shown = [&](const TrafficFilter &f) {
        QList<int> rows;
        for (int i = 0; i < ring.size(); ++i)
            if (f.matches(ring.at(i)))
                rows << i;
        return rows;
    };
    QCOMPARE(shown({}), (QList<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(shown({1, -1}), (QList<int>{0, 1}));
    QCOMPARE(shown({-1, 3}), (QList<int>{0, 1, 4, 5}));   // the exception reply counts as function 3
    QCOMPARE(shown({2, 3}), QList<int>());
    QCOMPARE(shown({2, 4}), (QList<int>{2, 3}));
    // Failures: both frames of the exception, the unanswered request.
    QCOMPARE(shown({-1, -1, true}), (QList<int>{0, 1, 4}));
    QCOMPARE(shown({1, 3, true}), (QList<int>{0, 1}));
    QCOMPARE(shown({2, -1, true}), QList<int>());
    // A request that could not be put on the line is a failure too.
    rec.onAttemptEnded(ResultOk);
    Modbus::buildRequest(link.request, 5, 4, 0, 0, 10, {&link.DeviceParams, &link.ScratchWord});
    rec.onAttemptEnded(ResultWriteTimeout);
    QCOMPARE(shown({5, -1, true}), QList<int>{6});
    // The exception code is the reply's, whatever the function.
    rec.onBytes(true, withCrc(bytes({1, 43, 0x0E, 1, 0})));
    rec.onBytes(false, withCrc(bytes({1, 0xAB, 1})));
    rec.onAttemptEnded(ResultUnsupported);
    QCOMPARE(ring.at(ring.size() - 2).exceptionCode, qint16(1));
    QCOMPARE(ring.at(ring.size() - 1).exceptionCode, qint16(1));

    const QStringList headers{QStringLiteral("Time"), QStringLiteral("Data"), QStringLiteral("Hex")};
    const QVector<QStringList> rows{{QStringLiteral("1"), QStringLiteral("a = 1, b \"x\""), QStringLiteral("01")},
                                    {QStringLiteral("22"), QStringLiteral("two\nlines"), QStringLiteral("02 03")}};
    QCOMPARE(TrafficExport::toCsv(headers, rows),
             QStringLiteral("Time,Data,Hex\r\n1,\"a = 1, b \"\"x\"\"\",01\r\n22,\"two\nlines\",02 03\r\n"));
    QCOMPARE(TrafficExport::toText(headers, rows),
             QStringLiteral("Time  Data          Hex\n"
                            "1     a = 1, b \"x\"  01\n"
                            "22    two lines     02 03\n"));
    // No blanks at a line's end: an empty last cell, a cell with blanks or
    // a carriage return at its end, a device's text with control characters.
    const QVector<QStringList> ragged{{QStringLiteral("333"), QStringLiteral("x  "), QString()},
                                      {QStringLiteral("4"), QStringLiteral("y\r\n"), QStringLiteral("05 \r")},
                                      {QStringLiteral("5"), QStringLiteral("z"), QStringLiteral("A\x0b\x1b")}};
    const QString text = TrafficExport::toText(headers, ragged);
    QCOMPARE(text, QStringLiteral("Time  Data  Hex\n"
                                  "333   x\n"
                                  "4     y     05\n"
                                  "5     z     A\n"));
}

void TestFrameDecode::recorderOnTheSimulator()
{
    SimProcess sim;
    QVERIFY(SimLink::openSim(link, sim));
    TrafficRecorder rec(link);
    rec.install();
    QVERIFY(DeviceOps::read(link, DeviceOps::ReadMode::Full).ok());

    // Every request that reached the device is in the ring, in order, and
    // each has its reply; nothing more went out because of the recorder.
    const QList<QByteArray> rx = sim.rxFrames();
    QCOMPARE(TestFrames::functions(rx), (QList<int>{43, 43, 3, 4}));
    QList<QByteArray> sent;
    QString decoded;
    for (int i = 0; i < rec.ring().size(); ++i) {
        const TrafficEntry &e = rec.ring().at(i);
        QCOMPARE(e.result, int(ResultOk));
        if (e.sent)
            sent << e.bytes();
        decoded += e.decode().values.join(QLatin1Char(';')) + QLatin1Char('\n');
    }
    QCOMPARE(sent, rx);
    QCOMPARE(rec.ring().size(), 8);
    QVERIFY2(decoded.contains(QStringLiteral("limit1 = ")), qPrintable(decoded));
    QVERIFY2(decoded.contains(QStringLiteral("device_type = 1")), qPrintable(decoded));

    // A silent device: each attempt is a request with "no reply".
    sim.send(QStringLiteral("fault noreply 2"));
    rec.clear();
    QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
    QCOMPARE(rec.ring().size(), 4);
    QCOMPARE(rec.ring().at(0).result, int(ResultNoReply));
    QCOMPARE(rec.ring().at(1).result, int(ResultNoReply));
    QCOMPARE(rec.ring().at(2).result, int(ResultOk));

    // Taken out, the recorder sees nothing more.
    rec.remove();
    QVERIFY(!rec.installed());
    QCOMPARE(link.transact(4, 0, 0, 10), quint16(ResultOk));
    QCOMPARE(rec.ring().size(), 4);
}

QTEST_GUILESS_MAIN(TestFrameDecode)
#include "test_framedecode.moc"

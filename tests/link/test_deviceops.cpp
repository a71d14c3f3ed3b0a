// The device operations against the simulated detector over a real
// pseudo-terminal: the probe (and "DEACTIV" to a stranger), the read cycle
// with the 27/48 rule and Scale, and the order of the factory operations on
// the wire.
#include "command.h"
#include "conversions.h"
#include "deviceops.h"
#include "simprocess.h"

#include <QtTest>

using DeviceOps::Outcome;
using DeviceOps::ReadMode;
using DeviceOps::Step;

namespace {

// The link this test works through.
Command link;

using Request = QPair<int, int>;   // function, start register (for 43: the Read Device ID code)

const QList<Request> FullRead{{43, 1}, {43, 2}, {3, 0x1000}, {4, 0}};
// Before every block write: the serial number and the device type.
const QList<Request> Identity{{3, 0x100F}, {4, 4}};
const QByteArray Deactiv = QByteArrayLiteral("DEACTIV").toHex().toUpper();

} // namespace

Q_DECLARE_METATYPE(Step)

class TestDeviceOps : public QObject
{
    Q_OBJECT
    SimProcess sim;

    bool connectTo(const QStringList &args)
    {
        link.resetState();
        if (!sim.start(args) || !DeviceOps::open(link, sim.portPath()))
            return false;
        link.SlaveAddress = 1;
        sim.clearLog();
        return true;
    }

    // A detector, probed and read once, with a clean log.
    bool connectDetector(const QStringList &args = {})
    {
        if (!connectTo(args) || !DeviceOps::probe(link).ok() || !DeviceOps::read(link, ReadMode::Full).ok())
            return false;
        sim.clearLog();
        return true;
    }

    QList<Request> requests()
    {
        QList<Request> out;
        for (const QByteArray &f : sim.rxFrames()) {
            if (f.size() < 4)
                continue;
            const int fn = quint8(f[1]);
            out.append({fn, fn == 43 ? int(quint8(f[3])) : (quint8(f[2]) << 8 | quint8(f[3]))});
        }
        return out;
    }

    bool sawRaw() { return sim.log().join(QLatin1Char('\n')).contains(QLatin1String("RAW")); }

private slots:
    void cleanup()
    {
        sim.stop();
        link.resetState();
    }

    void probe_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("reported");
        QTest::addColumn<int>("type");
        QTest::newRow("detector 1") << QStringList{"--type", "1"} << 1 << 1;
        QTest::newRow("detector 2") << QStringList{"--type", "2"} << 2 << 2;
        QTest::newRow("bootloader") << QStringList{"--bootloader"} << 999 << 999;
        QTest::newRow("unknown type 3") << QStringList{"--type", "3"} << 3 << 0;
    }

    void probe()
    {
        QFETCH(QStringList, args);
        QFETCH(int, reported);
        QFETCH(int, type);
        QVERIFY2(connectTo(args), qPrintable(sim.errorText()));
        link.DeviceType = 77;
        const Outcome o = DeviceOps::probe(link);
        QCOMPARE(int(link.DeviceParams.DeviceTypeReg), reported);
        QCOMPARE(int(link.DeviceType), type);
        QVERIFY(link.isOpen());
        QCOMPARE(requests().value(0), Request(4, 0));
        if (type != 0) {
            QVERIFY(o.ok());
            QVERIFY(!sawRaw());
        } else {
            QCOMPARE(o.failed, Step::Unrecognised);
            QVERIFY(sim.waitForLog(QStringLiteral("RAW ") + QString::fromLatin1(Deactiv)));
        }
        QCOMPARE(requests().size(), 1);
    }

    void probeThatFailsKeepsType()
    {
        QVERIFY2(connectTo({"--type", "2"}), qPrintable(sim.errorText()));
        sim.send(QStringLiteral("fault exception 2 -1"));
        link.DeviceType = Params::TypeDetector1;
        const Outcome o = DeviceOps::probe(link);
        QCOMPARE(o.failed, Step::Probe);
        QCOMPARE(o.linkResult, quint16(ResultIllegalAddress));
        QCOMPARE(link.DeviceType, Params::TypeDetector1);
        QVERIFY(!sawRaw());
    }

    void fullRead_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("count");
        QTest::newRow("type 1, 1.05") << QStringList{"--type", "1", "--version", "1.05"} << 27;
        QTest::newRow("type 1, 1.06") << QStringList{"--type", "1", "--version", "1.06"} << 48;
        QTest::newRow("type 2, 1.05") << QStringList{"--type", "2", "--version", "1.05"} << 48;
    }

    void fullRead()
    {
        QFETCH(QStringList, args);
        QFETCH(int, count);
        QVERIFY2(connectTo(args), qPrintable(sim.errorText()));
        QVERIFY(DeviceOps::probe(link).ok());
        // Two decimals: Scale 100.
        const int config = sim.holding(0x1008);
        QVERIFY(config >= 0);
        sim.send(QStringLiteral("set holding 0x1008 %1").arg((config & ~0x30) | 0x20));
        sim.clearLog();
        link.DeviceParams.Scale = 0;

        QVERIFY(DeviceOps::read(link, ReadMode::Full).ok());
        QCOMPARE(int(link.WriteCount), count);
        QCOMPARE(requests(), FullRead);
        const QByteArray holdingRead = sim.rxFrames().value(2);
        QCOMPARE((quint8(holdingRead[4]) << 8) | quint8(holdingRead[5]), count);
        QCOMPARE(int(link.DeviceParams.Config), (config & ~0x30) | 0x20);
        QCOMPARE(int(link.DeviceParams.Scale), 100);

        // Live only: one request, and Scale again.
        sim.clearLog();
        link.DeviceParams.Scale = 0;
        QVERIFY(DeviceOps::read(link, ReadMode::LiveOnly).ok());
        QCOMPARE(requests(), QList<Request>{Request(4, 0)});
        QCOMPARE(int(link.DeviceParams.Scale), 100);
    }

    void readStopsAtFirstFailure()
    {
        QVERIFY2(connectTo({}), qPrintable(sim.errorText()));
        // Identification passes, the holding block is refused.
        sim.send(QStringLiteral("fault exception 2 -1 2"));
        link.DeviceParams.Scale = 0;
        const Outcome o = DeviceOps::read(link, ReadMode::Full);
        QCOMPARE(o.failed, Step::Holding);
        QCOMPARE(o.linkResult, quint16(ResultIllegalAddress));
        QVERIFY(!o.blockRead());
        QVERIFY(!requests().contains(Request(4, 0)));
        QCOMPARE(int(link.DeviceParams.Scale), 0);
    }

    void factoryStoreOrder()
    {
        QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
        link.DeviceParams.Limit1 = 321;
        link.DeviceParams.ImmitConcOn = 1;
        bool checked = false;
        const Outcome o = DeviceOps::storeFactory(link, [&](const ParamBlock &sent) {
            checked = sent.Limit1 == 321 && sent.ImmitConcOn == 0 && link.DeviceParams.Limit1 == 321;
            return true;
        });
        QVERIFY(o.ok());
        QVERIFY(checked);
        QCOMPARE(requests(), Identity + QList<Request>{Request(16, 0x1000)} + FullRead + QList<Request>{Request(16, 0x1020)});
        QCOMPARE(sim.commands(), QList<quint16>{0x3003});
        QCOMPARE(sim.holding(0x1005), 321);
        QCOMPARE(sim.holding(0x1019), 0);

        // Taken up again after the device drifted: the command, then the read.
        sim.send(QStringLiteral("set holding 0x1005 999"));
        sim.clearLog();
        QVERIFY(DeviceOps::restoreFactory(link).ok());
        QCOMPARE(requests(), QList<Request>{Request(16, 0x1020)} + FullRead);
        QCOMPARE(sim.commands(), QList<quint16>{0x6006});
        QCOMPARE(int(link.DeviceParams.Limit1), 321);
    }

    void factoryFailuresSendNoCommand_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("refuse");
        QTest::addColumn<Step>("step");
        QTest::addColumn<int>("requestCount");
        QTest::newRow("block write refused") << "fault exception 4 -1 2" << false << Step::BlockWrite << 12;
        QTest::newRow("read-back fails") << "fault exception 2 -1 3" << false << Step::IdentBasic << 13;
        QTest::newRow("check refuses") << "" << true << Step::Check << 7;
    }

    void factoryFailuresSendNoCommand()
    {
        QFETCH(QString, fault);
        QFETCH(bool, refuse);
        QFETCH(Step, step);
        QFETCH(int, requestCount);
        QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
        if (!fault.isEmpty())
            sim.send(fault);
        const Outcome o = DeviceOps::storeFactory(link, [refuse](const ParamBlock &) { return !refuse; });
        QCOMPARE(o.failed, step);
        // Refused by the device: not carried out; a read-back that failed
        // leaves the write unverified.
        QCOMPARE(o.unverified, step == Step::IdentBasic);
        QCOMPARE(requests().size(), requestCount);
        QCOMPARE(requests().mid(0, 3), Identity + QList<Request>{Request(16, 0x1000)});
        QVERIFY(!requests().contains(Request(16, 0x1020)));
        QVERIFY(sim.commands().isEmpty());
    }

    void scanFindsDetectorReadingOnly()
    {
        QVERIFY2(connectTo({"--address", "6", "--type", "2", "--version", "2.17"}), qPrintable(sim.errorText()));
        // What the link held before must be there after the scan.
        link.SlaveAddress = 9;
        link.attemptLimit = 0;
        link.DeviceParams.Limit1 = 1234;
        link.DeviceParams.DeviceTypeReg = 1;
        QList<int> asked;
        QList<int> reported;
        DeviceOps::ScanHooks hooks;
        hooks.beforeAddress = [&](int a) { asked.append(a); };
        hooks.answered = [&](const DeviceOps::ScanHit &h) { reported.append(h.address); };
        const DeviceOps::ScanReport report = DeviceOps::scan(link, 4, 8, hooks);

        QCOMPARE(report.scanned, 5);
        QCOMPARE(asked, QList<int>({4, 5, 6, 7, 8}));
        QCOMPARE(reported, QList<int>{6});
        QCOMPARE(report.hits.size(), 1);
        const DeviceOps::ScanHit &hit = report.hits[0];
        QCOMPARE(hit.address, 6);
        QVERIFY(hit.detector());
        QCOMPARE(int(hit.type), 2);
        QCOMPARE(hit.serialResult, quint16(ResultOk));
        QCOMPARE(hit.serialNumber, 4711);
        QCOMPARE(hit.serialText, QStringLiteral("TL02UD0004711"));
        QCOMPARE(hit.versionResult, quint16(ResultOk));
        QCOMPARE(hit.firmwareVersion, QStringLiteral("2.17"));

        QCOMPARE(link.SlaveAddress, quint16(9));
        QCOMPARE(link.attemptLimit, 0);
        QCOMPARE(int(link.DeviceParams.Limit1), 1234);
        QCOMPARE(int(link.DeviceParams.DeviceTypeReg), 1);
        // One type request per address, then the detector's two reads; no
        // write and no raw bytes.
        using AF = QPair<int, int>;
        QCOMPARE(sim.requestHeads(), QList<AF>({{4, 4}, {5, 4}, {6, 4}, {6, 3}, {6, 43}, {7, 4}, {8, 4}}));
        QVERIFY(!sawRaw());
        QVERIFY(sim.commands().isEmpty());
    }

    void scanCancelsAndLeavesStrangersAlone()
    {
        // A device of unknown type answers; it is reported, not sent "DEACTIV".
        QVERIFY2(connectTo({"--address", "2", "--type", "3"}), qPrintable(sim.errorText()));
        link.SlaveAddress = 1;
        int asked = 0;
        DeviceOps::ScanHooks hooks;
        hooks.beforeAddress = [&](int) { ++asked; };
        hooks.cancelled = [&] { return asked == 4; };
        const DeviceOps::ScanReport report = DeviceOps::scan(link, 1, 247, hooks);
        QCOMPARE(report.scanned, 4);
        QCOMPARE(report.hits.size(), 1);
        QCOMPARE(report.hits[0].address, 2);
        QCOMPARE(int(report.hits[0].type), 3);
        QVERIFY(report.hits[0].answered() && !report.hits[0].detector());
        QVERIFY(report.hits[0].serialText.isEmpty());
        QTest::qWait(300);   // raw bytes would have reached the log by now
        QVERIFY(!sawRaw());
        const auto requests = sim.requestHeads();
        QCOMPARE(requests.size(), 4);
        for (const auto &r : requests)
            QCOMPARE(r.second, 4);
        QCOMPARE(link.SlaveAddress, quint16(1));
        QCOMPARE(link.attemptLimit, 0);

        // Something that answers out of order counts as a hit, not a device.
        sim.send(QStringLiteral("fault exception 4 -1"));
        sim.clearLog();
        const DeviceOps::ScanReport refused = DeviceOps::scan(link, 2, 2);
        QCOMPARE(refused.hits.size(), 1);
        QCOMPARE(refused.hits[0].result, quint16(ResultRefused));
        QVERIFY(!refused.hits[0].answered());

        // A link closed on purpose: nothing asked.
        link.closePort();
        sim.clearLog();
        const DeviceOps::ScanReport closed = DeviceOps::scan(link, 1, 247);
        QCOMPARE(closed.scanned, 0);
        QVERIFY(closed.hits.isEmpty());
        QVERIFY(sim.requestHeads().isEmpty());
    }

    void factoryRestoreRefusedReadsNothing()
    {
        QVERIFY2(connectDetector(), qPrintable(sim.errorText()));
        sim.send(QStringLiteral("fault exception 4 -1"));
        const Outcome o = DeviceOps::restoreFactory(link);
        QCOMPARE(o.failed, Step::Command);
        QCOMPARE(o.linkResult, quint16(ResultRefused));
        for (const Request &r : requests())
            QCOMPARE(r, Request(16, 0x1020));
    }
};

QTEST_GUILESS_MAIN(TestDeviceOps)
#include "test_deviceops.moc"

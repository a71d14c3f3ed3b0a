// tlctl's parameter table and commands in-process: conversions and limits of
// `set` against the block, the read-back check, and a device that drops a
// value between the write and the read-back.
#include "command.h"
#include "cli.h"
#include "commands.h"
#include "paramtable.h"
#include "simprocess.h"

#include <QtTest>
#include <cstring>

using namespace Tlctl;
using namespace Params;

namespace {

// The link this test works through.
Command link;

ParamBlock blockWithConfig(quint16 config)
{
    ParamBlock b;
    std::memset(&b, 0, sizeof b);
    b.Config = config;
    b.Limit1 = 200;
    return b;
}

struct Captured {
    QString out;
    QString err;
    QTextStream outStream{&out};
    QTextStream errStream{&err};
    Io io{outStream, errStream, false, false, nullptr, nullptr};
};

SimProcess *hookSim = nullptr;
bool dropped = false;

// After the device has answered the block write, something else on the line
// puts threshold 1 back before the read-back.
void dropLimit1(bool sent, const QByteArray &bytes, void *)
{
    if (!sent && !dropped && bytes.size() >= 6 && quint8(bytes[1]) == 0x10 && quint8(bytes[2]) == 0x10
        && quint8(bytes[3]) == 0x00) {
        dropped = true;
        hookSim->send(QStringLiteral("set holding 0x1005 999"));
    }
}

} // namespace

class TestTlctlCore : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        link.setTrafficHook(nullptr, nullptr);
        link.resetState();
        qunsetenv("TLCTL_PASSWORD");
    }

    void applyUsesThePagesConversions_data()
    {
        QTest::addColumn<quint16>("config");
        QTest::addColumn<QString>("assignment");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("raw");
        // With Scale 100 a shown 12.5 is 1250 and, with the direction bit kept, 0x84E2.
        QTest::newRow("threshold keeps its direction") << quint16(0x0020) << "limit1=12.5" << 0x1005 << (0x8000 | 1250);
        QTest::newRow("direction keeps the value") << quint16(0x0010) << "limit1_direction=increasing" << 0x1005 << 1250;
        QTest::newRow("scale 1000") << quint16(0x0030) << "hysteresis=65.535" << 0x1007 << 65535;
        QTest::newRow("decimals of 1 in a 1-decimal unit") << quint16(0x0010) << "dead_zone=1.3" << 0x1013 << 13;
        QTest::newRow("comma as separator") << quint16(0x0010) << "dead_zone=1,3" << 0x1013 << 13;
        QTest::newRow("trailing zeros are no extra decimals") << quint16(0x0010) << "range_max=2.50" << 0x1004 << 25;
        QTest::newRow("delay in ms") << quint16(0) << "reset_delay=20" << 0x1012 << 20000;
        QTest::newRow("discreteness keeps the other bits") << quint16(0x0613) << "discreteness=X" << 0x1008 << 0x0603;
        QTest::newRow("unit keeps the other bits") << quint16(0x0613) << "unit=mg/m3" << 0x1008 << 0x0611;
        QTest::newRow("auto-reset 2 is bit 10") << quint16(0x0010) << "limit2_autoreset=on" << 0x1008 << 0x0410;
        QTest::newRow("serial high word") << quint16(0) << "serial_number=999999999" << 0x1010 << (999999999 >> 16);
        QTest::newRow("network address low byte") << quint16(0) << "net_address=247" << 0x100E << 247;
    }

    void applyUsesThePagesConversions()
    {
        QFETCH(quint16, config);
        QFETCH(QString, assignment);
        QFETCH(int, reg);
        QFETCH(int, raw);
        ParamBlock b = blockWithConfig(config);
        b.Limit1 = 0x8000 | 1250;
        const int eq = assignment.indexOf(QLatin1Char('='));
        const ParamDef *def = findParameter(assignment.left(eq));
        QVERIFY(def);
        QCOMPARE(apply(*def, assignment.mid(eq + 1), b), QString());
        QCOMPARE(int(holdingValue(b, quint16(reg))), raw);
    }

    void applyRefusesWhatThePageWouldNotTake_data()
    {
        QTest::addColumn<quint16>("config");
        QTest::addColumn<QString>("assignment");
        QTest::newRow("threshold above 32767 raw") << quint16(0x0000) << "limit1=32768";
        QTest::newRow("threshold above 327.67 at scale 100") << quint16(0x0020) << "limit1=327.68";
        QTest::newRow("more decimals than shown") << quint16(0x0010) << "hysteresis=0.25";
        QTest::newRow("any decimal at scale 1") << quint16(0x0000) << "dead_zone=1.5";
        QTest::newRow("above 65535 raw") << quint16(0x0000) << "range_max=65536";
        QTest::newRow("network address above 247") << quint16(0) << "net_address=248";
        QTest::newRow("serial above the page's maximum") << quint16(0) << "serial_number=1000000000";
        QTest::newRow("not a number") << quint16(0x0010) << "dead_zone=1e";
        QTest::newRow("a sign") << quint16(0x0010) << "dead_zone=+1";
        QTest::newRow("three decimals are not offered") << quint16(0) << "discreteness=X,XXX";
        QTest::newRow("switch word") << quint16(0) << "limit1_autoreset=maybe";
    }

    void applyRefusesWhatThePageWouldNotTake()
    {
        QFETCH(quint16, config);
        QFETCH(QString, assignment);
        ParamBlock b = blockWithConfig(config);
        const ParamBlock before = b;
        const int eq = assignment.indexOf(QLatin1Char('='));
        const ParamDef *def = findParameter(assignment.left(eq));
        QVERIFY(def);
        QVERIFY(!apply(*def, assignment.mid(eq + 1), b).isEmpty());
        QCOMPARE(std::memcmp(&b, &before, sizeof b), 0);
    }

    // The threshold rule: bits 0-14 against ValueMax in the same scale, the
    // direction bit no part of it, each threshold on its own.
    void thresholdRuleComparesValueWithRange()
    {
        ParamBlock b = blockWithConfig(0x0010);   // PPM, X,X
        b.ValueMax = 1000;
        b.Limit1 = 1000;                         // at the range: can trip
        b.Limit2 = 0x8000 | 1000;                // decreasing, same value
        QVERIFY(thresholdsAboveRange(b).isEmpty());
        QCOMPARE(thresholdRuleText(b), QString());

        b.Limit2 = 0x8000 | 1001;
        QCOMPARE(thresholdsAboveRange(b), QVector<const ParamDef *>{findParameter(QStringLiteral("limit2"))});
        b.ValueMax = 0;                          // a range of 0: both are above it
        b.Limit2 = 1;
        QCOMPARE(thresholdsAboveRange(b).size(), 2);
        QCOMPARE(thresholdRuleText(b),
                 QStringLiteral("limit1 (100.0 PPM) is above the upper range value range_max (0.0 PPM): such a "
                                "threshold can never trip; limit2 (0.1 PPM) is above the upper range value range_max "
                                "(0.0 PPM): such a threshold can never trip"));
    }

    void setDiscretenessConvertsTheValues()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        // "X,X": 25.5 / 40.0 falling / 2.5 .. 100.0, hysteresis 1.5, dead
        // zones 0.5 and 0.7, calibration gas 50.5.
        const struct { int reg; int value; } start[] = {
            {0x1008, 0x0610}, {0x1005, 255}, {0x1006, 0x8000 | 400}, {0x1003, 25}, {0x1004, 1000},
            {0x1007, 15}, {0x1013, 5}, {0x1014, 7}, {0x1016, 505}};
        for (const auto &h : start) {
            bool ok = false;
            sim.send(QStringLiteral("set holding %1 %2").arg(h.reg).arg(h.value), &ok);
            QVERIFY(ok);
        }
        qputenv("TLCTL_PASSWORD", "7529");
        const QStringList login = {QStringLiteral("--user"), QStringLiteral("User")};
        {
            Captured c;
            QCOMPARE(run(QStringList{QStringLiteral("--port"), sim.portPath(), QStringLiteral("set"),
                                     QStringLiteral("discreteness=X")} + login, c.io), int(ExitOk));
        }
        // Shown values kept, stored ones rounded half to even; the direction
        // bit of threshold 2 stays.
        const struct { int reg; int value; } converted[] = {
            {0x1008, 0x0600}, {0x1005, 26}, {0x1006, 0x8000 | 40}, {0x1003, 2}, {0x1004, 100},
            {0x1007, 2}, {0x1013, 0}, {0x1014, 1}, {0x1016, 50}};
        for (const auto &h : converted)
            QVERIFY2(sim.holding(h.reg) == h.value, qPrintable(QStringLiteral("register %1: %2").arg(h.reg, 0, 16)
                                                                   .arg(sim.holding(h.reg))));

        // With threshold 1 at 400 and range_max at 1000, "X,XX" would need
        // 40000 (above 32767) and 100000: refused, nothing written.
        bool ok = false;
        sim.send(QStringLiteral("set holding 0x1005 400"), &ok);
        QVERIFY(ok);
        sim.send(QStringLiteral("set holding 0x1004 1000"), &ok);
        QVERIFY(ok);
        sim.clearLog();
        Captured c;
        QCOMPARE(run(QStringList{QStringLiteral("--port"), sim.portPath(), QStringLiteral("set"),
                                 QStringLiteral("discreteness=X,XX")} + login, c.io), int(ExitUsage));
        QVERIFY2(c.err.contains(QStringLiteral("range_max, limit1")), qPrintable(c.err));
        for (const QByteArray &f : sim.rxFrames())
            QVERIFY2(quint8(f[1]) != 16, f.toHex(' ').constData());
        QCOMPARE(sim.holding(0x1008), 0x0600);
        QCOMPARE(sim.holding(0x1005), 400);
    }

    void readBackCheckComparesWrittenRegistersOnly()
    {
        ParamBlock sent = blockWithConfig(0x0010);
        ParamBlock back = sent;
        back.CommandWord = 0x6060;   // the device acts on its command register
        back.ConcVal = 77;           // live values move
        back.Unbound110[0] = 1;      // no register
        QVERIFY(registersNotTaken(sent, back, 48).isEmpty());

        back.SerialNum = sent.SerialNum + 0x10000;          // high word only
        back.HWVersion = 0x0001;                             // beyond 27 registers, and 0x100D overlaps it
        QCOMPARE(registersNotTaken(sent, back, 27), (QVector<quint16>{0x100D, 0x1010}));
        QCOMPARE(registersNotTaken(sent, back, 48), (QVector<quint16>{0x100D, 0x1010, 0x101B}));
        QCOMPARE(namesOfRegister(0x1010), QStringList{QStringLiteral("serial_number")});
        QCOMPARE(namesOfRegister(0x1008),
                 (QStringList{"limit1_autoreset", "limit2_autoreset", "unit", "discreteness"}));
    }

    void deviceThatDropsAValueFailsLoudly()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        hookSim = &sim;
        dropped = false;
        link.setTrafficHook(dropLimit1, nullptr);
        qputenv("TLCTL_PASSWORD", "7529");
        Captured c;
        const int rc = run({QStringLiteral("--port"), sim.portPath(), QStringLiteral("set"), QStringLiteral("limit1=25"),
                            QStringLiteral("--user"), QStringLiteral("User")}, c.io, &link);
        QVERIFY(dropped);
        QCOMPARE(rc, int(ExitExchange));
        QVERIFY2(c.err.contains(QStringLiteral("did not take limit1 (sent 25.0, device has 99.9)")), qPrintable(c.err));
        QCOMPARE(c.err.count(QLatin1Char('\n')), 1);
        QVERIFY(!c.out.contains(QStringLiteral("took every value")));
        // The run leaves the link as it found it.
        QVERIFY(!link.isOpen());
        QCOMPARE(link.attemptLimit, 0);
    }
};

QTEST_GUILESS_MAIN(TestTlctlCore)
#include "test_tlctl_core.moc"

// What loading a parameter file may write, worked out without a device: the
// fields kept and why, values kept across a change of discreteness, and the
// plausibility check.
#include "restoreplan.h"

#include <QtTest>
#include <cstring>

namespace {

ParamBlock detector()
{
    ParamBlock b;
    std::memset(&b, 0, sizeof b);
    b.Config = 0x0010;       // PPM, X,X
    b.ValueMax = 1000;       // 100.0
    b.ValueMin = 50;         // 5.0
    b.ConcCalib = 500;       // 50.0
    b.Limit1 = 200;
    b.Limit2 = 0x8000 | 400;
    b.PowerSens = 40;
    b.NetAddress = 1;
    b.SerialNum = 4711;
    b.HWVersion = 123;
    b.TimeLimit = 2000;
    return b;
}

const Restore::Field *field(const Restore::Plan &p, const char *name)
{
    for (const Restore::Field &f : p.fields)
        if (qstrcmp(f.def->name, name) == 0)
            return &f;
    return nullptr;
}

} // namespace

class TestRestorePlan : public QObject
{
    Q_OBJECT
private slots:
    void keptValuesFollowTheFilesDiscreteness()
    {
        const ParamBlock device = detector();
        ParamBlock file = device;
        file.Config = 0x0020;          // X,XX
        file.Limit1 = 2500;            // 25.00
        file.ValueMax = 10000;         // 100.00
        file.ValueMin = 700;           // 7.00, kept below the production level
        file.ConcCalib = 4000;         // 40.00, the detector's own
        const Restore::Plan p = Restore::plan(device, file, QStringLiteral("Admin"), 1, 48, false);
        QVERIFY(p.notConvertible.isEmpty());
        QCOMPARE(int(p.result.Config), 0x0020);
        QCOMPARE(int(p.result.Limit1), 2500);
        QCOMPARE(int(p.result.Limit2), 0x8000 | 400);   // the file's own, already in its discreteness
        // Kept values show what they showed: 5.0 -> 5.00, 50.0 -> 50.00.
        QCOMPARE(int(p.result.ValueMin), 500);
        QCOMPARE(int(p.result.ConcCalib), 5000);
        QCOMPARE(field(p, "range_min")->kept, Restore::Kept::Level);
        QCOMPARE(field(p, "conc_calib")->kept, Restore::Kept::OwnField);

        // A kept value the file's discreteness cannot hold stops the load.
        ParamBlock big = device;
        big.ConcCalib = 9000;          // 900.0 would be 90000 in X,XX
        const Restore::Plan q = Restore::plan(big, file, QStringLiteral("Admin"), 1, 48, false);
        QCOMPARE(q.notConvertible.size(), 1);
        QCOMPARE(QLatin1String(q.notConvertible[0]->name), QLatin1String("conc_calib"));
        // Copied from the file instead, it is no obstacle.
        QVERIFY(Restore::plan(big, file, QStringLiteral("Velta"), 1, 48, true).notConvertible.isEmpty());
    }

    void fieldsKeptByTypeLevelAndBlockLength()
    {
        const ParamBlock device = detector();
        ParamBlock file = device;
        file.PowerSens = 60;
        file.HWVersion = 456;
        file.ImmitConc = 99;
        file.NetSpeed = 2;
        file.ImmitConcOn = 1;
        Restore::Plan p = Restore::plan(device, file, QStringLiteral("Velta"), 1, 48, true);
        QCOMPARE(int(p.result.PowerSens), 40);       // type 1 has no sensor current
        QCOMPARE(field(p, "sensor_current")->kept, Restore::Kept::NotOnType);
        QCOMPARE(int(p.result.HWVersion), 456);
        QCOMPARE(int(p.result.ImmitConc), 99);
        QCOMPARE(int(p.result.NetSpeed), 0);          // never from a file
        QCOMPARE(int(p.result.ImmitConcOn), 0);
        QVERIFY(p.simulationInFile);
        p = Restore::plan(device, file, QStringLiteral("Velta"), 2, 48, true);
        QCOMPARE(int(p.result.PowerSens), 60);
        // A 27-register detector has no board version to write or list.
        p = Restore::plan(device, file, QStringLiteral("Velta"), 1, 27, true);
        QCOMPARE(int(p.result.HWVersion), 123);
        QVERIFY(!field(p, "board_version"));
        // Below the production level neither the simulated value nor the
        // board version come over, even when copying is asked for.
        p = Restore::plan(device, file, QStringLiteral("User"), 2, 48, true);
        QCOMPARE(int(p.result.ImmitConc), 0);
        QCOMPARE(int(p.result.HWVersion), 123);
        QCOMPARE(field(p, "board_version")->kept, Restore::Kept::Level);
    }

    void plausibility_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("flagged");
        QTest::addColumn<int>("why");
        QTest::newRow("address 0") << "NetAddress" << 0 << "net_address" << int(Restore::Implausible::OutOfRange);
        QTest::newRow("address 248") << "NetAddress" << 248 << "net_address" << int(Restore::Implausible::OutOfRange);
        QTest::newRow("address 247") << "NetAddress" << 247 << "" << 0;
        QTest::newRow("line speed 3") << "NetSpeed" << 3 << "net_speed" << int(Restore::Implausible::UnknownCode);
        QTest::newRow("output type 4") << "PWMOptions" << 4 << "output_type" << int(Restore::Implausible::UnknownCode);
        QTest::newRow("discreteness 3") << "Config" << 0x0030 << "discreteness" << int(Restore::Implausible::UnknownCode);
        QTest::newRow("limit above range") << "Limit1" << 1001 << "limit1" << int(Restore::Implausible::AboveRangeMax);
        QTest::newRow("falling limit at range") << "Limit2" << (0x8000 | 1000) << "" << 0;
        QTest::newRow("delay 20001 ms") << "TimeLimitRST" << 20001 << "reset_delay" << int(Restore::Implausible::OutOfRange);
    }

    void plausibility()
    {
        QFETCH(QString, field);
        QFETCH(int, value);
        QFETCH(QString, flagged);
        QFETCH(int, why);
        ParamBlock b = detector();
        if (field == QLatin1String("NetAddress")) b.NetAddress = quint8(value);
        else if (field == QLatin1String("NetSpeed")) b.NetSpeed = quint8(value);
        else if (field == QLatin1String("PWMOptions")) b.PWMOptions = quint16(value);
        else if (field == QLatin1String("Config")) b.Config = quint16(value);
        else if (field == QLatin1String("Limit1")) b.Limit1 = quint16(value);
        else if (field == QLatin1String("Limit2")) b.Limit2 = quint16(value);
        else if (field == QLatin1String("TimeLimitRST")) b.TimeLimitRST = quint16(value);
        const QVector<Restore::Implausible> bad = Restore::checkPlausible(b);
        if (flagged.isEmpty()) {
            QVERIFY(bad.isEmpty());
            return;
        }
        QCOMPARE(bad.size(), 1);
        QCOMPARE(QLatin1String(bad[0].def->name), flagged);
        QCOMPARE(int(bad[0].why), why);
    }
};

QTEST_MAIN(TestRestorePlan)
#include "test_restoreplan.moc"

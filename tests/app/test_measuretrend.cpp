// The samples behind the measurement chart on their own: conversions into
// shown units, what is kept and dropped, the span, the axis ranges and the
// CSV text.  No widgets, no device.
#include "measuretrend.h"

#include <QtTest>
#include <ctime>

namespace {
const qint64 T0 = 1773489600000;   // 2026-03-14 12:00:00 UTC
const qint64 Minute = 60 * 1000;

// A detector in PPM with one decimal and a current output, thresholds 20.0
// (rising) and 40.0 (falling: the direction bit is not part of the value).
ParamBlock block(quint16 conc, quint16 tok)
{
    ParamBlock b{};
    b.Config = 0x0010;
    b.ConcVal = conc;
    b.CurrentTok = tok;
    b.DeviceTypeReg = 1;
    b.Limit1 = 200;
    b.Limit2 = 0x8000 | 400;
    return b;
}
} // namespace

class MeasureTrendTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void shownUnits();
    void keptAndDropped();
    void spanAndRanges();
    void csvText();
};

void MeasureTrendTest::initTestCase()
{
    // The CSV shows local time: make it UTC for the expected texts.
    qputenv("TZ", "UTC");
    tzset();
}

void MeasureTrendTest::shownUnits()
{
    MeasureTrend trend;
    trend.add(block(123, 4567), T0);
    QCOMPARE(trend.size(), 1);
    QCOMPARE(trend.newest().concentration, 12.3);
    QCOMPARE(trend.newest().output, 4.567);
    QCOMPARE(trend.newest().limit1, 20.0);
    QCOMPARE(trend.newest().limit2, 40.0);
    QCOMPARE(trend.unitName(), QStringLiteral("PPM"));
    QCOMPARE(trend.output(), MeasureTrend::Output::Current);

    // Voltage output: signed, in 0.01 mV; two decimals and %LEL.
    MeasureTrend voltage;
    ParamBlock b = block(12345, 0xFFFF);
    b.DeviceTypeReg = 2;
    b.Config = 0x0022;
    voltage.add(b, T0);
    QCOMPARE(voltage.newest().output, -0.01);
    QCOMPARE(voltage.newest().concentration, 123.45);
    QCOMPARE(voltage.newest().limit1, 2.0);
    QCOMPARE(voltage.output(), MeasureTrend::Output::Voltage);
    QCOMPARE(voltage.unitName(), QStringLiteral("%LEL"));
    QCOMPARE(voltage.decimals(), 2);
}

void MeasureTrendTest::keptAndDropped()
{
    MeasureTrend trend;
    // Two hours at one sample a minute: the last hour stays, up to the newest.
    for (int i = 0; i <= 120; ++i)
        trend.add(block(quint16(i), 4000), T0 + i * Minute, QStringLiteral("a"));
    QCOMPARE(trend.size(), 61);
    QCOMPARE(trend.at(0).msecs, T0 + 60 * Minute);
    QCOMPARE(trend.newest().concentration, 12.0);

    // A change of discreteness keeps the history (values are in concentration units).
    ParamBlock finer = block(1500, 4000);
    finer.Config = 0x0020;
    trend.add(finer, T0 + 121 * Minute, QStringLiteral("a"));
    QCOMPARE(trend.size(), 61);
    QCOMPARE(trend.at(0).msecs, T0 + 61 * Minute);
    QCOMPARE(trend.at(0).concentration, 6.1);
    QCOMPARE(trend.newest().concentration, 15.0);
    QCOMPARE(trend.newest().decimals, 2);

    // Another unit, another output kind, another device, or the clock set
    // back: the chart starts over.
    ParamBlock other = block(10, 4000);
    other.Config = 0x0011;
    trend.add(other, T0 + 122 * Minute, QStringLiteral("a"));
    QCOMPARE(trend.size(), 1);
    trend.add(block(10, 4000), T0 + 123 * Minute, QStringLiteral("a"));
    trend.add(block(11, 4000), T0 + 124 * Minute, QStringLiteral("a"));
    QCOMPARE(trend.size(), 2);
    ParamBlock volts = block(10, 4000);
    volts.DeviceTypeReg = 2;
    trend.add(volts, T0 + 125 * Minute, QStringLiteral("a"));
    QCOMPARE(trend.size(), 1);
    trend.add(volts, T0 + 126 * Minute, QStringLiteral("b"));
    QCOMPARE(trend.size(), 1);
    trend.add(volts, T0 + 127 * Minute, QStringLiteral("b"));
    trend.add(volts, T0 + 100 * Minute, QStringLiteral("b"));
    QCOMPARE(trend.size(), 1);
    QCOMPARE(trend.newest().msecs, T0 + 100 * Minute);

    // Many reads in little time: the number kept is bounded.
    MeasureTrend fast;
    for (int i = 0; i < MeasureTrend::MaxSamples + 10; ++i)
        fast.add(block(quint16(i), 4000), T0 + i);
    QCOMPARE(fast.size(), MeasureTrend::MaxSamples);
    QCOMPARE(fast.at(0).msecs, T0 + 10);

    trend.clear();
    QVERIFY(trend.isEmpty());
    QVERIFY(trend.span(Minute).isEmpty());

    // Failed reads break the line before the next sample (not before the first).
    trend.addGap();
    trend.add(block(1, 4000), T0, QStringLiteral("a"));
    trend.add(block(2, 4000), T0 + Minute, QStringLiteral("a"));
    trend.addGap();
    trend.addGap();
    trend.add(block(3, 4000), T0 + 2 * Minute, QStringLiteral("a"));
    trend.add(block(4, 4000), T0 + 3 * Minute, QStringLiteral("a"));
    QCOMPARE((QList<bool>{trend.at(0).gapBefore, trend.at(1).gapBefore, trend.at(2).gapBefore, trend.at(3).gapBefore}),
             (QList<bool>{false, false, true, false}));
}

void MeasureTrendTest::spanAndRanges()
{
    MeasureTrend trend;
    // Every 30 s for 30 minutes: concentration 0.0 .. 6.0, current 4..10 mA.
    for (int i = 0; i <= 60; ++i)
        trend.add(block(quint16(i), quint16(4000 + 100 * i)), T0 + i * 30 * 1000);

    const QVector<MeasureTrend::Sample> one = trend.span(Minute);
    QCOMPARE(one.size(), 3);   // 29:00, 29:30 and 30:00
    QCOMPARE(one.first().msecs, T0 + 29 * Minute);
    QCOMPARE(one.last().concentration, 6.0);
    QCOMPARE(trend.span(10 * Minute).size(), 21);
    QCOMPARE(trend.span(60 * Minute).size(), 61);

    // Concentration axis: zero, the curve and both thresholds, 5 % room.
    MeasureTrend::Range c = trend.concentrationRange(Minute);
    QVERIFY(c.low < 0 && c.low > -3);
    QVERIFY(c.high > 40.0 && c.high < 43);
    // Output axis: the current within the span only.
    MeasureTrend::Range o = trend.outputRange(Minute);
    QVERIFY2(o.low < 9.8 && o.low > 9.7, qPrintable(QString::number(o.low)));
    QVERIFY2(o.high > 10.0 && o.high < 10.1, qPrintable(QString::number(o.high)));
    o = trend.outputRange(60 * Minute);
    QVERIFY(o.low < 4.0 && o.high > 10.0);

    // A flat line still has an axis around it.
    MeasureTrend flat;
    flat.add(block(0, 4000), T0);
    o = flat.outputRange(Minute);
    QVERIFY(o.low < 4.0 && o.high > 4.0);
    // Jitter in the last digit stays small on the axis.
    flat.add(block(0, 4005), T0 + 1000);
    o = flat.outputRange(Minute);
    QVERIFY2(o.low <= 3.91 && o.high >= 4.09, qPrintable(QStringLiteral("%1..%2").arg(o.low).arg(o.high)));
}

void MeasureTrendTest::csvText()
{
    MeasureTrend trend;
    trend.add(block(5, 4000), T0 - 5 * Minute);   // outside a 1-minute span
    trend.add(block(123, 4567), T0);
    trend.add(block(130, 4600), T0 + 1500);
    QCOMPARE(trend.csv(Minute),
             QStringLiteral("time;concentration PPM;current mA;limit1 PPM;limit2 PPM\n"
                            "2026-03-14 12:00:00.000;12.3;4.567;20.0;40.0\n"
                            "2026-03-14 12:00:01.500;13.0;4.600;20.0;40.0\n"));
    QCOMPARE(trend.csv(10 * Minute).count(QLatin1Char('\n')), 4);

    MeasureTrend voltage;
    ParamBlock b = block(7, quint16(-250));
    b.DeviceTypeReg = 2;
    b.Config = 0x0003;
    voltage.add(b, T0);
    QCOMPARE(voltage.csv(Minute),
             QStringLiteral("time;concentration %VOL;voltage mV;limit1 %VOL;limit2 %VOL\n"
                            "2026-03-14 12:00:00.000;7;-2.50;200;400\n"));
}

QTEST_GUILESS_MAIN(MeasureTrendTest)
#include "test_measuretrend.moc"

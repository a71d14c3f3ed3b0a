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
    void thresholdSteps();
    void marks();
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

    // Failed reads break the line before the next sample (not before the
    // first), and so does a pause in reading longer than PauseMs.
    trend.addGap();
    trend.add(block(1, 4000), T0, QStringLiteral("a"));
    trend.add(block(2, 4000), T0 + 1000, QStringLiteral("a"));
    trend.addGap();
    trend.addGap();
    trend.add(block(3, 4000), T0 + 2000, QStringLiteral("a"));
    trend.add(block(4, 4000), T0 + 3000, QStringLiteral("a"));
    trend.add(block(5, 4000), T0 + 3000 + MeasureTrend::PauseMs, QStringLiteral("a"));
    trend.add(block(6, 4000), T0 + 4000 + 2 * MeasureTrend::PauseMs, QStringLiteral("a"));
    QList<bool> gaps;
    for (int i = 0; i < trend.size(); ++i)
        gaps << trend.at(i).gapBefore;
    QCOMPARE(gaps, (QList<bool>{false, false, true, false, false, true}));
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

    // Concentration axis: zero, the curve and both thresholds, 5 % room
    // above; none below zero while no reading goes there.
    MeasureTrend::Range c = trend.concentrationRange(Minute);
    QCOMPARE(c.low, 0.0);
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

    // No current, or a steady zero concentration: the axes start at zero.
    MeasureTrend zero;
    ParamBlock none = block(0, 0);
    none.Limit1 = 0;
    none.Limit2 = 0;
    zero.add(none, T0);
    zero.add(none, T0 + 1000);
    o = zero.outputRange(Minute);
    QCOMPARE(o.low, 0.0);
    QVERIFY(o.high >= 0.2);
    c = zero.concentrationRange(Minute);
    QCOMPARE(c.low, 0.0);
    QVERIFY(c.high > 0);
    // A reading below zero takes the axis below it: a voltage output (the
    // concentration is never below zero, the register has no sign).
    MeasureTrend volts;
    ParamBlock v = block(0, quint16(-500));
    v.DeviceTypeReg = 2;
    volts.add(v, T0);
    QVERIFY(volts.outputRange(Minute).low < -5.0);
}

void MeasureTrendTest::thresholdSteps()
{
    MeasureTrend trend;
    QVERIFY(trend.limitSteps(T0, T0 + Minute).isEmpty());
    // Thresholds 20/40, then 25/40 from the 10th second, then 25/35 from the 20th.
    for (int i = 0; i < 30; ++i) {
        ParamBlock b = block(quint16(i), 4000);
        if (i >= 10)
            b.Limit1 = 250;
        if (i >= 20)
            b.Limit2 = 350;
        trend.add(b, T0 + i * 1000);
    }
    auto text = [](const QVector<MeasureTrend::LimitStep> &steps) {
        QStringList out;
        for (const MeasureTrend::LimitStep &s : steps)
            out << QStringLiteral("%1:%2/%3").arg((s.msecs - T0) / 1000).arg(s.limit1).arg(s.limit2);
        return out.join(QLatin1Char(' '));
    };
    QCOMPARE(text(trend.limitSteps(T0, T0 + 29000)), QStringLiteral("0:20/40 10:25/40 20:25/35"));
    // From a moment between reads: the thresholds of the read before it.
    QCOMPARE(text(trend.limitSteps(T0 + 12500, T0 + 29000)), QStringLiteral("12:25/40 20:25/35"));
    // Before the first read: those of the first.
    QCOMPARE(text(trend.limitSteps(T0 - 5000, T0 + 15000)), QStringLiteral("-5:20/40 10:25/40"));
    // A view that ends before a change does not show it.
    QCOMPARE(text(trend.limitSteps(T0 + 21000, T0 + 40000)), QStringLiteral("21:25/35"));
}

void MeasureTrendTest::marks()
{
    MeasureTrend trend;
    trend.add(block(1, 4000), T0, QStringLiteral("a"));
    trend.addMark(T0 + 2000, QStringLiteral("Газ"));
    trend.addMark(T0 + 1000, QStringLiteral("Ноль"));
    QVector<MeasureTrend::Mark> m = trend.marks(T0, T0 + Minute);
    QCOMPARE(m.size(), 2);
    QCOMPARE(m.at(0).label, QStringLiteral("Ноль"));
    QCOMPARE(m.at(1).msecs, T0 + 2000);
    QCOMPARE(trend.marks(T0 + 1500, T0 + Minute).size(), 1);
    // They age out with the samples...
    trend.add(block(2, 4000), T0 + 1500 + MeasureTrend::KeepMs, QStringLiteral("a"));
    QCOMPARE(trend.marks(T0, T0 + 2 * MeasureTrend::KeepMs).size(), 1);
    // ...and go when the samples start over, or are cleared.
    trend.add(block(2, 4000), T0 + 2000 + MeasureTrend::KeepMs, QStringLiteral("b"));
    QVERIFY(trend.marks(T0, T0 + 2 * MeasureTrend::KeepMs).isEmpty());
    trend.addMark(T0 + 3000 + MeasureTrend::KeepMs, QStringLiteral("x"));
    trend.clear();
    QVERIFY(trend.marks(T0, T0 + 2 * MeasureTrend::KeepMs).isEmpty());
}

void MeasureTrendTest::csvText()
{
    MeasureTrend trend;
    ParamBlock b = block(5, 4000);
    b.SerialNum = 1234;
    trend.add(b, T0 - 5 * Minute);   // before the range
    b = block(123, 4567);
    b.SerialNum = 1234;
    trend.add(b, T0);
    b = block(130, 4600);
    b.SerialNum = 1234;
    trend.add(b, T0 + 1500);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    // Without a translation: the names as the program has them in Russian.
    QCOMPARE(trend.csv(T0 - Minute, T0 + 1500, russian),
             QStringLiteral("Заводской номер;TL02ID0001234\n"
                            "Дата;2026-03-14\n"
                            "Время;Концентрация, PPM;Ток, мА;Порог 1, PPM;Порог 2, PPM\n"
                            "2026-03-14 12:00:00.000;12,3;4,567;20,0;40,0\n"
                            "2026-03-14 12:00:01.500;13,0;4,600;20,0;40,0\n"));
    QCOMPARE(trend.csv(T0 - 10 * Minute, T0 + 1500, russian).count(QLatin1Char('\n')), 6);
    // A range that ends earlier leaves out what came after.
    QCOMPARE(trend.csv(T0 - 10 * Minute, T0, russian).count(QLatin1Char('\n')), 5);

    // Large values keep no group separator; a point in English.
    MeasureTrend voltage;
    ParamBlock v = block(12345, quint16(-250));
    v.DeviceTypeReg = 2;
    v.Config = 0x0013;
    v.SerialNum = 7;
    voltage.add(v, T0);
    QCOMPARE(voltage.csv(T0 - Minute, T0, QLocale(QLocale::English, QLocale::UnitedStates)),
             QStringLiteral("Заводской номер;TL02UD0000007\n"
                            "Дата;2026-03-14\n"
                            "Время;Концентрация, %VOL;Напряжение, мВ;Порог 1, %VOL;Порог 2, %VOL\n"
                            "2026-03-14 12:00:00.000;1234.5;-2.50;20.0;40.0\n"));
}

QTEST_GUILESS_MAIN(MeasureTrendTest)
#include "test_measuretrend.moc"

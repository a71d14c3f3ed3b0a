// The calibration arithmetic on its own: no widgets, no device.
#include "calibrationmath.h"

#include <QtTest>
#include <cmath>

using namespace CalibrationMath;

Q_DECLARE_METATYPE(CalibrationMath::Point)
Q_DECLARE_METATYPE(CalibrationMath::SensorCodes)
Q_DECLARE_METATYPE(CalibrationMath::Range)

namespace {

// Zero code 8000, 20 mA code 40000, span gas 50.0 (500 raw) at 24000, range
// 0..100.0 (0..1000 raw): the constants of the page tests' detector.
const SensorCodes Stored{8000, 40000, 24000, 500};
const Range Percent{0, 1000};

QString codesText(const SensorCodes &c)
{
    return QStringLiteral("%1 %2 %3 %4").arg(c.code4m).arg(c.code20m).arg(c.adcCalib).arg(c.concCalib);
}

} // namespace

class CalibrationMathTest : public QObject
{
    Q_OBJECT
private slots:
    void gas_data();
    void gas();
    void gasRefusals_data();
    void gasRefusals();
    void input_data();
    void input();
    void inputRefusals();
    void outputAndCodeRange();
    void testCurrent();
};

void CalibrationMathTest::gas_data()
{
    QTest::addColumn<bool>("zero");
    QTest::addColumn<SensorCodes>("before");
    QTest::addColumn<Range>("range");
    QTest::addColumn<int>("adc");
    QTest::addColumn<int>("gas");          // span gas for a span calibration (raw)
    QTest::addColumn<SensorCodes>("after");

    // Zero: the line through the new zero and the stored span point, at
    // the upper range value: 8100 + 1000 / 500 * (24000 - 8100).
    QTest::newRow("zero") << true << Stored << Percent << 8100 << 0 << SensorCodes{8100, 39900, 24000, 500};
    // No span gas stored: half the upper range value stands in and is kept.
    QTest::newRow("zero without span gas")
        << true << SensorCodes{8000, 40000, 24000, 0} << Percent << 8100 << 0 << SensorCodes{8100, 39900, 24000, 500};
    // Range 20.0..100.0, span gas 60.0 at 20100: 8100 + 800 / 400 * 12000.
    QTest::newRow("zero above range minimum")
        << true << SensorCodes{8000, 40000, 20100, 600} << Range{200, 1000} << 8100 << 0
        << SensorCodes{8100, 32100, 20100, 600};
    // Span 40.0 at 28000, the zero kept: 8000 + 1000 / 400 * 20000.
    QTest::newRow("span") << false << Stored << Percent << 28000 << 400 << SensorCodes{8000, 58000, 28000, 400};
    QTest::newRow("span at zero gas") << false << Stored << Percent << 20100 << 0 << SensorCodes{8000, 32200, 20100, 500};
    // A sensor whose code falls with the gas: 8000 + 2.5 * (7000 - 8000).
    QTest::newRow("span below zero code") << false << Stored << Percent << 7000 << 400 << SensorCodes{8000, 5500, 7000, 400};
    // Single precision as on the device: 8000 + 1000 / 722 * 18946 is
    // 34240.997 exactly, but 34241 in float.
    QTest::newRow("span in single precision")
        << false << Stored << Percent << 26946 << 722 << SensorCodes{8000, 34241, 26946, 722};
}

void CalibrationMathTest::gas()
{
    QFETCH(bool, zero);
    QFETCH(SensorCodes, before);
    QFETCH(Range, range);
    QFETCH(int, adc);
    QFETCH(int, gas);
    QFETCH(SensorCodes, after);

    SensorCodes codes = before;
    const Refusal r = zero ? zeroCalibration(codes, range, quint16(adc))
                           : spanCalibration(codes, range, quint16(adc), quint16(gas));
    QVERIFY(r == Refusal::None);
    QCOMPARE(codesText(codes), codesText(after));
}

void CalibrationMathTest::gasRefusals_data()
{
    QTest::addColumn<bool>("zero");
    QTest::addColumn<SensorCodes>("before");
    QTest::addColumn<Range>("range");
    QTest::addColumn<int>("adc");
    QTest::addColumn<int>("gas");
    QTest::addColumn<int>("why");

    QTest::newRow("zero, empty range")
        << true << Stored << Range{500, 500} << 8100 << 0 << int(Refusal::EmptyRange);
    QTest::newRow("zero, stored gas at range minimum")
        << true << SensorCodes{8000, 40000, 24000, 200} << Range{200, 1000} << 8100 << 0 << int(Refusal::GasAtRangeMinimum);
    QTest::newRow("zero, half range at range minimum")
        << true << SensorCodes{8000, 40000, 24000, 0} << Range{500, 1000} << 8100 << 0 << int(Refusal::GasAtRangeMinimum);
    QTest::newRow("span, gas at range minimum")
        << false << Stored << Range{200, 1000} << 28000 << 200 << int(Refusal::GasAtRangeMinimum);
    QTest::newRow("span, empty range")
        << false << Stored << Range{1000, 1000} << 28000 << 400 << int(Refusal::EmptyRange);
    // 8000 + 10 * (1000 - 8000) is below 0; 8000 + 10 * 7000 above 65535.
    QTest::newRow("span, code below 0")
        << false << Stored << Percent << 1000 << 100 << int(Refusal::CodeOutOfRange);
    QTest::newRow("span, code above 65535")
        << false << Stored << Percent << 15000 << 100 << int(Refusal::CodeOutOfRange);
    QTest::newRow("zero, code above 65535")
        << true << SensorCodes{8000, 40000, 60000, 100} << Percent << 100 << 0 << int(Refusal::CodeOutOfRange);
}

void CalibrationMathTest::gasRefusals()
{
    QFETCH(bool, zero);
    QFETCH(SensorCodes, before);
    QFETCH(Range, range);
    QFETCH(int, adc);
    QFETCH(int, gas);
    QFETCH(int, why);

    SensorCodes codes = before;
    const Refusal r = zero ? zeroCalibration(codes, range, quint16(adc))
                           : spanCalibration(codes, range, quint16(adc), quint16(gas));
    QCOMPARE(int(r), why);
    QCOMPARE(codesText(codes), codesText(before));
    // The check the page makes before it measures says the same about the range.
    if (why != int(Refusal::CodeOutOfRange))
        QCOMPARE(int(checkGasRange(range, spanGasOrHalfRange(zero ? before.concCalib : quint16(gas), range.max))), why);
}

void CalibrationMathTest::input_data()
{
    QTest::addColumn<SensorCodes>("before");
    QTest::addColumn<Range>("range");
    QTest::addColumn<bool>("lowPoint");
    QTest::addColumn<int>("adc");
    QTest::addColumn<double>("current");
    QTest::addColumn<Point>("low");          // the points before
    QTest::addColumn<Point>("high");
    QTest::addColumn<SensorCodes>("after");
    QTest::addColumn<Point>("newLow");
    QTest::addColumn<Point>("newHigh");

    // 4 mA point measured at 4.1 mA, the 20 mA point kept: slope 31600 /
    // 15.9, code at 4 mA 8201.26; ADCCodeCalib halfway (span gas 50.0).
    QTest::newRow("4 mA") << Stored << Percent << true << 8400 << 4.1 << Point{8000, 4.0} << Point{40000, 20.0}
                          << SensorCodes{8201, 40000, 24100, 500} << Point{8400, 4.1} << Point{40000, 20.0};
    // Then the 20 mA point at 19.8 mA with 39500: slope 31100 / 15.7.
    QTest::newRow("20 mA") << SensorCodes{8201, 40000, 24100, 500} << Percent << false << 39500 << 19.8
                           << Point{8400, 4.1} << Point{40000, 20.0} << SensorCodes{8201, 39896, 24048, 500}
                           << Point{8400, 4.1} << Point{39500, 19.8};
    // Both points at the same current: the low code at 4 mA, the high at 20.
    QTest::newRow("equal currents") << Stored << Percent << false << 30000 << 4.0 << Point{8000, 4.0}
                                    << Point{40000, 20.0} << SensorCodes{8000, 30000, 19000, 500}
                                    << Point{8000, 4.0} << Point{30000, 4.0};
    // A 4 mA code above the 20 mA code: both points take it.
    QTest::newRow("low point above high") << Stored << Percent << true << 45000 << 4.0 << Point{8000, 4.0}
                                          << Point{40000, 20.0} << SensorCodes{45000, 45000, 45000, 500}
                                          << Point{45000, 4.0} << Point{45000, 20.0};
    QTest::newRow("high point below low") << Stored << Percent << false << 7000 << 20.0 << Point{8000, 4.0}
                                          << Point{40000, 20.0} << SensorCodes{7000, 7000, 7000, 500}
                                          << Point{7000, 4.0} << Point{7000, 20.0};
    // No span gas stored: half the upper range value, stored too.
    QTest::newRow("no span gas") << SensorCodes{8000, 40000, 0, 0} << Range{0, 1000} << true << 8000 << 4.0
                                 << Point{8000, 4.0} << Point{40000, 20.0} << SensorCodes{8000, 40000, 24000, 500}
                                 << Point{8000, 4.0} << Point{40000, 20.0};
    // The share of the range in single precision: 8000 + 32000 * 624 / 9999
    // is 9996.9997, 9997 in float.
    QTest::newRow("share in single precision")
        << SensorCodes{8000, 40000, 0, 624} << Range{0, 9999} << true << 8000 << 4.0 << Point{8000, 4.0}
        << Point{40000, 20.0} << SensorCodes{8000, 40000, 9997, 624} << Point{8000, 4.0} << Point{40000, 20.0};
}

void CalibrationMathTest::input()
{
    QFETCH(SensorCodes, before);
    QFETCH(Range, range);
    QFETCH(bool, lowPoint);
    QFETCH(int, adc);
    QFETCH(double, current);
    QFETCH(Point, low);
    QFETCH(Point, high);
    QFETCH(SensorCodes, after);
    QFETCH(Point, newLow);
    QFETCH(Point, newHigh);

    SensorCodes codes = before;
    QVERIFY(inputCalibration(codes, range, {quint16(adc), current}, lowPoint, low, high) == Refusal::None);
    QCOMPARE(codesText(codes), codesText(after));
    QCOMPARE(low.code, newLow.code);
    QCOMPARE(low.current, newLow.current);
    QCOMPARE(high.code, newHigh.code);
    QCOMPARE(high.current, newHigh.current);
}

void CalibrationMathTest::inputRefusals()
{
    // An empty range, and a 4 mA point taken at 19.9 mA whose line runs far
    // below 0 at 4 mA (310000 codes per mA): the codes and the points stay
    // as they were.
    const Range ranges[] = {{300, 300}, Percent};
    const Point measured[] = {{8400, 4.1}, {9000, 19.9}};
    const Refusal expected[] = {Refusal::EmptyRange, Refusal::CodeOutOfRange};
    for (int i = 0; i < 2; ++i) {
        SensorCodes codes = Stored;
        Point low{8000, 4.0}, high{40000, 20.0};
        QVERIFY(inputCalibration(codes, ranges[i], measured[i], true, low, high) == expected[i]);
        QCOMPARE(codesText(codes), codesText(Stored));
        QCOMPARE(low.code, quint16(8000));
        QCOMPARE(low.current, 4.0);
        QCOMPARE(high.code, quint16(40000));
        QCOMPARE(high.current, 20.0);
    }
    QVERIFY(checkInputRange({300, 300}) == Refusal::EmptyRange);
    QVERIFY(checkInputRange(Percent) == Refusal::None);
}

void CalibrationMathTest::outputAndCodeRange()
{
    // 4 mA point at 4.2 mA with 1100, high point (5000, 20.0): slope
    // 3900 / 15.8, 1050.63 at 4 mA.
    quint16 code4 = 1000, code20 = 5000;
    Point low{1000, 4.0}, high{5000, 20.0};
    QVERIFY(outputCalibration(code4, code20, {1100, 4.2}, true, low, high) == Refusal::None);
    QCOMPARE(code4, quint16(1050));
    QCOMPARE(code20, quint16(5000));
    QCOMPARE(low.code, quint16(1100));
    // 20 mA point at 19.5 mA with 4900: 1050.33 and 5024.18.
    QVERIFY(outputCalibration(code4, code20, {4900, 19.5}, false, low, high) == Refusal::None);
    QCOMPARE(code4, quint16(1050));
    QCOMPARE(code20, quint16(5024));
    // A line that leaves 0..65535 at 20 mA: refused, nothing changes.
    QVERIFY(outputCalibration(code4, code20, {60000, 5.0}, false, low, high) == Refusal::CodeOutOfRange);
    QCOMPARE(code4, quint16(1050));
    QCOMPARE(code20, quint16(5024));
    QCOMPARE(high.code, quint16(4900));
    QCOMPARE(high.current, 19.5);

    quint16 c = 7;
    QVERIFY(codeFrom(65535.9, &c) && c == 65535);
    QVERIFY(codeFrom(-0.9, &c) && c == 0);
    c = 7;
    QVERIFY(!codeFrom(65536.0, &c) && !codeFrom(-1.0, &c) && !codeFrom(std::nan(""), &c));
    QCOMPARE(c, quint16(7));
}

void CalibrationMathTest::testCurrent()
{
    // 1/16 of the span 8000..40000 (2000 codes) per mA above 4 mA.
    QCOMPARE(testCurrentCode(8000, 40000, 4.0), quint16(8000));
    QCOMPARE(testCurrentCode(8000, 40000, 12.0), quint16(24000));
    QCOMPARE(testCurrentCode(8000, 40000, 4.5), quint16(9000));
    QCOMPARE(testCurrentCode(8000, 40000, 3.0), quint16(6000));
    QCOMPARE(testCurrentCode(8000, 40000, 20.0), quint16(40000));
    // Truncated, and kept within the register.
    QCOMPARE(testCurrentCode(8000, 40000, 4.0009), quint16(8001));
    QCOMPARE(testCurrentCode(8000, 40000, 0.0), quint16(0));
    QCOMPARE(testCurrentCode(60000, 65535, 30.0), quint16(65535));
    // A falling span counts down.
    QCOMPARE(testCurrentCode(40000, 8000, 12.0), quint16(24000));
}

QTEST_APPLESS_MAIN(CalibrationMathTest)
#include "test_calibrationmath.moc"

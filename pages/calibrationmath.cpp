#include "calibrationmath.h"

#include "conversions.h"

#include <cmath>

namespace CalibrationMath {

bool codeFrom(double value, quint16 *code)
{
    const double t = std::trunc(value);
    if (!(t >= 0.0 && t <= 65535.0))   // also refuses NaN
        return false;
    *code = quint16(t);
    return true;
}

quint16 spanGasOrHalfRange(quint16 concCalib, quint16 rangeMax)
{
    return concCalib == 0 ? quint16(rangeMax / 2) : concCalib;
}

Refusal checkGasRange(Range range, quint16 concCalib)
{
    if (range.max == range.min)
        return Refusal::EmptyRange;
    if (concCalib == range.min)
        return Refusal::GasAtRangeMinimum;
    return Refusal::None;
}

Refusal checkInputRange(Range range)
{
    return range.max == range.min ? Refusal::EmptyRange : Refusal::None;
}

namespace {

// `next` with its code at the upper range value taken from the line through
// (lower range value, code4m) and (concCalib, adcCalib); single precision as
// on the device.  `codes` becomes it when the code fits.
Refusal gasLine(SensorCodes &codes, Range range, SensorCodes next)
{
    next.concCalib = spanGasOrHalfRange(next.concCalib, range.max);
    const Refusal problem = checkGasRange(range, next.concCalib);
    if (problem != Refusal::None)
        return problem;
    const float k = float(int(range.max) - int(range.min)) / float(int(next.concCalib) - int(range.min));
    const float line20 = float(next.code4m) + k * float(int(next.adcCalib) - int(next.code4m));
    if (!codeFrom(line20, &next.code20m))
        return Refusal::CodeOutOfRange;
    codes = next;
    return Refusal::None;
}

} // namespace

Refusal zeroCalibration(SensorCodes &codes, Range range, quint16 adc)
{
    SensorCodes next = codes;
    next.code4m = adc;
    return gasLine(codes, range, next);
}

Refusal spanCalibration(SensorCodes &codes, Range range, quint16 adc, quint16 gas)
{
    SensorCodes next = codes;
    next.adcCalib = adc;
    next.concCalib = gas;
    return gasLine(codes, range, next);
}

void takePoint(const Point &measured, bool lowPoint, Point &low, Point &high)
{
    if (lowPoint) {
        low = measured;
        if (low.code > high.code)
            high.code = low.code;
    } else {
        high = measured;
        if (high.code < low.code)
            low.code = high.code;
    }
}

bool fitLine(const Point &low, const Point &high, quint16 *code4, quint16 *code20)
{
    if (high.current == low.current) {
        *code4 = low.code;
        *code20 = high.code;
        return true;
    }
    const double slope = (double(high.code) - double(low.code)) / (high.current - low.current);
    quint16 c4 = 0, c20 = 0;
    if (!codeFrom(high.code - (high.current - 4.0) * slope, &c4)
        || !codeFrom(high.code - slope * (high.current - 20.0), &c20))
        return false;
    *code4 = c4;
    *code20 = c20;
    return true;
}

Refusal inputCalibration(SensorCodes &codes, Range range, const Point &measured, bool lowPoint, Point &low,
                         Point &high)
{
    const Refusal problem = checkInputRange(range);
    if (problem != Refusal::None)
        return problem;
    const quint16 concCalib = spanGasOrHalfRange(codes.concCalib, range.max);
    const float ratio = float(int(concCalib) - int(range.min)) / float(int(range.max) - int(range.min));
    Point newLow = low, newHigh = high;
    takePoint(measured, lowPoint, newLow, newHigh);
    quint16 code4 = 0, code20 = 0, adcCalib = 0;
    if (!fitLine(newLow, newHigh, &code4, &code20)
        || !codeFrom(float(code4) + float(int(code20) - int(code4)) * ratio, &adcCalib))
        return Refusal::CodeOutOfRange;
    low = newLow;
    high = newHigh;
    codes = {code4, code20, adcCalib, concCalib};
    return Refusal::None;
}

Refusal outputCalibration(quint16 &code4m, quint16 &code20m, const Point &measured, bool lowPoint, Point &low,
                          Point &high)
{
    Point newLow = low, newHigh = high;
    takePoint(measured, lowPoint, newLow, newHigh);
    quint16 code4 = 0, code20 = 0;
    if (!fitLine(newLow, newHigh, &code4, &code20))
        return Refusal::CodeOutOfRange;
    low = newLow;
    high = newHigh;
    code4m = code4;
    code20m = code20;
    return Refusal::None;
}

quint16 testCurrentCode(quint16 code4m, quint16 code20m, double current)
{
    return Conv::rawFromDouble(code4m + (double(code20m) - double(code4m)) * 0.0625 * (current - 4.0));
}

} // namespace CalibrationMath

// The arithmetic of the calibration page: the gas zero and span, the current
// input's 4 mA and 20 mA points, the current output's fit and the free test
// current.  No widgets and no exchanges: the page reads its controls and the
// device and hands the values in.
//
// Every calculation either gives all its results or refuses with a reason and
// changes nothing, so that a code that no register holds never reaches the
// parameter block.
#pragma once

#include <QtGlobal>

namespace CalibrationMath {

// A calibration point: the code measured and the current (mA) it was
// measured at.
struct Point {
    quint16 code;
    double current;
};

// The sensor's calibration constants in the parameter block.
struct SensorCodes {
    quint16 code4m;      // ADCCode4m: code at the lower range value (zero gas, 4 mA)
    quint16 code20m;     // ADCCode20m: code at the upper range value (20 mA)
    quint16 adcCalib;    // ADCCodeCalib: code measured with the span gas
    quint16 concCalib;   // ConcCalib: span gas concentration (raw)
};

// The measuring range, raw (ValueMin, ValueMax).
struct Range {
    quint16 min;
    quint16 max;
};

enum class Refusal {
    None,
    EmptyRange,          // the upper and lower range values are equal
    GasAtRangeMinimum,   // the span gas equals the lower range value
    CodeOutOfRange,      // a computed code lies outside 0..65535
};

// A computed code truncated to an integer, when it lies in 0..65535 (NaN
// does not).
bool codeFrom(double value, quint16 *code);

// The span gas the formulas use: a stored 0 stands for half the upper range
// value (integer division).
quint16 spanGasOrHalfRange(quint16 concCalib, quint16 rangeMax);

// Whether the gas formulas can divide by the range and by span gas - lower
// range value; `concCalib` as the formulas use it (spanGasOrHalfRange).
Refusal checkGasRange(Range range, quint16 concCalib);
// Whether the input formulas can divide by the range.
Refusal checkInputRange(Range range);

// Zero calibration with the sensor at code `adc`: the zero code becomes
// `adc`; the stored span point (ADCCodeCalib at ConcCalib) is kept and the
// code at the upper range value follows the line through both, in single
// precision.  A ConcCalib of 0 is replaced by half the upper range value.
Refusal zeroCalibration(SensorCodes &codes, Range range, quint16 adc);
// Span calibration with the sensor at code `adc` under span gas `gas` (raw):
// the span point becomes (gas, adc), a gas of 0 half the upper range value;
// the zero code is kept.
Refusal spanCalibration(SensorCodes &codes, Range range, quint16 adc, quint16 gas);

// The measured point replaces the low (4 mA) or the high (20 mA) point; the
// other one's code follows it where they would cross.
void takePoint(const Point &measured, bool lowPoint, Point &low, Point &high);

// Two-point line through `low` and `high`, in double precision: the codes at
// 4 mA and at 20 mA, truncated.  Points at equal currents give the low
// point's code at 4 mA and the high point's at 20 mA.  False, with the
// outputs untouched, when a code lies outside 0..65535.
bool fitLine(const Point &low, const Point &high, quint16 *code4, quint16 *code20);

// Current input calibration: `measured` replaces the low or the high point
// (takePoint), the fit through both gives the codes at 4 and 20 mA, and
// ADCCodeCalib is put on the new line at ConcCalib's share of the range (single
// precision); a ConcCalib of 0 becomes half the upper range value.  On a
// refusal neither the points nor the codes change.
Refusal inputCalibration(SensorCodes &codes, Range range, const Point &measured, bool lowPoint, Point &low,
                         Point &high);

// Current output calibration: as the input's, giving the output codes for
// 4 mA and 20 mA (PWMCode4m, PWMCode20m).
Refusal outputCalibration(quint16 &code4m, quint16 &code20m, const Point &measured, bool lowPoint, Point &low,
                          Point &high);

// The code the device simulates for a free test current: 1/16 of the span
// between the 4 mA and 20 mA codes per mA above 4 mA, truncated and kept in
// 0..65535.
quint16 testCurrentCode(quint16 code4m, quint16 code20m, double current);

} // namespace CalibrationMath

// Conversions between parameter-block fields and the values the pages show.
// The pages, the gas library and tlctl all go through these.
#pragma once

#include "deviceparams.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Conv {

// Config (holding 0x1008) bit fields.
inline int unitIndex(quint16 config) { return config & 0x3; }
inline int decimals(quint16 config) { return (config >> 4) & 0x3; }
// Display divisor 1, 10, 100 or 1000 from Config bits 4-5.
quint16 scaleFromConfig(quint16 config);
inline quint16 withUnit(quint16 config, int index) { return quint16((config & ~0x0003) | (index & 0x3)); }
inline quint16 withDecimals(quint16 config, int index) { return quint16((config & 0xFFCF) | ((index & 0x3) << 4)); }
inline bool autoReset1(quint16 config) { return config & (1u << 9); }
inline bool autoReset2(quint16 config) { return config & (1u << 10); }
inline quint16 withBit(quint16 word, int bit, bool on) { return on ? quint16(word | (1u << bit)) : quint16(word & ~(1u << bit)); }

// Rounds to the nearest integer, halves to even.
double roundHalfEven(double v);

// Scaled field: stored = shown x scale rounded half to even, kept in 16 bits.
quint16 toScaled(double shown, quint16 scale);
inline double fromScaled(quint16 stored, quint16 scale) { return double(stored) / (scale ? scale : 1); }
inline double maxScaled(quint16 scale) { return 65535.0 / (scale ? scale : 1); }

// Thresholds: bits 0-14 scaled value, bit 15 direction (1 = decreasing).
inline bool limitDecreasing(quint16 word) { return word & 0x8000; }
inline double limitShown(quint16 word, quint16 scale) { return double(word & 0x7FFF) / (scale ? scale : 1); }
inline double maxLimit(quint16 scale) { return 32767.0 / (scale ? scale : 1); }
// New value into bits 0-14 (at most 32767), bit 15 kept.
quint16 limitWithValue(quint16 word, double shown, quint16 scale);
inline quint16 limitWithDirection(quint16 word, bool decreasing)
{ return decreasing ? quint16(word | 0x8000) : quint16(word & 0x7FFF); }

// A change of discreteness (Config bits 4-5) to `newIndex` (0..3) that keeps
// every value in concentration units where it is: the stored value of
// ValueMin, ValueMax, Limit1, Limit2 (bits 0-14; the direction bit stays),
// HisterezisLimit, DeadZone, DeadZone2 and ConcCalib becomes
// old x newScale / oldScale, rounded half to even, and Config takes the new
// index.  When a converted value would not fit its register (65535; 32767
// for the 15-bit threshold values) nothing changes, the names of those
// values (as the parameter table calls them: "range_max", "limit1", ...)
// go into `tooLarge` and the result is false.
bool rescaleForDecimals(ParamBlock &block, int newIndex, QStringList *tooLarge = nullptr);

// Delays: stored in ms, shown in whole seconds.
inline int delaySeconds(quint16 ms) { return ms / 1000; }
quint16 delayFromSeconds(double seconds);

// Raw fields: value truncated to an integer.
quint16 rawFromDouble(double v);
// Serial number: truncated to a signed 32-bit integer.
qint32 serialFromDouble(double v);

// Texts of the measurement page.
QString serialText(qint32 serial, quint16 deviceTypeReg);  // "TL02ID%07d" / "TL02UD%07d", at most 15 chars
QString boardVersionText(quint16 hwVersion);                // "%d.%02d"
// A fixed-capacity, NUL-terminated identification field as text (UTF-8).
QString fieldText(const char *field, int capacity);

// Leading decimal number of a text, locale independent; 0 when there is none.
double leadingNumber(const char *text, int capacity);
// Number of holding registers for the block read and write: 27 or 48.
quint16 writeCountFor(const char *firmwareVersion, int capacity, qint16 deviceType);

} // namespace Conv

// The detector's parameters by name, with the range of values each takes,
// and the conversions between what a technician types or reads and the
// parameter block.  Every conversion goes through Conv:: (conversions.h), so
// the values are the ones the program's pages show and store.  The pages
// take their limits from here, tlctl `set` refuses what lies outside them,
// and a parameter file is checked against them before it reaches a device.
#pragma once

#include "deviceparams.h"

#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Params {

// Who may change a parameter (tlctl `set`, and what a parameter file may
// bring in).
enum class SetLevel {
    ReadOnly,      // shown only (the program has no control for it either)
    AnyLogin,      // any access level, as on the settings page
    Production,    // only "Velta": serial number, calibration codes, simulation
};

enum class Kind {
    Scaled,        // field = shown x Scale (range limits, hysteresis, dead zones, ...)
    LimitValue,    // bits 0-14 of Limit1/Limit2, scaled
    LimitDirection,// bit 15 of Limit1/Limit2: increasing | decreasing
    AutoReset,     // Config bit 9 / 10: on | off
    Delay,         // milliseconds, shown in whole seconds
    Unit,          // Config bits 0-1
    Discreteness,  // Config bits 4-5
    OutputType,    // PWMOptions, index into OptionNames
    Raw,           // 16-bit code, integer
    NetAddress,    // byte at 0x100E
    NetSpeed,      // byte at 0x100D (no list to choose from)
    Serial,        // signed 32 bits over 0x100F/0x1010
    Switch,        // 0 / 1: on | off
    BoardVersion,  // version x 100
    Command,       // the command register
};

struct ParamDef {
    const char *name;
    quint16 reg;        // holding register the value lives in
    Kind kind;
    SetLevel level;
    int bit;            // Config bit of AutoReset kinds, else -1
    double max;         // upper limit of Raw/NetAddress/Serial/Delay kinds (lower is 0)
    const char *label;  // what the value is, for --help and the text listing
};

// What `read` shows for one value.
struct Shown {
    QJsonValue value;   // number, text or true/false
    QString text;       // as the pages show it, without the unit
    QString unit;       // "PPM", "s", "mA", ... or empty
    quint16 raw = 0;    // the whole register
};

// Holding-block parameters in the order `read` lists them.
const QVector<ParamDef> &parameters();
const ParamDef *findParameter(const QString &name);

// Value of a holding register as the block holds it (its place, low byte
// first); 0 for a register bound to no place.
quint16 holdingValue(const ParamBlock &block, quint16 reg);
// Puts a value into a holding register's place; nothing for a register
// bound to no place.
void setHoldingValue(ParamBlock &block, quint16 reg, quint16 value);

Shown show(const ParamDef &def, const ParamBlock &block);

// Applies one "NAME=VALUE" to the block with the page's conversions and
// limits.  The Scale is taken from the block's Config at the time of the
// call.  Returns an empty string on success, else what is wrong with the
// value (for a usage error).
QString apply(const ParamDef &def, const QString &value, ParamBlock &block);

// Range of a parameter in the units the pages show: for scaled kinds under
// `config` (its discreteness), delays in whole seconds, codes as indices.
struct Range {
    double min = 0;
    double max = 0;
};
Range shownRange(const ParamDef &def, quint16 config);
// Number of known choices of a code kind (unit, discreteness, output type,
// line speed); 0 for the other kinds.
int choiceCount(const ParamDef &def);
// Whether the block's value of the parameter lies within its range (a code:
// a known choice).  Kinds without a range (direction, switches, versions)
// always pass.
bool valueInRange(const ParamDef &def, const ParamBlock &block);

// The limits of a settable parameter, for messages and --help (depends on
// the block's Config for scaled values).
QString allowedValues(const ParamDef &def, const ParamBlock &block);

// One rule for every way thresholds reach a device: a threshold whose value
// (bits 0-14 of Limit1 or Limit2) lies above the upper range value (ValueMax,
// stored in the same scale) can never trip.  The settings page's save, tlctl
// set, a parameter file (program and tlctl restore), tlctl gas apply and the
// library dialog all refuse a block that breaks it, and send nothing.  It is
// the combination that counts: lowering the range below a threshold breaks
// it as much as raising the threshold.
bool thresholdAboveRange(quint16 limitWord, quint16 rangeMax);
// The threshold parameters ("limit1", "limit2") of `block` that break the
// rule, in table order; empty when both keep it.
QVector<const ParamDef *> thresholdsAboveRange(const ParamBlock &block);
// What tlctl says about them, one sentence per threshold joined by "; ":
// "limit1 (150.0 PPM) is above the upper range value range_max (100.0 PPM):
// such a threshold can never trip"; empty when the block keeps the rule.
QString thresholdRuleText(const ParamBlock &block);

// Whether a parameter's register lies in the block that the device has
// (27-register devices have no registers from 0x101B on).
inline bool inBlock(const ParamDef &def, quint16 writeCount)
{ return def.reg < Params::HoldingFirst + writeCount; }

// Registers of a written block whose values did not come back: compares the
// places of registers 0x1000 .. 0x1000 + writeCount - 1 (the command
// register excluded: the device acts on it rather than keeping it).
QVector<quint16> registersNotTaken(const ParamBlock &sent, const ParamBlock &readBack, quint16 writeCount);

// Names of the parameters that live in a register.
QStringList namesOfRegister(quint16 reg);

// Live values: input registers 0..9.
struct LiveDef {
    const char *name;
    quint16 reg;
    const char *label;
};
const QVector<LiveDef> &liveValues();
Shown showLive(const LiveDef &def, const ParamBlock &block);

// Identification texts (function 43 objects) by the names tlctl prints.
struct IdentDef {
    const char *name;
    int objectId;
};
const QVector<IdentDef> &identification();

// "0x1005": a register number or word, four upper-case hex digits.
QString hex4(quint16 value);

// "detector type 1", "bootloader", "unrecognised device (type 7)".
QString deviceKindText(qint16 deviceType);

} // namespace Params

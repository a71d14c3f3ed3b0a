// Loading a parameter file into a detector, decided before anything is sent:
// whether the file's values are plausible for a TL-02 at all, which of them
// go into the device, which stay as the device has them, and what changes.
// The program's "load configuration" and `tlctl restore` both go through
// here and differ only in how they show the result and ask.
//
// What the file brings in, field by field (everything else keeps the value
// the device has):
//  - the ordinary settings (thresholds, hysteresis, dead zones, range, delays,
//    unit, discreteness, output type, and the sensor current on type 2
//    detectors), at any access level;
//  - the production settings (lower range value, simulated value) only at
//    the level that may change them with `set`;
//  - the fields that belong to one detector (serial number, network address,
//    board version and the calibration: ADC and PWM codes and the
//    calibration concentration) only when the user asks to copy them, and
//    then only at a level that may change them;
//  - never the line speed, register 0x100C or the command register;
//  - the concentration simulation always goes in switched off.
#pragma once

#include "deviceparams.h"
#include "paramtable.h"

#include <QString>
#include <QVector>

namespace Restore {

// A field of the file that no TL-02 would hold.
struct Implausible {
    const Params::ParamDef *def;
    enum Why { OutOfRange, AboveRangeMax, UnknownCode } why;
};

// The file's fields checked on their own, before any device is asked:
// network address 1-247; known unit, discreteness, output type and line
// speed codes; thresholds within the upper range value; delays and dead
// zones within what the pages accept.  Empty when the file is plausible.
QVector<Implausible> checkPlausible(const ParamBlock &file);

// Why a field of the file does not go into the device.
enum class Kept {
    No,            // it is written from the file
    OwnField,      // belongs to the detector; copied only when asked
    Level,         // the access level may not change it
    NotOnType,     // the device type does not use it (sensor current on type 1)
    NeverWritten,  // line speed, register 0x100C, command register
    Simulation,    // the simulation goes in switched off
};

struct Field {
    const Params::ParamDef *def;
    Kept kept;
    bool fileDiffers;   // the file's value differs from the device's
    bool changes;       // the value written differs from the device's
};

struct Plan {
    ParamBlock result;           // the device's block with the file's fields put in
    QVector<Field> fields;       // every parameter of the device's block, in table order
    bool simulationInFile = false;   // the file would switch the simulation on
    // Values in the units of the discreteness that could not be carried
    // into the file's discreteness (they would not fit 16 or 15 bits).
    QVector<const Params::ParamDef *> notConvertible;

    bool anyChange() const;
    QVector<Field> changes() const;
    // Fields of the file that differ from the device but stay as they are.
    QVector<Field> keptDifferent() const;
};

// Works out what loading `file` into a device that holds `device` does.
// `level` is the access level (UserName), `deviceType` 1 or 2, `writeCount`
// the block length the device uses (27 or 48), `clone` whether the
// detector's own fields are to be copied from the file.
Plan plan(const ParamBlock &device, const ParamBlock &file, const QString &level, qint16 deviceType,
          quint16 writeCount, bool clone);

// Whether a parameter is one of the detector's own fields.
bool isOwnField(const Params::ParamDef &def);

} // namespace Restore

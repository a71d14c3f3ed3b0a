#include "restoreplan.h"

#include "accesslevels.h"
#include "conversions.h"

#include <cstring>

namespace Restore {

using Params::Kind;
using Params::ParamDef;
using Params::SetLevel;

namespace {

quint16 word(const ParamBlock &b, quint16 reg)
{
    return Params::holdingValue(b, reg);
}

void setWord(ParamBlock &b, quint16 reg, quint16 v)
{
    Params::setHoldingValue(b, reg, v);
}

// The part of the block a parameter owns (a whole register, some bits of
// one, a byte, or the two words of the serial number).
quint32 portion(const ParamDef &def, const ParamBlock &b)
{
    switch (def.kind) {
    case Kind::LimitValue: return word(b, def.reg) & 0x7FFF;
    case Kind::LimitDirection: return word(b, def.reg) & 0x8000;
    case Kind::AutoReset: return b.Config & (1u << def.bit);
    case Kind::Unit: return b.Config & 0x0003;
    case Kind::Discreteness: return b.Config & 0x0030;
    case Kind::NetAddress: return b.NetAddress;
    case Kind::NetSpeed: return b.NetSpeed;
    case Kind::Serial: return quint32(b.SerialNum);
    case Kind::BoardVersion: return b.HWVersion;
    default: return word(b, def.reg);
    }
}

void copyPortion(const ParamDef &def, const ParamBlock &from, ParamBlock &to)
{
    const quint16 reg = def.reg;
    switch (def.kind) {
    case Kind::LimitValue:
        setWord(to, reg, quint16((word(to, reg) & 0x8000) | (word(from, reg) & 0x7FFF)));
        return;
    case Kind::LimitDirection:
        setWord(to, reg, quint16((word(to, reg) & 0x7FFF) | (word(from, reg) & 0x8000)));
        return;
    case Kind::AutoReset:
        to.Config = Conv::withBit(to.Config, def.bit, from.Config & (1u << def.bit));
        return;
    case Kind::Unit:
        to.Config = Conv::withUnit(to.Config, Conv::unitIndex(from.Config));
        return;
    case Kind::Discreteness:
        to.Config = Conv::withDecimals(to.Config, Conv::decimals(from.Config));
        return;
    case Kind::NetAddress:
        to.NetAddress = from.NetAddress;
        return;
    case Kind::NetSpeed:
        to.NetSpeed = from.NetSpeed;
        return;
    case Kind::Serial:
        to.SerialNum = from.SerialNum;
        return;
    case Kind::BoardVersion:
        to.HWVersion = from.HWVersion;
        return;
    default:
        setWord(to, reg, word(from, reg));
        return;
    }
}

bool isScaled(const ParamDef &def)
{
    return def.kind == Kind::Scaled || def.kind == Kind::LimitValue;
}

// Whether `set` would change the parameter at this level.
bool levelMay(const ParamDef &def, const QString &level)
{
    switch (def.level) {
    case SetLevel::AnyLogin:
        return true;
    case SetLevel::Production:
        return def.kind == Kind::Serial ? Access::serialNumberEditable(level) : Access::isProduction(level);
    case SetLevel::ReadOnly:
        // No control changes these; of them only the detector's own fields
        // (board version, ADC code at 20 mA) may be copied, at the
        // production level.
        return isOwnField(def) && Access::isProduction(level);
    }
    return false;
}

Kept keptBecause(const ParamDef &def, const QString &level, qint16 deviceType, bool clone)
{
    if (def.kind == Kind::Switch)
        return Kept::Simulation;
    if (def.kind == Kind::NetSpeed || def.kind == Kind::Command || def.reg == 0x100C)
        return Kept::NeverWritten;
    if (isOwnField(def) && !clone)
        return Kept::OwnField;
    if (!levelMay(def, level))
        return Kept::Level;
    if (def.reg == 0x1002 && deviceType != 2)
        return Kept::NotOnType;
    return Kept::No;
}

} // namespace

bool isOwnField(const ParamDef &def)
{
    switch (def.kind) {
    case Kind::Serial:
    case Kind::NetAddress:
    case Kind::BoardVersion:
        return true;
    default:
        break;
    }
    // The calibration: ADC and PWM codes and the concentration of the
    // calibration gas, which goes with the ADC code measured with it.
    static const quint16 calibration[] = {0x1000, 0x1001, 0x1015, 0x1016, 0x100A, 0x100B};
    for (const quint16 reg : calibration)
        if (def.reg == reg)
            return true;
    return false;
}

QVector<Implausible> checkPlausible(const ParamBlock &file)
{
    static const char *const checked[] = {"net_address", "unit",       "discreteness", "output_type",
                                          "net_speed",   "limit1",     "limit2",       "trip_delay",
                                          "reset_delay", "dead_zone",  "dead_zone2"};
    QVector<Implausible> out;
    for (const char *name : checked) {
        const ParamDef *def = Params::findParameter(QLatin1String(name));
        if (!def)
            continue;
        if (!Params::valueInRange(*def, file)) {
            out.append({def, Params::choiceCount(*def) > 0 ? Implausible::UnknownCode : Implausible::OutOfRange});
            continue;
        }
        if (def->kind == Kind::LimitValue && Params::thresholdAboveRange(word(file, def->reg), file.ValueMax))
            out.append({def, Implausible::AboveRangeMax});
    }
    return out;
}

Plan plan(const ParamBlock &device, const ParamBlock &file, const QString &level, qint16 deviceType,
          quint16 writeCount, bool clone)
{
    Plan p;
    p.result = device;
    p.simulationInFile = file.ImmitConcOn != 0;

    QVector<const ParamDef *> keptScaled;
    for (const ParamDef &def : Params::parameters()) {
        // The command register carries commands, not a setting.
        if (!Params::inBlock(def, writeCount) || def.kind == Kind::Command)
            continue;
        const Kept kept = keptBecause(def, level, deviceType, clone);
        if (kept == Kept::No)
            copyPortion(def, file, p.result);
        else if (isScaled(def))
            keptScaled.append(&def);
        p.fields.append({&def, kept, false, false});
    }
    // A file never switches the simulation on.
    p.result.ImmitConcOn = 0;

    // Values kept in the units of the discreteness go with it when the file
    // brings another one: the shown value stays, the stored one is rescaled.
    if (Conv::decimals(device.Config) != Conv::decimals(p.result.Config) && !keptScaled.isEmpty()) {
        // The values taken from the file are already in its discreteness:
        // left out here, they cannot stand in the way.
        ParamBlock kept = device;
        for (const ParamDef &def : Params::parameters()) {
            if (isScaled(def) && !keptScaled.contains(&def))
                setWord(kept, def.reg, def.kind == Kind::LimitValue ? quint16(word(kept, def.reg) & 0x8000) : 0);
        }
        QStringList tooLarge;
        if (Conv::rescaleForDecimals(kept, Conv::decimals(p.result.Config), &tooLarge)) {
            for (const ParamDef *def : keptScaled)
                copyPortion(*def, kept, p.result);
        } else {
            for (const QString &name : tooLarge)
                if (const ParamDef *def = Params::findParameter(name))
                    p.notConvertible.append(def);
        }
    }

    for (Field &f : p.fields) {
        const Params::Shown before = Params::show(*f.def, device);
        const Params::Shown fromFile = Params::show(*f.def, file);
        const Params::Shown after = Params::show(*f.def, p.result);
        // A unit of its own does not make a file's value another one.
        f.fileDiffers = portion(*f.def, file) != portion(*f.def, device) || fromFile.text != before.text;
        f.changes = portion(*f.def, p.result) != portion(*f.def, device) || after.text != before.text
                    || after.unit != before.unit;
    }
    return p;
}

bool Plan::anyChange() const
{
    for (const Field &f : fields)
        if (f.changes)
            return true;
    return false;
}

QVector<Field> Plan::changes() const
{
    QVector<Field> out;
    for (const Field &f : fields)
        if (f.changes)
            out.append(f);
    return out;
}

QVector<Field> Plan::keptDifferent() const
{
    QVector<Field> out;
    for (const Field &f : fields)
        if (f.kept != Kept::No && f.kept != Kept::Simulation && f.fileDiffers)
            out.append(f);
    return out;
}

} // namespace Restore

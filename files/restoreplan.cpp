#include "restoreplan.h"

#include "accesslevels.h"
#include "conversions.h"

#include <cstring>

namespace Restore {

using Params::Kind;
using Params::ParamDef;
using Params::SetLevel;

namespace {

quint16 get16(const ParamBlock &b, int place)
{
    const auto *p = reinterpret_cast<const quint8 *>(&b) + place;
    return quint16(p[0] | (p[1] << 8));
}

void set16(ParamBlock &b, int place, quint16 v)
{
    auto *p = reinterpret_cast<quint8 *>(&b) + place;
    p[0] = quint8(v & 0xFF);
    p[1] = quint8(v >> 8);
}

// The part of the block a parameter owns (a whole register, some bits of
// one, a byte, or the two words of the serial number).
quint32 portion(const ParamDef &def, const ParamBlock &b)
{
    const int place = Params::holdingPlace(def.reg);
    switch (def.kind) {
    case Kind::LimitValue: return get16(b, place) & 0x7FFF;
    case Kind::LimitDirection: return get16(b, place) & 0x8000;
    case Kind::AutoReset: return b.Config & (1u << def.bit);
    case Kind::Unit: return b.Config & 0x0003;
    case Kind::Discreteness: return b.Config & 0x0030;
    case Kind::NetAddress: return b.NetAddress;
    case Kind::NetSpeed: return b.NetSpeed;
    case Kind::Serial: return quint32(b.SerialNum);
    case Kind::BoardVersion: return b.HWVersion;
    default: return place == Params::NoPlace ? 0 : get16(b, place);
    }
}

void copyPortion(const ParamDef &def, const ParamBlock &from, ParamBlock &to)
{
    const int place = Params::holdingPlace(def.reg);
    switch (def.kind) {
    case Kind::LimitValue:
        set16(to, place, quint16((get16(to, place) & 0x8000) | (get16(from, place) & 0x7FFF)));
        return;
    case Kind::LimitDirection:
        set16(to, place, quint16((get16(to, place) & 0x7FFF) | (get16(from, place) & 0x8000)));
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
        if (place != Params::NoPlace)
            set16(to, place, get16(from, place));
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
        if (def->kind == Kind::LimitValue && (get16(file, Params::holdingPlace(def->reg)) & 0x7FFF) > file.ValueMax)
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
    const quint16 fromScale = Conv::scaleFromConfig(device.Config);
    const quint16 toScale = Conv::scaleFromConfig(p.result.Config);
    if (fromScale != toScale) {
        for (const ParamDef *def : keptScaled) {
            const int place = Params::holdingPlace(def->reg);
            const quint16 word = get16(p.result, place);
            const quint16 value = def->kind == Kind::LimitValue ? quint16(word & 0x7FFF) : word;
            const double converted = Conv::roundHalfEven(double(value) * toScale / fromScale);
            const double limit = def->kind == Kind::LimitValue ? 32767.0 : 65535.0;
            if (converted > limit) {
                p.notConvertible.append(def);
                continue;
            }
            set16(p.result, place, def->kind == Kind::LimitValue ? quint16((word & 0x8000) | quint16(converted))
                                                                   : quint16(converted));
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

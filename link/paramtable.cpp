#include "paramtable.h"

#include "conversions.h"
#include "options.h"

#include <cmath>
#include <cstring>

namespace Params {

namespace {

quint16 get16(const ParamBlock &block, int offset)
{
    const auto *p = reinterpret_cast<const quint8 *>(&block) + offset;
    return quint16(p[0] | (p[1] << 8));
}

void set16(ParamBlock &block, int offset, quint16 value)
{
    auto *p = reinterpret_cast<quint8 *>(&block) + offset;
    p[0] = quint8(value & 0xFF);
    p[1] = quint8(value >> 8);
}

QString onOff(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

// A number as typed: dot or comma as the decimal separator, nothing else.
bool parseNumber(const QString &text, double &out)
{
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty() || t.startsWith(QLatin1Char('+')))
        return false;
    bool ok = false;
    out = t.toDouble(&ok);   // QString::toDouble is locale independent (C locale)
    return ok && std::isfinite(out);
}

bool parseWhole(const QString &text, const Range &range, double &out, QString &error, const ParamDef &def)
{
    if (!parseNumber(text, out) || out != std::trunc(out)) {
        error = QStringLiteral("%1 takes a whole number, not \"%2\"").arg(QLatin1String(def.name), text);
        return false;
    }
    if (out < range.min || out > range.max) {
        error = QStringLiteral("%1=%2 is out of range (%3 to %4)")
                    .arg(QLatin1String(def.name), text, QString::number(range.min, 'f', 0),
                         QString::number(range.max, 'f', 0));
        return false;
    }
    return true;
}

bool parseSwitch(const QString &text, bool &on)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("on") || t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("true")) {
        on = true;
        return true;
    }
    if (t == QLatin1String("off") || t == QLatin1String("0") || t == QLatin1String("no") || t == QLatin1String("false")) {
        on = false;
        return true;
    }
    return false;
}

int indexIn(const QStringList &names, const QString &text)
{
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString discretenessName(int index)
{
    // Index 3 (three decimals) exists on the device but is not offered by
    // the page; it is named the same way.
    return index < DiscretenessNames.size() ? DiscretenessNames[index] : QStringLiteral("X,XXX");
}

QString formatScaled(double value, quint16 config)
{
    return QString::number(value, 'f', Conv::decimals(config));
}

} // namespace

const QVector<ParamDef> &parameters()
{
    using K = Kind;
    using L = SetLevel;
    static const QVector<ParamDef> table = {
        {"limit1", 0x1005, K::LimitValue, L::AnyLogin, -1, 0, "threshold 1"},
        {"limit1_direction", 0x1005, K::LimitDirection, L::AnyLogin, -1, 0, "threshold 1 direction"},
        {"limit1_autoreset", 0x1008, K::AutoReset, L::AnyLogin, 9, 0, "threshold 1 auto-reset"},
        {"limit2", 0x1006, K::LimitValue, L::AnyLogin, -1, 0, "threshold 2"},
        {"limit2_direction", 0x1006, K::LimitDirection, L::AnyLogin, -1, 0, "threshold 2 direction"},
        {"limit2_autoreset", 0x1008, K::AutoReset, L::AnyLogin, 10, 0, "threshold 2 auto-reset"},
        {"hysteresis", 0x1007, K::Scaled, L::AnyLogin, -1, 0, "threshold hysteresis"},
        {"dead_zone", 0x1013, K::Scaled, L::AnyLogin, -1, 0, "dead zone"},
        {"dead_zone2", 0x1014, K::Scaled, L::AnyLogin, -1, 0, "dead zone 2"},
        {"range_max", 0x1004, K::Scaled, L::AnyLogin, -1, 0, "upper range value"},
        {"range_min", 0x1003, K::Scaled, L::Production, -1, 0, "lower range value"},
        {"trip_delay", 0x1011, K::Delay, L::AnyLogin, -1, 20, "threshold trip delay"},
        {"reset_delay", 0x1012, K::Delay, L::AnyLogin, -1, 20, "threshold reset delay"},
        {"unit", 0x1008, K::Unit, L::AnyLogin, -1, 0, "unit of measurement"},
        {"discreteness", 0x1008, K::Discreteness, L::AnyLogin, -1, 0, "decimals shown"},
        {"output_type", 0x1009, K::OutputType, L::AnyLogin, -1, 0, "current-output type"},
        {"sensor_current", 0x1002, K::Raw, L::AnyLogin, -1, 65535, "sensor current"},
        {"net_address", 0x100E, K::NetAddress, L::AnyLogin, -1, 247, "network address"},
        {"net_speed", 0x100D, K::NetSpeed, L::ReadOnly, -1, 0, "RS-485 speed index"},
        {"serial_number", 0x100F, K::Serial, L::Production, -1, 999999999, "serial number"},
        {"adc_4ma", 0x1000, K::Raw, L::Production, -1, 65535, "ADC code at 4 mA"},
        {"adc_20ma", 0x1001, K::Raw, L::ReadOnly, -1, 65535, "ADC code at 20 mA"},
        {"adc_calib", 0x1015, K::Raw, L::Production, -1, 65535, "ADC code at calibration"},
        {"conc_calib", 0x1016, K::Scaled, L::Production, -1, 0, "calibration concentration"},
        {"pwm_4ma", 0x100A, K::Raw, L::Production, -1, 65535, "PWM code at 4 mA"},
        {"pwm_20ma", 0x100B, K::Raw, L::Production, -1, 65535, "PWM code at 20 mA"},
        {"simulation", 0x1019, K::Switch, L::Production, -1, 0, "concentration simulation"},
        {"simulation_value", 0x101A, K::Raw, L::Production, -1, 65535, "simulated ADC code"},
        {"board_version", 0x101B, K::BoardVersion, L::ReadOnly, -1, 0, "board version"},
        {"reg_100c", 0x100C, K::Raw, L::ReadOnly, -1, 65535, "register 0x100C"},
        {"command_word", 0x1020, K::Command, L::ReadOnly, -1, 0, "command register"},
    };
    return table;
}

const ParamDef *findParameter(const QString &name)
{
    for (const ParamDef &d : parameters())
        if (name == QLatin1String(d.name))
            return &d;
    return nullptr;
}

quint16 holdingValue(const ParamBlock &block, quint16 reg)
{
    const int place = Params::holdingPlace(reg);
    return place == Params::NoPlace ? 0 : get16(block, place);
}

void setHoldingValue(ParamBlock &block, quint16 reg, quint16 value)
{
    const int place = Params::holdingPlace(reg);
    if (place != Params::NoPlace)
        set16(block, place, value);
}

Shown show(const ParamDef &def, const ParamBlock &block)
{
    Shown s;
    s.raw = holdingValue(block, def.reg);
    const quint16 config = block.Config;
    const quint16 scale = Conv::scaleFromConfig(config);
    const QString unitName = UnitNames.value(Conv::unitIndex(config));
    switch (def.kind) {
    case Kind::Scaled: {
        const double v = Conv::fromScaled(s.raw, scale);
        s.value = v;
        s.text = formatScaled(v, config);
        s.unit = unitName;
        break;
    }
    case Kind::LimitValue: {
        const double v = Conv::limitShown(s.raw, scale);
        s.value = v;
        s.text = formatScaled(v, config);
        s.unit = unitName;
        break;
    }
    case Kind::LimitDirection:
        s.text = Conv::limitDecreasing(s.raw) ? QStringLiteral("decreasing") : QStringLiteral("increasing");
        s.value = s.text;
        break;
    case Kind::AutoReset: {
        const bool on = (config >> def.bit) & 1;
        s.value = on;
        s.text = onOff(on);
        break;
    }
    case Kind::Delay: {
        const int seconds = Conv::delaySeconds(s.raw);
        s.value = seconds;
        s.text = QString::number(seconds);
        s.unit = QStringLiteral("s");
        break;
    }
    case Kind::Unit:
        s.text = unitName;
        s.value = s.text;
        break;
    case Kind::Discreteness:
        s.text = discretenessName(Conv::decimals(config));
        s.value = s.text;
        break;
    case Kind::OutputType:
        s.text = s.raw < OptionNames.size() ? OptionNames[s.raw] : QString::number(s.raw);
        s.value = s.text;
        break;
    case Kind::Raw:
        s.value = int(s.raw);
        s.text = QString::number(s.raw);
        if (def.reg == 0x1002)
            s.unit = QStringLiteral("mA");
        break;
    case Kind::NetAddress:
        s.value = int(block.NetAddress);
        s.text = QString::number(block.NetAddress);
        break;
    case Kind::NetSpeed:
        s.value = int(block.NetSpeed);
        s.text = QString::number(block.NetSpeed);
        break;
    case Kind::Serial:
        s.value = int(block.SerialNum);
        s.text = QString::number(block.SerialNum);
        break;
    case Kind::Switch:
        s.value = s.raw != 0;
        s.text = onOff(s.raw != 0);
        break;
    case Kind::BoardVersion:
        s.text = Conv::boardVersionText(block.HWVersion);
        s.value = s.text;
        break;
    case Kind::Command:
        s.value = int(s.raw);
        s.text = hex4(s.raw);
        break;
    }
    return s;
}

QString allowedValues(const ParamDef &def, const ParamBlock &block)
{
    const quint16 config = block.Config;
    const QString unitName = UnitNames.value(Conv::unitIndex(config));
    switch (def.kind) {
    case Kind::Scaled:
    case Kind::LimitValue:
        return QStringLiteral("0 to %1 %2, %3 decimals")
            .arg(formatScaled(shownRange(def, config).max, config), unitName).arg(Conv::decimals(config));
    case Kind::LimitDirection:
        return QStringLiteral("increasing | decreasing");
    case Kind::AutoReset:
    case Kind::Switch:
        return QStringLiteral("on | off");
    case Kind::Delay:
        return QStringLiteral("0 to %1 whole seconds").arg(shownRange(def, config).max);
    case Kind::Unit:
        return UnitNames.join(QStringLiteral(" | "));
    case Kind::Discreteness:
        return DiscretenessNames.join(QStringLiteral(" | "));
    case Kind::OutputType:
        return OptionNames.join(QStringLiteral(" | "));
    case Kind::Raw:
        if (def.reg == 0x1002)
            return QStringLiteral("0 to 65535 mA, type 2 detectors only");
        [[fallthrough]];
    case Kind::NetAddress:
    case Kind::Serial: {
        const Range r = shownRange(def, config);
        return QStringLiteral("%1 to %2").arg(QString::number(r.min, 'f', 0), QString::number(r.max, 'f', 0));
    }
    case Kind::NetSpeed:
    case Kind::BoardVersion:
    case Kind::Command:
        break;
    }
    return QStringLiteral("read-only");
}

bool thresholdAboveRange(quint16 limitWord, quint16 rangeMax)
{
    return (limitWord & 0x7FFF) > rangeMax;
}

QVector<const ParamDef *> thresholdsAboveRange(const ParamBlock &block)
{
    QVector<const ParamDef *> out;
    for (const ParamDef &def : parameters())
        if (def.kind == Kind::LimitValue && thresholdAboveRange(holdingValue(block, def.reg), block.ValueMax))
            out << &def;
    return out;
}

QString thresholdRuleText(const ParamBlock &block)
{
    const ParamDef *rangeMax = findParameter(QStringLiteral("range_max"));
    QStringList sentences;
    for (const ParamDef *def : thresholdsAboveRange(block)) {
        const Shown limit = show(*def, block);
        const Shown range = show(*rangeMax, block);
        sentences << QStringLiteral("%1 (%2 %3) is above the upper range value range_max (%4 %5): such a threshold "
                                    "can never trip")
                         .arg(QLatin1String(def->name), limit.text, limit.unit, range.text, range.unit);
    }
    return sentences.join(QStringLiteral("; "));
}

QString apply(const ParamDef &def, const QString &value, ParamBlock &block)
{
    const QString name = QLatin1String(def.name);
    const quint16 config = block.Config;
    const quint16 scale = Conv::scaleFromConfig(config);
    const int place = Params::holdingPlace(def.reg);
    QString error;
    double v = 0;

    auto scaledValue = [&]() -> bool {
        const double max = shownRange(def, config).max;
        if (!parseNumber(value, v)) {
            error = QStringLiteral("%1 takes a number, not \"%2\"").arg(name, value);
            return false;
        }
        if (v < 0 || v > max + 1e-9) {
            error = QStringLiteral("%1=%2 is out of range (%3)").arg(name, value, allowedValues(def, block));
            return false;
        }
        const double stored = v * scale;
        if (std::fabs(stored - std::round(stored)) > 1e-6) {
            error = QStringLiteral("%1=%2 has more decimals than the discreteness %3 shows (%4)")
                        .arg(name, value, discretenessName(Conv::decimals(config)))
                        .arg(Conv::decimals(config));
            return false;
        }
        return true;
    };
    auto choice = [&](const QStringList &names, int &index) -> bool {
        index = indexIn(names, value);
        if (index < 0)
            error = QStringLiteral("%1 takes %2, not \"%3\"").arg(name, names.join(QStringLiteral(" | ")), value);
        return index >= 0;
    };

    switch (def.kind) {
    case Kind::Scaled:
        if (!scaledValue())
            return error;
        set16(block, place, Conv::toScaled(v, scale));
        return QString();
    case Kind::LimitValue:
        if (!scaledValue())
            return error;
        set16(block, place, Conv::limitWithValue(get16(block, place), v, scale));
        return QString();
    case Kind::LimitDirection: {
        const QString t = value.trimmed().toLower();
        if (t != QLatin1String("increasing") && t != QLatin1String("decreasing"))
            return QStringLiteral("%1 takes increasing | decreasing, not \"%2\"").arg(name, value);
        set16(block, place, Conv::limitWithDirection(get16(block, place), t == QLatin1String("decreasing")));
        return QString();
    }
    case Kind::AutoReset:
    case Kind::Switch: {
        bool on = false;
        if (!parseSwitch(value, on))
            return QStringLiteral("%1 takes on | off, not \"%2\"").arg(name, value);
        if (def.kind == Kind::AutoReset)
            block.Config = Conv::withBit(block.Config, def.bit, on);
        else
            set16(block, place, on ? 1 : 0);
        return QString();
    }
    case Kind::Delay:
        if (!parseWhole(value, shownRange(def, config), v, error, def))
            return error;
        set16(block, place, Conv::delayFromSeconds(v));
        return QString();
    case Kind::Unit: {
        int index = 0;
        if (!choice(UnitNames, index))
            return error;
        block.Config = Conv::withUnit(block.Config, index);
        return QString();
    }
    case Kind::Discreteness: {
        QString t = value;
        t.replace(QLatin1Char('.'), QLatin1Char(','));
        const int index = indexIn(DiscretenessNames, t);
        if (index < 0)
            return QStringLiteral("%1 takes %2, not \"%3\"")
                .arg(name, DiscretenessNames.join(QStringLiteral(" | ")), value);
        // The values in concentration units keep what they show: their
        // stored values are converted to the new decimals, all or none.
        QStringList tooLarge;
        if (!Conv::rescaleForDecimals(block, index, &tooLarge))
            return QStringLiteral("%1=%2 would put %3 out of range: with %4 decimals the stored %5 no longer fit "
                                  "the register (at most 65535, thresholds 32767); lower %6 first")
                .arg(name, value, tooLarge.join(QStringLiteral(", ")))
                .arg(index)
                .arg(tooLarge.size() == 1 ? QStringLiteral("value would") : QStringLiteral("values would"),
                     tooLarge.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
        return QString();
    }
    case Kind::OutputType: {
        int index = 0;
        if (!choice(OptionNames, index))
            return error;
        block.PWMOptions = quint16(index);
        return QString();
    }
    case Kind::Raw:
        if (!parseWhole(value, shownRange(def, config), v, error, def))
            return error;
        set16(block, place, Conv::rawFromDouble(v));
        return QString();
    case Kind::NetAddress:
        if (!parseWhole(value, shownRange(def, config), v, error, def))
            return error;
        block.NetAddress = quint8(Conv::rawFromDouble(v));
        return QString();
    case Kind::Serial:
        if (!parseWhole(value, shownRange(def, config), v, error, def))
            return error;
        block.SerialNum = Conv::serialFromDouble(v);
        return QString();
    case Kind::NetSpeed:
    case Kind::BoardVersion:
    case Kind::Command:
        break;
    }
    return QStringLiteral("%1 is read-only").arg(name);
}

Range shownRange(const ParamDef &def, quint16 config)
{
    const quint16 scale = Conv::scaleFromConfig(config);
    switch (def.kind) {
    case Kind::Scaled:
        return {0, Conv::maxScaled(scale)};
    case Kind::LimitValue:
        // The value field of a threshold is 15 bits wide.
        return {0, Conv::maxLimit(scale)};
    case Kind::NetAddress:
        // 0 is the broadcast address: a detector set to it answers nobody.
        return {1, def.max};
    case Kind::Delay:
    case Kind::Raw:
    case Kind::Serial:
        return {0, def.max};
    case Kind::Unit:
    case Kind::Discreteness:
    case Kind::OutputType:
    case Kind::NetSpeed:
        return {0, double(choiceCount(def) - 1)};
    case Kind::LimitDirection:
    case Kind::AutoReset:
    case Kind::Switch:
        return {0, 1};
    case Kind::BoardVersion:
    case Kind::Command:
        break;
    }
    return {0, 65535};
}

int choiceCount(const ParamDef &def)
{
    switch (def.kind) {
    case Kind::Unit: return UnitNames.size();
    case Kind::Discreteness: return DiscretenessNames.size();
    case Kind::OutputType: return OptionNames.size();
    case Kind::NetSpeed: return BaudNames.size();
    default: return 0;
    }
}

bool valueInRange(const ParamDef &def, const ParamBlock &block)
{
    const quint16 raw = holdingValue(block, def.reg);
    const Range r = shownRange(def, block.Config);
    switch (def.kind) {
    case Kind::Scaled:
    case Kind::LimitValue: {
        const quint16 scale = Conv::scaleFromConfig(block.Config);
        const double stored = def.kind == Kind::LimitValue ? double(raw & 0x7FFF) : double(raw);
        return stored <= r.max * scale + 1e-6;
    }
    case Kind::Delay:
        return double(raw) <= r.max * 1000.0;
    case Kind::Raw:
        return double(raw) >= r.min && double(raw) <= r.max;
    case Kind::NetAddress:
        return block.NetAddress >= r.min && block.NetAddress <= r.max;
    case Kind::NetSpeed:
        return block.NetSpeed <= r.max;
    case Kind::Serial:
        return double(block.SerialNum) >= r.min && double(block.SerialNum) <= r.max;
    case Kind::Unit:
        return Conv::unitIndex(block.Config) <= r.max;
    case Kind::Discreteness:
        return Conv::decimals(block.Config) <= r.max;
    case Kind::OutputType:
        return raw <= r.max;
    case Kind::LimitDirection:
    case Kind::AutoReset:
    case Kind::Switch:
    case Kind::BoardVersion:
    case Kind::Command:
        break;
    }
    return true;
}

QVector<quint16> registersNotTaken(const ParamBlock &sent, const ParamBlock &readBack, quint16 writeCount)
{
    QVector<quint16> out;
    for (quint32 reg = Params::HoldingFirst; reg < quint32(Params::HoldingFirst) + writeCount
                                             && reg <= Params::HoldingLast; ++reg) {
        if (reg == Params::CommandRegister || Params::holdingPlace(quint16(reg)) == Params::NoPlace)
            continue;
        if (holdingValue(sent, quint16(reg)) != holdingValue(readBack, quint16(reg)))
            out << quint16(reg);
    }
    return out;
}

QStringList namesOfRegister(quint16 reg)
{
    QStringList names;
    const quint16 owner = reg == 0x1010 ? 0x100F : reg;   // both halves of the serial number
    for (const ParamDef &d : parameters())
        if (d.reg == owner)
            names << QLatin1String(d.name);
    if (names.isEmpty())
        names << QStringLiteral("register ") + hex4(reg);
    return names;
}

const QVector<LiveDef> &liveValues()
{
    static const QVector<LiveDef> table = {
        {"adc", 0, "ADC code"},
        {"output", 1, "loop current or output voltage"},
        {"concentration", 2, "concentration"},
        {"pwm", 3, "PWM code"},
        {"device_type", 4, "device type"},
        {"input5", 5, "input register 5"},
        {"input6", 6, "input register 6"},
        {"input7", 7, "input register 7"},
        {"input8", 8, "input register 8"},
        {"status", 9, "status word"},
    };
    return table;
}

Shown showLive(const LiveDef &def, const ParamBlock &block)
{
    Shown s;
    s.raw = get16(block, Params::inputPlace(def.reg));
    switch (def.reg) {
    case 1:
        if (block.DeviceTypeReg == TypeDetector2) {
            // Voltage output: signed, in 0.01 mV.
            const double mv = qint16(s.raw) / 100.0;
            s.value = mv;
            s.text = QString::number(mv, 'f', 2);
            s.unit = QStringLiteral("mV");
        } else {
            const double ma = s.raw / 1000.0;
            s.value = ma;
            s.text = QString::number(ma, 'f', 3);
            s.unit = QStringLiteral("mA");
        }
        break;
    case 2: {
        const double v = Conv::fromScaled(s.raw, Conv::scaleFromConfig(block.Config));
        s.value = v;
        s.text = formatScaled(v, block.Config);
        s.unit = UnitNames.value(Conv::unitIndex(block.Config));
        break;
    }
    case 9:
        s.value = int(s.raw);
        s.text = QStringLiteral("%1 (sound %2)").arg(hex4(s.raw), onOff(s.raw & StatusSoundOff));
        break;
    default:
        s.value = int(s.raw);
        s.text = QString::number(s.raw);
        break;
    }
    return s;
}

const QVector<IdentDef> &identification()
{
    static const QVector<IdentDef> table = {
        {"vendor", 0},     {"product_code", 1}, {"firmware_version", 2}, {"product_name", 4},
        {"model", 5},      {"app_name", 6},     {"firmware_date", 7},    {"object8", 8},
    };
    return table;
}

QString hex4(quint16 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(4, QLatin1Char('0')).toUpper();
}

QString deviceKindText(qint16 deviceType)
{
    switch (deviceType) {
    case TypeDetector1: return QStringLiteral("detector type 1");
    case TypeDetector2: return QStringLiteral("detector type 2");
    case TypeBootloader: return QStringLiteral("bootloader");
    default: return QStringLiteral("unrecognised device (type %1)").arg(deviceType);
    }
}

} // namespace Params

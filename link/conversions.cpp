#include "conversions.h"

#include <QByteArray>
#include <cctype>
#include <cstdio>
#include <locale>
#include <sstream>
#include <cfenv>
#include <cmath>
#include <cstring>

namespace Conv {

quint16 scaleFromConfig(quint16 config)
{
    static const quint16 scales[4] = {1, 10, 100, 1000};
    return scales[decimals(config)];
}

double roundHalfEven(double v)
{
    // nearbyint follows the current rounding mode; make sure it is
    // round-to-nearest (ties to even) whatever a library may have set.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(v);
    std::fesetround(saved);
    return r;
}

static quint16 clampTo16(double v)
{
    if (!(v > 0))   // also catches NaN
        return 0;
    if (v >= 65535.0)
        return 65535;
    return quint16(v);
}

quint16 toScaled(double shown, quint16 scale)
{
    return clampTo16(roundHalfEven(shown * (scale ? scale : 1)));
}

quint16 limitWithValue(quint16 word, double shown, quint16 scale)
{
    quint16 v = toScaled(shown, scale);
    if (v > 0x7FFF)
        v = 0x7FFF;
    return quint16((word & 0x8000) | v);
}

bool rescaleForDecimals(ParamBlock &block, int newIndex, QStringList *tooLarge)
{
    const quint32 oldScale = scaleFromConfig(block.Config);
    const quint16 newConfig = withDecimals(block.Config, newIndex);
    const quint32 newScale = scaleFromConfig(newConfig);

    // old x newScale / oldScale in whole numbers, halves to even.
    auto rescaled = [oldScale, newScale](quint32 raw) {
        const quint32 num = raw * newScale;
        quint32 q = num / oldScale;
        const quint32 twice = 2 * (num % oldScale);
        if (twice > oldScale || (twice == oldScale && (q & 1)))
            ++q;
        return q;
    };

    struct Value {
        const char *name;
        quint16 *field;
        quint16 mask;   // the bits that hold the value
    };
    const Value values[] = {
        {"range_min", &block.ValueMin, 0xFFFF},
        {"range_max", &block.ValueMax, 0xFFFF},
        {"limit1", &block.Limit1, 0x7FFF},
        {"limit2", &block.Limit2, 0x7FFF},
        {"hysteresis", &block.HisterezisLimit, 0xFFFF},
        {"dead_zone", &block.DeadZone, 0xFFFF},
        {"dead_zone2", &block.DeadZone2, 0xFFFF},
        {"conc_calib", &block.ConcCalib, 0xFFFF},
    };
    constexpr int Count = int(sizeof values / sizeof values[0]);

    // All or nothing: convert into a copy, commit only when every value fits.
    quint16 converted[Count];
    QStringList outside;
    for (int i = 0; i < Count; ++i) {
        const quint16 word = *values[i].field;
        const quint32 v = rescaled(word & values[i].mask);
        if (v > values[i].mask)
            outside << QLatin1String(values[i].name);
        converted[i] = quint16((word & ~values[i].mask) | (v & values[i].mask));
    }
    if (tooLarge)
        *tooLarge = outside;
    if (!outside.isEmpty())
        return false;
    for (int i = 0; i < Count; ++i)
        *values[i].field = converted[i];
    block.Config = newConfig;
    return true;
}

quint16 delayFromSeconds(double seconds)
{
    return clampTo16(std::trunc(seconds * 1000.0));
}

quint16 rawFromDouble(double v)
{
    return clampTo16(std::trunc(v));
}

qint32 serialFromDouble(double v)
{
    if (std::isnan(v))
        return 0;
    const double t = std::trunc(v);
    if (t >= 2147483647.0)
        return 2147483647;
    if (t <= -2147483648.0)
        return qint32(-2147483647 - 1);
    return qint32(t);
}

QString serialText(qint32 serial, quint16 deviceTypeReg)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, deviceTypeReg == 2 ? "TL02UD%07d" : "TL02ID%07d", serial);
    return QString::fromLatin1(buf).left(15);
}

QString boardVersionText(quint16 hwVersion)
{
    return QString::asprintf("%d.%02d", hwVersion / 100, hwVersion % 100);
}

QString fieldText(const char *field, int capacity)
{
    int n = 0;
    while (n < capacity && field[n] != '\0')
        ++n;
    return QString::fromUtf8(field, n);
}

double leadingNumber(const char *text, int capacity)
{
    int n = 0;
    while (n < capacity && text[n] != '\0')
        ++n;
    const QByteArray s = QByteArray(text, n);
    // Same acceptance as strtod in the C locale: optional white space and sign,
    // digits with an optional dot and fraction, an optional exponent.
    int i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    const int begin = i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    int digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; ++digits; }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { ++i; ++digits; }
    }
    if (digits == 0)
        return 0.0;
    int end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        int j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        int expDigits = 0;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) { ++j; ++expDigits; }
        if (expDigits > 0)
            end = j;
    }
    std::istringstream in(s.mid(begin, end - begin).toStdString());
    in.imbue(std::locale::classic());
    double v = 0.0;
    in >> v;
    return in.fail() ? 0.0 : v;
}

quint16 writeCountFor(const char *firmwareVersion, int capacity, qint16 deviceType)
{
    const double v = leadingNumber(firmwareVersion, capacity);
    return (v <= 1.05 && deviceType == 1) ? 27 : 48;
}

} // namespace Conv

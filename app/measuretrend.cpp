// The live values of a detector over time for the measurement chart.
#include "measuretrend.h"

#include "conversions.h"
#include "options.h"

#include <QDateTime>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {
MeasureTrend::Range padded(double low, double high)
{
    // A flat line still gets an axis around it.
    if (high - low < 1e-9) {
        const double room = std::max(1.0, std::abs(high) * 0.1);
        return {low - room, high + room};
    }
    const double room = (high - low) * 0.05;
    return {low - room, high + room};
}
} // namespace

void MeasureTrend::add(const ParamBlock &block, qint64 msecs, const QString &source)
{
    const int newUnit = Conv::unitIndex(block.Config);
    const Output newOutput = block.DeviceTypeReg == Params::TypeDetector2 ? Output::Voltage : Output::Current;
    if (!samples.empty()
        && (source != sourceName || newUnit != unit || newOutput != outputKind || msecs < samples.back().msecs))
        samples.clear();
    sourceName = source;
    unit = newUnit;
    outputKind = newOutput;
    decimalCount = Conv::decimals(block.Config);

    const quint16 scale = Conv::scaleFromConfig(block.Config);
    Sample s;
    s.msecs = msecs;
    s.concentration = Conv::fromScaled(block.ConcVal, scale);
    // Voltage: signed, in 0.01 mV; current: unsigned, in 0.001 mA.
    s.output = newOutput == Output::Voltage ? qint16(block.CurrentTok) / 100.0 : block.CurrentTok / 1000.0;
    s.limit1 = Conv::limitShown(block.Limit1, scale);
    s.limit2 = Conv::limitShown(block.Limit2, scale);
    s.decimals = decimalCount;
    s.gapBefore = gapPending && !samples.empty();
    gapPending = false;
    samples.push_back(s);

    while (samples.front().msecs < msecs - KeepMs || int(samples.size()) > MaxSamples)
        samples.pop_front();
}

void MeasureTrend::addGap()
{
    gapPending = true;
}

void MeasureTrend::clear()
{
    gapPending = false;
    samples.clear();
    sourceName.clear();
}

QString MeasureTrend::unitName() const
{
    return UnitNames.value(unit);
}

QVector<MeasureTrend::Sample> MeasureTrend::span(qint64 spanMs) const
{
    QVector<Sample> out;
    if (samples.empty())
        return out;
    const qint64 from = samples.back().msecs - spanMs;
    auto first = std::lower_bound(samples.begin(), samples.end(), from,
                                  [](const Sample &s, qint64 t) { return s.msecs < t; });
    out.reserve(int(samples.end() - first));
    for (auto it = first; it != samples.end(); ++it)
        out.append(*it);
    return out;
}

MeasureTrend::Range MeasureTrend::concentrationRange(qint64 spanMs) const
{
    const QVector<Sample> shown = span(spanMs);
    if (shown.isEmpty())
        return {};
    double low = 0;
    double high = 0;
    for (const Sample &s : shown) {
        low = std::min({low, s.concentration, s.limit1, s.limit2});
        high = std::max({high, s.concentration, s.limit1, s.limit2});
    }
    return padded(low, high);
}

MeasureTrend::Range MeasureTrend::outputRange(qint64 spanMs) const
{
    const QVector<Sample> shown = span(spanMs);
    if (shown.isEmpty())
        return {};
    double low = shown.first().output;
    double high = low;
    for (const Sample &s : shown) {
        low = std::min(low, s.output);
        high = std::max(high, s.output);
    }
    // A steady output shows its last digit of jitter as a flat line, not as
    // swings across the whole axis: the axis spans at least 0.2 mA (20 mV).
    const double least = outputKind == Output::Voltage ? 20.0 : 0.2;
    const Range range = padded(low, high);
    if (range.high - range.low < least) {
        const double middle = (low + high) / 2;
        return {middle - least / 2, middle + least / 2};
    }
    return range;
}

QString MeasureTrend::csv(qint64 spanMs) const
{
    const QString unitText = unitName();
    const bool voltage = outputKind == Output::Voltage;
    QStringList lines;
    lines << QStringLiteral("time;concentration %1;%2;limit1 %1;limit2 %1")
                 .arg(unitText, voltage ? QStringLiteral("voltage mV") : QStringLiteral("current mA"));
    for (const Sample &s : span(spanMs)) {
        lines << QStringLiteral("%1;%2;%3;%4;%5")
                     .arg(QDateTime::fromMSecsSinceEpoch(s.msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                          QString::number(s.concentration, 'f', s.decimals),
                          QString::number(s.output, 'f', voltage ? 2 : 3),
                          QString::number(s.limit1, 'f', s.decimals),
                          QString::number(s.limit2, 'f', s.decimals));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

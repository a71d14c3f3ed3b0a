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
    // A flat line still gets an axis around it.  The room below stops at
    // zero when no value lies below it.
    const double room = high - low < 1e-9 ? std::max(1.0, std::abs(high) * 0.1) : (high - low) * 0.05;
    return {low >= 0 ? std::max(0.0, low - room) : low - room, high + room};
}
} // namespace

void MeasureTrend::add(const ParamBlock &block, qint64 msecs, const QString &source)
{
    const int newUnit = Conv::unitIndex(block.Config);
    const Output newOutput = block.DeviceTypeReg == Params::TypeDetector2 ? Output::Voltage : Output::Current;
    if (!samples.empty()
        && (source != sourceName || newUnit != unit || newOutput != outputKind || msecs < samples.back().msecs)) {
        samples.clear();
        markList.clear();
    }
    sourceName = source;
    serial = Conv::serialText(block.SerialNum, block.DeviceTypeReg);
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
    s.gapBefore = !samples.empty() && (gapPending || msecs - samples.back().msecs > PauseMs);
    gapPending = false;
    samples.push_back(s);

    while (samples.front().msecs < msecs - KeepMs || int(samples.size()) > MaxSamples)
        samples.pop_front();
    while (!markList.empty() && markList.front().msecs < msecs - KeepMs)
        markList.pop_front();
}

void MeasureTrend::addMark(qint64 msecs, const QString &label)
{
    // Kept in time order, whatever order they come in.
    const auto at = std::upper_bound(markList.begin(), markList.end(), msecs,
                                     [](qint64 t, const Mark &m) { return t < m.msecs; });
    markList.insert(at, Mark{msecs, label});
}

QVector<MeasureTrend::Mark> MeasureTrend::marks(qint64 from, qint64 to) const
{
    QVector<Mark> out;
    for (const Mark &m : markList)
        if (m.msecs >= from && m.msecs <= to)
            out.append(m);
    return out;
}

void MeasureTrend::addGap()
{
    gapPending = true;
}

void MeasureTrend::clear()
{
    gapPending = false;
    samples.clear();
    markList.clear();
    sourceName.clear();
    serial.clear();
}

QString MeasureTrend::unitName() const
{
    return UnitNames.value(unit);
}

QVector<MeasureTrend::Sample> MeasureTrend::span(qint64 spanMs) const
{
    if (samples.empty())
        return {};
    return between(samples.back().msecs - spanMs, samples.back().msecs);
}

QVector<MeasureTrend::Sample> MeasureTrend::between(qint64 from, qint64 to) const
{
    QVector<Sample> out;
    auto first = std::lower_bound(samples.begin(), samples.end(), from,
                                  [](const Sample &s, qint64 t) { return s.msecs < t; });
    auto last = std::upper_bound(first, samples.end(), to,
                                 [](qint64 t, const Sample &s) { return t < s.msecs; });
    out.reserve(int(last - first));
    for (auto it = first; it != last; ++it)
        out.append(*it);
    return out;
}

int MeasureTrend::nearest(qint64 msecs, qint64 from, qint64 to) const
{
    const auto byTime = [](const Sample &s, qint64 t) { return s.msecs < t; };
    const auto first = std::lower_bound(samples.begin(), samples.end(), from, byTime);
    const auto last = std::upper_bound(first, samples.end(), to,
                                       [](qint64 t, const Sample &s) { return t < s.msecs; });
    if (first == last)
        return -1;
    auto after = std::lower_bound(first, last, msecs, byTime);
    if (after == last)
        --after;
    else if (after != first && msecs - (after - 1)->msecs < after->msecs - msecs)
        --after;
    return int(after - samples.begin());
}

MeasureTrend::Range MeasureTrend::concentrationRange(qint64 spanMs) const
{
    if (samples.empty())
        return {};
    return concentrationRange(samples.back().msecs - spanMs, samples.back().msecs);
}

MeasureTrend::Range MeasureTrend::outputRange(qint64 spanMs) const
{
    if (samples.empty())
        return {};
    return outputRange(samples.back().msecs - spanMs, samples.back().msecs);
}

MeasureTrend::Range MeasureTrend::concentrationRange(qint64 from, qint64 to) const
{
    const QVector<Sample> shown = between(from, to);
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

MeasureTrend::Range MeasureTrend::outputRange(qint64 from, qint64 to) const
{
    const QVector<Sample> shown = between(from, to);
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
        // Not below zero for an output that never went there.
        const double bottom = low >= 0 ? std::max(0.0, middle - least / 2) : middle - least / 2;
        return {bottom, bottom + least};
    }
    return range;
}

QVector<MeasureTrend::LimitStep> MeasureTrend::limitSteps(qint64 from, qint64 to) const
{
    QVector<LimitStep> steps;
    if (samples.empty())
        return steps;
    // The sample in force at `from`: the last one not after it, else the first.
    auto it = std::upper_bound(samples.begin(), samples.end(), from,
                               [](qint64 t, const Sample &s) { return t < s.msecs; });
    if (it != samples.begin())
        --it;
    steps.append(LimitStep{from, it->limit1, it->limit2});
    for (++it; it != samples.end() && it->msecs <= to; ++it) {
        if (it->msecs <= from || (it->limit1 == steps.last().limit1 && it->limit2 == steps.last().limit2))
            continue;
        steps.append(LimitStep{it->msecs, it->limit1, it->limit2});
    }
    return steps;
}

QString MeasureTrend::csv(qint64 from, qint64 to, const QLocale &locale) const
{
    QLocale numbers = locale;
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    const auto number = [&numbers](double value, int decimals) { return numbers.toString(value, 'f', decimals); };
    const QString unitText = unitName();
    const bool voltage = outputKind == Output::Voltage;
    QStringList lines;
    lines << tr("Заводской номер") + QLatin1Char(';') + serial
          << tr("Дата") + QLatin1Char(';') + QDateTime::fromMSecsSinceEpoch(to).toString(QStringLiteral("yyyy-MM-dd"));
    lines << QStringList{tr("Время"), tr("Концентрация, %1").arg(unitText),
                         voltage ? tr("Напряжение, мВ") : tr("Ток, мА"), tr("Порог 1, %1").arg(unitText),
                         tr("Порог 2, %1").arg(unitText)}
                 .join(QLatin1Char(';'));
    for (const Sample &s : between(from, to)) {
        lines << QStringList{QDateTime::fromMSecsSinceEpoch(s.msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                             number(s.concentration, s.decimals), number(s.output, voltage ? 2 : 3),
                             number(s.limit1, s.decimals), number(s.limit2, s.decimals)}
                     .join(QLatin1Char(';'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

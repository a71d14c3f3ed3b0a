#include "functioncheck.h"

#include "conversions.h"

#include <QCoreApplication>
#include <QtMath>

namespace FunctionCheck {

double Tolerance::allowed(double gas, double rangeMin, double rangeMax) const
{
    return qMax(qAbs(gas) * percentOfGas / 100.0, qAbs(rangeMax - rangeMin) * percentOfRange / 100.0);
}

bool Tolerance::within(double reading, double expected, double rangeMin, double rangeMax) const
{
    // A hair of slack so that a reading shown as exactly on the edge passes.
    return qAbs(reading - expected) <= allowed(expected, rangeMin, rangeMax) * (1 + 1e-9) + 1e-12;
}

StabilityWatch::StabilityWatch(double rangeMin, double rangeMax, qint64 windowMs, double percent)
    : m_band(qAbs(rangeMax - rangeMin) * percent / 100.0), m_window(windowMs)
{
}

void StabilityWatch::reset()
{
    m_run.clear();
    m_max.clear();
    m_min.clear();
    m_first = 0;
    m_stableSince = -1;
}

void StabilityWatch::add(qint64 ms, double value)
{
    if (!m_run.empty() && ms < m_run.back().ms)
        reset();
    const qint64 seq = m_first + qint64(m_run.size());
    m_run.push_back({ms, value});
    while (!m_max.empty() && at(m_max.back()).value <= value)
        m_max.pop_back();
    m_max.push_back(seq);
    while (!m_min.empty() && at(m_min.back()).value >= value)
        m_min.pop_back();
    m_min.push_back(seq);

    // Drop the oldest readings until the rest lie within the band.
    bool moved = false;
    while (at(m_max.front()).value - at(m_min.front()).value > m_band * (1 + 1e-9)) {
        m_run.pop_front();
        ++m_first;
        if (m_max.front() < m_first)
            m_max.pop_front();
        if (m_min.front() < m_first)
            m_min.pop_front();
        moved = true;
    }
    if (moved)
        m_stableSince = -1;
    if (m_stableSince < 0 && ms - m_run.front().ms >= m_window)
        m_stableSince = ms;
}

int StabilityWatch::secondsLeft() const
{
    if (stable())
        return 0;
    if (m_run.empty())
        return int((m_window + 999) / 1000);
    const qint64 left = m_window - (m_run.back().ms - m_run.front().ms);
    return int((qMax<qint64>(left, 0) + 999) / 1000);
}

QString reasonText(Reason reason)
{
    switch (reason) {
    case Reason::NoReadings:
        return QCoreApplication::translate("FunctionCheck", "нет показаний при поданном газе");
    case Reason::NotStable:
        return QCoreApplication::translate("FunctionCheck", "показания не установились вовремя");
    case Reason::OutOfTolerance:
        return QCoreApplication::translate("FunctionCheck", "показания вне допуска");
    case Reason::Limit1NotCrossed:
        return QCoreApplication::translate("FunctionCheck", "порог 1 не сработал");
    case Reason::Limit2NotCrossed:
        return QCoreApplication::translate("FunctionCheck", "порог 2 не сработал");
    case Reason::NotReturned:
        return QCoreApplication::translate("FunctionCheck", "после снятия газа показания не вернулись за пороги");
    case Reason::AsLeftMissing:
        return QCoreApplication::translate("FunctionCheck", "нет показаний после регулировки");
    case Reason::AsLeftOutOfTolerance:
        return QCoreApplication::translate("FunctionCheck", "показания после регулировки вне допуска");
    }
    return QString();
}

DeviceLimits limitsOf(const ParamBlock &block)
{
    const quint16 scale = Conv::scaleFromConfig(block.Config);
    DeviceLimits l;
    l.rangeMin = Conv::fromScaled(block.ValueMin, scale);
    l.rangeMax = Conv::fromScaled(block.ValueMax, scale);
    l.decimals = Conv::decimals(block.Config);
    const auto threshold = [scale](quint16 word) {
        Threshold t;
        t.value = Conv::limitShown(word, scale);
        t.decreasing = Conv::limitDecreasing(word);
        t.enabled = (word & 0x7FFF) != 0;   // a zero threshold is not set
        return t;
    };
    l.limit1 = threshold(block.Limit1);
    l.limit2 = threshold(block.Limit2);
    return l;
}

namespace {

// When the reading first reached the threshold from a reading short of it
// (a detector already in alarm when the gas came has not crossed it), and
// when it first fell short again after the gas was removed.
Crossing crossingOf(const Threshold &t, const CheckSetup &setup, double gas, double baseline,
                    const QVector<Sample> &samples)
{
    Crossing c;
    if (!t.enabled)
        return c;
    c.expected = t.reached(gas);
    bool armed = !t.reached(baseline);
    for (const Sample &s : samples) {
        if (s.ms < setup.gasApplied)
            continue;
        if (!c.crossed) {
            if (!t.reached(s.value))
                armed = true;
            else if (armed) {
                c.crossed = true;
                c.crossedAt = s.ms - setup.gasApplied;
            }
        } else if (setup.gasRemoved >= 0 && s.ms >= setup.gasRemoved && !t.reached(s.value)) {
            c.returned = true;
            c.returnedAt = s.ms - setup.gasRemoved;
            break;
        }
    }
    return c;
}

} // namespace

CheckResult analyse(const CheckSetup &setup, const QVector<Sample> &samples)
{
    CheckResult r;
    const DeviceLimits &l = setup.limits;
    const auto exposed = [&](const Sample &s) {
        return s.ms >= setup.gasApplied && (setup.gasRemoved < 0 || s.ms <= setup.gasRemoved);
    };

    bool haveBaseline = false;
    StabilityWatch watch(l.rangeMin, l.rangeMax);
    for (const Sample &s : samples) {
        if (s.ms <= setup.gasApplied) {
            r.baseline = s.value;
            haveBaseline = true;
        }
        if (!exposed(s))
            continue;
        if (!haveBaseline) {
            r.baseline = s.value;
            haveBaseline = true;
        }
        watch.add(s);
        r.haveReadings = true;
        r.finalReading = s.value;
    }
    if (!r.haveReadings) {
        r.reasons << Reason::NoReadings;
        return r;
    }

    // The alarm's direction is the first threshold's (the second's when the
    // first is not set; else where the gas takes the reading).
    const bool down = l.limit1.enabled ? l.limit1.decreasing
                    : l.limit2.enabled ? l.limit2.decreasing : setup.gas < r.baseline;
    r.peak = r.baseline;
    for (const Sample &s : samples) {
        if (s.ms < setup.gasApplied)
            continue;
        if (r.peakAt < 0 || (down ? s.value < r.peak : s.value > r.peak)) {
            r.peak = s.value;
            r.peakAt = s.ms - setup.gasApplied;
        }
    }

    r.stable = watch.stable();
    if (r.stable)
        r.stableAt = watch.stableSince() - setup.gasApplied;
    if (!r.stable || r.stableAt > setup.stableWithinMs)
        r.reasons << Reason::NotStable;

    if (r.finalReading != r.baseline) {
        const double target = r.baseline + 0.9 * (r.finalReading - r.baseline);
        const bool rising = r.finalReading > r.baseline;
        for (const Sample &s : samples)
            if (exposed(s) && (rising ? s.value >= target : s.value <= target)) {
                r.t90 = s.ms - setup.gasApplied;
                break;
            }
    }

    r.allowed = setup.tolerance.allowed(setup.gas, l.rangeMin, l.rangeMax);
    r.inTolerance = setup.tolerance.within(r.finalReading, setup.gas, l.rangeMin, l.rangeMax);
    if (!r.inTolerance)
        r.reasons << Reason::OutOfTolerance;

    r.limit1 = crossingOf(l.limit1, setup, setup.gas, r.baseline, samples);
    r.limit2 = crossingOf(l.limit2, setup, setup.gas, r.baseline, samples);
    if (r.limit1.expected && !r.limit1.crossed)
        r.reasons << Reason::Limit1NotCrossed;
    if (r.limit2.expected && !r.limit2.crossed)
        r.reasons << Reason::Limit2NotCrossed;
    if ((r.limit1.crossed && !r.limit1.returned) || (r.limit2.crossed && !r.limit2.returned))
        r.reasons << Reason::NotReturned;
    return r;
}

CheckRun::CheckRun(const CheckSetup &setup, qint64 returnWithinMs)
    : m_setup(setup), m_returnWithin(returnWithinMs), m_watch(setup.limits.rangeMin, setup.limits.rangeMax)
{
}

void CheckRun::start(qint64 ms)
{
    if (m_phase != Phase::Idle)
        return;
    m_setup.gasApplied = ms;
    m_setup.gasRemoved = -1;
    m_watch.reset();
    m_phase = Phase::Settling;
}

void CheckRun::gasRemoved(qint64 ms)
{
    if (m_phase != Phase::Settling && m_phase != Phase::RemoveGas)
        return;
    m_setup.gasRemoved = ms;
    m_phase = Phase::Returning;
    // Nothing crossed: nothing to wait for.
    const CheckResult r = result();
    if (!r.limit1.crossed && !r.limit2.crossed)
        m_phase = Phase::Done;
}

void CheckRun::add(qint64 ms, double value)
{
    if (m_phase == Phase::Done)
        return;
    m_samples.append({ms, value});
    switch (m_phase) {
    case Phase::Idle:
        m_baseline = value;
        m_haveBaseline = true;
        break;
    case Phase::Settling: {
        if (!m_haveBaseline) {
            m_baseline = value;
            m_haveBaseline = true;
        }
        m_watch.add(ms, value);
        // Flat at the baseline is not settled: the gas has not come yet.
        const double allowed = m_setup.tolerance.allowed(m_setup.gas, m_setup.limits.rangeMin, m_setup.limits.rangeMax);
        const bool moved = qAbs(value - m_baseline) > allowed;
        if ((m_watch.stable() && moved) || ms - m_setup.gasApplied >= m_setup.stableWithinMs) {
            m_settledAt = m_watch.stable() ? m_watch.stableSince() : ms;
            m_phase = Phase::RemoveGas;
        }
        break;
    }
    case Phase::RemoveGas:
        break;
    case Phase::Returning: {
        const CheckResult r = result();
        const bool back = (!r.limit1.crossed || r.limit1.returned) && (!r.limit2.crossed || r.limit2.returned);
        if (back || ms - m_setup.gasRemoved >= m_returnWithin)
            m_phase = Phase::Done;
        break;
    }
    case Phase::Done:
        break;
    }
}

int CheckRun::secondsLeft() const
{
    return m_phase == Phase::Settling ? m_watch.secondsLeft() : -1;
}

double CalibrationSession::allowed(double expected) const
{
    return tolerance.allowed(expected, limits.rangeMin, limits.rangeMax);
}

CalibrationSession::Judgement CalibrationSession::judge(double reading, double expected) const
{
    if (qIsNaN(reading))
        return Judgement::NotMeasured;
    return tolerance.within(reading, expected, limits.rangeMin, limits.rangeMax) ? Judgement::Within
                                                                                  : Judgement::Outside;
}

QVector<Reason> CalibrationSession::reasons() const
{
    // A zero-only calibration (no span gas) is judged on its zero.
    const Judgement zero = judge(leftZero, zeroGas);
    const Judgement span = spanGas > 0 ? judge(leftSpan, spanGas) : Judgement::Within;
    QVector<Reason> out;
    if (zero == Judgement::NotMeasured || span == Judgement::NotMeasured)
        out << Reason::AsLeftMissing;
    if (zero == Judgement::Outside || span == Judgement::Outside)
        out << Reason::AsLeftOutOfTolerance;
    return out;
}

QDate nextDue(const QDate &today, int intervalDays)
{
    return today.addDays(intervalDays > 0 ? intervalDays : DefaultIntervalDays);
}

} // namespace FunctionCheck

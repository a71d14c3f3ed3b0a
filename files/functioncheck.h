// The guided calibration and the function check ("bump test") without
// widgets: tolerances, the watch that tells when a reading has settled, the
// analysis of a function check's readings, the figures of a calibration
// session, the test gas and the next due date.  Fed with samples (time in
// ms, concentration in the detector's unit) by whoever reads the device, so
// the program's window, tlctl and the tests all judge the same way.
#pragma once

#include "deviceparams.h"

#include <QDate>
#include <QString>
#include <QVector>
#include <deque>

namespace FunctionCheck {

struct Sample {
    qint64 ms = 0;      // time of the reading
    double value = 0;   // concentration in the detector's unit
};

// How far a reading may lie from what it should read: the larger of a share
// of the test gas and a share of the range (upper minus lower value).
struct Tolerance {
    double percentOfGas = 10.0;
    double percentOfRange = 5.0;

    double allowed(double gas, double rangeMin, double rangeMax) const;
    bool within(double reading, double expected, double rangeMin, double rangeMax) const;
};

// Tells when a reading has settled: it moved by no more than `percent` of the
// range over the last `windowMs` (and the samples cover that long).  Times
// must not go back; a sample older than the last starts the watch afresh.
class StabilityWatch
{
public:
    explicit StabilityWatch(double rangeMin, double rangeMax, qint64 windowMs = 10000, double percent = 1.0);

    void add(qint64 ms, double value);
    void add(const Sample &s) { add(s.ms, s.value); }
    void reset();

    bool stable() const { return m_stableSince >= 0; }
    // Whole seconds until the reading counts as stable if it stays as flat
    // as now (rounded up; 0 once stable, the whole window when nothing was
    // seen).
    int secondsLeft() const;
    // The moment it became stable (for the chart to mark); -1 while not.
    qint64 stableSince() const { return m_stableSince; }
    // The latest reading.
    double last() const { return m_run.empty() ? 0.0 : m_run.back().value; }

private:
    double m_band;
    qint64 m_window;
    // The readings since the oldest one from which on all lie within the
    // band, with the indices of the largest and smallest among them.
    std::deque<Sample> m_run;
    std::deque<qint64> m_max, m_min;   // sequence numbers, values falling / rising
    qint64 m_first = 0;                // sequence number of m_run.front()
    qint64 m_stableSince = -1;
    const Sample &at(qint64 seq) const { return m_run[size_t(seq - m_first)]; }
};

// Why a check or a calibration did not pass.  The window and tlctl word them
// (reasonText).
enum class Reason {
    NoReadings,         // no reading while the gas was applied
    NotStable,          // the reading did not settle (in time)
    OutOfTolerance,     // the settled reading lies outside the tolerance
    Limit1NotCrossed,
    Limit2NotCrossed,
    NotReturned,        // a threshold crossed was not left after the gas was removed
    AsLeftMissing,      // calibration: a reading after adjustment is missing
    AsLeftOutOfTolerance,
};
QString reasonText(Reason reason);

// One alarm threshold as the detector holds it: the value in the detector's
// unit and its direction (an increasing threshold trips when the reading
// rises to it, a decreasing one, as for oxygen, when it falls to it).
struct Threshold {
    double value = 0;
    bool decreasing = false;
    bool enabled = true;

    bool reached(double reading) const { return decreasing ? reading <= value : reading >= value; }
};

// The range and the thresholds as a parameter block holds them.
struct DeviceLimits {
    double rangeMin = 0, rangeMax = 0;
    Threshold limit1, limit2;
    int decimals = 0;   // as the pages show concentrations
};
DeviceLimits limitsOf(const ParamBlock &block);

struct CheckSetup {
    double gas = 0;            // test gas concentration, in the detector's unit
    DeviceLimits limits;
    Tolerance tolerance;
    qint64 gasApplied = 0;     // ms
    qint64 gasRemoved = -1;    // ms; -1: not (yet) removed
    // The reading must settle this long after the gas was applied at most.
    qint64 stableWithinMs = 180000;
};

struct Crossing {
    bool expected = false;     // the test gas lies past the threshold
    bool crossed = false;
    qint64 crossedAt = -1;     // ms after the gas was applied
    bool returned = false;
    qint64 returnedAt = -1;    // ms after the gas was removed
};

struct CheckResult {
    bool haveReadings = false;
    double baseline = 0;       // the reading when the gas was applied
    double peak = 0;           // furthest in the direction of the alarm
    qint64 peakAt = -1;        // ms after the gas was applied
    bool stable = false;
    double finalReading = 0;   // settled reading (the last one when never settled)
    qint64 stableAt = -1;      // ms after the gas was applied
    qint64 t90 = -1;           // ms from the gas applied to 90 % of the way to the final reading
    double allowed = 0;        // the tolerance, in the detector's unit
    bool inTolerance = false;
    Crossing limit1, limit2;
    QVector<Reason> reasons;

    bool passed() const { return reasons.isEmpty(); }
};

// Judges a function check from its readings (in time order; those before
// the gas was applied give the baseline only).
CheckResult analyse(const CheckSetup &setup, const QVector<Sample> &samples);

// A function check as it runs, for whoever reads the device (the program's
// page on its timer, tlctl in its loop): fed with every reading, it says
// what the technician is to do next.  The gas goes on at start(); the
// reading has settled once it is stable (StabilityWatch) and has moved from
// where it was by more than the tolerance, or the settling time has run out;
// then the gas comes off (gasRemoved()), and the check ends once every
// threshold that was crossed has been left again, or `returnWithinMs` after
// the gas came off.
class CheckRun
{
public:
    enum class Phase { Idle, Settling, RemoveGas, Returning, Done };

    explicit CheckRun(const CheckSetup &setup, qint64 returnWithinMs = 180000);

    // Readings before start() give the baseline.
    void start(qint64 ms);
    void add(qint64 ms, double value);
    void gasRemoved(qint64 ms);

    Phase phase() const { return m_phase; }
    // While settling: seconds until the reading counts as stable if it stays
    // as flat as now; -1 when not settling.
    int secondsLeft() const;
    // The moment the reading settled (ms), for the chart to mark; -1 before.
    qint64 settledAt() const { return m_settledAt; }
    const CheckSetup &setup() const { return m_setup; }
    const QVector<Sample> &samples() const { return m_samples; }
    // The analysis of what was read so far.
    CheckResult result() const { return analyse(m_setup, m_samples); }

private:
    CheckSetup m_setup;
    qint64 m_returnWithin;
    Phase m_phase = Phase::Idle;
    QVector<Sample> m_samples;
    StabilityWatch m_watch;
    double m_baseline = 0;
    bool m_haveBaseline = false;
    qint64 m_settledAt = -1;
};

// A calibration's zero and span readings before (as found) and after (as
// left) adjustment.  NaN marks a reading not taken.
struct CalibrationSession {
    DeviceLimits limits;
    Tolerance tolerance;
    double zeroGas = 0;        // concentration of the zero gas (0 for clean air)
    double spanGas = 0;
    double foundZero = qQNaN(), foundSpan = qQNaN();
    double leftZero = qQNaN(), leftSpan = qQNaN();

    enum class Judgement { NotMeasured, Within, Outside };
    Judgement judge(double reading, double expected) const;
    double allowed(double expected) const;
    // Empty when passed: both readings as left taken and within tolerance.
    QVector<Reason> reasons() const;
    bool passed() const { return reasons().isEmpty(); }
};

struct TestGas {
    QString name;              // "Метан"
    double concentration = 0;
    QString unit;              // "%LEL"
    QString cylinder;          // the cylinder's number
    QDate expiry;              // last day of use; invalid: not known

    bool expired(const QDate &today) const { return expiry.isValid() && today > expiry; }
};

// When the next calibration or check is due: `today` + the site's interval,
// or + DefaultIntervalDays when none is known (0 or less).
constexpr int DefaultIntervalDays = 180;
QDate nextDue(const QDate &today, int intervalDays = 0);

} // namespace FunctionCheck

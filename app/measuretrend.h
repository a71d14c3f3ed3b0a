// The live values of a detector over time, as the measurement chart shows
// them: concentration, the output (current or voltage) and the two
// thresholds, each in the units the measurement page shows.  Filled from the
// reads the program makes anyway; it sends nothing itself.  No widgets here.
#pragma once

#include "deviceparams.h"

#include <QString>
#include <QVector>
#include <QtGlobal>
#include <deque>

class MeasureTrend
{
public:
    struct Sample {
        qint64 msecs = 0;          // time of the read, ms since the epoch
        double concentration = 0;  // shown value (raw / Scale)
        double output = 0;         // mA for a current output, mV for a voltage output
        double limit1 = 0;         // thresholds, shown value (direction bit left out)
        double limit2 = 0;
        int decimals = 0;          // of the concentration and thresholds then
        bool gapBefore = false;    // reads failed between the sample before and this one
    };
    enum class Output { Current, Voltage };
    struct Range {
        double low = 0;
        double high = 1;
    };

    // Samples older than this before the newest one are dropped.
    static constexpr qint64 KeepMs = 60 * 60 * 1000;
    // Upper bound on the samples kept, whatever the read rate.
    static constexpr int MaxSamples = 36000;

    // Takes the live values (input registers) and the thresholds and Config of
    // `block`, read at `msecs`.  `source` names the device they came from
    // (port and address).  The earlier samples are dropped when they cannot go
    // on one chart with this one: another source, another unit of
    // concentration, another kind of output, or a time before the newest
    // sample (the clock was set back).  A change of discreteness keeps them:
    // their values are in concentration units already.
    void add(const ParamBlock &block, qint64 msecs, const QString &source = QString());
    // A read of the live values failed: the next sample does not continue
    // the line of the one before.
    void addGap();
    void clear();

    bool isEmpty() const { return samples.empty(); }
    int size() const { return int(samples.size()); }
    // Oldest first.
    const Sample &at(int i) const { return samples[size_t(i)]; }
    const Sample &newest() const { return samples.back(); }

    // Of the newest sample: unit index (Config bits 0-1), decimals (bits 4-5)
    // and the kind of output (input register 4: 2 is a voltage output).
    int unitIndex() const { return unit; }
    int decimals() const { return decimalCount; }
    Output output() const { return outputKind; }
    QString unitName() const;

    // Samples that lie within `spanMs` before the newest one, oldest first.
    QVector<Sample> span(qint64 spanMs) const;
    // Value ranges for the axes over those samples, with some room around:
    // concentration with both thresholds and zero, and the output.
    Range concentrationRange(qint64 spanMs) const;
    Range outputRange(qint64 spanMs) const;

    // The samples of the span as text: a header line, then one line per
    // sample, fields separated by ';', numbers with a decimal point, times
    // as local time "yyyy-MM-dd HH:mm:ss.zzz".
    QString csv(qint64 spanMs) const;

private:
    std::deque<Sample> samples;
    QString sourceName;
    int unit = 0;
    int decimalCount = 0;
    Output outputKind = Output::Current;
    bool gapPending = false;
};

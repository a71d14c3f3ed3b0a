// The live values of a detector over time, as the measurement chart shows
// them: concentration, the output (current or voltage) and the two
// thresholds, each in the units the measurement page shows.  Filled from the
// reads the program makes anyway; it sends nothing itself.  No widgets here.
#pragma once

#include "deviceparams.h"

#include <QCoreApplication>
#include <QLocale>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <deque>

class MeasureTrend
{
    Q_DECLARE_TR_FUNCTIONS(MeasureTrend)
public:
    struct Sample {
        qint64 msecs = 0;          // time of the read, ms since the epoch
        double concentration = 0;  // shown value (raw / Scale)
        double output = 0;         // mA for a current output, mV for a voltage output
        double limit1 = 0;         // thresholds, shown value (direction bit left out)
        double limit2 = 0;
        int decimals = 0;          // of the concentration and thresholds then
        // Reads failed, or none were made for a while (PauseMs), between the
        // sample before and this one: the line does not join them.
        bool gapBefore = false;
    };
    // Thresholds from a moment on, until the next step.
    struct LimitStep {
        qint64 msecs = 0;
        double limit1 = 0;
        double limit2 = 0;
    };
    // A moment marked on the chart (a calibration step, say).
    struct Mark {
        qint64 msecs = 0;
        QString label;
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
    // Reads come every second or faster while they go on: a longer time
    // between two samples is a pause in reading, and breaks the line.
    static constexpr qint64 PauseMs = 5000;

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
    // Marks the moment `msecs` with a short label.  Marks go with the
    // samples: dropped when they are (cleared, or older than KeepMs before
    // the newest sample).
    void addMark(qint64 msecs, const QString &label);
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
    // The serial number of the device the samples come from ("TL02ID0012345").
    QString serialNumber() const { return serial; }
    // Marks from `from` to `to`, oldest first.
    QVector<Mark> marks(qint64 from, qint64 to) const;

    // Samples that lie within `spanMs` before the newest one, oldest first.
    QVector<Sample> span(qint64 spanMs) const;
    // Samples from `from` to `to` (both included), oldest first.
    QVector<Sample> between(qint64 from, qint64 to) const;
    // The index of the sample nearest to `msecs` among those from `from` to
    // `to`; -1 when none lies there.
    int nearest(qint64 msecs, qint64 from, qint64 to) const;
    // Value ranges for the axes over those samples, with some room around:
    // concentration with both thresholds and zero, and the output.
    Range concentrationRange(qint64 spanMs) const;
    Range outputRange(qint64 spanMs) const;
    Range concentrationRange(qint64 from, qint64 to) const;
    Range outputRange(qint64 from, qint64 to) const;
    // The thresholds as they were from `from` to `to`: the first step at
    // `from` (with the thresholds of the sample then, or of the first one
    // after it), then one at each sample that brought others.  Empty
    // without samples.
    QVector<LimitStep> limitSteps(qint64 from, qint64 to) const;

    // The samples from `from` to `to` as text for a spreadsheet: the serial
    // number and the date, the column names (in the program's language),
    // then one line per sample; fields separated by ';', numbers with the
    // decimal separator of `locale`, times as local time
    // "yyyy-MM-dd HH:mm:ss.zzz".
    QString csv(qint64 from, qint64 to, const QLocale &locale) const;

private:
    std::deque<Sample> samples;
    std::deque<Mark> markList;
    QString sourceName;
    QString serial;
    int unit = 0;
    int decimalCount = 0;
    Output outputKind = Output::Current;
    bool gapPending = false;
};

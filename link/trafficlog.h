// The traffic monitor's record of the line, without widgets: every frame the
// link sends and receives, decoded, with the time and the result of its
// attempt, in a ring of the last frames; a filter by address and function;
// the export of a table of texts as plain text or CSV.
#pragma once

#include "framedecode.h"

#include <QObject>
#include <QVector>
#include <functional>

class Command;

struct TrafficEntry {
    quint64 seq = 0;          // running number, never reused (also across clear())
    qint64 timeMs = 0;        // when it was seen, ms since the epoch
    bool sent = true;
    bool onLine = true;       // false: a request that could not be put on the line
    QByteArray bytes;
    FrameDecode::Frame frame;
    int result = -1;          // result of the attempt (ResultOk, ResultNoReply, ...); -1 none (yet)
    int exceptionCode = -1;   // the attempt's reply was an exception with this code
};

// The last `capacity` entries; the oldest goes when a new one comes to a
// full ring.  Entries are found by position (0 = oldest) or by seq.
class TrafficRing
{
public:
    static constexpr int DefaultCapacity = 10000;

    explicit TrafficRing(int capacity = DefaultCapacity);
    int capacity() const { return cap; }
    int size() const { return count; }
    const TrafficEntry &at(int i) const { return buf[(head + i) % cap]; }
    // Puts the entry in (its seq is given here) and returns the seq.
    quint64 append(TrafficEntry entry);
    // Seq of the oldest entry held (== nextSeq() when empty).
    quint64 firstSeq() const { return next - quint64(count); }
    quint64 nextSeq() const { return next; }
    // Null when the entry has left the ring (or never was).
    TrafficEntry *bySeq(quint64 seq);
    const TrafficEntry *bySeq(quint64 seq) const;
    void clear();

private:
    QVector<TrafficEntry> buf;
    int cap;
    int head = 0;
    int count = 0;
    quint64 next = 1;
};

// Which entries a view shows: one address and/or one function (an exception
// reply counts as its function).  -1 lets every value through.
struct TrafficFilter {
    int address = -1;
    int function = -1;
    bool matches(const TrafficEntry &entry) const;
};

// Feeds a ring from the link's traffic hook.  install() puts the hook in,
// remove() takes it out; with the hook out the link does no work for the
// monitor.  Only one recorder can be installed at a time (the link has one
// observer).
class TrafficRecorder : public QObject
{
    Q_OBJECT
public:
    // Records the traffic of `link`, which must outlive the recorder.
    explicit TrafficRecorder(Command &link, int capacity = TrafficRing::DefaultCapacity, QObject *parent = nullptr);
    ~TrafficRecorder() override;

    void install();
    void remove();
    bool installed() const { return hooked; }

    const TrafficRing &ring() const { return entries; }
    void clear();

    // What the hook calls; public so that tests can feed frames directly.
    void onBytes(bool sent, const QByteArray &bytes);
    void onAttemptEnded(quint16 result);

    // The clock of the time stamps (tests set a fixed one); null: the system's.
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }

signals:
    // A new entry; the oldest ones may have left the ring before it.
    void appended(quint64 seq);
    // The result of an entry came in.
    void updated(quint64 seq);
    void cleared();

private:
    static void bytesHook(bool sent, const QByteArray &bytes, void *context);
    static void attemptHook(quint16 result, void *context);
    void setResult(quint64 seq, quint16 result);
    qint64 timeNow() const;

    Command &link;
    TrafficRing entries;
    bool hooked = false;
    std::function<qint64()> now;
    // The request of the attempt under way and its reply (0: none), and the
    // last request, against which replies are read.
    quint64 pendingRequest = 0;
    quint64 pendingReply = 0;
    FrameDecode::Frame lastRequest;
    bool haveRequest = false;
};

// A table of texts as a file: plain text in aligned columns, or CSV (comma
// separated, fields quoted where needed, CRLF line ends).
namespace TrafficExport {
QString toText(const QStringList &headers, const QVector<QStringList> &rows);
QString toCsv(const QStringList &headers, const QVector<QStringList> &rows);
} // namespace TrafficExport

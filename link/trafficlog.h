// The traffic monitor's record of the line, without widgets: every frame the
// link sends and receives, with the time and the result of its attempt, in a
// ring of the last frames; statistics of the line by address; a filter by
// address, function and failure; the export of a table of texts as plain
// text or CSV.
//
// An entry keeps the frame's bytes and the little it takes to decode them
// again (the request a reply answers, the Config and device type known at
// the time): a frame is decoded when it is shown, not when it is recorded,
// so that a full ring stays small.
#pragma once

#include "framedecode.h"

#include <QObject>
#include <QVector>
#include <functional>
#include <map>
#include <vector>

class Command;

struct TrafficEntry {
    // Frames up to this length live in the entry itself; longer ones (a
    // garbled line can bring up to Modbus::ReplyCapacity bytes) on the heap.
    static constexpr int InlineBytes = 256;

    quint64 seq = 0;          // running number, never reused (also across clear())
    qint64 timeMs = 0;        // when it was seen, ms since the epoch
    int result = -1;          // result of the attempt (ResultOk, ResultNoReply, ...); -1 none (yet)
    qint16 exceptionCode = -1;// the attempt's reply was an exception with this code
    qint16 address = -1;      // first byte of a frame; -1 for raw text and empty frames
    qint16 function = -1;     // second byte as on the line (exception bit included); -1 none
    bool sent = true;
    bool onLine = true;       // false: a request that could not be put on the line
    bool rawText = false;     // printable bytes sent that are no frame
    bool crcOk = false;
    // What decoding needs besides the bytes: for a reply, the register the
    // read it answers started at (-1: not known) and that read's function;
    // the Config (whether known at all), device type and serial number of
    // the device as known when the frame was seen.
    bool configKnown = false;
    quint8 askedFunction = 0;
    qint32 askedStart = -1;
    quint16 config = 0;
    quint16 deviceType = 0;
    qint32 serialNumber = 0;

    QByteArray bytes() const;
    void setBytes(const QByteArray &bytes);
    int size() const { return length; }
    // Function without the exception bit (-1 when there is none).
    int baseFunction() const { return function < 0 ? -1 : (function & 0x7F); }
    // The attempt went wrong: no reply, a damaged reply, an exception, not
    // put on the line, ...
    bool failed() const;
    // The frame decoded, in tlctl's words.
    FrameDecode::Frame decode() const;

private:
    int length = 0;
    quint8 shortBytes[InlineBytes] = {};
    QByteArray longBytes;
};

// The last `capacity` entries; the oldest goes when a new one comes to a
// full ring.  Entries are found by position (0 = oldest) or by seq.  The
// storage is taken whole when the first entry comes and given back whole
// by clear().
class TrafficRing
{
public:
    static constexpr int DefaultCapacity = 10000;

    explicit TrafficRing(int capacity = DefaultCapacity);
    int capacity() const { return cap; }
    int size() const { return count; }
    const TrafficEntry &at(int i) const { return buf[size_t((head + i) % cap)]; }
    // Puts the entry in (its seq is given here) and returns the seq.
    quint64 append(TrafficEntry entry);
    // Seq of the oldest entry held (== nextSeq() when empty).
    quint64 firstSeq() const { return next - quint64(count); }
    quint64 nextSeq() const { return next; }
    // Null when the entry has left the ring (or never was).
    TrafficEntry *bySeq(quint64 seq);
    const TrafficEntry *bySeq(quint64 seq) const;
    void clear();
    // Bytes held by the ring's storage.
    size_t storageBytes() const { return buf.capacity() * sizeof(TrafficEntry); }

private:
    std::vector<TrafficEntry> buf;
    int cap;
    int head = 0;
    int count = 0;
    quint64 next = 1;
};

// Statistics of the line by address: requests put on the line, replies,
// requests left without a reply, replies with a wrong CRC, exception replies,
// and the response time (request sent to reply received).  Minimum and
// maximum count every reply since the last clear(); the median is that of
// the last MedianWindow response times of the address, so that the memory
// stays bounded however long the line runs.
class TrafficStats
{
public:
    static constexpr int MedianWindow = 256;

    struct Line {
        int address = 0;
        int requests = 0;
        int replies = 0;
        int noReply = 0;
        int crcErrors = 0;
        int exceptions = 0;
        qint64 minMs = -1;     // -1: no reply yet
        qint64 maxMs = -1;
        qint64 medianMs() const;   // -1: no reply yet

        std::vector<qint64> recent;   // at most MedianWindow, oldest overwritten first
        int recentNext = 0;
    };

    // One attempt of a request to `address` that went out on the line.
    // `responseMs` < 0: no reply came.
    void attempt(int address, bool noReply, bool replied, bool crcError, bool exception, qint64 responseMs);
    void clear() { lines.clear(); }
    // Addresses seen, ascending.
    QVector<int> addresses() const;
    // Null for an address not seen.
    const Line *line(int address) const;

private:
    std::map<int, Line> lines;
};

// Which entries a view shows: one address and/or one function (an exception
// reply counts as its function), -1 lets every value through; with
// `failuresOnly` only the frames of attempts that went wrong.
struct TrafficFilter {
    int address = -1;
    int function = -1;
    bool failuresOnly = false;
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
    const TrafficStats &stats() const { return lineStats; }
    // Empties the ring and the statistics.
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
    // The statistics of an address changed.
    void statsChanged(int address);
    void cleared();

private:
    static void bytesHook(bool sent, const QByteArray &bytes, void *context);
    static void attemptHook(quint16 result, void *context);
    void setResult(quint64 seq, quint16 result);
    qint64 timeNow() const;
    // Fills in what the device is known to be (Config, type, serial number).
    void putContext(TrafficEntry &entry) const;
    // Learns the Config and device type a frame carries.
    void learn(const TrafficEntry &entry);

    Command &link;
    TrafficRing entries;
    TrafficStats lineStats;
    bool hooked = false;
    std::function<qint64()> now;
    // The request of the attempt under way and its reply (0: none), and the
    // last request, against which replies are read: its function and first
    // register (-1: not a read, or no request yet).
    quint64 pendingRequest = 0;
    quint64 pendingReply = 0;
    int lastRequestFunction = 0;
    int lastRequestStart = -1;
    // The Config and device type each address has shown on the line
    // (-1: not seen); they count over the link's block, which is only the
    // device the program has read in full.
    struct Seen {
        int config = -1;
        int deviceType = -1;
    };
    std::map<int, Seen> seen;
};

// A table of texts as a file: plain text in aligned columns, or CSV (comma
// separated, fields quoted where needed, CRLF line ends).
namespace TrafficExport {
QString toText(const QStringList &headers, const QVector<QStringList> &rows);
QString toCsv(const QStringList &headers, const QVector<QStringList> &rows);
} // namespace TrafficExport

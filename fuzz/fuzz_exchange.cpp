// Fuzzes the exchange loop itself: Command::transact and transactBlock run
// on the fake line of the tests, in virtual time, with whatever the far end
// sends (pieces at any time, whole and broken replies, MBAP frames, endless
// babble) and whatever goes wrong with the line.  After every exchange the
// harness checks what the loop promises: a known result, an Ok reply that
// fits its request, every attempt within its deadline, no more attempts
// than allowed, one report per attempt, and the wait hook asked often
// enough and obeyed at once.  Anything broken is printed on stderr and
// aborts.
//
// Input (missing bytes read as 0):
//   0      line: bit 0 Modbus TCP gateway (MBAP pieces), bit 1 every piece
//          cut into single bytes, bits 2-4 the spacing of those bytes,
//          bit 5 no wait hook, bit 6 the last device script answers every
//          later request too
//   1      request: 3, 4, 6, 16, 20, 21, 43 (transact) or 14 (transactBlock)
//   2      slave address (0 and 255 make 6, 16 and 21 broadcasts)
//   3-4    start register (memory address low word for 14)
//   5-6    count (data length for 14; value and memory address high word)
//   7      bits 0-1 start mode, bits 2-3 count mode, bits 4-7 attempt limit
//   8      line trouble: bit 0 writes stick, bit 1 line gone on write,
//          bit 2 line gone after write, bit 3 no reopen, bit 4 the first
//          open fails; bits 5-7 the request from which the trouble starts
//   9-10   cancel time: 0 none, else the wait hook says stop from
//          (value - 1) % 9000 ms on
//   then   device scripts, one per request (see parseScript)
//
// FUZZ_EXCHANGE_TRACE=1 prints every exchange; FUZZ_EXCHANGE_TOLERATE
// steps over known faults (see Tolerated).

// The fake line (and the Qt containers it keeps its pieces in) is the
// tests' stand-in for a port, not code under test: it is left out of the
// coverage that steers the fuzzer (it stays under ASan and UBSan).  Its
// look through every piece still to come at every wait would otherwise
// take most of the time.  Included first, so that the containers' code is
// left out too.
#pragma clang attribute push(__attribute__((no_sanitize("coverage"))), apply_to = function)
#include "../tests/link/fakeline.h"
#pragma clang attribute pop

#include "command.h"
#include "deviceparams.h"
#include "modbus.h"

#include <QByteArray>
#include <QList>
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The link under test.
Command link;

using Piece = FakeLine::Piece;

// ------------------------------------------------------------------ input

struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    quint16 word()
    {
        const quint16 hi = byte();
        return quint16((hi << 8) | byte());
    }
    bool empty() const { return n == 0; }
};

// One step of what the device sends after a request.  Times are relative to
// the step before (the first to the request).
struct Op {
    enum Kind { Raw, Reply, Babble, Silence } kind;
    double delayMs = 0;
    quint8 variant = 0;   // Reply: what is wrong with it, how it is cut up
    quint8 extra = 0;     // Reply: a seed; Babble: the byte
    double intervalMs = 0;
    double durationMs = 0;
    int chunk = 1;
    bool counting = false;
    QByteArray raw;
};
using Script = std::vector<Op>;

// A script: one byte, its low three bits the number of steps, then each
// step: a byte whose low two bits are the kind (raw bytes, a reply built
// from the request, babble, silence) and bit 2 a coarse time scale, then
// the step's own bytes.
Script parseScript(Reader &in)
{
    Script s;
    const int steps = in.byte() & 7;
    for (int i = 0; i < steps && !in.empty(); ++i) {
        const quint8 o = in.byte();
        Op op;
        op.kind = Op::Kind(o & 3);
        const double scale = (o & 4) ? 2.5 : 0.25;   // 0..63.75 ms, or 0..637.5 ms
        op.delayMs = in.byte() * scale;
        switch (op.kind) {
        case Op::Raw: {
            const int len = in.byte() & 63;
            for (int k = 0; k < len && !in.empty(); ++k)
                op.raw.append(char(in.byte()));
            break;
        }
        case Op::Reply:
            op.variant = in.byte();
            op.extra = in.byte();
            break;
        case Op::Babble:
            // A byte (or a few) every 1..128.5 ms, or every 5..1280 ms, for
            // up to 10 s.
            op.intervalMs = (o & 8) ? (in.byte() + 1) * 5.0 : (in.byte() + 2) * 0.5;
            op.durationMs = in.byte() * 40.0;
            op.extra = in.byte();
            op.chunk = 1 + ((o >> 4) & 3);
            op.counting = o & 0x40;
            break;
        case Op::Silence:
            op.delayMs = op.delayMs / scale * 10;   // up to 2.55 s
            break;
        }
        s.push_back(std::move(op));
    }
    return s;
}

struct Case {
    bool mbap = false;
    bool tiny = false;
    double tinySpacingMs = 0;
    bool waitHook = true;
    bool repeatLast = false;
    quint8 function = 3;
    quint8 address = 1;
    quint16 start = 0;
    quint16 count = 0;
    quint16 value = 0;
    quint32 memAddress = 0;
    QByteArray blockData;
    int attemptLimit = 0;
    bool writesStick = false, dropOnWrite = false, dropAfterWrite = false, refuseReopen = false;
    bool refuseFirstOpen = false;
    int troubleFrom = 0;
    qint64 cancelMs = -1;
    std::vector<Script> scripts;
};

Case decode(Reader &in)
{
    Case c;
    const quint8 line = in.byte();
    c.mbap = line & 1;
    c.tiny = line & 2;
    static const double spacings[] = {0, 0.25, 10.0 / 9.6, 2.5, 10, 49.5, 50, 50.5};
    c.tinySpacingMs = spacings[(line >> 2) & 7];
    c.waitHook = !(line & 0x20);
    c.repeatLast = line & 0x40;
    static const quint8 functions[] = {3, 4, 6, 16, 20, 21, 43, 14};
    c.function = functions[in.byte() & 7];
    c.address = in.byte();
    const quint16 start = in.word();
    const quint16 count = in.word();
    const quint8 modes = in.byte();
    switch (modes & 3) {
    case 0: c.start = start; break;
    case 1: c.start = quint16(Params::HoldingFirst + start % Params::HoldingCount); break;
    case 2: c.start = Params::CommandRegister; break;
    default: c.start = quint16(start % Params::InputCount); break;
    }
    switch ((modes >> 2) & 3) {
    case 0: c.count = count; break;
    case 1: c.count = quint16(1 + count % Params::HoldingCount); break;
    case 2: c.count = quint16(count % 11); break;
    default: c.count = quint16(1 + count % 125); break;
    }
    c.value = quint16(count ^ 0x5A5A);
    c.attemptLimit = modes >> 4;
    if (c.function == Modbus::FnWriteMemory) {
        // Up to 250 bytes: past MaxBlockData the request cannot be built.
        const int length = ((modes >> 2) & 3) == 0 ? count % 251 : 1 + count % 200;
        for (int i = 0; i < length; ++i)
            c.blockData.append(char(quint8(i * 37 + count)));
        c.memAddress = (quint32(count) << 16) | c.start;
    }
    const quint8 trouble = in.byte();
    c.writesStick = trouble & 1;
    c.dropOnWrite = trouble & 2;
    c.dropAfterWrite = trouble & 4;
    c.refuseReopen = trouble & 8;
    c.refuseFirstOpen = trouble & 16;
    c.troubleFrom = trouble >> 5;
    const quint16 cancel = in.word();
    if (cancel != 0)
        c.cancelMs = (cancel - 1) % 9000;
    while (!in.empty() && c.scripts.size() < 16)
        c.scripts.push_back(parseScript(in));
    return c;
}

// --------------------------------------------------------- the far end

QByteArray withCrc(QByteArray b)
{
    const quint16 crc = Modbus::crc16(reinterpret_cast<const quint8 *>(b.constData()), b.size());
    b.append(char(crc & 0xFF));
    b.append(char(crc >> 8));
    return b;
}

// The answer a device gives to `req` (address and PDU, no CRC), as it
// should or broken as `variant` says.
QByteArray replyBody(const QByteArray &req, quint8 variant, quint8 seed)
{
    const quint8 fn = quint8(req[1]);
    QByteArray b = req.left(2);
    switch (fn) {
    case Modbus::FnReadHolding:
    case Modbus::FnReadInput: {
        const int regs = (quint8(req[4]) << 8) | quint8(req[5]);
        const int n = qMin(2 * regs, 254);
        b.append(char(quint8(2 * regs)));
        for (int i = 0; i < n; ++i)
            b.append(char(quint8(seed + i)));
        break;
    }
    case Modbus::FnWriteSingle:
    case Modbus::FnWriteMultiple:
        b = req.left(6);
        break;
    case Modbus::FnWriteMemory:
        b = req.left(7);
        break;
    case Modbus::FnWriteFileRecord:
    case Modbus::FnReadFileRecord:
        b.append(char(0)).append(char(16));
        for (int i = 0; i < 16; ++i)
            b.append(char(quint8(seed * 3 + i)));
        break;
    default: {   // 43: identification objects
        b.append(char(0x0E)).append(char(1)).append(char(1)).append(char(0)).append(char(0));
        const int objects = seed & 3;
        b.append(char(objects));
        for (int k = 0; k < objects; ++k) {
            b.append(char((seed + k) % 10));   // 9 is no object the device has
            const int len = (seed >> 4) + k;
            b.append(char(len));
            for (int i = 0; i < len; ++i)
                b.append(char('A' + (i + k) % 26));
        }
        break;
    }
    }
    switch (variant & 7) {
    case 1:   // exception, codes 1 to 4
        b = req.left(1);
        b.append(char(fn | 0x80)).append(char(1 + seed % 4));
        break;
    case 2:   // another unit
        b[0] = char(quint8(b[0]) + 1);
        break;
    case 3:   // another function
        b[1] = char(seed);
        break;
    case 4:   // does not fit the request
        if (fn == Modbus::FnReadHolding || fn == Modbus::FnReadInput) {
            b[2] = char(quint8(b[2]) + 2);
            b.append(char(0)).append(char(0));
        } else if (b.size() > 5)
            b[5] = char(quint8(b[5]) ^ 1);
        else if (b.size() > 3)
            b[3] = char(quint8(b[3]) ^ 1);
        break;
    default:
        break;
    }
    if (variant & 8)   // the device's own address
        b[0] = char(1 + seed % 247);
    return b;
}

// The pieces of one reply step at `at` ms.  The variant byte: bits 0-2 the
// reply right (0), an exception, another unit, another function, not
// fitting the request, a wrong CRC (through a gateway: a length out of
// step), cut short, a byte too many; bit 3 under the device's own address;
// bits 4-5 whole, in two halves, byte by byte or twice; bit 6 a stray byte
// first (through a gateway: the transaction before); bit 7 (through a
// gateway) protocol 1.
void replyPieces(const Case &c, const QByteArray &req, int index, const Op &op, double at, QList<Piece> &out)
{
    const quint8 v = op.variant;
    QByteArray body = replyBody(req, v, op.extra);
    QByteArray wire;
    if (c.mbap) {
        // A gateway's answer: transaction, protocol, length, unit, PDU.
        const quint16 transaction = quint16((v & 0x40) ? index : index + 1);   // or the one before
        const quint16 protocol = (v & 0x80) ? 1 : 0;
        int length = body.size();
        if ((v & 7) == 5)
            length += 1;   // out of step
        wire.append(char(transaction >> 8)).append(char(transaction & 0xFF));
        wire.append(char(protocol >> 8)).append(char(protocol & 0xFF));
        wire.append(char(length >> 8)).append(char(length & 0xFF));
        wire += body;
    } else {
        wire = withCrc(body);
        if ((v & 7) == 5)
            wire[wire.size() - 1] = char(quint8(wire[wire.size() - 1]) ^ 0x55);
        if (v & 0x40)
            wire.prepend(char(op.extra));   // a stray byte first
    }
    if ((v & 7) == 6)
        wire.chop(qMin(wire.size(), 1 + op.extra % 4));
    if ((v & 7) == 7)
        wire.append(char(op.extra));
    const double step = (op.extra >> 2) * 0.5;
    switch ((v >> 4) & 3) {
    case 0:
        out.append({at, wire});
        break;
    case 1:   // two halves
        out.append({at, wire.left(wire.size() / 2)});
        out.append({at + step, wire.mid(wire.size() / 2)});
        break;
    case 2:   // byte by byte
        for (int i = 0; i < wire.size(); ++i)
            out.append({at + i * step / 8, wire.mid(i, 1)});
        break;
    default:   // twice
        out.append({at, wire});
        out.append({at + step, wire});
        break;
    }
}

// Pieces the device sends in all: enough to keep the line talking through
// every attempt of an exchange (a byte every 30 ms for the longest one, or
// a byte a millisecond through the first reply deadlines), few enough to
// keep the runs fast (the fake line looks through all pieces still to come
// at every wait).
constexpr int PieceBudget = 300;

QList<Piece> play(const Case &c, const QByteArray &req, int index, int &budget)
{
    QList<Piece> out;
    if (c.scripts.empty())
        return out;
    const int which = index < int(c.scripts.size()) ? index : c.repeatLast ? int(c.scripts.size()) - 1 : -1;
    if (which < 0)
        return out;
    double at = 0;
    for (const Op &op : c.scripts[size_t(which)]) {
        at += op.delayMs;
        switch (op.kind) {
        case Op::Raw:
            out.append({at, op.raw});
            break;
        case Op::Reply:
            replyPieces(c, req, index, op, at, out);
            break;
        case Op::Babble: {
            int k = 0;
            for (double t = 0; t <= op.durationMs && out.size() < budget; t += op.intervalMs, ++k) {
                QByteArray b;
                for (int i = 0; i < op.chunk; ++i)
                    b.append(char(op.counting ? quint8(op.extra + k * op.chunk + i) : op.extra));
                out.append({at + t, b});
            }
            at += op.durationMs;
            break;
        }
        case Op::Silence:
            break;
        }
    }
    if (c.tiny) {
        QList<Piece> bytes;
        for (const Piece &p : out)
            for (int i = 0; i < p.bytes.size() && bytes.size() < budget; ++i)
                bytes.append({p.atMs + i * c.tinySpacingMs, p.bytes.mid(i, 1)});
        out = bytes;
    }
    // An arrival is at least one byte.
    out.erase(std::remove_if(out.begin(), out.end(), [](const Piece &p) { return p.bytes.isEmpty(); }), out.end());
    if (out.size() > budget)
        out = out.mid(0, budget);
    budget -= out.size();
    return out;
}

// ------------------------------------------------------- what was seen

struct WriteRec {
    qint64 atUs = 0;
    bool queued = false;
    bool waited = false;
    int waitMs = 0;
    bool written = false;   // queued and went out
    bool dropped = false;   // the line went away once it had gone out
    qint64 endUs = 0;       // when the loop had its answer from the line
};

struct AttemptRec {
    quint16 result;
    qint64 atUs;
    int writes;   // writes made when it was reported
};

struct AskRec {
    qint64 elapsedMs;
    qint64 atUs;
    qint64 writeWaitUs;   // time spent in write waits so far
    bool answer;
};

struct Probe {
    const Case *c = nullptr;
    VirtualClock *clock = nullptr;
    qint64 startUs = 0;
    std::vector<WriteRec> writes;
    std::vector<AttemptRec> attempts;
    std::vector<AskRec> asks;
    qint64 writeWaitUs = 0;
    int sentFrames = 0;
    QByteArray lastReceived;
    bool anyReceived = false;
    qint64 firstNoUs = -1;     // when the wait hook first said stop
    int pendingAtNo = -1;      // writes not yet reported then
    int budget = PieceBudget;
    quint16 result = 0;
    int stage = 0;             // 0 before the exchange, 1 in it, 2 after

    // Back to the start, keeping the room the records took.
    void reset()
    {
        c = nullptr;
        clock = nullptr;
        startUs = 0;
        writes.clear();
        attempts.clear();
        asks.clear();
        writeWaitUs = 0;
        sentFrames = 0;
        lastReceived.clear();
        anyReceived = false;
        firstNoUs = -1;
        pendingAtNo = -1;
        budget = PieceBudget;
        result = 0;
        stage = 0;
    }
};

Probe probe;

[[noreturn]] void broke(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void describe()
{
    const Case &c = *probe.c;
    std::fprintf(stderr,
                 "  case: function %d, address %d, start 0x%04X, count %d, block %d bytes, %s%s, "
                 "attempt limit %d, trouble from request %d:%s%s%s%s%s, cancel at %lld ms, %d scripts\n",
                 c.function, c.address, c.start, c.count, int(c.blockData.size()),
                 c.mbap ? "Modbus TCP" : "RTU", c.tiny ? " (single bytes)" : "", c.attemptLimit, c.troubleFrom,
                 c.writesStick ? " writes-stick" : "", c.dropOnWrite ? " gone-on-write" : "",
                 c.dropAfterWrite ? " gone-after-write" : "", c.refuseReopen ? " no-reopen" : "",
                 c.refuseFirstOpen ? " first-open-fails" : "", (long long)c.cancelMs, int(c.scripts.size()));
    std::fprintf(stderr, "  result %u, virtual time %lld us\n", probe.result,
                 (long long)(probe.clock->now - probe.startUs));
    for (size_t i = 0; i < probe.writes.size(); ++i) {
        const WriteRec &w = probe.writes[i];
        std::fprintf(stderr, "  write %zu at %lld us: queued %d written %d dropped %d, done at %lld us\n", i,
                     (long long)w.atUs, w.queued, w.written, w.dropped, (long long)w.endUs);
    }
    for (size_t i = 0; i < probe.attempts.size(); ++i)
        std::fprintf(stderr, "  attempt %zu: result %u at %lld us (%d writes)\n", i, probe.attempts[i].result,
                     (long long)probe.attempts[i].atUs, probe.attempts[i].writes);
}

void broke(const char *fmt, ...)
{
    std::fprintf(stderr, "fuzz_exchange: invariant broken: ");
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    if (probe.c && probe.clock)
        describe();
    std::abort();
}

#define CHECK(cond, ...)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            broke(__VA_ARGS__);                                                                              \
    } while (0)

// The fake line, watched: every write and every write wait is noted, and
// the line's trouble starts with the request the input names.
class WatchedLine : public FakeLine
{
public:
    using FakeLine::FakeLine;

    qint64 write(const QByteArray &bytes) override
    {
        CHECK(probe.stage == 1, "a write outside the exchange");
        // Every attempt before this one has been reported.
        CHECK(probe.attempts.size() == probe.writes.size(),
              "write %zu starts while %zu attempts were reported", probe.writes.size(), probe.attempts.size());
        const Case &c = *probe.c;
        if (!c.mbap && !probe.writes.empty()) {
            // 3.5 characters of silence before every request on an RTU line.
            const qint64 lastByteUs = lastArrivalMs < 0 ? 0 : qint64(lastArrivalMs * 1000 + 0.5);
            const qint64 quietSince = qMax(probe.writes.back().endUs, lastByteUs);
            CHECK(clock.now - quietSince >= Command::FrameGapUs,
                  "request %zu after only %lld us of silence", probe.writes.size(),
                  (long long)(clock.now - quietSince));
        }
        if (int(probe.writes.size()) == c.troubleFrom) {
            writesStick = c.writesStick;
            dropOnWrite = c.dropOnWrite;
            dropAfterWrite = c.dropAfterWrite;
            refuseOpen = c.refuseReopen;
        }
        WriteRec w;
        w.atUs = clock.now;
        const qint64 n = FakeLine::write(bytes);
        w.queued = n == bytes.size();
        w.endUs = clock.now;
        probe.writes.push_back(w);
        return n;
    }

    bool waitForBytesWritten(int ms) override
    {
        CHECK(!probe.writes.empty() && probe.writes.back().queued && !probe.writes.back().waited,
              "a write wait for no write just queued");
        WriteRec &w = probe.writes.back();
        const qint64 before = clock.now;
        w.waited = true;
        w.waitMs = ms;
        w.dropped = isOpen() && dropAfterWrite;
        w.written = FakeLine::waitForBytesWritten(ms);
        w.endUs = clock.now;
        probe.writeWaitUs += clock.now - before;
        return w.written;
    }
};

void onBytes(bool sent, const QByteArray &bytes, void *)
{
    CHECK(probe.stage == 1, "traffic reported outside the exchange");
    if (sent) {
        ++probe.sentFrames;
        CHECK(bytes == QByteArray(reinterpret_cast<const char *>(link.request.bytes), link.request.length),
              "the frame reported sent is not the request");
    } else {
        CHECK(bytes.size() <= Modbus::ReplyCapacity + 1, "%d bytes reported received", int(bytes.size()));
        probe.lastReceived = bytes;
        probe.anyReceived = true;
    }
}

void onAttempt(quint16 result, void *)
{
    CHECK(probe.stage == 1, "an attempt reported outside the exchange");
    const int writes = int(probe.writes.size());
    const int reported = int(probe.attempts.size());
    // One report for the attempt of the last write, or one more report for
    // an attempt that wrote nothing, which is the last of all.
    CHECK(writes == reported + 1 || writes == reported,
          "attempt report %d after %d writes", reported + 1, writes);
    CHECK(probe.attempts.empty() || probe.attempts.back().writes == reported,
          "a report after the report of an attempt that wrote nothing");
    probe.attempts.push_back({result, probe.clock->now, writes});
}

bool onWait(qint64 elapsedMs, void *)
{
    CHECK(probe.stage == 1, "the wait hook asked outside the exchange");
    const qint64 now = probe.clock->now;
    CHECK(probe.asks.empty() || probe.asks.back().elapsedMs >= 0, "the wait hook asked after the exchange ended");
    if (elapsedMs < 0) {
        CHECK(elapsedMs == -1, "the wait hook got %lld", (long long)elapsedMs);
        probe.asks.push_back({elapsedMs, now, probe.writeWaitUs, true});
        return true;
    }
    CHECK(elapsedMs == (now - probe.startUs) / 1000, "the wait hook got %lld ms at %lld us of the exchange",
          (long long)elapsedMs, (long long)(now - probe.startUs));
    CHECK(probe.firstNoUs < 0, "the wait hook asked again after it said stop");
    const bool go = probe.c->cancelMs < 0 || elapsedMs < probe.c->cancelMs;
    if (!go) {
        probe.firstNoUs = now;
        probe.pendingAtNo = int(probe.writes.size()) - int(probe.attempts.size());
    }
    probe.asks.push_back({elapsedMs, now, probe.writeWaitUs, go});
    return go;
}

bool knownResult(quint16 r)
{
    switch (r) {
    case ResultOk:
    case ResultNoReply:
    case ResultBadReply:
    case ResultMismatch:
    case ResultIllegalAddress:
    case ResultIllegalValue:
    case ResultRefused:
    case ResultUnsupported:
    case ResultWriteTimeout:
    case ResultNotConnected:
    case ResultLineLost:
    case ResultNoSilence:
    case ResultCancelled:
        return true;
    default:
        return false;
    }
}

// What an attempt that wrote its request can end with.
bool attemptResult(quint16 r)
{
    return knownResult(r) && r != ResultWriteTimeout && r != ResultNotConnected;
}

// The longest reply a request allows on the line, worked out here: the
// normal reply or an exception (5 bytes), the largest RTU frame (256) when
// the length is open.
int longestReply(quint8 function, quint16 count)
{
    int normal = 256;
    switch (function) {
    case 3:
    case 4: normal = 5 + 2 * int(count); break;
    case 6:
    case 16: normal = 8; break;
    case 14: normal = 9 + int(count); break;   // count: the data bytes; a whole echo
    case 20:
    case 21: normal = 22; break;
    default: break;
    }
    return qBound(5, normal, 256);
}

quint16 word(const quint8 *p)
{
    return quint16((p[0] << 8) | p[1]);
}

// Known faults of the reply check that a long run can be told to step
// over, so that it goes on looking for others: FUZZ_EXCHANGE_TOLERATE is a
// comma-separated list of
//   other-function  an Ok reply of another function than the request's
//                   (a register read answered by a write echo);
//   frame-length    an Ok reply whose length is not its function's form:
//                   bytes between the data and the CRC, a memory write or
//                   file record read echo cut short, or a read of no
//                   registers whose "byte count" is the CRC's first byte;
// By default every check is made.  (An identification reply turned down
// for a later object keeps the objects stored before it: the texts may
// change in a failed exchange, nothing else.)
struct Tolerated {
    bool otherFunction = false;
    bool frameLength = false;
};

const Tolerated &tolerated()
{
    static const Tolerated t = [] {
        Tolerated t;
        const QList<QByteArray> names = qgetenv("FUZZ_EXCHANGE_TOLERATE").split(',');
        for (const QByteArray &name : names) {
            if (name == "other-function")
                t.otherFunction = true;
            else if (name == "frame-length")
                t.frameLength = true;
            else if (!name.isEmpty())
                broke("FUZZ_EXCHANGE_TOLERATE names \"%s\", which is no known fault", name.constData());
        }
        return t;
    }();
    return t;
}

// The length (address and PDU) of an Ok identification reply: the object
// list must lie within the frame and name objects 0 to 8 only.
int identificationLength(const quint8 *r, int body)
{
    CHECK(body >= 8, "Ok identification reply of %d bytes", body + 2);
    int pos = 8;
    for (int i = 0; i < r[7]; ++i) {
        CHECK(pos + 2 <= body && r[pos] <= 8 && pos + 2 + r[pos + 1] <= body,
              "Ok identification reply whose object %d does not fit", i);
        pos += 2 + r[pos + 1];
    }
    return pos;
}

// Copies the identification texts of the link's block into `before`, so
// that a comparison looks at everything else.
void keepIdentificationTexts(ParamBlock &before)
{
    for (int id = 0; id <= 8; ++id) {
        const Params::IdField field = Params::identificationField(id);
        const auto *from = reinterpret_cast<const char *>(&link.DeviceParams) + field.offset;
        std::memcpy(reinterpret_cast<char *>(&before) + field.offset, from, size_t(field.capacity));
    }
}

// An Ok reply: whole, its CRC right, and an answer to this request.
void checkOkReply(const Case &c)
{
    const int n = link.replyLength;
    const quint8 *r = link.reply;
    CHECK(n >= 4 && n <= Modbus::ReplyCapacity, "Ok with a reply of %d bytes", n);
    const quint16 crc = Modbus::crc16(r, n - 2);
    CHECK(r[n - 2] == quint8(crc & 0xFF) && r[n - 1] == quint8(crc >> 8), "Ok with a reply whose CRC is wrong");
    CHECK(probe.anyReceived
              && probe.lastReceived == QByteArray(reinterpret_cast<const char *>(r), n),
          "Ok with a reply that is not the bytes received");
    if (c.address != 0 && c.address != 255)
        CHECK(r[0] == c.address, "Ok with a reply from address %d, asked %d", r[0], c.address);
    if (r[1] != c.function && tolerated().otherFunction)
        return;   // the form below is the request's
    // A register read may be answered as the other read (and is checked so).
    const bool reads = (c.function == 3 || c.function == 4) && (r[1] == 3 || r[1] == 4);
    const int function = reads ? r[1] : c.function;
    CHECK(r[1] == function, "Ok with a reply of function %d to function %d", r[1], c.function);
    // The fields the request is compared with lie within the frame, and
    // the frame has its function's form (address and PDU).
    const int body = n - 2;
    int form = body;
    switch (function) {
    case 3:
    case 4:
        // Exactly the registers asked for, all of them within the frame.
        form = 3 + 2 * c.count;
        if (body < 3 && tolerated().frameLength)
            return;   // no byte count at all
        CHECK(body >= 3 && r[2] == 2 * c.count, "Ok read of %d registers with byte count %d", c.count,
              body >= 3 ? r[2] : -1);
        CHECK(body >= form, "Ok read of %d registers in %d bytes", c.count, n);
        break;
    case 6:
    case 16:
        CHECK(body >= 4 && word(r + 2) == c.start, "Ok write reply without the start 0x%04X", c.start);
        form = 6;
        break;
    case 14:
        CHECK(body >= 6 && word(r + 4) == c.start, "Ok memory write reply without the address 0x%04X", c.start);
        // Its header, or the whole request echoed.
        form = body == 7 + c.blockData.size() ? body : 7;
        break;
    case 20:
        CHECK(body >= 20 && r[3] == 16, "Ok file record write reply of %d bytes", n);
        form = 20;
        break;
    case 21:
        // Only its byte 3 is looked at.
        CHECK(body >= 4 && r[3] == 16, "Ok file record read reply of %d bytes", n);
        break;
    case 43:
        form = identificationLength(r, body);
        break;
    default:
        break;
    }
    if (!tolerated().frameLength)
        CHECK(body == form, "Ok reply of %d bytes, its function's form has %d", n, form + 2);
}

void checkExchange(const Case &c, WatchedLine *line, quint16 built, bool opened)
{
    const quint16 result = probe.result;
    const qint64 endUs = probe.clock->now;
    const qint64 tookUs = endUs - probe.startUs;

    // A known result.
    CHECK(knownResult(result), "unknown result %u", result);
    CHECK(line->opens <= 2, "the line opened %d times (one reopen per exchange)", line->opens);

    if (built != ResultOk || !opened) {
        // Nothing happens: no request, no report, no time.
        CHECK(result == (built != ResultOk ? built : quint16(ResultNotConnected)),
              "result %u for a request that was not built (%u) or a line not open (%d)", result, built, opened);
        CHECK(probe.writes.empty() && probe.attempts.empty() && probe.asks.empty() && tookUs == 0,
              "an exchange that could not start wrote %zu, reported %zu, asked %zu, took %lld us",
              probe.writes.size(), probe.attempts.size(), probe.asks.size(), (long long)tookUs);
        if (built == ResultOk)
            CHECK(!link.lastRequestSent(), "nothing went out, yet the request counts as sent");
        return;
    }
    CHECK(result != ResultNotConnected, "ResultNotConnected on an open line");

    const bool block = c.function == Modbus::FnWriteMemory;
    const Command::LoopTiming &t = block ? Command::BlockLoop : Command::RegisterLoop;
    const int attempts = c.attemptLimit > 0 ? qMin(c.attemptLimit, t.attempts) : t.attempts;
    const bool broadcast = !block && (c.address == 0 || c.address == 255)
        && (c.function == 6 || c.function == 16 || c.function == 21);
    const qint64 writeUs = t.writeTimeout * 1000LL;
    const qint64 firstUs = t.firstReplyTimeout * 1000LL;
    const qint64 pauseUs = t.corruptPause * 1000LL;
    const qint64 gapUs = c.mbap ? 0 : Command::FrameGapUs;
    // The deadline: first-reply time-out, the longest reply at ten bits a
    // byte at 9600 baud, one inter-chunk silence.
    const qint64 deadlineUs = firstUs + qint64(longestReply(c.function, block ? quint16(c.blockData.size()) : c.count) * 1e7 / 9600 + 0.5)
        + t.interChunkTimeout * 1000LL;
    CHECK(Command::replyDeadlineUs(t, link.request) == deadlineUs, "reply deadline %lld us, expected %lld us",
          (long long)Command::replyDeadlineUs(t, link.request), (long long)deadlineUs);
    // A wait ends at most one millisecond (a slice rounded up) past its time.
    constexpr qint64 RoundUs = 999;

    const auto &writes = probe.writes;
    const auto &reports = probe.attempts;
    const int nw = int(writes.size());
    const int nr = int(reports.size());
    bool anyWritten = false;
    for (const WriteRec &w : writes)
        anyWritten = anyWritten || w.written;
    const bool cancelled = probe.firstNoUs >= 0;

    // No more attempts than allowed; a broadcast goes out once.
    CHECK(nw <= attempts, "%d writes, %d attempts allowed", nw, attempts);
    CHECK(line->requests.size() <= attempts, "%d requests, %d attempts allowed", int(line->requests.size()), attempts);
    CHECK(probe.sentFrames == line->requests.size(), "%d frames reported sent, %d on the line", probe.sentFrames,
          int(line->requests.size()));
    for (const QByteArray &r : line->requests)
        CHECK(r == QByteArray(reinterpret_cast<const char *>(link.request.bytes), link.request.length),
              "a request on the line that is not the one built");
    if (broadcast) {
        CHECK(nw == 1 || (nw == 0 && cancelled), "a broadcast written %d times", nw);
        CHECK(line->requests.size() <= 1, "a broadcast on the line %d times", int(line->requests.size()));
        CHECK(result == ResultOk || result == ResultWriteTimeout || result == ResultCancelled,
              "a broadcast ended with %u", result);
        CHECK(result != ResultOk || anyWritten, "a broadcast Ok that never went out");
    }

    // One report per write, in order, and at most one more for an
    // attempt that wrote nothing (the last); the result is the last report's.
    CHECK(nr == nw || nr == nw + 1, "%d attempt reports for %d writes", nr, nw);
    CHECK(nr >= 1, "no attempt reported");
    CHECK(result == reports.back().result, "result %u, the last attempt reported %u", result, reports.back().result);
    CHECK(link.lastRequestSent() == anyWritten, "lastRequestSent() %d, a request went out: %d",
          link.lastRequestSent(), anyWritten);
    if (result == ResultWriteTimeout)
        CHECK(!anyWritten, "ResultWriteTimeout although the request went out");
    if (result == ResultLineLost)
        CHECK(anyWritten, "ResultLineLost although no request went out");
    if (nr == nw + 1) {
        const quint16 extra = reports.back().result;
        if (extra == ResultCancelled) {
            CHECK(cancelled && probe.pendingAtNo == 0, "a Cancelled report of its own without a stop between attempts");
        } else {
            CHECK(extra == (anyWritten ? ResultLineLost : ResultWriteTimeout),
                  "an attempt that wrote nothing ended with %u", extra);
            CHECK(line->opens == 2 && !line->isOpen(), "line given up with %d opens, open %d", line->opens,
                  line->isOpen());
        }
    } else if (cancelled) {
        CHECK(probe.pendingAtNo == 1 && reports.back().result == ResultCancelled,
              "a stop within an attempt not reported as that attempt's Cancelled");
    }

    // Time.  Per attempt, from its write to its report.
    bool sentBefore = false;
    int firstGarbled = -1;
    for (int j = 0; j < nw; ++j) {
        const WriteRec &w = writes[j];
        const AttemptRec &a = reports[j];
        CHECK(a.atUs >= w.endUs, "attempt %d reported before its write ended", j);
        if (w.waited)
            CHECK(w.waitMs == t.writeTimeout && w.endUs - w.atUs <= writeUs,
                  "write %d waited %lld us (asked for %d ms)", j, (long long)(w.endUs - w.atUs), w.waitMs);
        if (!w.written) {
            const quint16 gone = sentBefore ? ResultLineLost : ResultWriteTimeout;
            CHECK(a.result == (broadcast ? quint16(ResultWriteTimeout) : gone),
                  "attempt %d wrote nothing and ended with %u", j, a.result);
            CHECK(a.atUs == w.endUs, "attempt %d wrote nothing, reported %lld us after", j,
                  (long long)(a.atUs - w.endUs));
        } else {
            const qint64 took = a.atUs - w.endUs;
            CHECK(w.endUs == w.atUs, "write %d went out after %lld us", j, (long long)(w.endUs - w.atUs));
            if (broadcast) {
                CHECK(a.result == ResultOk || a.result == ResultCancelled, "broadcast attempt ended with %u", a.result);
                CHECK(took <= firstUs + RoundUs, "broadcast waited %lld us", (long long)took);
            } else {
                CHECK(attemptResult(a.result), "attempt %d that wrote ended with %u", j, a.result);
                CHECK(took <= deadlineUs + RoundUs, "attempt %d took %lld us, deadline %lld us", j, (long long)took,
                      (long long)deadlineUs);
                if (a.result == ResultNoReply && !w.dropped)
                    CHECK(took >= firstUs, "no reply after only %lld us", (long long)took);
                if (a.result == ResultNoSilence)
                    CHECK(took >= deadlineUs, "no silence declared after only %lld us", (long long)took);
            }
        }
        sentBefore = sentBefore || w.written;
        if (firstGarbled < 0 && (a.result == ResultBadReply || a.result == ResultNoSilence))
            firstGarbled = j;
        // From a report to the next write: the pause after the first
        // garbled reply, then the frame gap.
        if (j + 1 < nw) {
            const qint64 between = writes[j + 1].atUs - a.atUs;
            const qint64 lo = j == firstGarbled ? pauseUs : 0;
            CHECK(between >= lo && between <= lo + gapUs, "%lld us from attempt %d's end to the next write",
                  (long long)between, j);
        }
    }
    if (nr == nw + 1) {
        const qint64 from = nw > 0 ? reports[nw - 1].atUs : probe.startUs;
        const qint64 upTo = nw > 0 && nw - 1 == firstGarbled ? pauseUs : 0;
        CHECK(reports.back().atUs - from <= upTo, "the last report came %lld us after the attempt before",
              (long long)(reports.back().atUs - from));
    }
    // From the last report to the end: the pause when the last attempt was
    // the first garbled one, nothing otherwise.
    {
        const qint64 tail = endUs - reports.back().atUs;
        const bool pausedLast = nr == nw && nw - 1 == firstGarbled && !cancelled;
        CHECK(tail == (pausedLast ? pauseUs : 0), "the exchange ended %lld us after its last report", (long long)tail);
    }
    // Between requests on the line (sentAtMs): one attempt, the frame gap
    // and the pause after the first garbled reply.
    {
        int req = 0;
        double prevMs = -1;
        int prevWrite = -1;
        for (int j = 0; j < nw; ++j) {
            if (!writes[j].queued)
                continue;
            const double at = line->sentAtMs[req++];
            CHECK(qint64(at * 1000 + 0.5) == writes[j].atUs, "sentAtMs %f for a write at %lld us", at,
                  (long long)writes[j].atUs);
            if (prevWrite >= 0) {
                const bool pausedBetween = firstGarbled >= prevWrite && firstGarbled < j;
                const double limitMs = (qMax(writeUs, deadlineUs + RoundUs) + gapUs + (pausedBetween ? pauseUs : 0)) / 1000.0;
                CHECK(at - prevMs <= limitMs, "%f ms between requests, at most %f ms", at - prevMs, limitMs);
            }
            prevMs = at;
            prevWrite = j;
        }
    }
    // The whole exchange.
    const qint64 boundUs = attempts * qMax(writeUs, deadlineUs + RoundUs) + (attempts - 1) * gapUs + pauseUs;
    CHECK(tookUs <= boundUs, "the exchange took %lld us, at most %lld us", (long long)tookUs, (long long)boundUs);

    // The wait hook: asked first when the exchange starts, then at least
    // every WaitSliceMs, and once with -1 at the end; a stop ends the
    // exchange at once with ResultCancelled.  The one wait it is not asked
    // in is a write's (up to the write time-out, when writes stick), which
    // the loop leaves to the line.
    if (c.waitHook) {
        const auto &asks = probe.asks;
        CHECK(asks.size() >= 2, "the wait hook was asked %zu times", asks.size());
        CHECK(asks.front().atUs == probe.startUs, "the wait hook first asked %lld us into the exchange",
              (long long)(asks.front().atUs - probe.startUs));
        CHECK(asks.back().elapsedMs == -1 && asks.back().atUs == endUs, "the exchange ended without telling the wait hook");
        for (size_t i = 1; i < asks.size(); ++i) {
            const qint64 gap = (asks[i].atUs - asks[i - 1].atUs) - (asks[i].writeWaitUs - asks[i - 1].writeWaitUs);
            CHECK(gap <= Command::WaitSliceMs * 1000LL, "the wait hook not asked for %lld us (besides write waits)",
                  (long long)gap);
        }
        CHECK((result == ResultCancelled) == cancelled, "result %u, the wait hook said stop: %d", result, cancelled);
        if (cancelled)
            CHECK(probe.firstNoUs == endUs, "the exchange went on %lld us after the wait hook said stop",
                  (long long)(endUs - probe.firstNoUs));
        if (c.cancelMs >= 0) {
            // Ends by the stop time and one slice; a write that sticks
            // blocks for its time-out without asking.
            const bool stuck = std::any_of(writes.begin(), writes.end(),
                                           [](const WriteRec &w) { return w.waited && w.endUs > w.atUs; });
            const qint64 slackUs = qMax<qint64>(Command::WaitSliceMs * 1000LL, stuck ? gapUs + writeUs : 0);
            CHECK(tookUs < c.cancelMs * 1000 + slackUs, "stop at %lld ms, the exchange ended at %lld us",
                  (long long)c.cancelMs, (long long)tookUs);
        }
    } else {
        CHECK(probe.asks.empty() && result != ResultCancelled, "cancelled with no wait hook");
    }

    // An Ok reply fits its request.
    CHECK(link.replyLength >= 0 && link.replyLength <= Modbus::ReplyCapacity, "reply length %d",
          link.replyLength);
    if (result == ResultOk && !broadcast)
        checkOkReply(c);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Reader in{data, size};
    const Case c = decode(in);

    VirtualClock clock;
    probe.reset();
    probe.c = &c;
    probe.clock = &clock;

    link.resetState();
    link.setClock(&clock);
    link.SlaveAddress = c.address;
    link.attemptLimit = c.attemptLimit;
    link.setTrafficHook(onBytes, nullptr, onAttempt);
    link.setWaitHook(c.waitHook ? onWait : nullptr, nullptr);

    auto made = std::make_unique<WatchedLine>(
        clock, [&c](const QByteArray &req, int index) { return play(c, req, index, probe.budget); });
    WatchedLine *line = made.get();
    line->mbap = c.mbap;
    line->refuseOpen = c.refuseFirstOpen;
    const bool opened = link.openTransport(std::move(made));
    line->refuseOpen = false;

    // The request as the link will build it.
    Modbus::Request expected;
    const Modbus::Image image{&link.DeviceParams, &link.ScratchWord};
    const auto *blockData = reinterpret_cast<const quint8 *>(c.blockData.constData());
    const quint16 built = c.function == Modbus::FnWriteMemory
        ? Modbus::buildBlockRequest(expected, c.address, c.function, c.memAddress, blockData, c.blockData.size())
        : Modbus::buildRequest(expected, c.address, c.function, c.value, c.start, c.count, image);

    // The block and the scratch word as they were: an exchange that fails
    // leaves them so.
    static ParamBlock blockBefore;
    std::memcpy(&blockBefore, &link.DeviceParams, sizeof blockBefore);
    const quint16 scratchBefore = link.ScratchWord;

    probe.startUs = clock.now;
    probe.stage = 1;
    probe.result = c.function == Modbus::FnWriteMemory
        ? link.transactBlock(c.function, c.memAddress, blockData, quint16(c.blockData.size()))
        : link.transact(c.function, c.value, c.start, c.count);
    probe.stage = 2;

    if (built == ResultOk && opened)
        CHECK(link.request.length == expected.length
                  && std::equal(expected.bytes, expected.bytes + expected.length, link.request.bytes),
              "the link built another request than Modbus::buildRequest");
    checkExchange(c, line, built, opened);
    if (probe.result != ResultOk) {
        if (c.function == Modbus::FnReadDeviceId)
            keepIdentificationTexts(blockBefore);
        const bool same = std::memcmp(&blockBefore, &link.DeviceParams, sizeof blockBefore) == 0
            && scratchBefore == link.ScratchWord;
        CHECK(same, "the block changed in an exchange that failed with %u", probe.result);
    }
    // FUZZ_EXCHANGE_TRACE=1 prints every exchange (to look at a corpus).
    static const bool trace = std::getenv("FUZZ_EXCHANGE_TRACE") != nullptr;
    if (trace)
        describe();

    link.setTrafficHook(nullptr, nullptr);
    link.setWaitHook(nullptr, nullptr);
    link.resetState();
    probe.c = nullptr;
    return 0;
}

#include "trafficlog.h"

#include "command.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>

// ----------------------------------------------------------------- entry

QByteArray TrafficEntry::bytes() const
{
    if (length > InlineBytes)
        return longBytes;
    return QByteArray(reinterpret_cast<const char *>(shortBytes), length);
}

void TrafficEntry::setBytes(const QByteArray &bytes)
{
    length = bytes.size();
    if (length > InlineBytes) {
        longBytes = bytes;
        return;
    }
    longBytes = QByteArray();
    std::memcpy(shortBytes, bytes.constData(), size_t(length));
}

bool TrafficEntry::failed() const
{
    return !onLine || exceptionCode >= 0 || (result >= 0 && result != ResultOk);
}

FrameDecode::Frame TrafficEntry::decode() const
{
    ParamBlock context;
    std::memset(&context, 0, sizeof context);
    context.Config = config;
    context.DeviceTypeReg = deviceType;
    context.SerialNum = serialNumber;
    FrameDecode::Frame asked;
    asked.sent = true;
    asked.function = askedFunction;
    asked.start = askedStart;
    return FrameDecode::decode(bytes(), sent, sent || askedStart < 0 ? nullptr : &asked, context, configKnown);
}

// ------------------------------------------------------------------ ring

TrafficRing::TrafficRing(int capacity)
    : cap(qMax(1, capacity))
{
}

quint64 TrafficRing::append(TrafficEntry entry)
{
    entry.seq = next++;
    if (buf.capacity() == 0)
        buf.reserve(size_t(cap));   // once, whole: no growth by doubling
    if (int(buf.size()) < cap) {
        // Filling up: the ring grows to its capacity once, then overwrites.
        buf.push_back(std::move(entry));
        ++count;
        return buf.back().seq;
    }
    const int slot = (head + count) % cap;
    buf[size_t(slot)] = std::move(entry);
    if (count == cap)
        head = (head + 1) % cap;
    else
        ++count;
    return buf[size_t(slot)].seq;
}

TrafficEntry *TrafficRing::bySeq(quint64 seq)
{
    if (seq < firstSeq() || seq >= next)
        return nullptr;
    return &buf[size_t((head + int(seq - firstSeq())) % cap)];
}

const TrafficEntry *TrafficRing::bySeq(quint64 seq) const
{
    return const_cast<TrafficRing *>(this)->bySeq(seq);
}

void TrafficRing::clear()
{
    std::vector<TrafficEntry>().swap(buf);   // gives the storage back, not only the entries
    head = 0;
    count = 0;
}

// ----------------------------------------------------------------- stats

qint64 TrafficStats::Line::medianMs() const
{
    if (recent.empty())
        return -1;
    std::vector<qint64> sorted = recent;
    const size_t mid = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(mid), sorted.end());
    if (sorted.size() % 2)
        return sorted[mid];
    const qint64 upper = sorted[mid];
    const qint64 lower = *std::max_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(mid));
    return (lower + upper) / 2;
}

void TrafficStats::attempt(int address, bool noReply, bool replied, bool crcError, bool exception, qint64 responseMs)
{
    Line &l = lines[address];
    l.address = address;
    ++l.requests;
    l.noReply += noReply ? 1 : 0;
    l.replies += replied ? 1 : 0;
    l.crcErrors += crcError ? 1 : 0;
    l.exceptions += exception ? 1 : 0;
    if (!replied || responseMs < 0)
        return;
    l.minMs = l.minMs < 0 ? responseMs : qMin(l.minMs, responseMs);
    l.maxMs = qMax(l.maxMs, responseMs);
    if (int(l.recent.size()) < MedianWindow) {
        l.recent.push_back(responseMs);
    } else {
        l.recent[size_t(l.recentNext)] = responseMs;
        l.recentNext = (l.recentNext + 1) % MedianWindow;
    }
}

QVector<int> TrafficStats::addresses() const
{
    QVector<int> out;
    for (const auto &l : lines)
        out << l.first;
    return out;
}

const TrafficStats::Line *TrafficStats::line(int address) const
{
    const auto it = lines.find(address);
    return it == lines.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------- filter

bool TrafficFilter::matches(const TrafficEntry &entry) const
{
    if (address >= 0 && entry.address != address)
        return false;
    if (function >= 0 && entry.baseFunction() != function)
        return false;
    if (failuresOnly && !entry.failed())
        return false;
    return true;
}

// -------------------------------------------------------------- recorder

TrafficRecorder::TrafficRecorder(Command &link, int capacity, QObject *parent)
    : QObject(parent), link(link), entries(capacity)
{
}

TrafficRecorder::~TrafficRecorder()
{
    remove();
}

void TrafficRecorder::install()
{
    link.setTrafficHook(&TrafficRecorder::bytesHook, this, &TrafficRecorder::attemptHook);
    hooked = true;
}

void TrafficRecorder::remove()
{
    if (!hooked)
        return;
    link.setTrafficHook(nullptr, nullptr);
    hooked = false;
}

void TrafficRecorder::clear()
{
    entries.clear();
    lineStats.clear();
    pendingRequest = 0;
    pendingReply = 0;
    emit cleared();
}

qint64 TrafficRecorder::timeNow() const
{
    return now ? now() : QDateTime::currentMSecsSinceEpoch();
}

void TrafficRecorder::bytesHook(bool sent, const QByteArray &bytes, void *context)
{
    static_cast<TrafficRecorder *>(context)->onBytes(sent, bytes);
}

void TrafficRecorder::attemptHook(quint16 result, void *context)
{
    static_cast<TrafficRecorder *>(context)->onAttemptEnded(result);
}

namespace {

// The first byte of a frame (its address) and the second (its function).
void putHead(TrafficEntry &e, const QByteArray &bytes)
{
    e.setBytes(bytes);
    e.crcOk = Modbus::crcMatches(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
    e.rawText = FrameDecode::isRawText(bytes, e.sent);
    if (e.rawText)
        return;
    e.address = bytes.size() >= 1 ? qint16(quint8(bytes.at(0))) : qint16(-1);
    e.function = bytes.size() >= 2 ? qint16(quint8(bytes.at(1))) : qint16(-1);
}

quint16 wordAt(const QByteArray &b, int i)
{
    return quint16((quint8(b.at(i)) << 8) | quint8(b.at(i + 1)));
}

// The value of register `reg` in a read reply or a write request, when the
// frame carries it (whole and with a good CRC); -1 otherwise.
int carried(const TrafficEntry &e, const QByteArray &b, quint16 reg, bool input)
{
    if (!e.crcOk || e.function < 0)
        return -1;
    int first = -1;
    int at = -1;   // byte of the first register's value
    int words = 0;
    if (!e.sent && e.function == (input ? Modbus::FnReadInput : Modbus::FnReadHolding) && e.askedStart >= 0
        && e.askedFunction == e.function && b.size() >= 5) {
        first = e.askedStart;
        at = 3;
        words = quint8(b.at(2)) / 2;
    } else if (e.sent && !input && e.function == Modbus::FnWriteMultiple && b.size() >= 9) {
        first = wordAt(b, 2);
        at = 7;
        words = quint8(b.at(6)) / 2;
    } else if (e.sent && !input && e.function == Modbus::FnWriteSingle && b.size() >= 8) {
        first = wordAt(b, 2);
        at = 4;
        words = 1;
    }
    if (first < 0 || reg < first || reg >= first + words)
        return -1;
    const int place = at + 2 * (reg - first);
    return place + 2 <= b.size() - 2 ? wordAt(b, place) : -1;
}

} // namespace

void TrafficRecorder::putContext(TrafficEntry &e) const
{
    const auto it = e.address >= 0 ? seen.find(e.address) : seen.end();
    const bool linkKnows = link.Origin.valid && int(link.Origin.address) == e.address;
    e.config = link.DeviceParams.Config;
    e.configKnown = linkKnows;
    e.deviceType = link.DeviceParams.DeviceTypeReg;
    e.serialNumber = link.DeviceParams.SerialNum;
    if (it != seen.end() && it->second.config >= 0) {
        e.config = quint16(it->second.config);
        e.configKnown = true;
    }
    if (it != seen.end() && it->second.deviceType >= 0)
        e.deviceType = quint16(it->second.deviceType);
}

void TrafficRecorder::learn(const TrafficEntry &e)
{
    if (e.address < 0)
        return;
    const QByteArray b = e.bytes();
    const int config = carried(e, b, 0x1008, false);
    const int type = carried(e, b, Params::InputDeviceType, true);
    if (config >= 0)
        seen[e.address].config = config;
    if (type >= 0)
        seen[e.address].deviceType = type;
}

void TrafficRecorder::onBytes(bool sent, const QByteArray &bytes)
{
    TrafficEntry e;
    e.timeMs = timeNow();
    e.sent = sent;
    putHead(e, bytes);
    if (!sent && lastRequestStart >= 0) {
        e.askedFunction = quint8(lastRequestFunction);
        e.askedStart = lastRequestStart;
    }
    if (!sent && e.function >= 0 && (e.function & 0x80) && e.crcOk && bytes.size() >= 5)
        e.exceptionCode = quint8(bytes.at(2));
    putContext(e);
    learn(e);
    const bool request = sent && !e.rawText;
    if (request) {
        const bool read = (e.function == Modbus::FnReadHolding || e.function == Modbus::FnReadInput)
            && bytes.size() >= 8;
        lastRequestFunction = e.function;
        lastRequestStart = read ? wordAt(bytes, 2) : -1;
    }
    const quint64 seq = entries.append(std::move(e));
    if (request) {
        pendingRequest = seq;
        pendingReply = 0;
    } else if (!sent) {
        pendingReply = seq;
    }
    emit appended(seq);
}

void TrafficRecorder::setResult(quint64 seq, quint16 result)
{
    TrafficEntry *e = entries.bySeq(seq);
    if (!e)
        return;
    e->result = result;
    emit updated(seq);
}

void TrafficRecorder::onAttemptEnded(quint16 result)
{
    if (pendingRequest == 0) {
        // Nothing went out in this attempt (the line was gone): the request
        // the link had built is shown as not sent.
        TrafficEntry e;
        e.timeMs = timeNow();
        e.sent = true;
        e.onLine = false;
        putHead(e, QByteArray(reinterpret_cast<const char *>(link.request.bytes), link.request.length));
        putContext(e);
        e.result = result;
        emit appended(entries.append(std::move(e)));
        return;
    }
    // An exception reply gives both rows its code.
    const TrafficEntry *request = entries.bySeq(pendingRequest);
    const TrafficEntry *reply = pendingReply ? entries.bySeq(pendingReply) : nullptr;
    const int exception = reply ? reply->exceptionCode : -1;
    if (request) {
        const qint64 response = reply ? reply->timeMs - request->timeMs : -1;
        const int address = request->address;
        lineStats.attempt(address, result == ResultNoReply, reply != nullptr, reply && !reply->crcOk,
                          exception >= 0, response);
        entries.bySeq(pendingRequest)->exceptionCode = qint16(exception);
        setResult(pendingRequest, result);
        emit statsChanged(address);
    }
    if (pendingReply)
        setResult(pendingReply, result);
    pendingRequest = 0;
    pendingReply = 0;
}

// ---------------------------------------------------------------- export

namespace TrafficExport {

namespace {

// A cell on one line: line breaks and other control characters (a device's
// identification text may carry them) become blanks, and the blanks at its
// end go, so that no padding is left at the end of a line.
QString oneLine(QString cell)
{
    for (QChar &c : cell) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    int end = cell.size();
    while (end > 0 && cell.at(end - 1).isSpace())
        --end;
    cell.truncate(end);
    return cell;
}

} // namespace

QString toText(const QStringList &headers, const QVector<QStringList> &rows)
{
    // Every column but the last is padded to its widest text.
    QVector<int> width(headers.size(), 0);
    auto measure = [&](const QStringList &r) {
        for (int c = 0; c < r.size() && c < width.size(); ++c)
            width[c] = qMax(width[c], oneLine(r[c]).size());
    };
    measure(headers);
    for (const QStringList &r : rows)
        measure(r);
    auto line = [&](const QStringList &r) {
        QString out;
        for (int c = 0; c < headers.size(); ++c) {
            const QString cell = oneLine(r.value(c));
            if (c + 1 < headers.size())
                out += cell.leftJustified(width[c]) + QStringLiteral("  ");
            else
                out += cell;
        }
        int end = out.size();
        while (end > 0 && out.at(end - 1).isSpace())
            --end;
        out.truncate(end);
        return out + QLatin1Char('\n');
    };
    QString text = line(headers);
    for (const QStringList &r : rows)
        text += line(r);
    return text;
}

QString toCsv(const QStringList &headers, const QVector<QStringList> &rows)
{
    auto field = [](const QString &s) {
        if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))
            && !s.contains(QLatin1Char('\r')))
            return s;
        QString q = s;
        q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + q + QLatin1Char('"');
    };
    auto line = [&](const QStringList &r) {
        QStringList cells;
        for (int c = 0; c < headers.size(); ++c)
            cells << field(r.value(c));
        return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    };
    QString csv = line(headers);
    for (const QStringList &r : rows)
        csv += line(r);
    return csv;
}

} // namespace TrafficExport

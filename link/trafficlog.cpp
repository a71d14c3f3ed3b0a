#include "trafficlog.h"

#include "command.h"

#include <QDateTime>

// ------------------------------------------------------------------ ring

TrafficRing::TrafficRing(int capacity)
    : cap(qMax(1, capacity))
{
}

quint64 TrafficRing::append(TrafficEntry entry)
{
    entry.seq = next++;
    if (buf.size() < cap) {
        // Filling up: the ring grows to its capacity once, then overwrites.
        buf.append(std::move(entry));
        ++count;
        return buf.last().seq;
    }
    const int slot = (head + count) % cap;
    buf[slot] = std::move(entry);
    if (count == cap)
        head = (head + 1) % cap;
    else
        ++count;
    return buf[slot].seq;
}

TrafficEntry *TrafficRing::bySeq(quint64 seq)
{
    if (seq < firstSeq() || seq >= next)
        return nullptr;
    return &buf[(head + int(seq - firstSeq())) % cap];
}

const TrafficEntry *TrafficRing::bySeq(quint64 seq) const
{
    return const_cast<TrafficRing *>(this)->bySeq(seq);
}

void TrafficRing::clear()
{
    buf.clear();
    head = 0;
    count = 0;
}

// ---------------------------------------------------------------- filter

bool TrafficFilter::matches(const TrafficEntry &entry) const
{
    if (address >= 0 && entry.frame.address != address)
        return false;
    if (function >= 0 && entry.frame.baseFunction() != function)
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

void TrafficRecorder::onBytes(bool sent, const QByteArray &bytes)
{
    TrafficEntry e;
    e.timeMs = timeNow();
    e.sent = sent;
    e.bytes = bytes;
    e.frame = FrameDecode::decode(bytes, sent, sent || !haveRequest ? nullptr : &lastRequest, link.DeviceParams);
    const bool request = sent && e.frame.kind != FrameDecode::Kind::RawText;
    if (request) {
        lastRequest = e.frame;
        haveRequest = true;
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
        e.bytes = QByteArray(reinterpret_cast<const char *>(link.request.bytes), link.request.length);
        e.frame = FrameDecode::decode(e.bytes, true, nullptr, link.DeviceParams);
        e.result = result;
        emit appended(entries.append(std::move(e)));
        return;
    }
    // An exception reply gives both rows its code.
    const TrafficEntry *reply = pendingReply ? entries.bySeq(pendingReply) : nullptr;
    const int exception = reply && reply->frame.isException() ? reply->frame.exceptionCode : -1;
    if (TrafficEntry *e = entries.bySeq(pendingRequest))
        e->exceptionCode = exception;
    if (TrafficEntry *e = pendingReply ? entries.bySeq(pendingReply) : nullptr)
        e->exceptionCode = exception;
    setResult(pendingRequest, result);
    if (pendingReply)
        setResult(pendingReply, result);
    pendingRequest = 0;
    pendingReply = 0;
}

// ---------------------------------------------------------------- export

namespace TrafficExport {

QString toText(const QStringList &headers, const QVector<QStringList> &rows)
{
    // Every column but the last is padded to its widest text.
    QVector<int> width(headers.size(), 0);
    auto measure = [&](const QStringList &r) {
        for (int c = 0; c < r.size() && c < width.size(); ++c)
            width[c] = qMax(width[c], r[c].size());
    };
    measure(headers);
    for (const QStringList &r : rows)
        measure(r);
    auto line = [&](const QStringList &r) {
        QString out;
        for (int c = 0; c < headers.size(); ++c) {
            QString cell = r.value(c);
            cell.replace(QLatin1Char('\n'), QLatin1Char(' '));
            if (c + 1 < headers.size())
                out += cell.leftJustified(width[c]) + QStringLiteral("  ");
            else
                out += cell;
        }
        while (out.endsWith(QLatin1Char(' ')))
            out.chop(1);
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

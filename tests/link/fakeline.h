// A line with a scripted device at its far end, on a virtual clock: the
// exchange loop's retries, time-outs and pauses run in virtual milliseconds
// with no real waiting.
#pragma once

#include "modbus.h"
#include "tcptransport.h"
#include "transport.h"

#include <QList>
#include <functional>

class VirtualClock : public LinkClock
{
public:
    qint64 now = 0;   // microseconds
    qint64 nowUs() override { return now; }
    void sleepUs(qint64 us) override
    {
        if (us > 0)
            now += us;
    }
    double ms() const { return now / 1000.0; }
};

class FakeLine : public Transport
{
public:
    // A piece of the device's answer, due `atMs` after the request was written.
    struct Piece {
        double atMs;
        QByteArray bytes;
    };
    // What the device answers to request number `index` (0-based).
    using Device = std::function<QList<Piece>(const QByteArray &request, int index)>;

    explicit FakeLine(VirtualClock &clock, Device device = {}) : clock(clock), device(std::move(device)) {}

    VirtualClock &clock;
    Device device;
    // What went out, and when (virtual ms).
    QList<QByteArray> requests;
    QList<double> sentAtMs;
    // When the last byte the loop could read arrived.
    double lastArrivalMs = -1;
    int opens = 0;
    bool refuseOpen = false;     // open() fails from now on
    bool writesStick = false;    // written bytes never leave: the write time-out runs out
    bool dropOnWrite = false;    // the line goes away when the next request is written
    bool dropAfterWrite = false; // the line goes away right after the next request has gone out
    // A Modbus TCP gateway: the device's pieces are MBAP bytes, the loop
    // gets whole answers to the last request (transaction = request count).
    bool mbap = false;

    bool open() override
    {
        ++opens;
        up = !refuseOpen;
        return up;
    }
    void close() override { up = false; }
    bool isOpen() const override { return up; }
    bool failed() const override { return !up; }
    QString errorString() const override { return up ? QString() : QStringLiteral("fake line down"); }
    void discard() override
    {
        readable.clear();
        stream.clear();
        // What has arrived by now goes; what is still on its way comes later.
        for (int i = pending.size() - 1; i >= 0; --i)
            if (pending[i].atUs <= clock.now)
                pending.removeAt(i);
    }
    qint64 write(const QByteArray &bytes) override
    {
        if (!up)
            return -1;
        if (dropOnWrite) {
            up = false;
            return -1;
        }
        requests.append(bytes);
        sentAtMs.append(clock.ms());
        if (device && !writesStick) {
            for (const Piece &p : device(bytes, requests.size() - 1))
                pending.append({clock.now + qint64(p.atMs * 1000), p.bytes});
        }
        return bytes.size();
    }
    bool waitForBytesWritten(int ms) override
    {
        if (up && dropAfterWrite) {
            dropAfterWrite = false;
            up = false;
            return true;
        }
        if (!up)
            return false;
        if (writesStick) {
            clock.sleepUs(qint64(ms) * 1000);
            return false;
        }
        return true;
    }
    bool waitForReadyRead(int ms) override
    {
        if (!up)
            return false;
        const qint64 limit = clock.now + qint64(ms) * 1000;
        qint64 first = -1;
        for (const Arrival &a : pending)
            if (a.atUs <= limit && (first < 0 || a.atUs < first))
                first = a.atUs;
        if (first < 0) {
            clock.now = limit;
            return false;
        }
        clock.now = qMax(clock.now, first);
        for (int i = 0; i < pending.size();) {
            if (pending[i].atUs <= clock.now) {
                readable += pending[i].bytes;
                pending.removeAt(i);
            } else {
                ++i;
            }
        }
        lastArrivalMs = clock.ms();
        return true;
    }
    QByteArray readAll() override
    {
        const QByteArray out = readable;
        readable.clear();
        countReceived(out.size());
        if (!mbap)
            return out;
        stream += out;
        return Mbap::takeRtu(stream, quint16(requests.size()));
    }
    bool wholeFrames() const override { return mbap; }
    qint64 bytesToWrite() const override { return 0; }

private:
    struct Arrival {
        qint64 atUs;
        QByteArray bytes;
    };
    bool up = false;
    QList<Arrival> pending;
    QByteArray readable;
    QByteArray stream;
};

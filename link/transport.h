// What the exchange loop talks through: a serial port, a serial device server
// reached over TCP (RTU frames as they are), or a Modbus TCP gateway (MBAP).
// The loop only sees this interface and the clock below, so its rules hold on
// every line and tests can run it on a fake line and a virtual clock.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// Time as the exchange loop sees it: the waits of its own (the pause after a
// corrupt reply, the silence before a request) and the moments it notes.
class LinkClock
{
public:
    virtual ~LinkClock() = default;
    // Monotonic time in microseconds.
    virtual qint64 nowUs() = 0;
    virtual void sleepUs(qint64 us) = 0;

    // The steady clock of the machine.
    static LinkClock &real();
};

class Transport
{
public:
    virtual ~Transport() = default;

    // Opens (connects) with what the transport was made with; false with
    // errorString() saying why.  Opening an open transport starts afresh.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Whether the line itself has failed (gone away, connection lost, I/O
    // refused), as opposed to merely having been quiet.
    virtual bool failed() const = 0;
    virtual QString errorString() const = 0;

    // Throws away whatever is pending in both directions and forgets a past
    // time-out.
    virtual void discard() = 0;
    // Queues bytes to send; how many were taken, -1 when none could be.
    virtual qint64 write(const QByteArray &bytes) = 0;
    virtual bool waitForBytesWritten(int ms) = 0;
    // Waits at most `ms` for bytes to arrive.
    virtual bool waitForReadyRead(int ms) = 0;
    virtual QByteArray readAll() = 0;
    virtual qint64 bytesToWrite() const = 0;

    // True when readAll() hands over whole reply frames only, so that a
    // reply is complete as soon as anything has been read.
    virtual bool wholeFrames() const { return false; }

    // Bytes taken off the line so far, counted before any framing of the
    // transport's own: the exchange loop tells a quiet line from one that
    // talks by it, also while the bytes make no frame.
    qint64 bytesReceived() const { return rawIn; }

    // The transport a port text names:
    //   tcp://HOST:PORT         RTU frames over TCP (a serial device server);
    //   modbus-tcp://HOST:PORT  Modbus TCP (a gateway);
    //   anything else           a serial port (9600 8N1).
    // HOST is an IPv4 address, a host name or an IPv6 address in brackets.
    // Returns null with `error` set when the text cannot name a line.
    static std::unique_ptr<Transport> fromPortText(const QString &text, QString *error);

protected:
    // Every transport counts what it reads off its line here.
    void countReceived(qint64 bytes) { rawIn += bytes; }

private:
    qint64 rawIn = 0;
};

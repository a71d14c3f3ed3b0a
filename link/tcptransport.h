// Network lines: RTU frames over TCP to a serial device server, and Modbus
// TCP to a gateway.  Both connect when opened; a connection that cannot be
// made or that drops is a failed line, as a serial port that is gone.
#pragma once

#include "transport.h"

#include <QTcpSocket>

// HOST:PORT of a network port text.
struct Endpoint {
    QString host;    // without brackets
    quint16 port = 0;
    // "127.0.0.1:5020", "detector-3.local:502", "[::1]:502".
    QString text() const;

    // Parses "HOST:PORT" (HOST an IPv4 address, a host name or an IPv6
    // address in brackets).  `scheme` and `whole` only go into the message.
    static bool parse(const QString &hostPort, const QString &scheme, const QString &whole, Endpoint *out,
                      QString *error);
};

// Modbus TCP framing: the MBAP header (transaction id, protocol 0, length,
// unit id) before the PDU, no CRC.
namespace Mbap {

constexpr int HeaderLength = 7;
constexpr int MaxLength = 254;   // unit id + the largest PDU (253 bytes)

// The MBAP frame for an RTU frame (address, PDU, CRC): the address becomes
// the unit id, the CRC is dropped.  Empty when `rtu` is no whole RTU frame
// (shorter than 4 bytes, too long, or its CRC does not match).
QByteArray fromRtu(const QByteArray &rtu, quint16 transaction);

// Takes the first answer to `transaction` out of the bytes received so far
// and returns it as an RTU frame (unit id, PDU, a CRC computed over them).
// Frames with another transaction id or a protocol other than 0 are thrown
// away; a length that no frame can have throws away everything (the stream
// is out of step).  Returns empty while no whole answer is there.
QByteArray takeRtu(QByteArray &buffer, quint16 transaction);

} // namespace Mbap

class TcpTransport : public Transport
{
public:
    static constexpr int ConnectTimeoutMs = 3000;

    explicit TcpTransport(const Endpoint &endpoint);
    ~TcpTransport() override;

    bool open() override;
    void close() override;
    bool isOpen() const override;
    bool failed() const override;
    QString errorString() const override;
    void discard() override;
    qint64 write(const QByteArray &bytes) override;
    bool waitForBytesWritten(int ms) override;
    bool waitForReadyRead(int ms) override;
    QByteArray readAll() override;
    qint64 bytesToWrite() const override;

protected:
    QTcpSocket socket;
    Endpoint endpoint;
    QString error;
    bool connectedOnce = false;   // since the last open(): a later loss is "lost"
};

class ModbusTcpTransport : public TcpTransport
{
public:
    using TcpTransport::TcpTransport;

    void discard() override;
    // Takes one RTU frame (address, PDU, CRC) and sends it as MBAP with the
    // next transaction id.  Anything that is no RTU frame (raw text such as
    // "DEACTIV") cannot go through a gateway and is refused.
    qint64 write(const QByteArray &bytes) override;
    // The answer to the last request, as an RTU frame, once it is whole.
    QByteArray readAll() override;
    bool wholeFrames() const override { return true; }

private:
    quint16 transaction = 0;
    QByteArray received;
};

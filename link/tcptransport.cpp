#include "tcptransport.h"

#include "modbus.h"

#include <QHostAddress>
#include <QRegularExpression>

// ------------------------------------------------------------------ endpoint

QString Endpoint::text() const
{
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return h + QLatin1Char(':') + QString::number(port);
}

bool Endpoint::parse(const QString &hostPort, const QString &scheme, const QString &whole, Endpoint *out,
                     QString *error)
{
    const QString form = QStringLiteral("%1://HOST:PORT").arg(scheme);
    auto fail = [error](const QString &why) {
        *error = why;
        return false;
    };
    if (hostPort.isEmpty())
        return fail(QStringLiteral("no host in \"%1\"; write %2").arg(whole, form));
    QString host;
    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const int close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("no closing bracket in \"%1\"; write %2://[ADDRESS]:PORT").arg(whole, scheme));
        host = hostPort.mid(1, close - 1);
        const QHostAddress address(host);
        if (address.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("\"%1\" in \"%2\" is no IPv6 address").arg(host, whole));
        if (close + 1 >= hostPort.size() || hostPort[close + 1] != QLatin1Char(':'))
            return fail(QStringLiteral("no port number in \"%1\"; write %2://[ADDRESS]:PORT").arg(whole, scheme));
        portText = hostPort.mid(close + 2);
    } else {
        const int colon = hostPort.indexOf(QLatin1Char(':'));
        if (colon < 0)
            return fail(QStringLiteral("no port number in \"%1\"; write %2").arg(whole, form));
        if (hostPort.indexOf(QLatin1Char(':'), colon + 1) >= 0)
            return fail(QStringLiteral("an IPv6 address goes in brackets: %1://[ADDRESS]:PORT").arg(scheme));
        host = hostPort.left(colon);
        portText = hostPort.mid(colon + 1);
        if (host.isEmpty())
            return fail(QStringLiteral("no host in \"%1\"; write %2").arg(whole, form));
        static const QRegularExpression numeric(QStringLiteral("^[0-9.]+$"));
        static const QRegularExpression name(
            QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)"
                           "(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)*\\.?$"));
        if (numeric.match(host).hasMatch()) {
            if (QHostAddress(host).protocol() != QAbstractSocket::IPv4Protocol
                || host.count(QLatin1Char('.')) != 3)
                return fail(QStringLiteral("\"%1\" in \"%2\" is no IPv4 address").arg(host, whole));
        } else if (!name.match(host).hasMatch()) {
            return fail(QStringLiteral("\"%1\" in \"%2\" is no host name").arg(host, whole));
        }
    }
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    const int port = portText.toInt();
    if (!digits.match(portText).hasMatch() || port < 1 || port > 65535)
        return fail(QStringLiteral("bad port number \"%1\" in \"%2\" (1-65535)").arg(portText, whole));
    out->host = host;
    out->port = quint16(port);
    return true;
}

// ---------------------------------------------------------------- MBAP codec

namespace Mbap {

QByteArray fromRtu(const QByteArray &rtu, quint16 transaction)
{
    const auto *b = reinterpret_cast<const quint8 *>(rtu.constData());
    const int length = rtu.size() - 2;   // unit id + PDU
    if (rtu.size() < 4 || length > MaxLength || !Modbus::crcMatches(b, rtu.size()))
        return QByteArray();
    QByteArray out;
    out.reserve(6 + length);
    out.append(char(transaction >> 8));
    out.append(char(transaction & 0xFF));
    out.append('\0');
    out.append('\0');
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(rtu.constData(), length);
    return out;
}

QByteArray takeRtu(QByteArray &buffer, quint16 transaction)
{
    while (buffer.size() >= HeaderLength) {
        const auto *b = reinterpret_cast<const quint8 *>(buffer.constData());
        const quint16 id = quint16((b[0] << 8) | b[1]);
        const quint16 protocol = quint16((b[2] << 8) | b[3]);
        const int length = (b[4] << 8) | b[5];
        if (length < 2 || length > MaxLength) {
            buffer.clear();
            return QByteArray();
        }
        if (buffer.size() < 6 + length)
            return QByteArray();
        QByteArray frame = buffer.mid(6, length);
        buffer.remove(0, 6 + length);
        if (id != transaction || protocol != 0)
            continue;   // a late answer to an earlier request, or no Modbus at all
        const quint16 crc = Modbus::crc16(reinterpret_cast<const quint8 *>(frame.constData()), frame.size());
        frame.append(char(crc & 0xFF));
        frame.append(char(crc >> 8));
        return frame;
    }
    return QByteArray();
}

} // namespace Mbap

// -------------------------------------------------------------- RTU over TCP

TcpTransport::TcpTransport(const Endpoint &endpoint)
    : endpoint(endpoint)
{
}

TcpTransport::~TcpTransport()
{
    close();
}

bool TcpTransport::open()
{
    close();
    connectedOnce = false;
    error.clear();
    socket.connectToHost(endpoint.host, endpoint.port);
    if (!socket.waitForConnected(ConnectTimeoutMs)) {
        switch (socket.error()) {
        case QAbstractSocket::ConnectionRefusedError:
            error = QStringLiteral("connection refused by %1").arg(endpoint.text());
            break;
        case QAbstractSocket::HostNotFoundError:
            error = QStringLiteral("host %1 not found").arg(endpoint.host);
            break;
        case QAbstractSocket::SocketTimeoutError:
            error = QStringLiteral("no connection to %1 within %2 s").arg(endpoint.text()).arg(ConnectTimeoutMs / 1000);
            break;
        default:
            error = QStringLiteral("cannot connect to %1: %2").arg(endpoint.text(), socket.errorString());
            break;
        }
        socket.abort();
        return false;
    }
    // Requests are small and wait for their answer: send each at once.
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connectedOnce = true;
    return true;
}

void TcpTransport::close()
{
    // Not close(): that would first try to send what is still queued.
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.abort();
    connectedOnce = false;
}

bool TcpTransport::isOpen() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

bool TcpTransport::failed() const
{
    return !isOpen();
}

QString TcpTransport::errorString() const
{
    if (connectedOnce && !isOpen())
        return QStringLiteral("connection to %1 lost").arg(endpoint.text());
    return error;
}

void TcpTransport::discard()
{
    if (!isOpen())
        return;
    // What has reached this machine so far, up to a sane amount.
    for (int i = 0; i < 16 && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(0)); ++i)
        socket.readAll();
}

qint64 TcpTransport::write(const QByteArray &bytes)
{
    return isOpen() ? socket.write(bytes) : -1;
}

bool TcpTransport::waitForBytesWritten(int ms)
{
    if (!isOpen())
        return false;
    if (socket.bytesToWrite() == 0)
        return true;
    return socket.waitForBytesWritten(ms) || (isOpen() && socket.bytesToWrite() == 0);
}

bool TcpTransport::waitForReadyRead(int ms)
{
    return isOpen() && socket.waitForReadyRead(ms);
}

QByteArray TcpTransport::readAll()
{
    if (!socket.isOpen())
        return QByteArray();
    const QByteArray bytes = socket.readAll();
    countReceived(bytes.size());
    return bytes;
}

qint64 TcpTransport::bytesToWrite() const
{
    return socket.bytesToWrite();
}

// ---------------------------------------------------------------- Modbus TCP

void ModbusTcpTransport::discard()
{
    TcpTransport::discard();
    received.clear();
}

qint64 ModbusTcpTransport::write(const QByteArray &bytes)
{
    if (!isOpen())
        return -1;
    const quint16 next = quint16(transaction + 1);
    const QByteArray frame = Mbap::fromRtu(bytes, next);
    if (frame.isEmpty())
        return -1;
    transaction = next;
    received.clear();
    return socket.write(frame) == frame.size() ? bytes.size() : -1;
}

QByteArray ModbusTcpTransport::readAll()
{
    received += TcpTransport::readAll();
    return Mbap::takeRtu(received, transaction);
}

#include "command.h"

#include "options.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QThread>
#include <cstring>

Command command;

constexpr Command::LoopTiming Command::RegisterLoop;
constexpr Command::LoopTiming Command::BlockLoop;

Command::Command()
    // Not DefaultUserName: that global may not be constructed yet when this
    // object is (both are globals of different files).
    : UserName(QStringLiteral("Noname"))
{
    std::memset(&DeviceParams, 0, sizeof DeviceParams);
    std::memset(reply, 0, sizeof reply);
    std::memset(request.bytes, 0, sizeof request.bytes);
}

Command::~Command()
{
    if (port.isOpen())
        port.close();
}

void Command::resetState()
{
    closePort();
    PortName.clear();
    SlaveAddress = 0;
    attemptLimit = 0;
    DeviceType = 0;
    WriteCount = 0;
    UserName = DefaultUserName;
    Password.clear();
    LoggedIn = 0;
    FactoryAccess = 0;
    std::memset(&DeviceParams, 0, sizeof DeviceParams);
    ScratchWord = 0;
    replyLength = 0;
}

void Command::setTrafficHook(TrafficHook hook, void *context)
{
    trafficHook = hook;
    trafficContext = context;
}

bool Command::openPort()
{
    if (port.isOpen())
        port.close();
    port.setPortName(PortName);
    port.setBaudRate(QSerialPort::Baud9600, QSerialPort::AllDirections);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    linkWanted = port.open(QIODevice::ReadWrite);
    return linkWanted;
}

void Command::closePort()
{
    linkWanted = false;
    if (port.isOpen())
        port.close();
}

bool Command::isOpen() const
{
    return port.isOpen();
}

QString Command::errorString() const
{
    return port.errorString();
}

void Command::discardPending()
{
    if (!port.isOpen())
        return;
    port.clearError();
    port.clear(QSerialPort::AllDirections);
}

bool Command::writeRaw(const QByteArray &bytes)
{
    if (!linkWanted || !port.isOpen())
        return false;
    if (trafficHook)
        trafficHook(true, bytes, trafficContext);
    if (port.write(bytes) != bytes.size())
        return false;
    return port.waitForBytesWritten(RawWriteWaitMs) || port.bytesToWrite() == 0;
}

bool Command::portFailed() const
{
    // A time-out is no fault of the port; anything else it reports (the
    // device vanished, a read or write was refused) is.
    if (!port.isOpen())
        return true;
    const QSerialPort::SerialPortError e = port.error();
    return e != QSerialPort::NoError && e != QSerialPort::TimeoutError;
}

bool Command::reopenPort()
{
    if (port.isOpen())
        port.close();
    // The port keeps its name and line settings across close and open.
    if (!port.open(QIODevice::ReadWrite))
        return false;
    port.clearError();
    return true;
}

quint16 Command::transact(quint8 function, quint16 value, quint16 start, quint16 count)
{
    const Modbus::Image image{&DeviceParams, &ScratchWord};
    const quint16 built = Modbus::buildRequest(request, quint8(SlaveAddress & 0xFF), function, value,
                                               start, count, image);
    if (built != ResultOk)
        return built;
    return exchange(RegisterLoop, true);
}

quint16 Command::transactBlock(quint8 function, quint32 address, const quint8 *data, quint16 length)
{
    const quint16 built = Modbus::buildBlockRequest(request, quint8(SlaveAddress & 0xFF), function,
                                                    address, data, length);
    if (built != ResultOk)
        return built;
    return exchange(BlockLoop, false);
}

quint16 Command::exchange(const LoopTiming &timing, bool broadcastRule)
{
    // A port closed on purpose stays closed: nothing goes out.
    if (!linkWanted)
        return ResultNotConnected;

    const Modbus::Image image{&DeviceParams, &ScratchWord};
    const QByteArray frame(reinterpret_cast<const char *>(request.bytes), request.length);
    const bool broadcast = broadcastRule && (SlaveAddress == 0 || SlaveAddress == 255)
        && (request.function == 6 || request.function == 16 || request.function == 21);
    quint16 result = ResultNoReply;
    qint64 pauseMark = 0;
    QByteArray received;

    // A port that went away (adapter pulled, device file gone) or stopped
    // writing gets one fresh open per exchange.  When that fails, or the
    // port fails again after it, the exchange ends at once: the remaining
    // attempts could not send anything either.
    bool reopened = false;
    auto recover = [&]() {
        if (reopened)
            return false;
        reopened = true;
        return reopenPort();
    };

    const int attempts = attemptLimit > 0 ? qMin(attemptLimit, timing.attempts) : timing.attempts;
    for (int attempt = attempts; attempt > 0; --attempt) {
        if (!port.isOpen() && !recover())
            return ResultWriteTimeout;
        port.clearError();
        port.clear(QSerialPort::AllDirections);
        received.clear();
        const bool queued = port.write(frame) == frame.size();
        if (queued && trafficHook)
            trafficHook(true, frame, trafficContext);
        const bool written = queued && port.waitForBytesWritten(timing.writeTimeout);

        if (broadcast) {
            // Every device on the line acts on a broadcast; none answers.
            // It is sent once: a request that did not go out is a failure.
            if (!written)
                return ResultWriteTimeout;
            port.waitForReadyRead(timing.firstReplyTimeout);
            if (port.isOpen())
                port.readAll();
            return ResultOk;
        }

        if (!written) {
            result = ResultWriteTimeout;
            if (!recover())
                return result;
            continue;
        }

        result = ResultNoReply;
        if (!port.waitForReadyRead(timing.firstReplyTimeout)) {
            if (portFailed() && !recover())
                return ResultWriteTimeout;
            continue;
        }
        received = port.readAll();
        // The reply ends at the first silence of the inter-chunk time-out.
        while (port.isOpen() && port.waitForReadyRead(timing.interChunkTimeout))
            received += port.readAll();
        if (trafficHook)
            trafficHook(false, received, trafficContext);

        result = ResultBadReply;
        if (received.isEmpty())
            continue;
        replyLength = qMin(received.size(), Modbus::ReplyCapacity);
        std::memcpy(reply, received.constData(), size_t(replyLength));
        // Too short, too long or a CRC mismatch give ResultBadReply; any other
        // failure is the check's own code.
        result = Modbus::checkReceived(reinterpret_cast<const quint8 *>(received.constData()),
                                       received.size(), request, image);
        if (result == ResultOk)
            return result;
        if (result != ResultBadReply)
            continue;
        // A corrupt reply: give the line one pause per exchange to settle.
        if (pauseMark < timing.corruptPause) {
            QElapsedTimer pause;
            pause.start();
            while (pause.elapsed() < timing.corruptPause)
                QThread::msleep(quint32(timing.corruptPause - pause.elapsed()));
            pauseMark = pause.elapsed();
        }
    }
    return result;
}

#include "command.h"

#include "accesslevels.h"
#include "options.h"

#include <QByteArray>
#include <cstring>

Command command;

constexpr Command::LoopTiming Command::RegisterLoop;
constexpr Command::LoopTiming Command::BlockLoop;

Command::Command()
    // Not DefaultUserName: that global may not be constructed yet when this
    // object is (both are globals of different files); NoLevel is constant.
    : UserName(Access::NoLevel), clock(&LinkClock::real())
{
    std::memset(&DeviceParams, 0, sizeof DeviceParams);
    std::memset(reply, 0, sizeof reply);
    std::memset(request.bytes, 0, sizeof request.bytes);
}

Command::~Command() = default;

void Command::resetState()
{
    closePort();
    clock = &LinkClock::real();
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

void Command::setTrafficHook(TrafficHook hook, void *context, AttemptHook ended)
{
    trafficHook = hook;
    attemptHook = ended;
    trafficContext = context;
}

void Command::attemptEnded(quint16 result)
{
    if (attemptHook)
        attemptHook(result, trafficContext);
}

void Command::setClock(LinkClock *c)
{
    clock = c ? c : &LinkClock::real();
}

bool Command::openPort()
{
    line.reset();
    linkWanted = false;
    openError.clear();
    std::unique_ptr<Transport> made = Transport::fromPortText(PortName, &openError);
    if (!made)
        return false;
    return openTransport(std::move(made));
}

bool Command::openTransport(std::unique_ptr<Transport> made)
{
    line = std::move(made);
    lineUsed = false;
    // Whatever answers on a line opened afresh has not been read yet.
    Origin = BlockOrigin();
    linkWanted = line && line->open();
    return linkWanted;
}

void Command::closePort()
{
    linkWanted = false;
    Origin = BlockOrigin();
    line.reset();
    openError.clear();
}

bool Command::isOpen() const
{
    return line && line->isOpen();
}

QString Command::errorString() const
{
    return line ? line->errorString() : openError;
}

void Command::discardPending()
{
    if (line && line->isOpen())
        line->discard();
}

void Command::keepFrameGap()
{
    if (!lineUsed || line->wholeFrames())
        return;   // a gateway delimits the frames on its line itself
    const qint64 wait = lineActiveUs + FrameGapUs - clock->nowUs();
    if (wait > 0)
        clock->sleepUs(wait);
}

bool Command::writeRaw(const QByteArray &bytes)
{
    if (!linkWanted || !line || !line->isOpen())
        return false;
    keepFrameGap();
    const bool queued = line->write(bytes) == bytes.size();
    if (queued && trafficHook)
        trafficHook(true, bytes, trafficContext);
    const bool written = queued && line->waitForBytesWritten(RawWriteWaitMs);
    lineActiveUs = clock->nowUs();
    lineUsed = true;
    return written;
}

bool Command::reopenPort()
{
    // The line keeps its name and settings across close and open.
    if (!line)
        return false;
    line->close();
    return line->open();
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

bool Command::awaitReply(int timeoutMs, QByteArray &received)
{
    // A line that hands over whole frames may wake up for bytes that make
    // none (an answer to an earlier request): wait on for the rest of the
    // time-out.
    const qint64 deadline = clock->nowUs() + qint64(timeoutMs) * 1000;
    for (;;) {
        const qint64 left = deadline - clock->nowUs();
        if (left <= 0 || !line->waitForReadyRead(int((left + 999) / 1000)))
            return false;
        received += line->readAll();
        if (!received.isEmpty()) {
            lineActiveUs = clock->nowUs();
            return true;
        }
    }
}

void Command::gatherReply(int silenceMs, QByteArray &received)
{
    // A reply is taken as soon as it is whole and its CRC matches; one that
    // cannot be told whole ends at the first silence of `silenceMs`.
    for (;;) {
        if (line->wholeFrames()
            || Modbus::replyComplete(reinterpret_cast<const quint8 *>(received.constData()), received.size()))
            return;
        if (!line->isOpen() || !line->waitForReadyRead(silenceMs))
            return;
        const QByteArray more = line->readAll();
        if (!more.isEmpty()) {
            received += more;
            lineActiveUs = clock->nowUs();
        }
    }
}

quint16 Command::exchange(const LoopTiming &timing, bool broadcastRule)
{
    requestSent = false;
    // A port closed on purpose stays closed: nothing goes out.
    if (!linkWanted || !line)
        return ResultNotConnected;

    const Modbus::Image image{&DeviceParams, &ScratchWord};
    const QByteArray frame(reinterpret_cast<const char *>(request.bytes), request.length);
    const bool broadcast = broadcastRule && (SlaveAddress == 0 || SlaveAddress == 255)
        && (request.function == Modbus::FnWriteSingle || request.function == Modbus::FnWriteMultiple
            || request.function == Modbus::FnReadFileRecord);
    quint16 result = ResultNoReply;
    qint64 pauseMark = 0;
    QByteArray received;

    // A line that went away (adapter pulled, device file gone, connection
    // dropped) or stopped writing gets one fresh open per exchange.  When
    // that fails, or the line fails again after it, the exchange ends at
    // once: the remaining attempts could not send anything either.  Once a
    // request has gone out, a line lost is not a request unsent: the device
    // may have carried it out.
    const auto lineGone = [this]() { return requestSent ? ResultLineLost : ResultWriteTimeout; };
    bool reopened = false;
    auto recover = [&]() {
        if (reopened)
            return false;
        reopened = true;
        return reopenPort();
    };

    const int attempts = attemptLimit > 0 ? qMin(attemptLimit, timing.attempts) : timing.attempts;
    for (int attempt = attempts; attempt > 0; --attempt) {
        if (!line->isOpen() && !recover()) {
            attemptEnded(lineGone());
            return lineGone();
        }
        keepFrameGap();
        line->discard();
        received.clear();
        const bool queued = line->write(frame) == frame.size();
        if (queued && trafficHook)
            trafficHook(true, frame, trafficContext);
        const bool written = queued && line->waitForBytesWritten(timing.writeTimeout);
        lineActiveUs = clock->nowUs();
        lineUsed = true;
        requestSent = requestSent || written;

        if (broadcast) {
            // Every device on the line acts on a broadcast; none answers.
            // It is sent once: a request that did not go out is a failure.
            if (!written) {
                attemptEnded(ResultWriteTimeout);
                return ResultWriteTimeout;
            }
            if (line->waitForReadyRead(timing.firstReplyTimeout)) {
                line->readAll();
                lineActiveUs = clock->nowUs();
            }
            attemptEnded(ResultOk);
            return ResultOk;
        }

        if (!written) {
            result = lineGone();
            attemptEnded(result);
            if (!recover())
                return result;
            continue;
        }

        result = ResultNoReply;
        if (!awaitReply(timing.firstReplyTimeout, received)) {
            const bool lost = line->failed() && !recover();
            attemptEnded(lost ? ResultLineLost : ResultNoReply);
            if (lost)
                return ResultLineLost;
            continue;
        }
        gatherReply(timing.interChunkTimeout, received);
        if (trafficHook)
            trafficHook(false, received, trafficContext);

        replyLength = qMin(received.size(), Modbus::ReplyCapacity);
        std::memcpy(reply, received.constData(), size_t(replyLength));
        // Too short, too long or a CRC mismatch give ResultBadReply; any other
        // failure is the check's own code.
        result = Modbus::checkReceived(reinterpret_cast<const quint8 *>(received.constData()),
                                       received.size(), request, image);
        attemptEnded(result);
        if (result == ResultOk)
            return result;
        if (result != ResultBadReply)
            continue;
        // A corrupt reply: give the line one pause per exchange to settle.
        if (pauseMark < timing.corruptPause * 1000LL) {
            const qint64 from = clock->nowUs();
            qint64 elapsed = 0;
            while ((elapsed = clock->nowUs() - from) < timing.corruptPause * 1000LL)
                clock->sleepUs(timing.corruptPause * 1000LL - elapsed);
            pauseMark = clock->nowUs() - from;
        }
    }
    return result;
}

#include "command.h"

#include "accesslevels.h"
#include "options.h"

#include <QByteArray>
#include <cstring>

constexpr Command::LoopTiming Command::RegisterLoop;
constexpr Command::LoopTiming Command::BlockLoop;

Command::Command()
    // Not DefaultUserName: that global may not be constructed yet when the
    // program's link is (both are globals of different files); NoLevel is
    // constant.
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
    if (exchanging)
        return ResultNotConnected;   // see busy()
    requestSent = false;   // nothing of this request has gone out yet
    const Modbus::Image image{&DeviceParams, &ScratchWord};
    const quint16 built = Modbus::buildRequest(request, quint8(SlaveAddress & 0xFF), function, value,
                                               start, count, image);
    if (built != ResultOk)
        return built;
    return exchange(RegisterLoop, true);
}

quint16 Command::transactBlock(quint8 function, quint32 address, const quint8 *data, quint16 length)
{
    if (exchanging)
        return ResultNotConnected;   // see busy()
    requestSent = false;
    const quint16 built = Modbus::buildBlockRequest(request, quint8(SlaveAddress & 0xFF), function,
                                                    address, data, length);
    if (built != ResultOk)
        return built;
    return exchange(BlockLoop, false);
}

qint64 Command::replyDeadlineUs(const LoopTiming &timing, const Modbus::Request &request)
{
    const qint64 wireUs = qint64(Modbus::longestReply(request) * ByteUs + 0.5);
    return timing.firstReplyTimeout * 1000LL + wireUs + timing.interChunkTimeout * 1000LL;
}

void Command::setWaitHook(WaitHook hook, void *context)
{
    waitHook = hook;
    waitContext = context;
}

bool Command::keepGoing()
{
    if (!waitHook)
        return true;
    const qint64 elapsedMs = (clock->nowUs() - exchangeStartUs) / 1000;
    return waitHook(qMax<qint64>(0, elapsedMs), waitContext);
}

bool Command::waitForBytes(qint64 untilUs, bool &cut)
{
    for (;;) {
        if (!keepGoing()) {
            cut = true;
            return false;
        }
        const qint64 left = untilUs - clock->nowUs();
        if (left <= 0 || !line->isOpen())
            return false;
        const int sliceMs = int(qMin<qint64>((left + 999) / 1000, WaitSliceMs));
        if (line->waitForReadyRead(sliceMs))
            return true;
        if (line->failed())
            return false;
    }
}

bool Command::pauseUntil(qint64 untilUs)
{
    for (;;) {
        if (!keepGoing())
            return false;
        const qint64 left = untilUs - clock->nowUs();
        if (left <= 0)
            return true;
        clock->sleepUs(qMin<qint64>(left, WaitSliceMs * 1000LL));
    }
}

Command::Heard Command::receiveReply(const LoopTiming &timing, qint64 sentUs, QByteArray &received)
{
    // The reply starts with the first byte within the first-reply time-out
    // and ends when it is whole and its CRC matches, or at the first
    // silence of the inter-chunk time-out, or at the reply deadline at the
    // latest.  A line that hands over whole frames only ends a reply with
    // its frame; bytes that make none (an answer to an earlier request, a
    // frame cut short) followed by silence leave it waiting for the rest of
    // the first-reply time-out.
    const qint64 firstDeadline = sentUs + timing.firstReplyTimeout * 1000LL;
    const qint64 replyDeadline = sentUs + replyDeadlineUs(timing, request);
    const qint64 silenceUs = timing.interChunkTimeout * 1000LL;
    const bool frames = line->wholeFrames();
    qint64 seen = line->bytesReceived();
    bool talking = false;   // bytes have come and no silence has followed yet
    qint64 lastByteUs = sentUs;
    bool cut = false;
    for (;;) {
        // What came in meanwhile (also while the wait hook let events run)
        // is taken before any wait.
        received += line->readAll();
        // A flood is no reply: what goes beyond the largest one is dropped.
        if (received.size() > Modbus::ReplyCapacity)
            received.truncate(Modbus::ReplyCapacity + 1);
        const qint64 now = clock->nowUs();
        if (line->bytesReceived() != seen) {
            seen = line->bytesReceived();
            talking = true;
            lastByteUs = now;
            lineActiveUs = now;
        }
        if (!received.isEmpty()
            && (frames || Modbus::replyComplete(reinterpret_cast<const quint8 *>(received.constData()), received.size())))
            return Heard::Reply;

        qint64 until = firstDeadline;
        if (talking && now - lastByteUs >= silenceUs) {
            if (!frames)
                return Heard::Reply;   // silence ends the reply: the check tells what it is
            talking = false;
        }
        if (talking) {
            if (now >= replyDeadline)
                return Heard::NoSilence;
            until = qMin(lastByteUs + silenceUs, replyDeadline);
        } else if (now >= firstDeadline) {
            return Heard::Nothing;
        }
        if (!waitForBytes(until, cut)) {
            if (cut)
                return Heard::Cancelled;
            if (!line->isOpen() || line->failed())
                return talking && !frames ? Heard::Reply : Heard::Nothing;
        }
    }
}

quint16 Command::exchange(const LoopTiming &timing, bool broadcastRule)
{
    // An exchange started from an event that a running one let through
    // would overwrite its request and reply: it sends nothing.
    if (exchanging)
        return ResultNotConnected;
    requestSent = false;
    // A port closed on purpose stays closed: nothing goes out.
    if (!linkWanted || !line)
        return ResultNotConnected;
    exchanging = true;
    exchangeStartUs = clock->nowUs();
    const quint16 result = runAttempts(timing, broadcastRule);
    exchanging = false;
    if (waitHook)
        waitHook(-1, waitContext);
    return result;
}

quint16 Command::runAttempts(const LoopTiming &timing, bool broadcastRule)
{
    const Modbus::Image image{&DeviceParams, &ScratchWord};
    const QByteArray frame(reinterpret_cast<const char *>(request.bytes), request.length);
    const bool broadcast = broadcastRule && (SlaveAddress == 0 || SlaveAddress == 255)
        && (request.function == Modbus::FnWriteSingle || request.function == Modbus::FnWriteMultiple
            || request.function == Modbus::FnReadFileRecord);
    quint16 result = ResultNoReply;
    bool paused = false;
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
    const auto cancelled = [this]() {
        attemptEnded(ResultCancelled);
        return ResultCancelled;
    };

    const int attempts = attemptLimit > 0 ? qMin(attemptLimit, timing.attempts) : timing.attempts;
    for (int attempt = attempts; attempt > 0; --attempt) {
        if (!keepGoing())
            return cancelled();
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
        const qint64 sentUs = clock->nowUs();
        lineActiveUs = sentUs;
        lineUsed = true;
        requestSent = requestSent || written;

        if (broadcast) {
            // Every device on the line acts on a broadcast; none answers.
            // It is sent once: a request that did not go out is a failure.
            if (!written) {
                attemptEnded(ResultWriteTimeout);
                return ResultWriteTimeout;
            }
            bool cut = false;
            if (waitForBytes(sentUs + timing.firstReplyTimeout * 1000LL, cut)) {
                line->readAll();
                lineActiveUs = clock->nowUs();
            }
            if (cut)
                return cancelled();
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

        const Heard heard = receiveReply(timing, sentUs, received);
        if (heard == Heard::Cancelled)
            return cancelled();
        if (heard == Heard::Nothing) {
            result = ResultNoReply;
            const bool lost = line->failed() && !recover();
            attemptEnded(lost ? ResultLineLost : ResultNoReply);
            if (lost)
                return ResultLineLost;
            continue;
        }
        if (trafficHook)
            trafficHook(false, received, trafficContext);

        replyLength = qMin(received.size(), Modbus::ReplyCapacity);
        std::memcpy(reply, received.constData(), size_t(replyLength));
        if (heard == Heard::NoSilence) {
            // Not whole by its deadline: garbled, and retried as such.
            result = ResultNoSilence;
            attemptEnded(ResultNoSilence);
        } else {
            // Too short, too long or a CRC mismatch give ResultBadReply; any
            // other failure is the check's own code.
            result = Modbus::checkReceived(reinterpret_cast<const quint8 *>(received.constData()),
                                           received.size(), request, image);
            attemptEnded(result);
            if (result == ResultOk)
                return result;
            if (result != ResultBadReply)
                continue;
        }
        // A corrupt reply: give the line one pause per exchange to settle.
        if (!paused) {
            paused = true;
            if (!pauseUntil(clock->nowUs() + timing.corruptPause * 1000LL))
                return cancelled();
        }
    }
    return result;
}

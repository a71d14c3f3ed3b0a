// A link to the devices on one line: the line (serial port or network),
// the Modbus master, the address asked, the parameter block and the access
// state.  Callers own their links: the program keeps one for the detector it
// shows (programlink.h), tlctl makes its own, a line worker one per line.
// A link is used by one thread at a time, the one that opened it.
#pragma once

#include "deviceparams.h"
#include "modbus.h"
#include "transport.h"

#include <QObject>
#include <QString>
#include <memory>

class Command : public QObject
{
    Q_OBJECT
public:
    Command();
    ~Command() override;

    // Timing of the two exchange loops, in milliseconds.
    struct LoopTiming {
        int attempts;
        int writeTimeout;
        int firstReplyTimeout;
        int interChunkTimeout;
        int corruptPause;
    };
    static constexpr LoopTiming RegisterLoop{10, 50, 150, 50, 500};
    static constexpr LoopTiming BlockLoop{15, 100, 450, 50, 500};
    // Silence kept on the line before every request: 3.5 character times
    // at 9600 baud (3.65 ms), rounded up.
    static constexpr int FrameGapUs = 4000;
    // One byte on the line at 9600 baud, 8N1: ten bits.
    static constexpr double ByteUs = 10 * 1e6 / 9600;
    // A reply must be whole by this time after its request went out: the
    // first-reply time-out, the time the longest reply the request allows
    // takes on the line, and one silence.  A line that still talks then
    // never fell silent (a jammed transmitter, noise): the attempt fails
    // as a garbled reply, and an exchange whose last attempt ended so
    // fails with ResultNoSilence.
    static qint64 replyDeadlineUs(const LoopTiming &timing, const Modbus::Request &request);
    // The longest stretch the loop waits without asking the wait hook.
    static constexpr int WaitSliceMs = 20;

    // The port text: a serial port name or path, tcp://HOST:PORT (RTU over
    // TCP) or modbus-tcp://HOST:PORT (Modbus TCP).
    QString PortName;
    quint16 SlaveAddress = 0;
    qint16 DeviceType = 0;
    quint16 WriteCount = 0;

    // Access state.
    QString UserName;
    QString Password;
    quint8 LoggedIn = 0;
    quint8 FactoryAccess = 0;

    // Parameter block mirrored from the device, and the scratch word that the
    // unbound holding registers share.
    ParamBlock DeviceParams;
    quint16 ScratchWord = 0;

    // Last request sent and last reply checked.
    Modbus::Request request;
    quint8 reply[Modbus::ReplyCapacity];
    int replyLength = 0;

    // When non-zero, caps the attempts of every exchange (a line scan asks
    // each address once).  0 keeps the loops' own counts.
    int attemptLimit = 0;

    // One exchange for function codes 3, 4, 6, 16, 20, 21, 43.
    quint16 transact(quint8 function, quint16 value, quint16 start, quint16 count);
    // One exchange for function 14 (memory block write).
    quint16 transactBlock(quint8 function, quint32 address, const quint8 *data, quint16 length);

    // Whether the last exchange put its request on the line (at least one
    // attempt was written out).  A write that failed after that may still
    // have been carried out by the device.
    bool lastRequestSent() const { return requestSent; }

    // Where the parameter block came from: the full read that filled it
    // (see DeviceOps::read).  A block is only ever written back to the
    // device it came from.
    struct BlockOrigin {
        bool valid = false;
        QString port;
        quint16 address = 0;
        qint16 deviceType = 0;
        qint32 serialNumber = 0;
        quint16 registerCount = 0;

        bool operator==(const BlockOrigin &o) const
        {
            return valid == o.valid && port == o.port && address == o.address && deviceType == o.deviceType
                   && serialNumber == o.serialNumber && registerCount == o.registerCount;
        }
        bool operator!=(const BlockOrigin &o) const { return !(*this == o); }
    };
    BlockOrigin Origin;

    // Opens the line PortName names: a serial port with the line settings
    // (9600 8N1, no flow control), or a connection to a device server or a
    // Modbus TCP gateway.  Once it has succeeded, exchanges may use the line
    // (and reopen it once per exchange if it goes away).  False, with
    // errorString() saying why, when the text names no line or the line
    // cannot be opened.
    bool openPort();
    // Opens the link on a transport made elsewhere (a test's fake line), as
    // openPort() does with the one PortName names.
    bool openTransport(std::unique_ptr<Transport> made);
    // Closes the port on purpose: until the next successful openPort() every
    // exchange returns ResultNotConnected at once, sends nothing and leaves
    // the port closed.
    void closePort();
    // Whether the port is open, and why it last failed.
    bool isOpen() const;
    QString errorString() const;
    // The line in use (null before openPort() and after closePort()).  Tests
    // close it "under" the link through this.
    Transport *transport() const { return line.get(); }
    // The clock the exchange loops wait and pause by; null for real time.
    // resetState() goes back to real time.
    void setClock(LinkClock *clock);
    // Discards whatever is pending on the line in both directions.
    void discardPending();
    // Writes bytes as they are, outside any exchange (no frame, no CRC, no
    // reply awaited), waiting at most RawWriteWaitMs for them to go out.
    // Used for "DEACTIV" to a device that is no TL-02.  A Modbus TCP
    // gateway carries Modbus frames only: there it sends nothing and
    // returns false.
    static constexpr int RawWriteWaitMs = 100;
    bool writeRaw(const QByteArray &bytes);

    // Resets the block, the scratch word and the link state to their start
    // values (used by tests and tools that reuse the object).
    void resetState();

    // Optional observer of the raw bytes on the line (for tools that print
    // frames and the traffic monitor).  Called with true for bytes sent,
    // false for bytes received.  `attemptEnded`, when given, is called once
    // at the end of every attempt of an exchange with that attempt's result
    // (ResultNoReply for a request nobody answered, ResultBadReply for a
    // corrupt reply, ...): bytes alone cannot tell a silence.  There is one
    // observer; setting it replaces both, nullptr removes it.  Observing
    // sends nothing on the line.
    using TrafficHook = void (*)(bool sent, const QByteArray &bytes, void *context);
    using AttemptHook = void (*)(quint16 result, void *context);
    void setTrafficHook(TrafficHook hook, void *context, AttemptHook attemptEnded = nullptr);
    // Whether an observer is set.
    bool trafficObserved() const { return trafficHook || attemptHook; }

    // Asked at least every WaitSliceMs while an exchange waits on the line
    // (and during its pauses), with the milliseconds since the exchange
    // began.  Returning false cuts the exchange short: it returns
    // ResultCancelled at once (lastRequestSent() tells whether the request
    // went out).  A window keeps painting from it; a command-line tool looks
    // at its interrupt flag.  Called once more with -1 when the exchange
    // ends (its return value is then ignored).  nullptr removes it.
    using WaitHook = bool (*)(qint64 elapsedMs, void *context);
    void setWaitHook(WaitHook hook, void *context);
    // Whether an exchange is running.  One that starts while another runs
    // (from an event the wait hook let through) sends nothing and returns
    // ResultNotConnected.
    bool busy() const { return exchanging; }

private:
    quint16 exchange(const LoopTiming &timing, bool broadcastRule);
    quint16 runAttempts(const LoopTiming &timing, bool broadcastRule);
    bool reopenPort();
    // Waits until FrameGapUs have passed since the last byte on the line.
    void keepFrameGap();
    // How one attempt's wait for its reply ended.
    enum class Heard { Reply, Nothing, NoSilence, Cancelled };
    Heard receiveReply(const LoopTiming &timing, qint64 sentUs, QByteArray &received);
    // Waits for bytes until `untilUs` in slices of at most WaitSliceMs,
    // asking the wait hook before each; false when the time is up, the
    // line is gone or the hook cut the exchange short (`cut` set).
    bool waitForBytes(qint64 untilUs, bool &cut);
    // Pauses until `untilUs`, asking the wait hook as waitForBytes does.
    bool pauseUntil(qint64 untilUs);
    bool keepGoing();

    std::unique_ptr<Transport> line;
    QString openError;
    LinkClock *clock;
    // When the last byte went out or came in (microseconds on `clock`).
    qint64 lineActiveUs = 0;
    bool lineUsed = false;
    bool requestSent = false;
    bool exchanging = false;
    qint64 exchangeStartUs = 0;
    WaitHook waitHook = nullptr;
    void *waitContext = nullptr;

    // Set by a successful openPort(), cleared by closePort(): whether the
    // user wants the link up.  The port itself may still have gone away.
    bool linkWanted = false;

    TrafficHook trafficHook = nullptr;
    AttemptHook attemptHook = nullptr;
    void *trafficContext = nullptr;
    void attemptEnded(quint16 result);
};

inline quint16 crc16(const quint8 *bytes, int length) { return Modbus::crc16(bytes, length); }

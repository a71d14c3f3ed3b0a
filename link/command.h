// The one link object of the program: serial port, Modbus master, parameter
// block and the access state.
#pragma once

#include "deviceparams.h"
#include "modbus.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

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

    QSerialPort port;
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

    // Applies the line settings (9600 8N1, no flow control) to PortName and
    // opens the port for reading and writing.  Once it has succeeded,
    // exchanges may use the port (and reopen it once if it goes away).
    bool openPort();
    // Closes the port on purpose: until the next successful openPort() every
    // exchange returns ResultNotConnected at once, sends nothing and leaves
    // the port closed.
    void closePort();
    // Whether the port is open, and why it last failed.
    bool isOpen() const;
    QString errorString() const;
    // Discards whatever is pending on the line in both directions.
    void discardPending();
    // Writes bytes as they are, outside any exchange (no frame, no CRC, no
    // reply awaited), waiting at most RawWriteWaitMs for them to go out.
    // Used for "DEACTIV" to a device that is no TL-02.
    static constexpr int RawWriteWaitMs = 100;
    bool writeRaw(const QByteArray &bytes);

    // Resets the block, the scratch word and the link state to their start
    // values (used by tests and tools that reuse the object).
    void resetState();

    // Optional observer of the raw bytes on the line (for tools that print
    // frames).  Called with true for bytes sent, false for bytes received.
    using TrafficHook = void (*)(bool sent, const QByteArray &bytes, void *context);
    void setTrafficHook(TrafficHook hook, void *context);

private:
    quint16 exchange(const LoopTiming &timing, bool broadcastRule);
    bool portFailed() const;
    bool reopenPort();

    // Set by a successful openPort(), cleared by closePort(): whether the
    // user wants the link up.  The port itself may still have gone away.
    bool linkWanted = false;

    TrafficHook trafficHook = nullptr;
    void *trafficContext = nullptr;
};

extern Command command;

inline quint16 crc16(const quint8 *bytes, int length) { return Modbus::crc16(bytes, length); }

// Reading Modbus RTU frames back into what they mean: address, function,
// registers by their parameter names with values in the parameter's units,
// command codes by meaning, exception codes, the CRC.  For the traffic
// monitor and `tlctl --frames`, which see the frames the link sends and
// receives.  A Modbus TCP line hands the link RTU frames too (unit id as
// address, CRC added), so one decoder serves every line.
//
// No widgets; the texts here are English (tlctl prints them).  The program's
// monitor puts the same fields into its own translated texts.
#pragma once

#include "deviceparams.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace FrameDecode {

enum class Kind {
    Frame,     // a Modbus frame (its CRC may still be wrong)
    RawText,   // printable bytes that are no frame ("DEACTIV" to a foreign device)
    Short,     // fewer than 4 bytes: no room for address, function and CRC
};

// One register value a frame carries.
struct Register {
    quint16 reg;
    quint16 value;
};

// One identification object of a function 43 reply.
struct IdObject {
    int id;
    QString text;
};

// One value a frame carries, by what it is, for a reader that names it in
// its own words (the monitor names the parameters as the pages do).
struct Value {
    enum class Source {
        Holding,    // a parameter of the holding block: Params::parameters()[index]
        Live,       // an input register with a name: Params::liveValues()[index]
        Ident,      // an identification object: `reg` is its id
        Register,   // a holding register without a parameter: `reg`, `raw`
        Input,      // an input register without a name: `reg`, `raw`
    };
    Source source = Source::Register;
    int index = -1;
    quint16 reg = 0;
    quint16 raw = 0;
    QString text;               // as tlctl shows it ("increasing", "on", "20.0"), without the unit
    QString unit;               // "PPM", "s", "mA", ... or empty
    // A scaled value read before the block's Config (its unit and
    // decimals) was known: `text` is the register's number as it came.
    bool scaleUnknown = false;
};

struct Frame {
    bool sent = false;          // request (master to device) or reply
    Kind kind = Kind::Short;
    int address = -1;           // -1 when there is none
    int function = -1;          // the function byte as on the line (bit 7 set for an exception)
    bool crcOk = false;
    bool truncated = false;     // shorter than its function needs (what is there is decoded)
    bool broadcast = false;     // a write to address 0 or 255: no device answers it

    int exceptionCode = -1;     // exception replies
    int start = -1;             // first register asked for or written (-1: not known)
    int count = -1;             // registers asked for or written (-1: not in the frame)
    bool input = false;         // input registers (function 4) rather than holding
    QVector<Register> registers;  // values carried (write requests, read replies)
    int command = -1;           // a write of the command register alone: its code
    qint64 memAddress = -1;     // function 14: the memory address
    int memLength = -1;         // function 14: data bytes
    int idCode = -1;            // function 43: read-device-id code
    int idObject = -1;          // function 43 request: first object id
    QVector<IdObject> objects;  // function 43 reply
    QString text;               // Kind::RawText: the bytes as text

    // "limit1 = 20.0 %LEL", "concentration = 12.5 %LEL", "vendor = ...": the
    // values the frame carries, by the parameter table's names; `items` are
    // the same values one by one.
    QStringList values;
    QVector<Value> items;

    // Function without the exception bit (-1 when there is none).
    int baseFunction() const { return function < 0 ? -1 : (function & 0x7F); }
    bool isException() const { return function >= 0 && (function & 0x80); }
};

// Decodes the bytes of one frame.  A reply is read against the request it
// answers (`request`, may be null: the registers of a read reply are then
// numbered from an unknown start).  `context` is the parameter block the
// link holds (the discreteness, unit and device type that give register
// values their units); the frame's own values of those registers win.
// Without `configKnown` the context's Config means nothing (no full read
// yet): a scaled value then comes as its register's number, marked
// scaleUnknown, unless the frame carries the Config itself.
Frame decode(const QByteArray &bytes, bool sent, const Frame *request, const ParamBlock &context,
             bool configKnown = true);
// Whether bytes sent are printable text that is no frame ("DEACTIV"):
// what decode() gives Kind::RawText.
bool isRawText(const QByteArray &bytes, bool sent);

// English texts for tlctl.
QString functionName(int function);        // "read holding registers"; "function 0x41" for unknown ones
QString commandName(quint16 code);         // "restart", ...; empty for an unknown code
QString exceptionName(int code);           // "illegal data address", ...; empty for an unknown code
QString resultName(quint16 result);        // "ok", "no reply", "CRC error", ...
// "01 03 10 00": upper-case hex, one blank between bytes.
QString hexBytes(const QByteArray &bytes);
// One line saying what the frame is: "address 1, read holding registers
// 0x1000-0x101A (27): adc_4ma = 1000; ...".
QString describe(const Frame &frame);

} // namespace FrameDecode

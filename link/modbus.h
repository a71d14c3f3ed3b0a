// Modbus RTU protocol as the TL-02 master speaks it: building requests from the
// parameter block and checking replies against them.  Nothing here touches a
// port; the serial exchange loop lives in command.cpp.
#pragma once

#include <QtGlobal>

struct ParamBlock;

// Result codes of every exchange.  Callers only tell ResultOk from the rest.
enum ResultCode : quint16 {
    ResultUnsupported = 1,      // function not supported / reply function unknown
    ResultOk = 2,
    ResultMismatch = 4,         // request out of range, or reply does not fit it
    ResultWriteTimeout = 16,
    ResultNoReply = 32,
    ResultIllegalAddress = 64,  // exception reply, code 2
    ResultIllegalValue = 128,   // exception reply, code 3
    ResultBadReply = 256,       // empty, too short, too long or CRC mismatch
    ResultRefused = 512,        // exception reply with any other code
    ResultNotConnected = 1024,  // the port was closed on purpose (or never opened): nothing sent
    ResultLineLost = 2048,      // the line went away after the request had gone out: it may have been carried out
    ResultNoSilence = 4096,     // bytes kept coming past the reply's deadline: the line never fell silent
    ResultCancelled = 8192,     // cut short from outside (Ctrl-C, a signal, Cancel); the request may have gone out
};

namespace Modbus {

// Function codes the master uses.
constexpr quint8 FnReadHolding = 3;       // read holding registers
constexpr quint8 FnReadInput = 4;         // read input registers
constexpr quint8 FnWriteSingle = 6;       // write single register
constexpr quint8 FnWriteMemory = 14;      // memory block write (bootloader)
constexpr quint8 FnWriteMultiple = 16;    // write multiple registers
constexpr quint8 FnWriteFileRecord = 20;  // write file record
constexpr quint8 FnReadFileRecord = 21;   // read file record
constexpr quint8 FnReadDeviceId = 43;     // read device identification

constexpr int RequestCapacity = 256;
constexpr int ReplyCapacity = 3000;
constexpr int MaxBlockData = 247;     // function 14 payload that fits the request buffer

quint16 crc16(const quint8 *bytes, int length);

// The place the register values live in: the 320-byte block and the one
// scratch word shared by all unbound holding registers.
struct Image {
    ParamBlock *block;
    quint16 *scratch;
};

// A built request.  `start` and `count` are what the reply check compares
// against: `start` is the first register (for function 14 the low 16 bits of
// the memory address), `count` the number of registers asked for (functions 3
// and 4; for the others the count argument as given, 0 for function 14).
struct Request {
    quint8 bytes[RequestCapacity];
    int length = 0;
    quint8 function = 0;
    quint16 start = 0;
    quint16 count = 0;
};

// Builds a request for functions 3, 4, 6, 16, 20, 21 and 43.  Returns ResultOk
// when built, ResultUnsupported for any other function, ResultMismatch for an
// out-of-range write.  `address` is the low byte put on the wire.
quint16 buildRequest(Request &req, quint8 address, quint8 function, quint16 value,
                     quint16 start, quint16 count, const Image &image);

// Builds a function 14 memory-block write (at most MaxBlockData bytes).
quint16 buildBlockRequest(Request &req, quint8 address, quint8 function, quint32 memAddress,
                          const quint8 *data, int length);

// Checks a reply of `length` bytes whose CRC has matched against the request
// and stores its data into the image.  The reply must come from the address
// asked (unless that was 0 or 255, which a device may answer under its own),
// answer the request's function (a read may be answered by the other read)
// and be exactly as long as its function's form; a function 3 or 4 reply
// must carry exactly two bytes per register asked for.  Reads nothing outside
// reply[0..length).  Returns a result code; never ResultBadReply for a length
// of 3 or more.
quint16 checkReply(const quint8 *reply, int length, const Request &request, const Image &image);

// Whole check of received bytes: length limits and CRC (ResultBadReply when
// they fail), then checkReply.
quint16 checkReceived(const quint8 *reply, int length, const Request &request, const Image &image);

// Whether the last two of `length` bytes are the CRC of the ones before.
bool crcMatches(const quint8 *bytes, int length);

// The length a reply will have, told from its first `have` bytes: from the
// byte count for functions 3 and 4, fixed for 6, 16, 20, 21, 14 and the
// exception replies, from the object list for 43.  Returns the full length
// once it is known and `have` has reached it, 0 while more bytes are needed
// to tell or to reach it, and -1 when the function byte gives no length.
int replyLength(const quint8 *bytes, int have);

// The most bytes a reply to `request` can have on the line: its longest
// normal form or an exception reply, whichever is longer (256 bytes, the
// largest RTU frame, when the request allows replies of any length).
int longestReply(const Request &request);

// Whether `have` bytes are exactly one whole reply whose CRC matches: the
// exchange loop takes such a reply at once instead of waiting for silence.
bool replyComplete(const quint8 *bytes, int have);

} // namespace Modbus

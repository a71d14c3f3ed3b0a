#include "modbus.h"

#include "deviceparams.h"

#include <cstring>

namespace Modbus {

quint16 crc16(const quint8 *bytes, int length)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

namespace {

quint8 *imageBytes(const Image &image)
{
    return reinterpret_cast<quint8 *>(image.block);
}

// Value of a holding register as it goes on the wire: its place read as a
// little-endian word, or the scratch word for unbound registers.
quint16 holdingValue(quint16 reg, const Image &image)
{
    const int place = Params::holdingPlace(reg);
    if (place == Params::NoPlace)
        return *image.scratch;
    const quint8 *b = imageBytes(image) + place;
    return quint16(b[0] | (b[1] << 8));
}

void storeAt(int place, quint16 value, const Image &image)
{
    if (place == Params::NoPlace) {
        *image.scratch = value;
        return;
    }
    quint8 *b = imageBytes(image) + place;
    b[0] = quint8(value & 0xFF);
    b[1] = quint8(value >> 8);
}

void put16(quint8 *p, quint16 v)
{
    p[0] = quint8(v >> 8);
    p[1] = quint8(v & 0xFF);
}

void finish(Request &req, int bodyLength)
{
    const quint16 crc = crc16(req.bytes, bodyLength);
    req.bytes[bodyLength] = quint8(crc & 0xFF);
    req.bytes[bodyLength + 1] = quint8(crc >> 8);
    req.length = bodyLength + 2;
}

bool holdingRangeValid(quint16 start, quint16 count)
{
    return start >= Params::HoldingFirst && start <= Params::HoldingLast
        && count <= Params::HoldingCount && int(start) + int(count) <= Params::HoldingLast + 1;
}

// Stores n big-endian register values from `data` into consecutive registers.
void storeRegisters(const quint8 *data, int n, quint16 start, bool holding, const Image &image)
{
    for (int i = 0; i < n; ++i) {
        const quint16 value = quint16((data[2 * i] << 8) | data[2 * i + 1]);
        const quint16 reg = quint16(start + i);
        storeAt(holding ? Params::holdingPlace(reg) : Params::inputPlace(reg), value, image);
    }
}

quint16 checkReadReply(const quint8 *reply, int length, const Request &request, bool holding,
                       const Image &image)
{
    if (length < 3)
        return ResultMismatch;
    const int n = reply[2];
    // Exactly the registers asked for: a shorter answer would leave the rest
    // of the block stale, and a later block write would send that stale data.
    if (n != 2 * int(request.count))
        return ResultMismatch;
    if (n == 0)
        return ResultOk;
    const quint16 start = request.start;
    const int regs = n / 2;
    bool valid;
    if (holding)
        valid = start >= Params::HoldingFirst && start <= Params::HoldingLast && n <= 97
            && int(start) + regs <= Params::HoldingLast + 1;
    else
        valid = start <= 9 && n <= 21 && int(start) + regs <= Params::InputCount;
    // Only bytes that arrived are read: the counted data must lie before the CRC.
    if (!valid || 3 + n > length - 2)
        return ResultMismatch;
    storeRegisters(reply + 3, regs, start, holding, image);
    return ResultOk;
}

// Where to cut `text` (longer than `limit` bytes) to at most `limit` bytes
// without splitting a UTF-8 character.  When the byte after the cut is a
// continuation byte (10xxxxxx), the cut moves back to the lead byte of its
// character (at most 3 bytes back).  Bytes that are not UTF-8 are cut at
// the limit.
int utf8Cut(const quint8 *text, int limit)
{
    auto continuation = [text](int i) { return (text[i] & 0xC0) == 0x80; };
    if (!continuation(limit))
        return limit;
    for (int lead = limit - 1; lead >= 0 && lead >= limit - 3; --lead) {
        if (!continuation(lead))
            return text[lead] >= 0xC0 ? lead : limit;
    }
    return limit;
}

quint16 checkIdentification(const quint8 *reply, int length, const Image &image)
{
    const int end = length - 2;   // CRC excluded
    if (end < 4)
        return ResultMismatch;
    if (reply[3] == 3)
        return ResultMismatch;
    if (end < 8)
        return ResultMismatch;
    const int objects = reply[7];
    int pos = 8;
    for (int i = 0; i < objects; ++i) {
        if (pos + 2 > end)
            return ResultMismatch;
        const int id = reply[pos];
        const int len = reply[pos + 1];
        if (id > 8)
            return ResultMismatch;
        if (pos + 2 + len > end)
            return ResultMismatch;
        const Params::IdField field = Params::identificationField(id);
        const quint8 *text = reply + pos + 2;
        // A text longer than its field is cut so that its zero still fits,
        // and before a whole character: the texts are shown as UTF-8.
        const int copy = len < field.capacity ? len : utf8Cut(text, field.capacity - 1);
        quint8 *dst = imageBytes(image) + field.offset;
        std::memcpy(dst, text, size_t(copy));
        dst[copy] = 0;
        pos += 2 + len;
    }
    // Bytes after the last object belong to no reply of this form.
    return pos == end ? ResultOk : ResultMismatch;
}

// An exception reply carries the request's function code with this bit set.
constexpr quint8 ExceptionFlag = 0x80;

bool knownReplyFunction(quint8 function)
{
    switch (function) {
    case FnReadHolding:
    case FnReadInput:
    case FnWriteSingle:
    case FnWriteMemory:
    case FnWriteMultiple:
    case FnWriteFileRecord:
    case FnReadFileRecord:
    case FnReadDeviceId:
    case ExceptionFlag | FnReadHolding:
    case ExceptionFlag | FnReadInput:
    case ExceptionFlag | FnWriteSingle:
    case ExceptionFlag | FnWriteMemory:
    case ExceptionFlag | 15:
    case ExceptionFlag | FnWriteMultiple:
    case ExceptionFlag | FnWriteFileRecord:
        return true;
    default:
        return false;
    }
}

// Whether a reply of `function` (exception or not) can answer a request of
// `asked`.  The two register reads are checked by the reply's own function
// (a holding read answered as an input read stores input registers), and a
// "write multiple" request may be refused as function 15 by some units.
bool answersFunction(quint8 function, quint8 asked)
{
    const quint8 base = function & quint8(~ExceptionFlag);
    if (base == asked)
        return true;
    const bool reads = (base == FnReadHolding || base == FnReadInput)
        && (asked == FnReadHolding || asked == FnReadInput);
    return reads || (base == 15 && asked == FnWriteMultiple);
}

// Whether the frame is exactly as long as its function's form says.  A
// memory write may be confirmed by its header (9 bytes) or by an echo of
// the whole request.  Of a file record read only byte 3 is looked at; an
// identification reply is measured as its objects are parsed.
bool hasItsForm(const quint8 *reply, int length, const Request &request)
{
    switch (reply[1]) {
    case FnReadDeviceId:
        return true;
    case FnReadFileRecord:
        return length >= 6;
    case FnWriteMemory:
        if (length > 7 && length == 9 + reply[6])
            return length == request.length;
        break;
    default:
        break;
    }
    return replyLength(reply, length) == length;
}

} // namespace

quint16 buildRequest(Request &req, quint8 address, quint8 function, quint16 value,
                     quint16 start, quint16 count, const Image &image)
{
    quint8 *b = req.bytes;
    b[0] = address;
    b[1] = function;
    req.function = function;
    req.start = start;
    req.count = count;
    switch (function) {
    case FnReadHolding:
    case FnReadInput:
        put16(b + 2, start);
        put16(b + 4, count);
        finish(req, 6);
        return ResultOk;
    case FnWriteSingle:
        put16(b + 2, start);
        if (start == Params::CommandRegister) {
            put16(b + 4, value);
        } else {
            if (!holdingRangeValid(start, count))
                return ResultMismatch;
            put16(b + 4, holdingValue(start, image));
        }
        finish(req, 6);
        return ResultOk;
    case FnWriteMultiple: {
        if (count == 0 || count >= 126)
            return ResultMismatch;
        put16(b + 2, start);
        put16(b + 4, count);
        if (start == Params::CommandRegister) {
            b[6] = 2;
            put16(b + 7, value);
            finish(req, 9);
            return ResultOk;
        }
        if (!holdingRangeValid(start, count))
            return ResultMismatch;
        b[6] = quint8(2 * count);
        for (int i = 0; i < count; ++i)
            put16(b + 7 + 2 * i, holdingValue(quint16(start + i), image));
        finish(req, 7 + 2 * count);
        return ResultOk;
    }
    case FnWriteFileRecord:
        b[2] = 0x00;
        b[3] = 0x10;
        std::memcpy(b + 4, image.block->FileRecord, 16);
        finish(req, 20);
        return ResultOk;
    case FnReadFileRecord:
        b[2] = 0x00;
        b[3] = 0x10;
        b[4] = 0x00;
        b[5] = 0x00;
        finish(req, 6);
        return ResultOk;
    case FnReadDeviceId:
        // Byte 2 is 0x00 here, not the MEI type 0x0E: the detector expects it so.
        b[2] = 0x00;
        b[3] = quint8(start);
        b[4] = quint8(count);
        finish(req, 5);
        return ResultOk;
    default:
        return ResultUnsupported;
    }
}

quint16 buildBlockRequest(Request &req, quint8 address, quint8 function, quint32 memAddress,
                          const quint8 *data, int length)
{
    if (function != FnWriteMemory)
        return ResultUnsupported;
    if (length < 0 || length > MaxBlockData || (length > 0 && !data))
        return ResultMismatch;
    quint8 *b = req.bytes;
    b[0] = address;
    b[1] = FnWriteMemory;
    b[2] = quint8(memAddress >> 24);
    b[3] = quint8(memAddress >> 16);
    b[4] = quint8(memAddress >> 8);
    b[5] = quint8(memAddress);
    b[6] = quint8(length);
    if (length > 0)
        std::memcpy(b + 7, data, size_t(length));
    req.function = FnWriteMemory;
    req.start = quint16(memAddress & 0xFFFF);
    req.count = 0;
    finish(req, 7 + length);
    return ResultOk;
}

quint16 checkReply(const quint8 *reply, int length, const Request &request, const Image &image)
{
    if (length < 2)
        return ResultBadReply;
    // Behind a gateway or on a shared line another unit's answer confirms
    // nothing of this request.  At 0 (where the bootloader is driven) and
    // 255 a device may answer under its own address.
    const quint8 asked = request.bytes[0];
    if (asked != 0 && asked != 255 && reply[0] != asked)
        return ResultMismatch;
    if (!knownReplyFunction(reply[1]))
        return ResultUnsupported;
    // A reply to another request (a late echo of a write answering a read,
    // a read answering a write) confirms nothing of this one; nor does a
    // frame that is not its function's form (bytes between data and CRC).
    if (!answersFunction(reply[1], request.function) || !hasItsForm(reply, length, request))
        return ResultMismatch;
    const quint16 start = request.start;
    const int end = length - 2;   // bytes before the CRC
    switch (reply[1]) {
    case FnReadHolding:
        return checkReadReply(reply, length, request, true, image);
    case FnReadInput:
        return checkReadReply(reply, length, request, false, image);
    case FnWriteSingle:
    case FnWriteMultiple:
        if (end < 4)
            return ResultMismatch;
        return quint16((reply[2] << 8) | reply[3]) == start ? ResultOk : ResultMismatch;
    case FnWriteMemory:
        if (end < 6)
            return ResultMismatch;
        return quint16((reply[4] << 8) | reply[5]) == start ? ResultOk : ResultMismatch;
    case FnWriteFileRecord:
        if (end < 20 || reply[3] != 16)
            return ResultMismatch;
        std::memcpy(image.block->FileRecord, reply + 4, 16);
        return ResultOk;
    case FnReadFileRecord:
        if (end < 4)
            return ResultMismatch;
        return reply[3] == 16 ? ResultOk : ResultMismatch;
    case FnReadDeviceId:
        return checkIdentification(reply, length, image);
    case ExceptionFlag | FnReadHolding:
    case ExceptionFlag | FnReadInput:
    case ExceptionFlag | FnWriteSingle:
    case ExceptionFlag | FnWriteMemory:
    case ExceptionFlag | 15:   // function 15 is never sent; its exception is one all the same
    case ExceptionFlag | FnWriteMultiple:
    case ExceptionFlag | FnWriteFileRecord:
        if (end < 3)
            return ResultMismatch;
        if (reply[2] == 2)
            return ResultIllegalAddress;
        if (reply[2] == 3)
            return ResultIllegalValue;
        // The device refused the request for another reason: a failure too.
        return ResultRefused;
    default:
        return ResultUnsupported;
    }
}

bool crcMatches(const quint8 *bytes, int length)
{
    if (length < 3)
        return false;
    const quint16 crc = crc16(bytes, length - 2);
    return bytes[length - 2] == quint8(crc & 0xFF) && bytes[length - 1] == quint8(crc >> 8);
}

quint16 checkReceived(const quint8 *reply, int length, const Request &request, const Image &image)
{
    if (length < 3 || length > ReplyCapacity || !crcMatches(reply, length))
        return ResultBadReply;
    return checkReply(reply, length, request, image);
}

int replyLength(const quint8 *bytes, int have)
{
    if (have < 2)
        return 0;
    auto reached = [have](int full) { return have >= full ? full : 0; };
    const quint8 function = bytes[1];
    if (function & 0x80)
        return reached(5);          // address, function, exception code, CRC
    switch (function) {
    case FnReadHolding:
    case FnReadInput:
        return have < 3 ? 0 : reached(3 + bytes[2] + 2);
    case FnWriteSingle:
    case FnWriteMultiple:
        return reached(8);          // address, function, register, value or count, CRC
    case FnWriteMemory:
        return reached(9);          // address, function, memory address, length, CRC
    case FnWriteFileRecord:
    case FnReadFileRecord:
        return reached(22);         // address, function, 0, 16, the 16-byte record, CRC
    case FnReadDeviceId: {
        // Address, function, MEI type, code, conformity, more, next id,
        // object count; then id, length and text per object; then the CRC.
        if (have < 8)
            return 0;
        int pos = 8;
        for (int i = 0; i < bytes[7]; ++i) {
            if (pos + 2 > have)
                return 0;
            pos += 2 + bytes[pos + 1];
        }
        return reached(pos + 2);
    }
    default:
        return -1;
    }
}

int longestReply(const Request &request)
{
    constexpr int Exception = 5;
    constexpr int LargestFrame = 256;
    int normal = LargestFrame;
    switch (request.function) {
    case FnReadHolding:
    case FnReadInput:
        normal = 5 + 2 * int(request.count);
        break;
    case FnWriteSingle:
    case FnWriteMultiple:
        normal = 8;
        break;
    case FnWriteMemory:
        normal = qMax(9, request.length);   // its header, or an echo of it all
        break;
    case FnWriteFileRecord:
    case FnReadFileRecord:
        normal = 22;
        break;
    default:
        break;
    }
    return qBound(Exception, normal, LargestFrame);
}

bool replyComplete(const quint8 *bytes, int have)
{
    return have >= 3 && replyLength(bytes, have) == have && crcMatches(bytes, have);
}

} // namespace Modbus

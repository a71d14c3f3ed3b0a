// Fuzzes two things, chosen by the lowest bit of the first input byte.
//
// Even: the frame decoder that tlctl --frames and the traffic monitor use.
// The input is a request and the reply to it; both are decoded as the link
// saw them (the request as sent, the reply as received against that
// request, as long as the request was no raw text) and also the other way
// round, and formatted with the texts tlctl prints.  Each decoded frame
// must agree with its own bytes: the address and function bytes, the CRC
// (checked here with a table of our own), registers only where the frame
// has room for them and with the values the bytes hold, memory addresses,
// identification objects inside the frame, one line of description.
//
// Odd: the restore plan, on any file block and any device block, at the
// access level, device type, block length and copy choice the second byte
// picks.  What the plan would write (the function 16 request the block
// write builds from the result, as well as the result block itself) must
// have the concentration simulation off, the device's line speed, and the
// device's value in every field the plan keeps or must keep (the detector's
// own fields unless copying, fields above the level, the sensor current of
// a type 1 detector, register 0x100C, the command register, the registers
// past the device's block); everything no file field reaches stays the
// device's byte for byte.
#include "accesslevels.h"
#include "deviceparams.h"
#include "framedecode.h"
#include "modbus.h"
#include "paramtable.h"
#include "restoreplan.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz_plan: invariant violated: %s\n", what);
    std::abort();
}

// ------------------------------------------------------------------ frames

// CRC-16/MODBUS from a table of our own (reflected polynomial 0xA001,
// initial value 0xFFFF), to hold Modbus::crc16 against.
quint16 tableCrc(const quint8 *bytes, int length)
{
    static const auto table = [] {
        struct T { quint16 v[256]; } t{};
        for (int i = 0; i < 256; ++i) {
            quint16 c = quint16(i);
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? quint16((c >> 1) ^ 0xA001) : quint16(c >> 1);
            t.v[i] = c;
        }
        return t;
    }();
    quint16 crc = 0xFFFF;
    for (int i = 0; i < length; ++i)
        crc = quint16((crc >> 8) ^ table.v[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

// Whether the last two bytes are the CRC (low byte first) of the bytes
// before them; fewer than three bytes hold no CRC of anything.
bool ownCrcMatches(const QByteArray &b)
{
    const int n = b.size();
    if (n < 3)
        return false;
    const auto *p = reinterpret_cast<const quint8 *>(b.constData());
    const quint16 crc = tableCrc(p, n - 2);
    require(crc == Modbus::crc16(p, n - 2), "Modbus::crc16 differs from the table CRC");
    return p[n - 2] == quint8(crc & 0xFF) && p[n - 1] == quint8(crc >> 8);
}

int at(const QByteArray &b, int i) { return quint8(b.at(i)); }
int word(const QByteArray &b, int i) { return (at(b, i) << 8) | at(b, i + 1); }

QString ownHex(const QByteArray &b)
{
    static const char digits[] = "0123456789ABCDEF";
    QString s;
    for (int i = 0; i < b.size(); ++i) {
        if (i)
            s += QLatin1Char(' ');
        s += QLatin1Char(digits[at(b, i) >> 4]);
        s += QLatin1Char(digits[at(b, i) & 0xF]);
    }
    return s;
}

void checkFrame(const FrameDecode::Frame &f, const QByteArray &b, bool sent, const FrameDecode::Frame *request)
{
    using FrameDecode::Kind;
    const int n = b.size();

    require(f.sent == sent, "sent flag differs from the direction decoded");
    require(f.crcOk == ownCrcMatches(b), "crcOk differs from an independent CRC check");
    require(f.kind != Kind::Short || n < 4, "a Short frame has 4 or more bytes");
    require(f.kind != Kind::Frame || n >= 4, "a Frame has fewer than 4 bytes");

    if (f.kind == Kind::RawText) {
        require(n > 0, "raw text of no bytes");
        for (int i = 0; i < n; ++i)
            require(at(b, i) >= 0x20 && at(b, i) <= 0x7E, "raw text with a byte that is not printable");
        require(f.text == QString::fromLatin1(b), "raw text differs from the bytes");
    } else {
        require(f.address == (n >= 1 ? at(b, 0) : -1), "address differs from the first byte");
        require(f.function == (n >= 2 ? at(b, 1) : -1), "function differs from the second byte");
    }
    require(f.baseFunction() == (f.function < 0 ? -1 : (f.function & 0x7F)), "base function");
    require(f.isException() == (f.function >= 0 && (f.function & 0x80) != 0), "exception flag");

    // Registers: only in the frames that carry values, inside the body (the
    // CRC excluded), with the values the bytes hold.
    int first = -1;
    int most = 0;
    if (f.kind == Kind::Frame) {
        if (sent && f.function == Modbus::FnWriteSingle) {
            first = 4;
            most = 1;
        } else if (sent && f.function == Modbus::FnWriteMultiple && n >= 9) {
            first = 7;
            most = at(b, 6) / 2;
        } else if (!sent && (f.function == Modbus::FnReadHolding || f.function == Modbus::FnReadInput)) {
            first = 3;
            most = at(b, 2) / 2;
        } else if (!sent && f.function == Modbus::FnWriteSingle) {
            first = 4;
            most = 1;
        }
    }
    if (first < 0) {
        require(f.registers.isEmpty(), "registers in a frame that carries none");
    } else {
        require(f.registers.size() <= most, "more registers than the frame declares");
        require(f.registers.isEmpty() || first + 2 * f.registers.size() <= n - 2, "registers beyond the frame's body");
        for (int i = 0; i < f.registers.size(); ++i)
            require(f.registers[i].value == word(b, first + 2 * i), "register value differs from its bytes");
    }
    require(2 * f.registers.size() <= (n > 4 ? n - 4 : 0), "more registers than the bytes can hold");

    if (f.kind == Kind::Frame && sent && (f.function == Modbus::FnWriteSingle || f.function == Modbus::FnWriteMultiple)
        && !f.registers.isEmpty()) {
        require(f.start == word(b, 2), "start of a write differs from its bytes");
        for (int i = 0; i < f.registers.size(); ++i)
            require(f.registers[i].reg == quint16(f.start + i), "written registers not numbered from the start");
        // What is there is decoded: the registers stop only at the end of
        // the body, and then the frame is marked short of its function.
        if (f.function == Modbus::FnWriteMultiple) {
            const int room = (n - 9) / 2;
            require(f.registers.size() == (most < room ? most : room), "write request registers not all decoded");
            require(most <= room || f.truncated, "write request cut short but not marked truncated");
        }
    }
    if (f.kind == Kind::Frame && !sent && (f.function == Modbus::FnReadHolding || f.function == Modbus::FnReadInput)) {
        const bool known = request && (request->function == Modbus::FnReadHolding
                                       || request->function == Modbus::FnReadInput) && request->start >= 0;
        if (!known) {
            // Registers of a read reply without its request are numbered
            // from an unknown start.
            require(f.start == -1, "read reply without its request has a start");
        } else {
            require(f.start == request->start, "read reply start differs from its request's");
            for (int i = 0; i < f.registers.size(); ++i)
                require(f.registers[i].reg == quint16(request->start + i), "read registers not numbered from the start");
            const int room = (n - 5) / 2;
            require(f.registers.size() == (most < room ? most : room), "read reply registers not all decoded");
            require(most <= room || f.truncated, "read reply cut short but not marked truncated");
        }
    }

    if (f.command >= 0) {
        require(sent && f.kind == Kind::Frame, "a command outside a request");
        require(f.start == Params::CommandRegister && f.registers.size() == 1
                    && f.command == f.registers[0].value,
                "a command that is no write of the command register alone");
    }
    if (f.exceptionCode >= 0)
        require(f.isException() && !sent && n >= 5 && f.exceptionCode == at(b, 2), "exception code differs from its byte");
    else
        require(!(f.kind == Kind::Frame && !sent && f.isException() && n >= 5), "exception reply without its code");
    if (f.memAddress >= 0) {
        require(f.kind == Kind::Frame && f.function == Modbus::FnWriteMemory && n >= 8, "memory address outside function 14");
        const qint64 a = (qint64(at(b, 2)) << 24) | (at(b, 3) << 16) | (at(b, 4) << 8) | at(b, 5);
        require(f.memAddress == a, "memory address differs from its bytes");
    }
    if (f.memLength >= 0)
        require(sent && f.function == Modbus::FnWriteMemory && n >= 9 && f.memLength == at(b, 6),
                "memory length differs from its byte");
    if (f.idCode >= 0)
        require(f.function == Modbus::FnReadDeviceId && f.idCode == at(b, 3), "identification code differs from its byte");
    if (f.idObject >= 0)
        require(sent && f.function == Modbus::FnReadDeviceId && f.idObject == at(b, 4), "first object differs from its byte");
    if (!f.objects.isEmpty()) {
        require(!sent && f.kind == Kind::Frame && f.function == Modbus::FnReadDeviceId && n >= 10,
                "identification objects outside a function 43 reply");
        require(f.objects.size() <= at(b, 7), "more objects than the reply declares");
        int pos = 8;
        for (const FrameDecode::IdObject &o : f.objects) {
            require(pos + 2 <= n - 2, "object header beyond the frame's body");
            const int len = at(b, pos + 1);
            require(pos + 2 + len <= n - 2, "object text beyond the frame's body");
            require(o.id == at(b, pos), "object id differs from its byte");
            require(o.text == QString::fromUtf8(b.constData() + pos + 2, len), "object text differs from its bytes");
            pos += 2 + len;
        }
    }
    if (f.broadcast)
        require(sent && f.kind == Kind::Frame && (f.address == 0 || f.address == 255), "broadcast that is no request to 0 or 255");
    if (!f.values.isEmpty())
        require(f.kind == Kind::Frame && (!f.registers.isEmpty() || !f.objects.isEmpty()), "values without registers or objects");

    // As tlctl --frames prints it: the bytes in hex, then one line that
    // says what the frame is.
    require(FrameDecode::hexBytes(b) == ownHex(b), "hexBytes differs from the bytes");
    const QString line = FrameDecode::describe(f);
    require(!line.isEmpty(), "empty description");
    for (const QChar c : line) {
        // Whatever a reader of lines may take for the end of one.
        const ushort u = c.unicode();
        require(u != '\n' && u != '\r' && u != 0x0B && u != 0x0C && !(u >= 0x1C && u <= 0x1E) && u != 0x85
                    && u != 0x2028 && u != 0x2029,
                "description is more than one line");
    }
    require(!FrameDecode::functionName(f.function).isEmpty(), "function without a name");
    FrameDecode::exceptionName(f.exceptionCode);
    if (f.command >= 0)
        FrameDecode::commandName(quint16(f.command));
}

void fuzzFrames(const uint8_t *data, size_t size)
{
    // Header: flags, request length, Config (two bytes) of the block the
    // link holds.  Flag bits: 0 the reply is read against the request,
    // 1 and 2 a matching CRC is put behind the request / the reply, 3 the
    // device type 2 rather than 1.
    if (size < 5)
        return;
    const int flags = data[1];
    const size_t requestLength = data[2] % (size - 5 + 1);
    ParamBlock context;
    std::memset(&context, 0, sizeof context);
    context.Config = quint16(data[3] | (data[4] << 8));
    context.DeviceTypeReg = (flags & 8) ? 2 : 1;
    data += 5;
    size -= 5;

    const auto withCrc = [](QByteArray b, bool add) {
        if (add) {
            const quint16 crc = tableCrc(reinterpret_cast<const quint8 *>(b.constData()), b.size());
            b.append(char(crc & 0xFF));
            b.append(char(crc >> 8));
        }
        return b;
    };
    const QByteArray request = withCrc(QByteArray(reinterpret_cast<const char *>(data), int(requestLength)), flags & 2);
    const QByteArray reply = withCrc(QByteArray(reinterpret_cast<const char *>(data + requestLength),
                                                int(size - requestLength)), flags & 4);

    // The way the link sees them.
    const FrameDecode::Frame sent = FrameDecode::decode(request, true, nullptr, context);
    checkFrame(sent, request, true, nullptr);
    const bool haveRequest = (flags & 1) && sent.kind != FrameDecode::Kind::RawText;
    const FrameDecode::Frame *asked = haveRequest ? &sent : nullptr;
    const FrameDecode::Frame received = FrameDecode::decode(reply, false, asked, context);
    checkFrame(received, reply, false, asked);

    // And the other way round: the reply bytes as a request, the request
    // bytes as a reply to nothing known.
    checkFrame(FrameDecode::decode(reply, true, nullptr, context), reply, true, nullptr);
    checkFrame(FrameDecode::decode(request, false, nullptr, context), request, false, nullptr);

    // The result line after each attempt, for any result code.
    require(!FrameDecode::resultName(context.Config).isEmpty(), "result without a name");
}

// ------------------------------------------------------------ restore plan

// The bits of the block a parameter owns, as a mask over the whole block.
struct Mask {
    quint8 bits[Params::ImageSize] = {};

    void word(int offset, quint16 m)
    {
        bits[offset] |= quint8(m & 0xFF);
        bits[offset + 1] |= quint8(m >> 8);
    }
    void bytes(int offset, int n)
    {
        for (int i = 0; i < n; ++i)
            bits[offset + i] = 0xFF;
    }
    void add(const Mask &other)
    {
        for (int i = 0; i < Params::ImageSize; ++i)
            bits[i] |= other.bits[i];
    }
};

Mask ownedBits(const Params::ParamDef &def)
{
    using Params::Kind;
    Mask m;
    switch (def.kind) {
    case Kind::LimitValue: m.word(Params::holdingPlace(def.reg), 0x7FFF); break;
    case Kind::LimitDirection: m.word(Params::holdingPlace(def.reg), 0x8000); break;
    case Kind::AutoReset: m.word(offsetof(ParamBlock, Config), quint16(1u << def.bit)); break;
    case Kind::Unit: m.word(offsetof(ParamBlock, Config), 0x0003); break;
    case Kind::Discreteness: m.word(offsetof(ParamBlock, Config), 0x0030); break;
    case Kind::NetAddress: m.bytes(offsetof(ParamBlock, NetAddress), 1); break;
    case Kind::NetSpeed: m.bytes(offsetof(ParamBlock, NetSpeed), 1); break;
    case Kind::Serial: m.bytes(offsetof(ParamBlock, SerialNum), 4); break;
    case Kind::BoardVersion: m.bytes(offsetof(ParamBlock, HWVersion), 2); break;
    case Kind::Command: m.bytes(offsetof(ParamBlock, CommandWord), 2); break;
    default: m.word(Params::holdingPlace(def.reg), 0xFFFF); break;
    }
    return m;
}

bool sameUnder(const Mask &m, const ParamBlock &a, const ParamBlock &b)
{
    const auto *pa = reinterpret_cast<const quint8 *>(&a);
    const auto *pb = reinterpret_cast<const quint8 *>(&b);
    for (int i = 0; i < Params::ImageSize; ++i)
        if ((pa[i] ^ pb[i]) & m.bits[i])
            return false;
    return true;
}

bool named(const Params::ParamDef &def, std::initializer_list<const char *> names)
{
    for (const char *name : names)
        if (std::strcmp(def.name, name) == 0)
            return true;
    return false;
}

// The fields the plan must keep as the device has them, whatever it calls
// them: the detector's own fields unless they are copied, the production
// settings below the production level (the serial number may be changed
// before any login as well), the sensor current of a type 1 detector and
// the fields no file ever brings in.
bool mustKeep(const Params::ParamDef &def, const QString &level, qint16 type, bool clone)
{
    if (named(def, {"net_speed", "reg_100c", "command_word"}))
        return true;
    const bool own = named(def, {"serial_number", "net_address", "board_version", "adc_4ma", "adc_20ma",
                                 "adc_calib", "conc_calib", "pwm_4ma", "pwm_20ma"});
    if (own && !clone)
        return true;
    if (named(def, {"range_min", "simulation_value", "adc_4ma", "adc_20ma", "adc_calib", "conc_calib",
                    "pwm_4ma", "pwm_20ma", "board_version"}))
        if (level != Access::ProductionLevel)
            return true;
    if (named(def, {"serial_number"}) && (level == Access::UserLevel || level == Access::AdminLevel))
        return true;
    if (named(def, {"sensor_current"}) && type != 2)
        return true;
    return false;
}

int scaleOf(quint16 config)
{
    static const int scales[4] = {1, 10, 100, 1000};
    return scales[(config >> 4) & 3];
}

// A stored value carried from one discreteness to another so that the value
// shown stays: raw x newScale / oldScale, halves to even.
quint32 carried(quint32 raw, int oldScale, int newScale)
{
    const quint64 num = quint64(raw) * quint64(newScale);
    quint64 q = num / quint64(oldScale);
    const quint64 rest = num % quint64(oldScale);
    if (2 * rest > quint64(oldScale) || (2 * rest == quint64(oldScale) && (q & 1)))
        ++q;
    return quint32(q);
}

quint16 wireWord(const Modbus::Request &req, quint16 reg)
{
    const int i = 7 + 2 * (reg - Params::HoldingFirst);
    return quint16((req.bytes[i] << 8) | req.bytes[i + 1]);
}

void checkPlan(const ParamBlock &device, const ParamBlock &file, const QString &level, qint16 type,
               quint16 writeCount, bool clone)
{
    using Params::Kind;
    using Restore::Kept;
    const Restore::Plan p = Restore::plan(device, file, level, type, writeCount, clone);
    const ParamBlock &r = p.result;

    // The block write sends registers 0x1000 .. 0x1000 + writeCount - 1 with
    // function 16, their values taken from the block's places.
    ParamBlock resultCopy = r;
    ParamBlock deviceCopy = device;
    quint16 scratch = 0;
    Modbus::Request written;
    Modbus::Request held;
    require(Modbus::buildRequest(written, 1, Modbus::FnWriteMultiple, 0, Params::HoldingFirst, writeCount,
                                 Modbus::Image{&resultCopy, &scratch}) == ResultOk,
            "the planned block cannot be written");
    scratch = 0;
    require(Modbus::buildRequest(held, 1, Modbus::FnWriteMultiple, 0, Params::HoldingFirst, writeCount,
                                 Modbus::Image{&deviceCopy, &scratch}) == ResultOk,
            "the device's block cannot be written");
    require(std::memcmp(&resultCopy, &r, sizeof r) == 0 && std::memcmp(&deviceCopy, &device, sizeof device) == 0,
            "building the write changed the block");

    // The concentration simulation goes in switched off.
    require(r.ImmitConcOn == 0, "the simulation switch (ImmitConcOn) is on in the planned block");
    require(Params::holdingValue(r, Params::SimulationFirst) == 0, "register 0x1019 is not 0 in the planned block");
    require(wireWord(written, Params::SimulationFirst) == 0, "register 0x1019 is written non-zero");
    require(p.simulationInFile == (file.ImmitConcOn != 0), "simulationInFile differs from the file");

    // The line speed is never written: the NetSpeed byte on the wire (low
    // byte of 0x100D, high byte of 0x100E) is the device's.
    require(r.NetSpeed == device.NetSpeed, "the line speed (NetSpeed) differs from the device's");
    require((wireWord(written, 0x100D) & 0xFF) == device.NetSpeed, "register 0x100D carries another line speed");
    require((wireWord(written, 0x100E) >> 8) == device.NetSpeed, "register 0x100E carries another line speed");

    const bool sameDecimals = ((device.Config ^ r.Config) & 0x0030) == 0;
    Mask mayDiffer;
    mayDiffer.word(offsetof(ParamBlock, ImmitConcOn), 0xFFFF);

    // Every parameter of the device's block listed once, in table order.
    int listed = 0;
    for (const Params::ParamDef &def : Params::parameters()) {
        const Mask owned = ownedBits(def);
        const bool inBlock = Params::inBlock(def, writeCount) && def.kind != Kind::Command;
        const Restore::Field *f = nullptr;
        if (inBlock) {
            require(listed < p.fields.size() && p.fields[listed].def == &def, "fields not every parameter in table order");
            f = &p.fields[listed++];
        }
        const bool scaled = def.kind == Kind::Scaled || def.kind == Kind::LimitValue;
        const bool planKeeps = !f || (f->kept != Kept::No && f->kept != Kept::Simulation);
        if (def.kind == Kind::Switch)
            require(f && f->kept == Kept::Simulation, "the simulation switch is not marked as written off");
        if (def.kind == Kind::NetSpeed && f)
            require(f->kept == Kept::NeverWritten && !f->changes, "the line speed is not kept or marked as changing");
        if (mustKeep(def, level, type, clone) && f)
            require(f->kept != Kept::No, "a field that must be kept is written from the file");

        if (f && f->kept == Kept::No) {
            // Brought in from the file as the file has it.
            require(sameUnder(owned, r, file), "a field written from the file differs from the file's");
            mayDiffer.add(owned);
        } else if (planKeeps || (f && mustKeep(def, level, type, clone))) {
            if (!scaled || sameDecimals) {
                require(sameUnder(owned, r, device), "a kept field differs from the device's");
            } else if (p.notConvertible.isEmpty()) {
                // Kept in the units of the discreteness: the stored value is
                // carried into the file's, the value shown stays.
                const int place = Params::holdingPlace(def.reg);
                const quint16 valueMask = def.kind == Kind::LimitValue ? 0x7FFF : 0xFFFF;
                const quint32 want = carried(Params::holdingValue(device, def.reg) & valueMask,
                                             scaleOf(device.Config), scaleOf(r.Config));
                require(want <= valueMask, "a kept value was carried although it does not fit");
                require((Params::holdingValue(r, def.reg) & valueMask) == want,
                        "a kept value differs from the device's in the file's discreteness");
                mayDiffer.word(place, valueMask);
            } else {
                mayDiffer.add(owned);   // nothing is written: the load stops
            }
        }

        if (f) {
            const bool differs = !sameUnder(owned, r, device);
            require(!differs || f->changes, "a field whose value changes is not marked as changing");
        }
    }
    require(listed == p.fields.size(), "fields beyond the parameters of the block");

    // Nothing else moves: the bytes no written field owns are the device's.
    require(sameUnder([&] {
                Mask rest;
                for (int i = 0; i < Params::ImageSize; ++i)
                    rest.bits[i] = quint8(~mayDiffer.bits[i]);
                return rest;
            }(), r, device),
            "a byte no file field reaches differs from the device's");
    for (int reg = Params::HoldingFirst + writeCount; reg <= Params::HoldingLast; ++reg)
        require(Params::holdingValue(r, quint16(reg)) == Params::holdingValue(device, quint16(reg)),
                "a register past the device's block differs from the device's");
    require(r.CommandWord == device.CommandWord, "the command register differs from the device's");
    require(r.Reg100C == device.Reg100C, "register 0x100C differs from the device's");

    // What is sent differs from what the device holds only if the plan says
    // something changes.
    bool wireDiffers = false;
    for (int i = 0; i < writeCount; ++i)
        wireDiffers = wireDiffers || wireWord(written, quint16(Params::HoldingFirst + i))
                                         != wireWord(held, quint16(Params::HoldingFirst + i));
    require(!wireDiffers || p.anyChange(), "the write differs from the device but the plan has no change");

    const QVector<Restore::Field> changes = p.changes();
    require(p.anyChange() == !changes.isEmpty(), "anyChange differs from changes()");
    for (const Restore::Field &f : changes)
        require(f.changes, "changes() lists a field that does not change");
    for (const Restore::Field &f : p.keptDifferent())
        require(f.kept != Kept::No && f.kept != Kept::Simulation && f.fileDiffers, "keptDifferent() lists a field written");
    for (const Params::ParamDef *def : p.notConvertible) {
        require(def && (def->kind == Kind::Scaled || def->kind == Kind::LimitValue),
                "an unconvertible value that is not scaled");
        require(!sameDecimals, "unconvertible values without a change of discreteness");
    }
}

void fuzzPlan(const uint8_t *data, size_t size)
{
    if (size < 2)
        return;
    const int options = data[1];
    data += 2;
    size -= 2;

    // The file's structure first, then the device's; what the input does
    // not give, the device has as the file does.  The identification texts
    // differ between the two so that any of them carried over would show.
    ParamBlock file;
    ParamBlock device;
    std::memset(&file, 0x5A, sizeof file);
    std::memset(&device, 0xC3, sizeof device);
    auto *fb = reinterpret_cast<quint8 *>(&file);
    auto *db = reinterpret_cast<quint8 *>(&device);
    for (int i = 0; i < Params::StructSize; ++i) {
        fb[i] = size_t(i) < size ? data[i] : 0;
        db[i] = size_t(Params::StructSize + i) < size ? data[Params::StructSize + i] : fb[i];
    }

    static const QString levels[] = {Access::NoLevel, Access::UserLevel, Access::AdminLevel, Access::ProductionLevel};
    const QString &level = levels[options & 3];
    const qint16 type = (options & 4) ? 2 : 1;
    const quint16 writeCount = (options & 8) ? 48 : 27;
    const bool clone = options & 16;

    checkPlan(device, file, level, type, writeCount, clone);
    // The check of the file alone, which comes first in both callers.
    for (const Restore::Implausible &bad : Restore::checkPlausible(file))
        require(bad.def != nullptr, "an implausible field without its parameter");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    if (data[0] & 1)
        fuzzPlan(data, size);
    else
        fuzzFrames(data, size);
    return 0;
}

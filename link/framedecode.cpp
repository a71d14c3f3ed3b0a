#include "framedecode.h"

#include "modbus.h"
#include "paramtable.h"

namespace FrameDecode {

namespace {

quint8 byteAt(const QByteArray &b, int i) { return quint8(b.at(i)); }
quint16 wordAt(const QByteArray &b, int i) { return quint16((byteAt(b, i) << 8) | byteAt(b, i + 1)); }

bool printable(const QByteArray &bytes)
{
    for (char c : bytes)
        if (quint8(c) < 0x20 || quint8(c) > 0x7E)
            return false;
    return !bytes.isEmpty();
}

// Big-endian register values from `from`, at most `n`, within the frame's
// body (the CRC excluded).  Sets `truncated` when fewer are there.
QVector<Register> registersFrom(const QByteArray &b, int from, int n, int firstReg, bool &truncated)
{
    QVector<Register> out;
    const int body = b.size() - 2;
    for (int i = 0; i < n; ++i) {
        const int at = from + 2 * i;
        if (at + 2 > body) {
            truncated = true;
            break;
        }
        out.append({quint16(firstReg + i), wordAt(b, at)});
    }
    return out;
}

QString shownValue(const Value &v)
{
    QString text = v.unit.isEmpty() ? v.text : v.text + QLatin1Char(' ') + v.unit;
    if (v.scaleUnknown)
        text += QStringLiteral(" (scale unknown)");
    return text;
}

Value fromShown(Value::Source source, int index, quint16 reg, const Params::Shown &s)
{
    Value v;
    v.source = source;
    v.index = index;
    v.reg = reg;
    v.raw = s.raw;
    v.text = s.text;
    v.unit = s.unit;
    return v;
}

// Without a known Config a scaled value is only its number.
void scaleNotKnown(Value &v, quint16 number)
{
    v.text = QString::number(number);
    v.unit.clear();
    v.scaleUnknown = true;
}

QVector<Value> holdingValues(const Frame &f, const ParamBlock &context, bool configKnown)
{
    // The frame's own Config (units, decimals) and neighbouring words count
    // over the ones the link holds.
    ParamBlock block = context;
    bool hasSerialLow = false;
    for (const Register &r : f.registers) {
        if (r.reg >= Params::HoldingFirst && r.reg <= Params::HoldingLast)
            Params::setHoldingValue(block, r.reg, r.value);
        hasSerialLow = hasSerialLow || r.reg == Params::SerialNumberFirst;
        configKnown = configKnown || r.reg == 0x1008;
    }
    QVector<Value> out;
    const QVector<Params::ParamDef> &table = Params::parameters();
    for (const Register &r : f.registers) {
        Value unnamed;
        unnamed.source = Value::Source::Register;
        unnamed.reg = r.reg;
        unnamed.raw = r.value;
        unnamed.text = QString::number(r.value);
        if (r.reg < Params::HoldingFirst || r.reg > Params::HoldingLast) {
            out << unnamed;
            continue;
        }
        if (r.reg == Params::SerialNumberFirst + 1 && hasSerialLow)
            continue;   // shown whole with its low word
        bool named = false;
        for (int i = 0; i < table.size(); ++i) {
            const Params::ParamDef &def = table[i];
            if (def.reg != r.reg)
                continue;
            named = true;
            Value v = fromShown(Value::Source::Holding, i, r.reg, Params::show(def, block));
            if (!configKnown && def.kind == Params::Kind::Scaled)
                scaleNotKnown(v, v.raw);
            else if (!configKnown && def.kind == Params::Kind::LimitValue)
                scaleNotKnown(v, v.raw & 0x7FFF);
            out << v;
        }
        if (!named)
            out << unnamed;
    }
    return out;
}

QVector<Value> inputValues(const Frame &f, const ParamBlock &context, bool configKnown)
{
    ParamBlock block = context;
    auto *bytes = reinterpret_cast<quint8 *>(&block);
    for (const Register &r : f.registers) {
        if (r.reg < Params::InputCount) {
            const int place = Params::inputPlace(r.reg);
            bytes[place] = quint8(r.value & 0xFF);
            bytes[place + 1] = quint8(r.value >> 8);
        }
    }
    QVector<Value> out;
    const QVector<Params::LiveDef> &table = Params::liveValues();
    for (const Register &r : f.registers) {
        int index = -1;
        for (int i = 0; i < table.size(); ++i)
            if (table[i].reg == r.reg)
                index = i;
        if (index < 0) {
            Value v;
            v.source = Value::Source::Input;
            v.reg = r.reg;
            v.raw = r.value;
            v.text = QString::number(r.value);
            out << v;
            continue;
        }
        Value v = fromShown(Value::Source::Live, index, r.reg, Params::showLive(table[index], block));
        if (!configKnown && r.reg == 2)   // the concentration, in the Config's scale
            scaleNotKnown(v, v.raw);
        out << v;
    }
    return out;
}

QString valueName(const Value &v)
{
    switch (v.source) {
    case Value::Source::Holding: return QLatin1String(Params::parameters()[v.index].name);
    case Value::Source::Live: return QLatin1String(Params::liveValues()[v.index].name);
    case Value::Source::Ident: break;
    case Value::Source::Register: return Params::hex4(v.reg);
    case Value::Source::Input: return QStringLiteral("input %1").arg(v.reg);
    }
    return QString();
}

QString objectName(int id)
{
    if (id == 3)
        return QStringLiteral("vendor");
    for (const Params::IdentDef &d : Params::identification())
        if (d.objectId == id)
            return QLatin1String(d.name);
    return QStringLiteral("object %1").arg(id);
}

void decodeRequest(const QByteArray &b, Frame &f)
{
    const int fn = f.function;
    const int n = b.size();
    switch (fn) {
    case Modbus::FnReadHolding:
    case Modbus::FnReadInput:
        f.input = fn == Modbus::FnReadInput;
        if (n < 8) {
            f.truncated = true;
            return;
        }
        f.start = wordAt(b, 2);
        f.count = wordAt(b, 4);
        return;
    case Modbus::FnWriteSingle:
        if (n < 8) {
            f.truncated = true;
            return;
        }
        f.start = wordAt(b, 2);
        f.count = 1;
        f.registers = {{quint16(f.start), wordAt(b, 4)}};
        break;
    case Modbus::FnWriteMultiple:
        if (n < 9) {
            f.truncated = true;
            return;
        }
        f.start = wordAt(b, 2);
        f.count = wordAt(b, 4);
        f.registers = registersFrom(b, 7, byteAt(b, 6) / 2, f.start, f.truncated);
        break;
    case Modbus::FnWriteMemory:
        if (n < 9) {
            f.truncated = true;
            return;
        }
        f.memAddress = qint64((quint32(byteAt(b, 2)) << 24) | (quint32(byteAt(b, 3)) << 16)
                              | (quint32(byteAt(b, 4)) << 8) | byteAt(b, 5));
        f.memLength = byteAt(b, 6);
        f.truncated = n < 9 + f.memLength;
        return;
    case Modbus::FnReadDeviceId:
        if (n < 7) {
            f.truncated = true;
            return;
        }
        f.idCode = byteAt(b, 3);
        f.idObject = byteAt(b, 4);
        return;
    default:
        return;
    }
    // A write of the command register alone carries a command.
    if (f.start == Params::CommandRegister && f.registers.size() == 1)
        f.command = f.registers[0].value;
}

void decodeReply(const QByteArray &b, Frame &f, const Frame *request)
{
    const int n = b.size();
    if (f.isException()) {
        if (n < 5)
            f.truncated = true;
        else
            f.exceptionCode = byteAt(b, 2);
        return;
    }
    switch (f.function) {
    case Modbus::FnReadHolding:
    case Modbus::FnReadInput: {
        f.input = f.function == Modbus::FnReadInput;
        // Registers are numbered from the request's start: the reply does
        // not repeat it.
        const bool known = request && (request->function == Modbus::FnReadHolding
                                       || request->function == Modbus::FnReadInput) && request->start >= 0;
        f.start = known ? request->start : -1;
        const int counted = byteAt(b, 2);
        f.count = counted / 2;
        f.registers = registersFrom(b, 3, counted / 2, known ? request->start : 0, f.truncated);
        if (!known)
            f.registers.clear();
        f.truncated = f.truncated || n - 5 != counted;
        return;
    }
    case Modbus::FnWriteSingle:
    case Modbus::FnWriteMultiple:
        if (n < 8) {
            f.truncated = true;
            return;
        }
        f.start = wordAt(b, 2);
        if (f.function == Modbus::FnWriteMultiple)
            f.count = wordAt(b, 4);
        else
            f.registers = {{quint16(f.start), wordAt(b, 4)}};
        return;
    case Modbus::FnWriteMemory:
        if (n < 8) {
            f.truncated = true;
            return;
        }
        f.memAddress = qint64((quint32(byteAt(b, 2)) << 24) | (quint32(byteAt(b, 3)) << 16)
                              | (quint32(byteAt(b, 4)) << 8) | byteAt(b, 5));
        return;
    case Modbus::FnReadDeviceId: {
        if (n < 10) {
            f.truncated = true;
            return;
        }
        f.idCode = byteAt(b, 3);
        const int objects = byteAt(b, 7);
        const int body = n - 2;
        int at = 8;
        for (int i = 0; i < objects; ++i) {
            if (at + 2 > body) {
                f.truncated = true;
                break;
            }
            const int id = byteAt(b, at);
            const int len = byteAt(b, at + 1);
            if (at + 2 + len > body) {
                f.truncated = true;
                break;
            }
            f.objects.append({id, QString::fromUtf8(b.constData() + at + 2, len)});
            at += 2 + len;
        }
        return;
    }
    default:
        return;
    }
}

} // namespace

bool isRawText(const QByteArray &bytes, bool sent)
{
    return sent && printable(bytes)
        && !Modbus::crcMatches(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
}

Frame decode(const QByteArray &bytes, bool sent, const Frame *request, const ParamBlock &context, bool configKnown)
{
    Frame f;
    f.sent = sent;
    f.crcOk = Modbus::crcMatches(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
    if (!f.crcOk && sent && printable(bytes)) {
        f.kind = Kind::RawText;
        f.text = QString::fromLatin1(bytes);
        return f;
    }
    if (bytes.size() >= 1)
        f.address = byteAt(bytes, 0);
    if (bytes.size() >= 2)
        f.function = byteAt(bytes, 1);
    if (bytes.size() < 4) {
        f.kind = Kind::Short;
        f.truncated = true;
        return f;
    }
    f.kind = Kind::Frame;
    if (sent)
        decodeRequest(bytes, f);
    else
        decodeReply(bytes, f, request);
    f.broadcast = sent && (f.address == 0 || f.address == 255)
        && (f.function == Modbus::FnWriteSingle || f.function == Modbus::FnWriteMultiple
            || f.function == Modbus::FnReadFileRecord);

    if (f.isException() || f.command >= 0)
        return f;
    if (f.baseFunction() == Modbus::FnReadDeviceId) {
        for (const IdObject &o : f.objects) {
            Value v;
            v.source = Value::Source::Ident;
            v.reg = quint16(o.id);
            v.text = o.text;
            f.items << v;
            f.values << QStringLiteral("%1 = %2").arg(objectName(o.id), o.text);
        }
    } else if (!f.registers.isEmpty()) {
        f.items = f.input ? inputValues(f, context, configKnown) : holdingValues(f, context, configKnown);
        for (const Value &v : f.items)
            f.values << QStringLiteral("%1 = %2").arg(valueName(v), shownValue(v));
    }
    return f;
}

QString functionName(int function)
{
    switch (function & 0x7F) {
    case Modbus::FnReadHolding: return QStringLiteral("read holding registers");
    case Modbus::FnReadInput: return QStringLiteral("read input registers");
    case Modbus::FnWriteSingle: return QStringLiteral("write single register");
    case Modbus::FnWriteMemory: return QStringLiteral("write memory block");
    case Modbus::FnWriteMultiple: return QStringLiteral("write multiple registers");
    case Modbus::FnWriteFileRecord: return QStringLiteral("write file record");
    case Modbus::FnReadFileRecord: return QStringLiteral("read file record");
    case Modbus::FnReadDeviceId: return QStringLiteral("read device identification");
    default:
        return QStringLiteral("function 0x%1").arg(QString::number(function & 0x7F, 16).rightJustified(2, QLatin1Char('0')).toUpper());
    }
}

QString commandName(quint16 code)
{
    switch (code) {
    case Params::CmdRestart: return QStringLiteral("restart");
    case Params::CmdStoreFactory: return QStringLiteral("store factory settings");
    case Params::CmdRestoreFactory: return QStringLiteral("restore factory settings");
    case Params::CmdSoundOffOn: return QStringLiteral("sound switch-off on");
    case Params::CmdSoundOffOff: return QStringLiteral("sound switch-off off");
    case Params::CmdBootloader: return QStringLiteral("enter the bootloader");
    default: return QString();
    }
}

QString exceptionName(int code)
{
    switch (code) {
    case 1: return QStringLiteral("illegal function");
    case 2: return QStringLiteral("illegal data address");
    case 3: return QStringLiteral("illegal data value");
    case 4: return QStringLiteral("server device failure");
    case 5: return QStringLiteral("acknowledge");
    case 6: return QStringLiteral("server device busy");
    case 8: return QStringLiteral("memory parity error");
    case 10: return QStringLiteral("gateway path unavailable");
    case 11: return QStringLiteral("gateway target device failed to respond");
    default: return QString();
    }
}

QString resultName(quint16 result)
{
    switch (result) {
    case ResultOk: return QStringLiteral("ok");
    case ResultNoReply: return QStringLiteral("no reply");
    case ResultBadReply: return QStringLiteral("CRC error or garbled reply");
    case ResultMismatch: return QStringLiteral("reply does not fit the request");
    case ResultWriteTimeout: return QStringLiteral("not sent (write time-out or line lost)");
    case ResultIllegalAddress: return QStringLiteral("exception 2 (illegal data address)");
    case ResultIllegalValue: return QStringLiteral("exception 3 (illegal data value)");
    case ResultRefused: return QStringLiteral("exception (refused)");
    case ResultUnsupported: return QStringLiteral("unknown function in the reply");
    case ResultNotConnected: return QStringLiteral("not connected");
    case ResultLineLost: return QStringLiteral("line lost after the request was sent");
    case ResultNoSilence: return QStringLiteral("line does not fall silent (continuous data)");
    case ResultCancelled: return QStringLiteral("interrupted");
    default: return QStringLiteral("result %1").arg(result);
    }
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString describe(const Frame &f)
{
    if (f.kind == Kind::RawText)
        return QStringLiteral("raw text \"%1\"").arg(f.text);
    if (f.kind == Kind::Short)
        return QStringLiteral("too short for a frame");
    QString s = QStringLiteral("address %1%2, %3").arg(f.address)
                    .arg(f.broadcast ? QStringLiteral(" (broadcast)") : QString(), functionName(f.function));
    if (f.isException()) {
        const QString meaning = exceptionName(f.exceptionCode);
        s += QStringLiteral(": exception %1").arg(f.exceptionCode);
        if (!meaning.isEmpty())
            s += QStringLiteral(" (%1)").arg(meaning);
    } else if (f.command >= 0) {
        const QString meaning = commandName(quint16(f.command));
        s += QStringLiteral(": command %1").arg(Params::hex4(quint16(f.command)));
        if (!meaning.isEmpty())
            s += QLatin1Char(' ') + meaning;
    } else {
        if (f.start >= 0 && f.count > 0)
            s += QStringLiteral(" %1-%2 (%3)").arg(Params::hex4(quint16(f.start)),
                                                    Params::hex4(quint16(f.start + f.count - 1))).arg(f.count);
        else if (f.start >= 0)
            s += QLatin1Char(' ') + Params::hex4(quint16(f.start));
        if (f.memAddress >= 0)
            s += QStringLiteral(" at 0x%1").arg(quint32(f.memAddress), 8, 16, QLatin1Char('0'));
        if (f.memLength >= 0)
            s += QStringLiteral(", %1 bytes").arg(f.memLength);
        if (f.idCode >= 0)
            s += QStringLiteral(" code %1").arg(f.idCode);
        if (f.idObject >= 0)
            s += QStringLiteral(" from object %1").arg(f.idObject);
        if (!f.values.isEmpty())
            s += QStringLiteral(": ") + f.values.join(QStringLiteral("; "));
    }
    if (!f.crcOk)
        s += QStringLiteral(" [CRC error]");
    else if (f.truncated)
        s += QStringLiteral(" [incomplete]");
    // The identification texts are the device's own bytes and may hold line
    // breaks or other control characters: the description stays one line
    // (tlctl --frames readers take every line starting "< " for a reply).
    for (QChar &c : s) {
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Separator_Line
            || category == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return s;
}

} // namespace FrameDecode

#include "firmware.h"

#include "command.h"
#include "deviceops.h"
#include "deviceparams.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QStringList>
#include <QThread>

namespace Firmware {

namespace {

quint32 littleEndianWord(const QByteArray &bytes, int at)
{
    return quint32(quint8(bytes[at])) | quint32(quint8(bytes[at + 1])) << 8 | quint32(quint8(bytes[at + 2])) << 16
           | quint32(quint8(bytes[at + 3])) << 24;
}

QString hex8(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

} // namespace

VectorCheck checkVectorTable(const QByteArray &head, qint64 size)
{
    VectorCheck c;
    c.size = size;
    c.hasTable = size >= VectorTableBytes && head.size() >= VectorTableBytes;
    if (!c.hasTable)
        return c;
    c.stackPointer = littleEndianWord(head, 0);
    c.resetAddress = littleEndianWord(head, 4);
    c.stackInRam = c.stackPointer >= RamFirst && c.stackPointer <= RamLast + 1;
    // Compared in 64 bits: the image end may lie past 4 GiB for a size no
    // transfer would take, and must not wrap.
    const quint64 reset = c.resetAddress;
    if (reset < FlashFirst || reset >= quint64(FlashFirst) + FlashBytes)
        c.reset = VectorCheck::Reset::OutsideFlash;
    else if (reset < LoadAddress || reset >= quint64(LoadAddress) + quint64(size))
        c.reset = VectorCheck::Reset::OutsideImage;
    else if ((reset & 1) == 0)
        c.reset = VectorCheck::Reset::Even;
    return c;
}

QString vectorProblemText(const VectorCheck &c)
{
    if (!c.hasTable)
        return QStringLiteral("it is %1 bytes long, shorter than the %2 bytes of a vector table (initial stack "
                              "pointer and reset address)").arg(c.size).arg(VectorTableBytes);
    QStringList wrong;
    if (!c.stackInRam)
        wrong << QStringLiteral("word 0, the initial stack pointer, is %1, not an address in RAM (%2-%3)")
                     .arg(hex8(c.stackPointer), hex8(RamFirst), hex8(RamLast));
    const QString reset = QStringLiteral("word 1, the reset address, is %1").arg(hex8(c.resetAddress));
    switch (c.reset) {
    case VectorCheck::Reset::Ok:
        break;
    case VectorCheck::Reset::Even:
        wrong << reset + QStringLiteral(", an even address (a Cortex-M reset address is odd)");
        break;
    case VectorCheck::Reset::OutsideFlash:
        wrong << reset + QStringLiteral(", outside the 256 KiB of flash (%1-%2)")
                             .arg(hex8(FlashFirst), hex8(FlashFirst + FlashBytes - 1));
        break;
    case VectorCheck::Reset::OutsideImage:
        wrong << reset + QStringLiteral(", outside the image (%1-%2)")
                             .arg(hex8(LoadAddress), hex8(quint32(LoadAddress + c.size - 1)));
        break;
    }
    return wrong.join(QStringLiteral("; "));
}

Image readImage(const QString &path)
{
    Image image;
    image.path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        image.errorText = file.errorString();
        return image;
    }
    image.size = file.size();
    if (image.size <= 0) {
        image.status = Result::EmptyFile;
        return image;
    }
    if (image.size > MaxImageBytes) {
        image.status = Result::TooLarge;
        return image;
    }
    image.bytes = file.readAll();
    if (image.bytes.size() != image.size || file.error() != QFileDevice::NoError) {
        image.status = Result::ReadFailed;
        image.errorText = file.errorString();
        image.bytes.clear();
        return image;
    }
    image.sha256 = QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256);
    image.vectors = checkVectorTable(image.bytes, image.size);
    image.status = Result::Ok;
    return image;
}

Result update(Command &link, QIODevice *image, const Hooks &hooks, Report *report, Images accept)
{
    Report local;
    Report &rep = report ? *report : local;
    rep = Report();

    if (!image || !image->isReadable())
        return Result::OpenFailed;
    const qint64 size = image->size();
    rep.size = size;
    if (size <= 0)
        return Result::EmptyFile;
    if (size > MaxImageBytes)
        return Result::TooLarge;
    // The judgement comes before the start command: that command alone
    // makes the bootloader erase the application.
    if (!image->seek(0))
        return Result::ReadFailed;
    rep.vectors = checkVectorTable(image->read(VectorTableBytes), size);
    if (accept != Images::Any && !rep.vectors.looksLikeApplication())
        return Result::NotApplication;

    quint16 r = DeviceOps::sendCommand(link, Params::CmdBootloader);
    if (r != ResultOk) {
        rep.linkResult = r;
        return Result::StartFailed;
    }
    // The bootloader erases its flash meanwhile; nothing may run on the line.
    QThread::msleep(StartPauseMs);

    if (hooks.transferStarting)
        hooks.transferStarting(size);

    quint32 address = LoadAddress;
    quint8 buffer[BlockBytes];
    quint64 count = 0;
    qint64 position = 0;
    for (;;) {
        const int pct = Countdown::percent(position, size);
        if (hooks.beforeStep && !hooks.beforeStep(pct))
            return Result::Cancelled;

        const qint64 next = readBinaryChunk(image, buffer, count, position);
        if (next < 0 || (count == 0 && next != 0))
            return Result::ReadFailed;
        position = next;

        if (count > 0) {
            rep.lastAddress = address;
            r = link.transactBlock(BlockFunction, address, buffer, quint16(count));
            if (r != ResultOk) {
                rep.linkResult = r;
                return Result::BlockFailed;
            }
            ++rep.blocksSent;
            rep.bytesSent += qint64(count);
            address += quint32(count);
            count = 0;
        }

        if (hooks.afterStep)
            hooks.afterStep(pct, position, size);
        if (position == 0)
            break;
    }

    r = DeviceOps::sendCommand(link, Params::CmdRestart);
    if (r != ResultOk) {
        rep.linkResult = r;
        return Result::RestartFailed;
    }
    return Result::Ok;
}

Result update(Command &link, const QString &path, const Hooks &hooks, Report *report, Images accept)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (report)
            *report = Report();
        return Result::OpenFailed;
    }
    return update(link, &file, hooks, report, accept);
}

Result update(Command &link, const Image &image, const Hooks &hooks, Report *report, Images accept)
{
    if (image.status != Result::Ok) {
        if (report) {
            *report = Report();
            report->size = image.size;
        }
        return image.status;
    }
    QBuffer buffer;
    buffer.setData(image.bytes);
    buffer.open(QIODevice::ReadOnly);
    return update(link, &buffer, hooks, report, accept);
}

const char *resultName(Result result)
{
    switch (result) {
    case Result::Ok: return "ok";
    case Result::OpenFailed: return "open-failed";
    case Result::EmptyFile: return "empty-file";
    case Result::TooLarge: return "too-large";
    case Result::NotApplication: return "not-application";
    case Result::StartFailed: return "start-failed";
    case Result::ReadFailed: return "read-failed";
    case Result::BlockFailed: return "block-failed";
    case Result::Cancelled: return "cancelled";
    case Result::RestartFailed: return "restart-failed";
    }
    return "unknown";
}

} // namespace Firmware

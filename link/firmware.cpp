#include "firmware.h"

#include "command.h"
#include "deviceops.h"
#include "deviceparams.h"

#include <QFile>
#include <QThread>

namespace Firmware {

Result update(QIODevice *image, const Hooks &hooks, Report *report)
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

    quint16 r = DeviceOps::sendCommand(Params::CmdBootloader);
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
            r = command.transactBlock(BlockFunction, address, buffer, quint16(count));
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

    r = DeviceOps::sendCommand(Params::CmdRestart);
    if (r != ResultOk) {
        rep.linkResult = r;
        return Result::RestartFailed;
    }
    return Result::Ok;
}

Result update(const QString &path, const Hooks &hooks, Report *report)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (report)
            *report = Report();
        return Result::OpenFailed;
    }
    return update(&file, hooks, report);
}

const char *resultName(Result result)
{
    switch (result) {
    case Result::Ok: return "ok";
    case Result::OpenFailed: return "open-failed";
    case Result::EmptyFile: return "empty-file";
    case Result::TooLarge: return "too-large";
    case Result::StartFailed: return "start-failed";
    case Result::ReadFailed: return "read-failed";
    case Result::BlockFailed: return "block-failed";
    case Result::Cancelled: return "cancelled";
    case Result::RestartFailed: return "restart-failed";
    }
    return "unknown";
}

} // namespace Firmware

#include "deviceops.h"

#include "command.h"
#include "conversions.h"
#include "firmware.h"

#include <QThread>

#include <cstring>

namespace DeviceOps {

namespace {

Outcome failedAt(Step step, quint16 result = ResultOk)
{
    Outcome o;
    o.failed = step;
    o.linkResult = result;
    return o;
}

quint16 readInputs(Command &link)
{
    return link.transact(Modbus::FnReadInput, 0, 0, Params::InputCount);
}

// The device answered, and said no: the request was not carried out.
bool refusedByDevice(quint16 result)
{
    return result == ResultIllegalAddress || result == ResultIllegalValue || result == ResultRefused;
}

// A write that failed after its request had gone out may have been carried out.
Outcome writeFailed(const Command &link, Step step, quint16 result)
{
    Outcome o = failedAt(step, result);
    o.unverified = link.lastRequestSent() && !refusedByDevice(result);
    return o;
}

// A register write of the block to the device it came from.
Outcome writeToOrigin(Command &link, quint16 start, quint16 count)
{
    const Outcome target = confirmTarget(link);
    if (!target.ok())
        return target;
    const quint16 r = link.transact(Modbus::FnWriteMultiple, 0, start, count);
    return r == ResultOk ? Outcome() : writeFailed(link, Step::BlockWrite, r);
}

} // namespace

bool open(Command &link, const QString &portName)
{
    link.PortName = portName;
    if (!link.openPort())
        return false;
    link.discardPending();
    return true;
}

Outcome probe(Command &link)
{
    const quint16 r = readInputs(link);
    if (r != ResultOk)
        return failedAt(Step::Probe, r);
    link.DeviceType = qint16(link.DeviceParams.DeviceTypeReg);
    if (Params::isRecognised(link.DeviceType))
        return Outcome();
    // Whatever answered is no TL-02: tell it to leave the line alone.
    const bool sent = link.writeRaw(QByteArrayLiteral("DEACTIV"));
    link.DeviceType = Params::TypeNone;
    return failedAt(Step::Unrecognised, sent ? quint16(ResultOk) : quint16(ResultWriteTimeout));
}

Outcome read(Command &link, ReadMode mode)
{
    quint16 r = ResultOk;
    if (mode == ReadMode::Full) {
        // The block is about to take another device's identification: it
        // belongs to nobody until this read has filled it.
        if (!blockFromLink(link))
            link.Origin.valid = false;
        if ((r = link.transact(Modbus::FnReadDeviceId, 0, 1, 0)) != ResultOk)
            return failedAt(Step::IdentBasic, r);
        if ((r = link.transact(Modbus::FnReadDeviceId, 0, 2, 0)) != ResultOk)
            return failedAt(Step::IdentRegular, r);
        link.WriteCount = Conv::writeCountFor(link.DeviceParams.IdFirmwareVersion,
                                                 int(sizeof link.DeviceParams.IdFirmwareVersion),
                                                 link.DeviceType);
        r = link.transact(Modbus::FnReadHolding, 0, Params::HoldingFirst, link.WriteCount);
        if (r != ResultOk)
            return failedAt(Step::Holding, r);
        Command::BlockOrigin &o = link.Origin;
        o.valid = true;
        o.port = link.PortName;
        o.address = link.SlaveAddress;
        o.deviceType = link.DeviceType;
        o.serialNumber = link.DeviceParams.SerialNum;
        o.registerCount = link.WriteCount;
    }
    if ((r = readInputs(link)) != ResultOk)
        return failedAt(Step::Input, r);
    // The pages and a parameter file keep the display divisor in the block.
    link.DeviceParams.Scale = Conv::scaleFromConfig(link.DeviceParams.Config);
    return Outcome();
}

Outcome readDevice(Command &link)
{
    const quint16 r = readInputs(link);
    if (r != ResultOk)
        return failedAt(Step::Probe, r);
    const qint16 type = qint16(link.DeviceParams.DeviceTypeReg);
    if (!Params::isDetector(type))
        return failedAt(Step::Unrecognised);
    link.DeviceType = type;
    return read(link, ReadMode::Full);
}

bool blockFromLink(const Command &link)
{
    const Command::BlockOrigin &o = link.Origin;
    return o.valid && o.port == link.PortName && o.address == link.SlaveAddress
           && o.deviceType == link.DeviceType && o.registerCount == link.WriteCount;
}

Outcome confirmTarget(Command &link)
{
    if (!blockFromLink(link))
        return failedAt(Step::NotRead);
    // The reads land in the block: what the user has there is put back.
    const ParamBlock kept = link.DeviceParams;
    quint16 r = link.transact(Modbus::FnReadHolding, 0, Params::SerialNumberFirst, 2);
    const qint32 serial = link.DeviceParams.SerialNum;
    if (r == ResultOk)
        r = link.transact(Modbus::FnReadInput, 0, Params::InputDeviceType, 1);
    const qint16 type = qint16(link.DeviceParams.DeviceTypeReg);
    link.DeviceParams = kept;
    if (r != ResultOk)
        return failedAt(Step::Identity, r);
    if (serial != link.Origin.serialNumber || type != link.Origin.deviceType) {
        link.Origin.valid = false;
        return failedAt(Step::Foreign);
    }
    return Outcome();
}

Outcome writeBlock(Command &link)
{
    return writeToOrigin(link, Params::HoldingFirst, link.WriteCount);
}

Outcome writeSimulation(Command &link)
{
    return writeToOrigin(link, Params::SimulationFirst, 2);
}

Outcome writeThresholds(Command &link)
{
    // Limit1 at 0x1005, Limit2 at 0x1006.
    return writeToOrigin(link, 0x1005, 2);
}

quint16 sendCommand(Command &link, quint16 code)
{
    return link.transact(Modbus::FnWriteMultiple, code, Params::CommandRegister, 1);
}

quint16 switchSoundOff(Command &link, bool on)
{
    return sendCommand(link, on ? Params::CmdSoundOffOn : Params::CmdSoundOffOff);
}

Outcome writeAndReadBack(Command &link, const ReadBackCheck &check)
{
    const ParamBlock sent = link.DeviceParams;
    const Outcome written = writeBlock(link);
    if (!written.ok())
        return written;
    Outcome back = read(link, ReadMode::Full);
    if (!back.ok()) {
        back.unverified = true;
        return back;
    }
    if (check && !check(sent))
        return failedAt(Step::Check);
    return Outcome();
}

Outcome storeFactory(Command &link, const ReadBackCheck &check)
{
    // Factory settings never keep the concentration simulation on.
    link.DeviceParams.ImmitConcOn = 0;
    const Outcome written = writeAndReadBack(link, check);
    if (!written.ok())
        return written;
    const quint16 r = sendCommand(link, Params::CmdStoreFactory);
    return r == ResultOk ? Outcome() : writeFailed(link, Step::Command, r);
}

Outcome restoreFactory(Command &link)
{
    const quint16 r = sendCommand(link, Params::CmdRestoreFactory);
    if (r != ResultOk)
        return writeFailed(link, Step::Command, r);
    return read(link, ReadMode::Full);
}

Outcome enterBootloader(Command &link)
{
    quint16 r = sendCommand(link, Params::CmdBootloader);
    if (r != ResultOk)
        return failedAt(Step::Command, r);
    QThread::msleep(Firmware::StartPauseMs);
    auto isBootloader = [&link] { return link.DeviceParams.DeviceTypeReg == quint16(Params::TypeBootloader); };
    r = readInputs(link);
    if (r != ResultOk || !isBootloader()) {
        link.SlaveAddress = 0;
        r = readInputs(link);
    }
    if (r != ResultOk)
        return failedAt(Step::Probe, r);
    if (!isBootloader())
        return failedAt(Step::NotBootloader);
    link.DeviceType = Params::TypeBootloader;
    return Outcome();
}

namespace {

// Puts back what a scan changes on the link, however it ends.
class ScanRestore
{
public:
    explicit ScanRestore(Command &link)
        : link(link), address(link.SlaveAddress), attempts(link.attemptLimit), block(link.DeviceParams)
    {
    }
    ~ScanRestore()
    {
        link.SlaveAddress = address;
        link.attemptLimit = attempts;
        link.DeviceParams = block;
    }
    ScanRestore(const ScanRestore &) = delete;
    ScanRestore &operator=(const ScanRestore &) = delete;

    Command &link;
    const quint16 address;
    const int attempts;
    const ParamBlock block;
};

// The serial number and firmware version of a detector that answered.  It is
// there, so these reads get the attempts the link had before the scan.
void readDetectorDetails(Command &link, ScanHit &hit, int attempts)
{
    ParamBlock &p = link.DeviceParams;
    link.attemptLimit = attempts;
    p.SerialNum = 0;
    hit.serialResult = link.transact(Modbus::FnReadHolding, 0, Params::SerialNumberFirst, 2);
    if (hit.serialResult == ResultOk) {
        hit.serialNumber = p.SerialNum;
        hit.serialText = Conv::serialText(p.SerialNum, p.DeviceTypeReg);
    }
    std::memset(p.IdFirmwareVersion, 0, sizeof p.IdFirmwareVersion);
    hit.versionResult = link.transact(Modbus::FnReadDeviceId, 0, 1, 0);
    if (hit.versionResult == ResultOk)
        hit.firmwareVersion = Conv::fieldText(p.IdFirmwareVersion, int(sizeof p.IdFirmwareVersion));
    link.attemptLimit = 1;
}

} // namespace

ScanReport scan(Command &link, int from, int to, const ScanHooks &hooks)
{
    const ScanRestore saved(link);
    ScanReport report;
    link.attemptLimit = 1;
    for (int a = from; a <= to; ++a) {
        if (hooks.cancelled && hooks.cancelled())
            break;
        if (hooks.beforeAddress)
            hooks.beforeAddress(a);
        link.SlaveAddress = quint16(a);
        link.DeviceParams.DeviceTypeReg = 0;
        const quint16 r = link.transact(Modbus::FnReadInput, 0, Params::InputDeviceType, 1);
        // A link closed on purpose sent nothing, and will send nothing more.
        if (r == ResultNotConnected)
            break;
        // An exchange cut short, or a line that talks without pause, ends
        // the scan: every address would seem to answer.
        if (r == ResultCancelled || r == ResultNoSilence) {
            report.stoppedBy = r;
            break;
        }
        ++report.scanned;
        // Silence, or a line that takes nothing: no one at this address.
        if (r == ResultNoReply || r == ResultWriteTimeout)
            continue;
        ScanHit hit;
        hit.address = a;
        hit.result = r;
        if (r == ResultOk) {
            hit.type = qint16(link.DeviceParams.DeviceTypeReg);
            if (hit.detector())
                readDetectorDetails(link, hit, saved.attempts);
        }
        report.hits.append(hit);
        if (hooks.answered)
            hooks.answered(hit);
    }
    return report;
}

} // namespace DeviceOps

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

quint16 readInputs()
{
    return command.transact(Modbus::FnReadInput, 0, 0, Params::InputCount);
}

// The device answered, and said no: the request was not carried out.
bool refusedByDevice(quint16 result)
{
    return result == ResultIllegalAddress || result == ResultIllegalValue || result == ResultRefused;
}

// A write that failed after its request had gone out may have been carried out.
Outcome writeFailed(Step step, quint16 result)
{
    Outcome o = failedAt(step, result);
    o.unverified = command.lastRequestSent() && !refusedByDevice(result);
    return o;
}

// A register write of the block to the device it came from.
Outcome writeToOrigin(quint16 start, quint16 count)
{
    const Outcome target = confirmTarget();
    if (!target.ok())
        return target;
    const quint16 r = command.transact(Modbus::FnWriteMultiple, 0, start, count);
    return r == ResultOk ? Outcome() : writeFailed(Step::BlockWrite, r);
}

} // namespace

bool open(const QString &portName)
{
    command.PortName = portName;
    if (!command.openPort())
        return false;
    command.discardPending();
    return true;
}

Outcome probe()
{
    const quint16 r = readInputs();
    if (r != ResultOk)
        return failedAt(Step::Probe, r);
    command.DeviceType = qint16(command.DeviceParams.DeviceTypeReg);
    if (Params::isRecognised(command.DeviceType))
        return Outcome();
    // Whatever answered is no TL-02: tell it to leave the line alone.
    const bool sent = command.writeRaw(QByteArrayLiteral("DEACTIV"));
    command.DeviceType = Params::TypeNone;
    return failedAt(Step::Unrecognised, sent ? quint16(ResultOk) : quint16(ResultWriteTimeout));
}

Outcome read(ReadMode mode)
{
    quint16 r = ResultOk;
    if (mode == ReadMode::Full) {
        // The block is about to take another device's identification: it
        // belongs to nobody until this read has filled it.
        if (!blockFromLink())
            command.Origin.valid = false;
        if ((r = command.transact(Modbus::FnReadDeviceId, 0, 1, 0)) != ResultOk)
            return failedAt(Step::IdentBasic, r);
        if ((r = command.transact(Modbus::FnReadDeviceId, 0, 2, 0)) != ResultOk)
            return failedAt(Step::IdentRegular, r);
        command.WriteCount = Conv::writeCountFor(command.DeviceParams.IdFirmwareVersion,
                                                 int(sizeof command.DeviceParams.IdFirmwareVersion),
                                                 command.DeviceType);
        r = command.transact(Modbus::FnReadHolding, 0, Params::HoldingFirst, command.WriteCount);
        if (r != ResultOk)
            return failedAt(Step::Holding, r);
        Command::BlockOrigin &o = command.Origin;
        o.valid = true;
        o.port = command.PortName;
        o.address = command.SlaveAddress;
        o.deviceType = command.DeviceType;
        o.serialNumber = command.DeviceParams.SerialNum;
        o.registerCount = command.WriteCount;
    }
    if ((r = readInputs()) != ResultOk)
        return failedAt(Step::Input, r);
    // The pages and a parameter file keep the display divisor in the block.
    command.DeviceParams.Scale = Conv::scaleFromConfig(command.DeviceParams.Config);
    return Outcome();
}

bool blockFromLink()
{
    const Command::BlockOrigin &o = command.Origin;
    return o.valid && o.port == command.PortName && o.address == command.SlaveAddress
           && o.deviceType == command.DeviceType && o.registerCount == command.WriteCount;
}

Outcome confirmTarget()
{
    if (!blockFromLink())
        return failedAt(Step::NotRead);
    // The reads land in the block: what the user has there is put back.
    const ParamBlock kept = command.DeviceParams;
    quint16 r = command.transact(Modbus::FnReadHolding, 0, Params::SerialNumberFirst, 2);
    const qint32 serial = command.DeviceParams.SerialNum;
    if (r == ResultOk)
        r = command.transact(Modbus::FnReadInput, 0, Params::InputDeviceType, 1);
    const qint16 type = qint16(command.DeviceParams.DeviceTypeReg);
    command.DeviceParams = kept;
    if (r != ResultOk)
        return failedAt(Step::Identity, r);
    if (serial != command.Origin.serialNumber || type != command.Origin.deviceType) {
        command.Origin.valid = false;
        return failedAt(Step::Foreign);
    }
    return Outcome();
}

Outcome writeBlock()
{
    return writeToOrigin(Params::HoldingFirst, command.WriteCount);
}

Outcome writeSimulation()
{
    return writeToOrigin(Params::SimulationFirst, 2);
}

Outcome writeThresholds()
{
    // Limit1 at 0x1005, Limit2 at 0x1006.
    return writeToOrigin(0x1005, 2);
}

quint16 sendCommand(quint16 code)
{
    return command.transact(Modbus::FnWriteMultiple, code, Params::CommandRegister, 1);
}

quint16 switchSoundOff(bool on)
{
    return sendCommand(on ? Params::CmdSoundOffOn : Params::CmdSoundOffOff);
}

Outcome writeAndReadBack(const ReadBackCheck &check)
{
    const ParamBlock sent = command.DeviceParams;
    const Outcome written = writeBlock();
    if (!written.ok())
        return written;
    Outcome back = read(ReadMode::Full);
    if (!back.ok()) {
        back.unverified = true;
        return back;
    }
    if (check && !check(sent))
        return failedAt(Step::Check);
    return Outcome();
}

Outcome storeFactory(const ReadBackCheck &check)
{
    // Factory settings never keep the concentration simulation on.
    command.DeviceParams.ImmitConcOn = 0;
    const Outcome written = writeAndReadBack(check);
    if (!written.ok())
        return written;
    const quint16 r = sendCommand(Params::CmdStoreFactory);
    return r == ResultOk ? Outcome() : writeFailed(Step::Command, r);
}

Outcome restoreFactory()
{
    const quint16 r = sendCommand(Params::CmdRestoreFactory);
    if (r != ResultOk)
        return writeFailed(Step::Command, r);
    return read(ReadMode::Full);
}

Outcome enterBootloader()
{
    quint16 r = sendCommand(Params::CmdBootloader);
    if (r != ResultOk)
        return failedAt(Step::Command, r);
    QThread::msleep(Firmware::StartPauseMs);
    auto isBootloader = [] { return command.DeviceParams.DeviceTypeReg == quint16(Params::TypeBootloader); };
    r = readInputs();
    if (r != ResultOk || !isBootloader()) {
        command.SlaveAddress = 0;
        r = readInputs();
    }
    if (r != ResultOk)
        return failedAt(Step::Probe, r);
    if (!isBootloader())
        return failedAt(Step::NotBootloader);
    command.DeviceType = Params::TypeBootloader;
    return Outcome();
}

namespace {

// Puts back what a scan changes on the link, however it ends.
class ScanRestore
{
public:
    ScanRestore()
        : address(command.SlaveAddress), attempts(command.attemptLimit), block(command.DeviceParams)
    {
    }
    ~ScanRestore()
    {
        command.SlaveAddress = address;
        command.attemptLimit = attempts;
        command.DeviceParams = block;
    }
    ScanRestore(const ScanRestore &) = delete;
    ScanRestore &operator=(const ScanRestore &) = delete;

    const quint16 address;
    const int attempts;
    const ParamBlock block;
};

// The serial number and firmware version of a detector that answered.  It is
// there, so these reads get the attempts the link had before the scan.
void readDetectorDetails(ScanHit &hit, int attempts)
{
    ParamBlock &p = command.DeviceParams;
    command.attemptLimit = attempts;
    p.SerialNum = 0;
    hit.serialResult = command.transact(Modbus::FnReadHolding, 0, Params::SerialNumberFirst, 2);
    if (hit.serialResult == ResultOk) {
        hit.serialNumber = p.SerialNum;
        hit.serialText = Conv::serialText(p.SerialNum, p.DeviceTypeReg);
    }
    std::memset(p.IdFirmwareVersion, 0, sizeof p.IdFirmwareVersion);
    hit.versionResult = command.transact(Modbus::FnReadDeviceId, 0, 1, 0);
    if (hit.versionResult == ResultOk)
        hit.firmwareVersion = Conv::fieldText(p.IdFirmwareVersion, int(sizeof p.IdFirmwareVersion));
    command.attemptLimit = 1;
}

} // namespace

ScanReport scan(int from, int to, const ScanHooks &hooks)
{
    const ScanRestore saved;
    ScanReport report;
    command.attemptLimit = 1;
    for (int a = from; a <= to; ++a) {
        if (hooks.cancelled && hooks.cancelled())
            break;
        if (hooks.beforeAddress)
            hooks.beforeAddress(a);
        command.SlaveAddress = quint16(a);
        command.DeviceParams.DeviceTypeReg = 0;
        const quint16 r = command.transact(Modbus::FnReadInput, 0, Params::InputDeviceType, 1);
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
            hit.type = qint16(command.DeviceParams.DeviceTypeReg);
            if (hit.detector())
                readDetectorDetails(hit, saved.attempts);
        }
        report.hits.append(hit);
        if (hooks.answered)
            hooks.answered(hit);
    }
    return report;
}

} // namespace DeviceOps

// What the program and tlctl do with a device, written once: connecting
// (probing the port), the read cycle, the holding-block write, command-
// register writes, factory settings, the switch to the bootloader and the
// search of a line for devices.  The
// firmware transfer itself is in firmware.h.
//
// No widgets and no messages here: every operation says which step failed
// and with which link result, and the caller reports that in its own way
// (message boxes and the status bar, or tlctl's lines on stderr).  Every
// operation works on the link it is given, at its SlaveAddress; links on
// different lines may be used from different threads at once, one thread
// per link.
#pragma once

#include "deviceparams.h"
#include "modbus.h"

#include <QString>
#include <QVector>
#include <functional>

class Command;

namespace DeviceOps {

// The step of an operation that failed.
enum class Step {
    None,            // nothing failed
    Probe,           // reading input registers 0-9 when connecting
    Unrecognised,    // the device type is neither a detector nor the bootloader
    NotBootloader,   // after the switch to the bootloader, the device is not it
    IdentBasic,      // identification, basic objects (Read Device ID code 1)
    IdentRegular,    // identification, regular objects (code 2)
    Holding,         // reading the holding block (WriteCount registers from 0x1000)
    Input,           // reading input registers 0-9
    BlockWrite,      // writing the holding block
    Check,           // the caller refused what the device holds after a write
    Command,         // writing the command register
    // Before a write of the block (nothing was written):
    NotRead,         // the block holds no full read of the device the link addresses now
    Identity,        // reading the serial number and device type failed
    Foreign,         // another device answers there than the one the block came from
};

struct Outcome {
    Step failed = Step::None;
    // Result of the exchange that failed; ResultOk when no exchange did
    // (NotBootloader, Check, or nothing failed).  For Unrecognised: ResultOk
    // when "DEACTIV" went out, ResultWriteTimeout when the line could not
    // carry it (a Modbus TCP gateway takes no raw bytes).
    quint16 linkResult = ResultOk;
    // A write whose request went out but whose confirmation did not come
    // back (its reply failed, or the read-back after it did): the device
    // may hold the new values or the old ones.
    bool unverified = false;

    bool ok() const { return failed == Step::None; }
    // Nothing was written: the block is not the device's (or its identity
    // could not be read).
    bool wrongTarget() const
    {
        return failed == Step::NotRead || failed == Step::Identity || failed == Step::Foreign;
    }
    // For a full read: whether the identification and the holding block came
    // in (only the input registers may have failed after them).
    bool blockRead() const { return failed == Step::None || failed == Step::Input; }
};

// Opens `portName` with the line settings of the link (it becomes
// link.PortName) and discards whatever was pending on it.
bool open(Command &link, const QString &portName);

// Reads input registers 0-9 and takes link.DeviceType from register 4.
// A failed read (Step::Probe) leaves the type as it was.  A device of a type
// the tool does not know is sent "DEACTIV" as raw bytes (no frame, no reply
// awaited), so that it leaves the line alone, and the type becomes TypeNone
// (Step::Unrecognised; the type read is still in DeviceParams.DeviceTypeReg).
// The port stays open in every case: closing it is the caller's choice.
Outcome probe(Command &link);

enum class ReadMode {
    Full,       // identification (codes 1 and 2), WriteCount, holding block, input registers
    LiveOnly,   // input registers 0-9 only
};

// The read cycle.  A full read sets WriteCount from the firmware version and
// the device type (27 registers for type 1 up to version 1.05, else 48)
// before it reads the holding block; once the holding block is in, the
// block's origin (link.Origin) is the device read.  A full read that
// fails before that leaves no origin unless the block already was this
// device's.  On success the display divisor Scale is taken from Config, as
// the pages show it.  Stops at the first failure.
Outcome read(Command &link, ReadMode mode);

// Reads a device that may be any slave on a shared line: input registers
// 0-9 (Step::Probe when they fail) and, for a detector, its type and then
// the full read.  Another kind of device is left alone (Step::Unrecognised,
// nothing sent to it; its type stays in DeviceParams.DeviceTypeReg).
Outcome readDevice(Command &link);

// Whether link.DeviceParams holds a full read of the device the link
// addresses now: the origin's port, address, device type and register count
// are the link's.
bool blockFromLink(const Command &link);

// What every write of the block does first: blockFromLink() (Step::NotRead
// otherwise), then the serial number (0x100F-0x1010) and the device type
// (input register 4) are read from the device and must be the origin's
// (Step::Identity when they cannot be read, Step::Foreign when they differ;
// the origin is then dropped).  The block itself is left as it was.
Outcome confirmTarget(Command &link);

// Writes the holding block: function 16 from 0x1000, WriteCount registers,
// the values taken from link.DeviceParams, to the device they came from
// (confirmTarget() first).
Outcome writeBlock(Command &link);
// Writes the concentration simulation switch and value (0x1019, 0x101A)
// from the block, to the device it came from.
Outcome writeSimulation(Command &link);
// Writes the two thresholds Limit1 and Limit2 (0x1005, 0x1006) from the
// block, and no other register, to the device it came from.
Outcome writeThresholds(Command &link);
// Writes one command code to the command register (0x1020).
quint16 sendCommand(Command &link, quint16 code);
// The manual sound switch-off on (0x2002) or off (0x7007).
quint16 switchSoundOff(Command &link, bool on);

// Looks at what the device holds after a write: `sent` is the block as it
// was written, link.DeviceParams what the full read brought back.
// Returning false refuses it (Step::Check).
using ReadBackCheck = std::function<bool(const ParamBlock &sent)>;

// Writes the holding block, then makes a full read and runs `check` (when
// given) on what came back.  A read-back that fails leaves the write
// unverified.
Outcome writeAndReadBack(Command &link, const ReadBackCheck &check = {});

// Stores the device's parameters as its factory settings.  The block is
// written with the concentration simulation switched off and read back
// (as writeAndReadBack), and only then is 0x3003 written: the device stores
// what it holds, so a block that did not go out, or did not read back, is
// never stored.
Outcome storeFactory(Command &link, const ReadBackCheck &check = {});

// Takes up the stored factory settings (0x6006), then makes a full read so
// that the block holds them.  No read when the command fails.
Outcome restoreFactory(Command &link);

// Switches a running detector to its bootloader: 0x5555, the pause in which
// the bootloader erases its flash, then input registers 0-9, at the address
// in use and, failing that, at address 0 (where a bootloader may only
// answer).  On success DeviceType is TypeBootloader; SlaveAddress may have
// become 0.
Outcome enterBootloader(Command &link);

// One address of a line scan at which something answered.
struct ScanHit {
    int address = 0;
    // Result of the device-type request: ResultOk, or what came back instead
    // (an exception, a damaged reply: something is there, but not in order).
    quint16 result = ResultOk;
    // Input register 4, when the type request succeeded.
    qint16 type = Params::TypeNone;
    // Detectors only: the serial number and the firmware version, each with
    // the result of its read (they stay empty when it failed).
    quint16 serialResult = ResultOk;
    qint32 serialNumber = 0;
    QString serialText;          // "TL02ID0004711"
    quint16 versionResult = ResultOk;
    QString firmwareVersion;     // identification object 2

    bool answered() const { return result == ResultOk; }
    bool detector() const { return answered() && Params::isDetector(type); }
};

struct ScanReport {
    QVector<ScanHit> hits;   // in address order
    int scanned = 0;         // addresses asked before the scan ended
    // Why the scan ended before its last address, when a result did:
    // ResultNoSilence (the line never fell silent: no address can be told
    // from another), ResultCancelled; 0 otherwise.
    quint16 stoppedBy = 0;
};

struct ScanHooks {
    // Asked before each address; true stops the scan there.
    std::function<bool()> cancelled;
    // Called before each address is asked (progress).
    std::function<void(int address)> beforeAddress;
    // Called for each hit as soon as it is complete.
    std::function<void(const ScanHit &)> answered;
};

// Looks for devices on the open line at addresses `from` to `to`: one
// request for input register 4 per address, with a single attempt, so that
// a silent address costs one reply time-out.  A detector that answers is
// then asked, with the usual attempts, for its serial number (0x100F-0x1010)
// and its basic identification (firmware version).  Only reads go out:
// nothing is written and a device of unknown type is not sent "DEACTIV", as
// it may be any slave on a shared line.  The link's SlaveAddress, attempt
// limit and parameter block are what they were when the scan returns.  On a
// link that is not open the scan ends at once, with nothing scanned.
ScanReport scan(Command &link, int from, int to, const ScanHooks &hooks = {});

} // namespace DeviceOps

// One tlctl run against one device: the port (or a simulated detector
// started for the run), the device operations of the link (connecting, the
// read cycle, the block write with its read-back check, command-register
// writes, factory settings) with tlctl's messages, and the login.
// Everything goes through the session's own link.
#pragma once

#include "cli.h"
#include "command.h"
#include "console.h"
#include "deviceops.h"
#include "deviceparams.h"
#include "framedecode.h"
#include "simlauncher.h"

#include <QString>
#include <memory>

namespace Tlctl {

// tl02-sim started for --simulate: the binary beside tlctl (or on PATH).
class SimulatedDetector
{
public:
    // Starts it with --quiet and the given arguments and waits for its port
    // line.  On failure `error` says why.
    bool start(const QStringList &args, QString &error);
    void stop() { launcher.stop(); }
    QString portPath() const { return launcher.portPath(); }
    static QString executable();

private:
    SimLauncher launcher;
};

// State of --frames: the stream it prints on and the last request, against
// which a reply is read.
struct FramePrinter {
    QTextStream *err = nullptr;
    const Command *link = nullptr;   // whose block the replies are read against
    FrameDecode::Frame lastRequest;
    bool haveRequest = false;
};

class Session
{
public:
    // Works through `link` when given (a test watches it), else through a
    // link of its own.  The link is closed again when the session ends.
    Session(const Options &options, Io &io, Command *link = nullptr);
    ~Session();

    // Starts the simulated detector when asked, opens the port and points
    // the link at the address.  Returns an exit code.
    int open();
    // open(), then the probe of the connection dialog: input registers 0-9,
    // the device type from register 4.  An unrecognised device is sent
    // "DEACTIV" and refused.  With `detectorOnly` the bootloader is refused
    // too.
    int connect(bool detectorOnly);
    // The program's full read: identification (codes 1 and 2), WriteCount,
    // the holding block, input registers 0-9.  Stores Scale as the pages do.
    int fullRead();
    // Writes the holding block (function 16 from 0x1000, WriteCount
    // registers) from the link's DeviceParams, reads everything again and
    // checks that every written register came back.
    int writeBlockAndVerify();
    // The same with the concentration simulation off, then 0x3003: the
    // device stores its parameters as factory settings.
    int storeFactory();
    // 0x6006 (take up the factory settings), then the full read.
    int restoreFactory();
    // Reports a failed device operation on stderr with what was being done
    // (the command's description and code for Step::Command; `blockWhat`
    // names a register write other than the whole block) and returns the
    // exit code; ExitOk when nothing failed.  A write that may have been
    // carried out says "written, not verified".
    int failed(const DeviceOps::Outcome &outcome, const QString &commandWhat = QString(), quint16 code = 0,
               const QString &blockWhat = QString());

    // "address 1 on /dev/pts/4"
    QString where() const;
    QString portPath() const { return port; }

    // Prints "tlctl: message" on stderr and returns the code.
    int fail(int code, const QString &message);
    // "WHAT at WHERE: RESULT; HINT"; with `unverified`, that the request went
    // out and the device may have carried it out.
    int exchangeFailed(const QString &what, quint16 result, bool unverified = false);

    const Options &options() const { return opt; }
    // The link this run works through.
    Command &link() { return own; }
    const Command &link() const { return own; }
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    Io &io() { return ioRef; }

private:
    int writeVerified(bool storeFactory);

    const Options &opt;
    Io &ioRef;
    std::unique_ptr<Command> made;
    Command &own;
    SimulatedDetector sim;
    QString port;
    bool opened = false;
    FramePrinter framePrinter;
};

// The path of the port to open for a --port (or TLCTL_PORT) text.  A text
// with a scheme (tcp://HOST:PORT, modbus-tcp://HOST:PORT) is a network
// address and stays as it is.  QSerialPort puts "/dev/" before a name that
// does not start with "/", "./" or "../", so "links/tl02" would become
// /dev/links/tl02: a path with a slash in it is taken from the working
// directory, as any other path on the command line.  A bare name (ttyUSB0)
// keeps meaning the device in /dev, unless only the working directory has a
// file of that name.
QString resolvePortPath(const QString &given);

// Text for a link result code: "no reply", "garbled reply (CRC)", ...
QString resultText(quint16 result);
// What to check for a failed exchange with that result.
QString resultHint(quint16 result);

// Logs in with opt.user and the password from $TLCTL_PASSWORD or a prompt.
// With `required` a missing --user is refused too.  On success the access
// level is in link.UserName.  Returns an exit code.
int login(Command &link, const Options &opt, Io &io, bool required, const QString &why);

// Asks for the factory password ($TLCTL_FACTORY_PASSWORD or a prompt) when
// the level needs it.  Returns an exit code.
int factoryPassword(Command &link, Io &io);

} // namespace Tlctl

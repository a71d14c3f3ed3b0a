// One tlctl run against one device: the port (or a simulated detector
// started for the run), connecting as the program's connection dialog does,
// the read cycle, the block write with its read-back check, command-register
// writes and the login.  Everything goes through the global `command`.
#pragma once

#include "cli.h"
#include "console.h"
#include "deviceparams.h"

#include <QProcess>
#include <QString>

namespace Tlctl {

// tl02-sim started for --simulate: the binary beside tlctl (or on PATH).
class SimulatedDetector
{
public:
    ~SimulatedDetector();
    // Starts it with --quiet and the given arguments and waits for its port
    // line.  On failure `error` says why.
    bool start(const QStringList &args, QString &error);
    void stop();
    QString portPath() const { return port; }
    static QString executable();

private:
    QProcess proc;
    QString port;
};

class Session
{
public:
    Session(const Options &options, Io &io);
    ~Session();

    // Starts the simulated detector when asked, opens the port and points
    // `command` at the address.  Returns an exit code.
    int open();
    // open(), then reads input registers 0-9 and takes the device type from
    // register 4, as connecting does.  An unrecognised device is sent
    // "DEACTIV" and refused.  With `detectorOnly` the bootloader is refused
    // too.
    int connect(bool detectorOnly);
    // The program's full read: identification (codes 1 and 2), WriteCount,
    // the holding block, input registers 0-9.  Stores Scale as the pages do.
    int fullRead();
    // Writes the holding block (function 16 from 0x1000, WriteCount
    // registers) from command.DeviceParams, reads everything again and
    // checks that every written register came back.
    int writeBlockAndVerify();
    // Writes one code to the command register.
    int sendCommand(quint16 code, const QString &what);

    // "address 1 on /dev/pts/4"
    QString where() const;
    QString portPath() const { return port; }

    // Prints "tlctl: message" on stderr and returns the code.
    int fail(int code, const QString &message);
    int exchangeFailed(const QString &what, quint16 result);

    const Options &options() const { return opt; }
    Io &io() { return ioRef; }

private:
    const Options &opt;
    Io &ioRef;
    SimulatedDetector sim;
    QString port;
    bool opened = false;
};

// Text for a link result code: "no reply", "garbled reply (CRC)", ...
QString resultText(quint16 result);
// What to check for a failed exchange with that result.
QString resultHint(quint16 result);

// Logs in with opt.user and the password from $TLCTL_PASSWORD or a prompt.
// With `required` a missing --user is refused too.  On success the access
// level is in command.UserName.  Returns an exit code.
int login(const Options &opt, Io &io, bool required, const QString &why);

// Asks for the factory password ($TLCTL_FACTORY_PASSWORD or a prompt) when
// the level needs it.  Returns an exit code.
int factoryPassword(Io &io);

} // namespace Tlctl

// Why a serial port would not open, in terms a technician can act on: no
// such device, no permission (and which group grants it, or that none does),
// or in use by another program (and which one, where it can be found), or
// locked by a lock file nobody holds any more (and which file).
#pragma once

#include <QString>
#include <QStringList>

namespace PortDiagnosis {

enum class Kind {
    Unknown,      // opened fine now, or a reason not told apart here
    Missing,      // no such device
    Permission,   // this user may not read and write it
    Busy,         // another program holds it
};

struct Finding {
    Kind kind = Kind::Unknown;
    QString path;        // the device path looked at
    QString group;       // Permission: the group that owns the device ("dialout")
    QString owner;       // Permission: the user that owns it ("root")
    int mode = 0;        // Permission: its permission bits (0660)
    // Permission: members of `group` may read and write the device, and the
    // group is not root's, so joining it is the way in.  Never advised
    // otherwise: a group whose bits grant nothing, or root's, is no answer.
    bool groupGrants = false;
    // Permission: the bits already let this process in (an access control
    // list or a security policy refuses it), so no group would help.
    bool modeAllows = false;
    QString user;        // Permission: this user's login name
    qint64 pid = 0;      // Busy: the holding process, 0 when not found
    QString program;     // Busy: its name, when found
    // Busy, no holder found: a lock file for the device that holds nobody,
    // either naming a process that has ended (`stalePid`) or empty (naming
    // none, `stalePid` 0).  It may be deleted.
    QString staleLock;
    qint64 stalePid = 0;
};

// The folders serial lock files are looked for in (/var/lock, /run/lock, ...).
QStringList lockFolders();

// Looks at the device a port name names (a name such as ttyUSB0 is taken
// from /dev) after an open failed.  `systemError` is the open's own text;
// lock files are looked for in `folders`.
Finding diagnose(const QString &portName, const QString &systemError, const QStringList &folders = lockFolders());

// The process (other than this one) that has `devicePath` open, found through
// the serial lock files in `folders`, else through /proc; 0 when none is seen.
qint64 holdingProcess(const QString &devicePath, QString *program = nullptr, const QStringList &folders = lockFolders());

// A process's name: /proc/PID/comm, which the kernel cuts to 15 characters,
// whole again from the program named on its command line.
QString processName(qint64 pid);

// Permission: who may open the device when no group grants it: its owner
// when the owner's bits allow it, and root ("root" alone, or "bob", "root").
QStringList whoMayOpen(const Finding &finding);

// The advice in English for tlctl; empty for Kind::Unknown.
QString advice(const Finding &finding);

} // namespace PortDiagnosis

// Why a serial port would not open, in terms a technician can act on: no
// such device, no permission (and which group grants it, or that none does),
// or in use by another program (and which one, where it can be found).
#pragma once

#include <QString>

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
};

// Looks at the device a port name names (a name such as ttyUSB0 is taken
// from /dev) after an open failed.  `systemError` is the open's own text.
Finding diagnose(const QString &portName, const QString &systemError);

// The process (other than this one) that has `devicePath` open, found through
// the serial lock files, else through /proc; 0 when none is seen.
qint64 holdingProcess(const QString &devicePath, QString *program = nullptr);

// Permission: who may open the device when no group grants it: its owner
// when the owner's bits allow it, and root ("root" alone, or "bob", "root").
QStringList whoMayOpen(const Finding &finding);

// The advice in English for tlctl; empty for Kind::Unknown.
QString advice(const Finding &finding);

} // namespace PortDiagnosis

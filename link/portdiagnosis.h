// Why a serial port would not open, in terms a technician can act on: no
// such device, no permission (and which group grants it), or in use by
// another program (and which one, where it can be found).
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

// The advice in English for tlctl; empty for Kind::Unknown.
QString advice(const Finding &finding);

} // namespace PortDiagnosis

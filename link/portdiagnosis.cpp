#include "portdiagnosis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PortDiagnosis {

namespace {

QString devicePathOf(const QString &portName)
{
    if (portName.contains(QLatin1Char('/')))
        return portName;
    return QStringLiteral("/dev/") + portName;
}

// The names of a user and of a group.  The reentrant look-ups: several
// lines may be opened, and fail, on threads of their own at once, and
// getpwuid() and getgrgid() hand every caller the same buffer.  Empty when
// there is no such user or group.
QString userName(uid_t uid)
{
    QByteArray buffer(1024, '\0');
    passwd entry {};
    passwd *found = nullptr;
    int rc = 0;
    while ((rc = ::getpwuid_r(uid, &entry, buffer.data(), size_t(buffer.size()), &found)) == ERANGE
           && buffer.size() < (1 << 20))
        buffer.resize(buffer.size() * 2);
    return rc == 0 && found ? QString::fromLocal8Bit(found->pw_name) : QString();
}

QString groupName(gid_t gid)
{
    QByteArray buffer(1024, '\0');
    group entry {};
    group *found = nullptr;
    int rc = 0;
    while ((rc = ::getgrgid_r(gid, &entry, buffer.data(), size_t(buffer.size()), &found)) == ERANGE
           && buffer.size() < (1 << 20))
        buffer.resize(buffer.size() * 2);
    return rc == 0 && found ? QString::fromLocal8Bit(found->gr_name) : QString();
}

bool otherLiveProcess(qint64 pid)
{
    return pid > 0 && pid != qint64(::getpid()) && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// Lock files in the UUCP style that serial programs (Qt's among them) leave:
// LCK..ttyUSB0 holding the owner's process id, as text or as a binary int.
struct LockLook {
    qint64 pid = 0;        // a live process (not this one) that holds the device
    QString stale;         // else: a lock file that holds nobody
    qint64 stalePid = 0;   // the ended process it names, 0 when it names none
};

LockLook lookAtLocks(const QString &devicePath, const QStringList &folders)
{
    // ttyUSB0 -> LCK..ttyUSB0; a deeper device (/dev/pts/3) has its
    // slashes turned into underscores (LCK..pts_3).
    QStringList names{QStringLiteral("LCK..") + QFileInfo(devicePath).fileName()};
    if (devicePath.startsWith(QLatin1String("/dev/")))
        names << QStringLiteral("LCK..") + devicePath.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    names.removeDuplicates();
    LockLook look;
    for (const QString &folder : folders) {
        for (const QString &name : names) {
            const QString path = QDir(folder).filePath(name);
            QFile lock(path);
            if (!lock.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = lock.read(64);
            bool ok = false;
            qint64 pid = text.split('\n').value(0).trimmed().toLongLong(&ok);
            if (!ok && text.size() == 4) {
                qint32 binary = 0;
                std::memcpy(&binary, text.constData(), 4);
                pid = binary;
                ok = true;
            }
            if (!ok || pid <= 0)
                pid = 0;
            if (pid == qint64(::getpid()))
                continue;   // this program's own
            if (otherLiveProcess(pid)) {
                look.pid = pid;
                return look;
            }
            // A lock left by a program that has ended, or naming none,
            // holds nobody: the first such is told of.
            if (look.stale.isEmpty()) {
                look.stale = path;
                look.stalePid = pid;
            }
        }
    }
    return look;
}

// A process whose open files include the device (only processes this user
// may look into are seen).
qint64 procOwner(const QString &devicePath)
{
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    if (target.isEmpty())
        return 0;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : pids) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == qint64(::getpid()))
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        const QStringList fds = QDir(fdDir).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : fds) {
            if (QFile::symLinkTarget(fdDir + QLatin1Char('/') + fd) == target)
                return pid;
        }
    }
    return 0;
}

// The bits as chmod takes them: "0660".
QString modeText(int mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

bool inGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i) {
        if (groups[i] == gid)
            return true;
    }
    return false;
}

QString loginName()
{
    const QString name = userName(::getuid());
    return name.isEmpty() ? qEnvironmentVariable("USER") : name;
}

} // namespace

QStringList lockFolders()
{
    // Where Qt's serial port and the UUCP-style programs put them.
    return {QStringLiteral("/var/lock"),       QStringLiteral("/run/lock"),       QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"), QStringLiteral("/var/spool/uucp"), QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp"),         QStringLiteral("/var/lock/lockdev")};
}

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    const QString cut = QString::fromLocal8Bit(comm.readAll()).trimmed();
    // The kernel keeps 15 characters of the name: "tl-configuratio".  The
    // program on the command line, when its name begins so, is the whole.
    if (cut.size() < 15)
        return cut;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!cmdline.open(QIODevice::ReadOnly))
        return cut;
    const QByteArray first = cmdline.read(4096).split('\0').value(0);
    const QString whole = QFileInfo(QString::fromLocal8Bit(first)).fileName();
    return whole.startsWith(cut) ? whole : cut;
}

qint64 holdingProcess(const QString &devicePath, QString *program, const QStringList &folders)
{
    // The lock file names the program that opened the port to use it; a
    // process merely holding the device open (a pseudo-terminal's other
    // end, say) is only the next best answer.
    qint64 pid = lookAtLocks(devicePath, folders).pid;
    if (pid == 0)
        pid = procOwner(devicePath);
    if (program)
        *program = pid ? processName(pid) : QString();
    return pid;
}

Finding diagnose(const QString &portName, const QString &systemError, const QStringList &folders)
{
    Finding f;
    if (portName.trimmed().isEmpty())
        return f;   // no port chosen: nothing to look at
    f.path = devicePathOf(portName);
    const QByteArray path = QFile::encodeName(f.path);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        f.kind = Kind::Missing;
        return f;
    }
    if (::access(path.constData(), R_OK | W_OK) != 0) {
        f.kind = Kind::Permission;
        f.group = groupName(st.st_gid);
        f.owner = userName(st.st_uid);
        if (f.owner.isEmpty())
            f.owner = QString::number(st.st_uid);
        f.mode = int(st.st_mode & 07777);
        const auto both = [&st](mode_t r, mode_t w) { return (st.st_mode & (r | w)) == (r | w); };
        const bool groupRw = both(S_IRGRP, S_IWGRP);
        f.groupGrants = groupRw && st.st_gid != 0 && !f.group.isEmpty();
        f.modeAllows = both(S_IROTH, S_IWOTH) || (st.st_uid == ::getuid() && both(S_IRUSR, S_IWUSR))
            || (groupRw && inGroup(st.st_gid));
        f.user = loginName();
        return f;
    }
    // The device may be used, so the open failed on its state: another
    // program holding it (its exclusive mode or its lock file), or a lock
    // file that nobody holds any more.
    const LockLook look = lookAtLocks(f.path, folders);
    f.pid = look.pid ? look.pid : procOwner(f.path);
    if (f.pid != 0) {
        f.program = processName(f.pid);
    } else if (!look.stale.isEmpty()) {
        f.staleLock = look.stale;
        f.stalePid = look.stalePid;
    }
    if (f.pid != 0 || !f.staleLock.isEmpty() || systemError.contains(QLatin1String("busy"), Qt::CaseInsensitive)
        || systemError.contains(QLatin1String("lock"), Qt::CaseInsensitive))
        f.kind = Kind::Busy;
    return f;
}

QStringList whoMayOpen(const Finding &f)
{
    const bool ownerRw = (f.mode & 0600) == 0600;
    if (ownerRw && !f.owner.isEmpty() && f.owner != QLatin1String("root"))
        return {f.owner, QStringLiteral("root")};
    return {QStringLiteral("root")};
}

QString advice(const Finding &f)
{
    switch (f.kind) {
    case Kind::Unknown:
        return QString();
    case Kind::Missing:
        return QStringLiteral("%1 does not exist; check the cable and the port name (tlctl ports lists them)")
            .arg(f.path);
    case Kind::Permission: {
        const QString user = f.user.isEmpty() ? QStringLiteral("$USER") : f.user;
        const QString owned = QStringLiteral("owner %1, group %2, mode %3")
                                  .arg(f.owner, f.group.isEmpty() ? QStringLiteral("?") : f.group, modeText(f.mode));
        if (f.modeAllows)
            return QStringLiteral("permission denied: %1 (%2) is refused to %3 by more than its mode (an access "
                                  "control list or a security policy); ask the administrator")
                .arg(f.path, owned, user);
        if (f.groupGrants)
            return QStringLiteral("permission denied: %1 belongs to group %2 and %3 is not allowed to use it; add the "
                                  "user to the group with `sudo usermod -aG %2 %3`, then log out and back in")
                .arg(f.path, f.group, user);
        return QStringLiteral("permission denied: only %1 may open %2 (%3); ask the administrator to give the "
                              "port to a group such as dialout with mode 0660 (a udev rule), or use another port")
            .arg(whoMayOpen(f).join(QStringLiteral(" and ")), f.path, owned);
    }
    case Kind::Busy:
        if (f.pid != 0)
            return QStringLiteral("%1 is in use by another program: %2 (process %3); close it and try again")
                .arg(f.path, f.program.isEmpty() ? QStringLiteral("?") : f.program)
                .arg(f.pid);
        if (!f.staleLock.isEmpty() && f.stalePid != 0)
            return QStringLiteral("%1 is locked by a stale lock file, %2: process %3 that made it has ended; the file "
                                  "may be deleted (sudo rm %2), then try again")
                .arg(f.path, f.staleLock)
                .arg(f.stalePid);
        if (!f.staleLock.isEmpty())
            return QStringLiteral("%1 is locked by an empty lock file, %2, that names no process; the file may be "
                                  "deleted (sudo rm %2), then try again")
                .arg(f.path, f.staleLock);
        return QStringLiteral("%1 is in use by another program; close it and try again").arg(f.path);
    }
    return QString();
}

} // namespace PortDiagnosis

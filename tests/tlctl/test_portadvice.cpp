// A port that will not open is explained: in use by another program (and
// which), not allowed for this user (and which group allows it, or who alone
// may open it), or missing.
#include "programlink.h"
#include "connect_com_port.h"
#include "deviceops.h"
#include "portdiagnosis.h"
#include "simprocess.h"
#include "tlctlrun.h"

#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPortAdvice : public QObject
{
    Q_OBJECT
private slots:
    void busyPortNamesTheProgramHoldingIt()
    {
        SimProcess sim;
        QVERIFY(sim.start());
        QProcess holder;
        holder.setProcessEnvironment(tlctlEnvironment({}));
        holder.start(tlctlPath(), {QStringLiteral("--port"), sim.portPath(), QStringLiteral("watch"),
                                   QStringLiteral("--interval"), QStringLiteral("0.5"), QStringLiteral("--count"),
                                   QStringLiteral("600")});
        QVERIFY(holder.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine(), 30000);   // it has the port
        const QString pid = QString::number(holder.processId());

        const TlctlRun second = runTlctl({QStringLiteral("--port"), sim.portPath(), QStringLiteral("identify")});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains(QStringLiteral("is in use by another program: tlctl (process %1)").arg(pid)),
                 qPrintable(second.err));

        QVERIFY(!DeviceOps::open(command, sim.portPath()));
        const QString box = Connect_com_port::openFailureText(sim.portPath(), command.errorString());
        QVERIFY2(box.startsWith(QStringLiteral("Не открывает COM port\n\n")), qPrintable(box));
        QVERIFY2(box.contains(QStringLiteral("занят другой программой: tlctl (процесс %1)").arg(pid)),
                 qPrintable(box));

        holder.kill();
        holder.waitForFinished(10000);
        QVERIFY(DeviceOps::open(command, sim.portPath()));   // free again
        command.closePort();
    }

    // Joining a group is advised only when the group's bits grant reading
    // and writing and the group is not root's; otherwise the advice says who
    // alone may open the port.
    void permissionAdviceFollowsTheModeBits()
    {
        if (::getuid() != 0)
            QSKIP("needs root, to run tlctl as another user on a port that user may not open");
        const group *dialout = ::getgrnam("dialout");
        QVERIFY(dialout);
        SimProcess sim;
        QVERIFY(sim.start());
        const QByteArray pty = QFile::encodeName(sim.portPath());
        const auto asNobody = [&sim]() {
            QProcess p;
            p.setProcessEnvironment(tlctlEnvironment({}));
            p.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"), QStringLiteral("--clear-groups"),
                     tlctlPath(), QStringLiteral("--port"), sim.portPath(), QStringLiteral("identify")});
            p.waitForFinished(60000);
            return qMakePair(p.exitCode(), QString::fromUtf8(p.readAllStandardError()));
        };
        const QString onlyRoot = QStringLiteral("permission denied: only root may open %1 (owner root, group %2, mode %3);")
                                     .arg(sim.portPath());

        // The pseudo-terminal as made: group tty may only write to it.
        QCOMPARE(::chmod(pty.constData(), 0620), 0);
        auto r = asNobody();
        if (r.second.contains(QStringLiteral("Permission denied")) && !r.second.contains(QStringLiteral("tlctl:")))
            QSKIP("user nobody cannot run the built tlctl here (its folder is not readable)");
        QCOMPARE(r.first, 3);
        QVERIFY2(r.second.contains(onlyRoot.arg(QFileInfo(sim.portPath()).group(), QStringLiteral("0620"))),
                 qPrintable(r.second));
        QVERIFY2(!r.second.contains(QStringLiteral("usermod")), qPrintable(r.second));

        // Root's group: never advised, though its bits grant everything.
        QCOMPARE(::chown(pty.constData(), 0, 0), 0);
        QCOMPARE(::chmod(pty.constData(), 0660), 0);
        r = asNobody();
        QVERIFY2(r.second.contains(onlyRoot.arg(QStringLiteral("root"), QStringLiteral("0660"))), qPrintable(r.second));
        QVERIFY2(!r.second.contains(QStringLiteral("usermod")), qPrintable(r.second));

        // dialout with read and write: join it.
        QCOMPARE(::chown(pty.constData(), 0, dialout->gr_gid), 0);
        r = asNobody();
        QVERIFY2(r.second.contains(QStringLiteral("permission denied: %1 belongs to group dialout and nobody is not "
                                                  "allowed to use it; add the user to the group with `sudo usermod "
                                                  "-aG dialout nobody`")
                                       .arg(sim.portPath())),
                 qPrintable(r.second));

        // The connection dialog gives the same advice.
        PortDiagnosis::Finding f;
        f.kind = PortDiagnosis::Kind::Permission;
        f.path = QStringLiteral("/dev/ttyS0");
        f.owner = QStringLiteral("root");
        f.group = QStringLiteral("tty");
        f.mode = 0620;
        f.user = QStringLiteral("nobody");
        QString box = Connect_com_port::openFailureText(f);
        QVERIFY2(box.contains(QStringLiteral("Нет прав на порт /dev/ttyS0: открыть его может только root (владелец root, "
                                             "группа tty, права 0620)")),
                 qPrintable(box));
        QVERIFY2(!box.contains(QStringLiteral("usermod")), qPrintable(box));
        f.group = QStringLiteral("dialout");
        f.mode = 0660;
        f.groupGrants = true;
        box = Connect_com_port::openFailureText(f);
        QVERIFY2(box.contains(QStringLiteral("sudo usermod -aG dialout nobody")), qPrintable(box));
    }

    // A lock file whose process has ended, or that names none, is told of
    // as such (it may be deleted) instead of blaming a program; one held by
    // a live program names it whole, though the kernel cuts its name.
    void staleAndHeldLockFiles()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString locks = dir.filePath(QStringLiteral("lock"));
        QVERIFY(QDir().mkpath(locks));
        // A file stands for the device: it exists and may be opened.
        const QString device = dir.filePath(QStringLiteral("ttyTL02stale"));
        QFile dev(device);
        QVERIFY(dev.open(QIODevice::WriteOnly));
        dev.close();
        const QString lockPath = QDir(locks).filePath(QStringLiteral("LCK..ttyTL02stale"));
        auto writeLock = [&lockPath](const QByteArray &text) {
            QFile lock(lockPath);
            return lock.open(QIODevice::WriteOnly | QIODevice::Truncate) && lock.write(text) == text.size();
        };

        // No lock file: nothing told of (an unexplained failure stays so).
        PortDiagnosis::Finding f = PortDiagnosis::diagnose(device, QString(), {locks});
        QCOMPARE(f.kind, PortDiagnosis::Kind::Unknown);

        // A process that has ended: a child run to its end gives a pid that is gone.
        QProcess gone;
        gone.start(QStringLiteral("true"), QStringList());
        QVERIFY(gone.waitForStarted(10000));
        const qint64 deadPid = gone.processId();
        QVERIFY(deadPid > 0);
        QVERIFY(gone.waitForFinished(10000));
        QVERIFY(writeLock(QByteArray::number(deadPid).rightJustified(10, ' ') + '\n'));
        f = PortDiagnosis::diagnose(device, QStringLiteral("Permission error while locking the device"), {locks});
        if (QFileInfo::exists(QStringLiteral("/proc/%1").arg(deadPid)))
            QSKIP("the ended child's process id is in use again");
        QCOMPARE(f.kind, PortDiagnosis::Kind::Busy);
        QCOMPARE(f.pid, qint64(0));
        QCOMPARE(f.staleLock, lockPath);
        QCOMPARE(f.stalePid, deadPid);
        QString box = Connect_com_port::openFailureText(f);
        QVERIFY2(box.contains(QStringLiteral("закрыт файлом блокировки %1, но процесс %2").arg(lockPath).arg(deadPid)),
                 qPrintable(box));
        QVERIFY2(box.contains(QStringLiteral("файл устарел, и его можно удалить (sudo rm %1)").arg(lockPath)), qPrintable(box));
        QVERIFY2(!box.contains(QStringLiteral("занят другой программой")), qPrintable(box));
        QVERIFY2(PortDiagnosis::advice(f).contains(QStringLiteral("stale lock file, %1: process %2").arg(lockPath).arg(deadPid)),
                 qPrintable(PortDiagnosis::advice(f)));

        // Empty: it names nobody.
        QVERIFY(writeLock(QByteArray()));
        f = PortDiagnosis::diagnose(device, QString(), {locks});
        QCOMPARE(f.kind, PortDiagnosis::Kind::Busy);
        QCOMPARE(f.staleLock, lockPath);
        QCOMPARE(f.stalePid, qint64(0));
        box = Connect_com_port::openFailureText(f);
        QVERIFY2(box.contains(QStringLiteral("закрыт пустым файлом блокировки %1").arg(lockPath)), qPrintable(box));
        QVERIFY2(PortDiagnosis::advice(f).contains(QStringLiteral("empty lock file, %1, that names no process").arg(lockPath)),
                 qPrintable(PortDiagnosis::advice(f)));

        // A live program with a long name: the kernel keeps "tl-configuratio",
        // the box names it whole.
        const QString program = dir.filePath(QStringLiteral("tl-configuration-holder"));
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
        QProcess holder;
        holder.start(program, {QStringLiteral("60")});
        QVERIFY(holder.waitForStarted(10000));
        QFile comm(QStringLiteral("/proc/%1/comm").arg(holder.processId()));
        QVERIFY(comm.open(QIODevice::ReadOnly));
        QCOMPARE(comm.readAll().trimmed(), QByteArray("tl-configuratio"));
        QVERIFY(writeLock(QByteArray::number(holder.processId()) + '\n'));
        f = PortDiagnosis::diagnose(device, QString(), {locks});
        QCOMPARE(f.kind, PortDiagnosis::Kind::Busy);
        QCOMPARE(f.pid, holder.processId());
        QCOMPARE(f.program, QStringLiteral("tl-configuration-holder"));
        QVERIFY(f.staleLock.isEmpty());
        box = Connect_com_port::openFailureText(f);
        QVERIFY2(box.contains(QStringLiteral("занят другой программой: tl-configuration-holder (процесс %1)")
                                  .arg(holder.processId())),
                 qPrintable(box));
        // The same held as a 4-byte binary number.
        const qint32 binary = qint32(holder.processId());
        QVERIFY(writeLock(QByteArray(reinterpret_cast<const char *>(&binary), 4)));
        QCOMPARE(PortDiagnosis::holdingProcess(device, nullptr, {locks}), holder.processId());
        holder.kill();
        holder.waitForFinished(10000);
    }

    void missingPortIsSaidSo()
    {
        const TlctlRun r = runTlctl({QStringLiteral("--port"), QStringLiteral("/dev/ttyTL02-none"),
                                     QStringLiteral("identify")});
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(QStringLiteral("/dev/ttyTL02-none does not exist")), qPrintable(r.err));
        QVERIFY(Connect_com_port::openFailureText(QStringLiteral("/dev/ttyTL02-none"), QString())
                    .endsWith(QStringLiteral("Порт /dev/ttyTL02-none не найден. Проверьте кабель и имя порта.")));
    }
};

QTEST_MAIN(TestPortAdvice)
#include "test_portadvice.moc"

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

// A port that will not open is explained: in use by another program (and
// which), not allowed for this user (and which group allows it), or missing.
#include "command.h"
#include "connect_com_port.h"
#include "deviceops.h"
#include "simprocess.h"
#include "tlctlrun.h"

#include <QtTest>

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

        QVERIFY(!DeviceOps::open(sim.portPath()));
        const QString box = Connect_com_port::openFailureText(sim.portPath(), command.errorString());
        QVERIFY2(box.startsWith(QStringLiteral("Не открывает COM port\n\n")), qPrintable(box));
        QVERIFY2(box.contains(QStringLiteral("занят другой программой: tlctl (процесс %1)").arg(pid)),
                 qPrintable(box));

        holder.kill();
        holder.waitForFinished(10000);
        QVERIFY(DeviceOps::open(sim.portPath()));   // free again
        command.closePort();
    }

    void portThisUserMayNotUseNamesItsGroup()
    {
        if (::getuid() != 0)
            QSKIP("needs root, to run tlctl as another user on a port that user may not open");
        SimProcess sim;
        QVERIFY(sim.start());
        // The simulator's pseudo-terminal is root's: user nobody may not open it.
        QProcess p;
        p.setProcessEnvironment(tlctlEnvironment({}));
        p.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                            QStringLiteral("--clear-groups"), tlctlPath(), QStringLiteral("--port"),
                                            sim.portPath(), QStringLiteral("identify")});
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (err.contains(QStringLiteral("Permission denied")) && !err.contains(QStringLiteral("tlctl:")))
            QSKIP("user nobody cannot run the built tlctl here (its folder is not readable)");
        QCOMPARE(p.exitCode(), 3);
        QFileInfo pty(sim.portPath());
        QVERIFY2(err.contains(QStringLiteral("permission denied: %1 belongs to group %2 and nobody is not allowed"
                                             " to use it; add the user to the group with `sudo usermod -aG %2 nobody`")
                                  .arg(sim.portPath(), pty.group())),
                 qPrintable(err));
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

// tlctl, the built binary, against tl02-sim over a pseudo-terminal: what each
// command prints, the requests it puts on the line, what ends up in the
// device, refusals and exit codes.
#include "simprocess.h"
#include "testdata.h"
#include "tlctlrun.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <csignal>

namespace {

const QMap<QString, QString> asUser = password(QStringLiteral("7529"));

quint16 be16(const QByteArray &f, int at) { return quint16(quint8(f[at]) << 8 | quint8(f[at + 1])); }

// Function-16 frames from 0x1000 (block writes) among the frames.
QList<QByteArray> blockWrites(const QList<QByteArray> &frames)
{
    QList<QByteArray> out;
    for (const QByteArray &f : frames)
        if (f.size() >= 7 && quint8(f[1]) == 0x10 && be16(f, 2) == 0x1000)
            out << f;
    return out;
}


QString shellQuoted(const QString &word)
{
    QString q = word;
    q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

// tlctl on a terminal of its own: script(1) gives it a pseudo-terminal as
// stdin, stdout and /dev/tty.  Each answer is typed only once its prompt has
// appeared; `typeAhead` is typed at once, before tlctl has even started.
struct TerminalRun {
    int code = -1;
    bool finished = false;
    QByteArray seen;   // everything the terminal showed
};

TerminalRun runOnTerminal(const QStringList &args, const QMap<QString, QString> &env,
                          const QList<QPair<QByteArray, QByteArray>> &dialogue, const QByteArray &typeAhead = {})
{
    QProcess p;
    p.setProcessEnvironment(tlctlEnvironment(env));
    QStringList line{shellQuoted(tlctlPath())};
    for (const QString &a : args)
        line << shellQuoted(a);
    p.start(QStringLiteral("script"), {QStringLiteral("-qec"), line.join(QLatin1Char(' ')), QStringLiteral("/dev/null")});
    TerminalRun r;
    if (!p.waitForStarted())
        return r;
    if (!typeAhead.isEmpty())
        p.write(typeAhead);
    QElapsedTimer clock;
    clock.start();
    for (const auto &step : dialogue) {
        while (!r.seen.contains(step.first) && p.state() == QProcess::Running && clock.elapsed() < 60000) {
            p.waitForReadyRead(100);
            r.seen += p.readAll();
        }
        if (!r.seen.contains(step.first))
            break;
        p.write(step.second);
    }
    r.finished = p.waitForFinished(60000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    r.seen += p.readAll();
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// Live processes whose environment holds `mark`: a tl02-sim that tlctl
// started inherits tlctl's environment, so one left behind shows up here.
QList<qint64> processesMarked(const QByteArray &mark)
{
    QList<qint64> pids;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        QFile env(QStringLiteral("/proc/%1/environ").arg(entry));
        if (ok && env.open(QIODevice::ReadOnly) && env.readAll().split('\0').contains(mark))
            pids << pid;
    }
    return pids;
}

// Waits (generously) until no process carries `mark`; kills what is left
// so that a failing run does not leave simulators behind.
bool noneLeft(const QByteArray &mark)
{
    QElapsedTimer clock;
    clock.start();
    while (!processesMarked(mark).isEmpty() && clock.elapsed() < 5000)
        QTest::qWait(50);
    const QList<qint64> left = processesMarked(mark);
    for (qint64 pid : left)
        ::kill(pid_t(pid), SIGKILL);
    return left.isEmpty();
}

// An environment with a mark of its own for the processes of one run; when
// it goes out of scope (also on a failed check) whatever still carries the
// mark is killed.
struct MarkedEnvironment {
    const QByteArray mark = "TL_TEST_RUN=" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    QProcessEnvironment environment() const
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TL_TEST_RUN"), QString::fromLatin1(mark.mid(mark.indexOf('=') + 1)));
        return e;
    }
    ~MarkedEnvironment() { noneLeft(mark); }
};
} // namespace

class TestTlctl : public QObject
{
    Q_OBJECT
    SimProcess sim;
    QTemporaryDir dir;

    QStringList on(const QStringList &args) const { return QStringList{QStringLiteral("--port"), sim.portPath()} + args; }
    QString file(const QString &name) const { return dir.filePath(name); }

    void startSim(const QStringList &args = {})
    {
        QVERIFY(sim.start(args));
        sim.clearLog();
    }

private slots:
    void cleanup() { sim.stop(); }

    void readShowsEveryParameterAsThePagesDo()
    {
        startSim({QStringLiteral("--type"), QStringLiteral("2")});
        // Unit %LEL, two decimals, both auto-resets; threshold 1 falling at 12.50.
        sim.send(QStringLiteral("set holding 0x1008 0x0622"));
        sim.send(QStringLiteral("set holding 0x1005 0x84E2"));
        sim.send(QStringLiteral("set holding 0x1011 1500"));
        sim.send(QStringLiteral("set holding 0x100F 0xCD15"));
        sim.send(QStringLiteral("set holding 0x1010 0x075B"));
        sim.send(QStringLiteral("set input 1 65535"));
        sim.clearLog();

        const TlctlRun text = runTlctl(on({QStringLiteral("read")}));
        QCOMPARE(text.code, 0);
        QVERIFY2(text.err.isEmpty(), qPrintable(text.err));
        const QStringList expected = {
            QStringLiteral("^limit1\\s+12\\.50 %LEL\\s+0x1005\\s+34018$"),
            QStringLiteral("^limit1_direction\\s+decreasing\\s+0x1005"),
            QStringLiteral("^limit1_autoreset\\s+on\\s+0x1008\\s+1570$"),
            QStringLiteral("^limit2\\s+4\\.00 %LEL\\s+0x1006\\s+400$"),
            QStringLiteral("^discreteness\\s+X,XX\\s"),
            QStringLiteral("^trip_delay\\s+1 s\\s+0x1011\\s+1500$"),
            QStringLiteral("^serial_number\\s+123456789\\s"),
            QStringLiteral("^board_version\\s+1\\.23\\s"),
            QStringLiteral("^output\\s+-0\\.01 mV\\s+input 1\\s+65535$"),
        };
        for (const QString &re : expected)
            QVERIFY2(text.out.contains(QRegularExpression(re, QRegularExpression::MultilineOption)),
                     qPrintable(re + QStringLiteral("\n") + text.out));

        // The program's read order: type first, then 43/43/3/4.
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 5);
        QCOMPARE(rx[0].left(6), QByteArray::fromHex("01040000000A"));
        QCOMPARE(rx[1].left(5), QByteArray::fromHex("012B000100"));
        QCOMPARE(rx[2].left(5), QByteArray::fromHex("012B000200"));
        QCOMPARE(rx[3].left(6), QByteArray::fromHex("010310000030"));
        QCOMPARE(rx[4].left(6), QByteArray::fromHex("01040000000A"));

        const TlctlRun js = runTlctl(on({QStringLiteral("read"), QStringLiteral("--json")}));
        QCOMPARE(js.code, 0);
        const QJsonObject root = js.json();
        QCOMPARE(root.value(QStringLiteral("device_type")).toInt(), 2);
        QCOMPARE(root.value(QStringLiteral("write_count")).toInt(), 48);
        QCOMPARE(root.value(QStringLiteral("identification")).toObject().value(QStringLiteral("vendor")).toString(),
                 QStringLiteral("Velta"));
        const QJsonObject params = root.value(QStringLiteral("parameters")).toObject();
        const QJsonObject limit1 = params.value(QStringLiteral("limit1")).toObject();
        QCOMPARE(limit1.value(QStringLiteral("value")).toDouble(), 12.5);
        QCOMPARE(limit1.value(QStringLiteral("text")).toString(), QStringLiteral("12.50"));
        QCOMPARE(limit1.value(QStringLiteral("unit")).toString(), QStringLiteral("%LEL"));
        QCOMPARE(limit1.value(QStringLiteral("raw")).toInt(), 0x84E2);
        QCOMPARE(limit1.value(QStringLiteral("register")).toInt(), 0x1005);
        QCOMPARE(params.value(QStringLiteral("limit2_autoreset")).toObject().value(QStringLiteral("value")).toBool(), true);
        QCOMPARE(params.value(QStringLiteral("trip_delay")).toObject().value(QStringLiteral("value")).toInt(), 1);
        QCOMPARE(params.value(QStringLiteral("serial_number")).toObject().value(QStringLiteral("value")).toInt(), 123456789);
        QCOMPARE(params.value(QStringLiteral("unit")).toObject().value(QStringLiteral("value")).toString(), QStringLiteral("%LEL"));
        const QJsonObject output = root.value(QStringLiteral("live")).toObject().value(QStringLiteral("output")).toObject();
        QCOMPARE(output.value(QStringLiteral("value")).toDouble(), -0.01);
        QCOMPARE(output.value(QStringLiteral("unit")).toString(), QStringLiteral("mV"));
        // Every parameter and every live value is there, each with the same keys.
        QCOMPARE(params.size(), 31);
        QCOMPARE(root.value(QStringLiteral("live")).toObject().size(), 10);
        const QStringList keys = {QStringLiteral("raw"), QStringLiteral("register"), QStringLiteral("space"),
                                  QStringLiteral("text"), QStringLiteral("unit"), QStringLiteral("value")};
        for (const QJsonValue &v : params)
            QCOMPARE(v.toObject().keys(), keys);
    }

    void oldFirmwareUses27Registers()
    {
        startSim({QStringLiteral("--version"), QStringLiteral("1.05")});
        const TlctlRun r = runTlctl(on({QStringLiteral("read"), QStringLiteral("--json")}));
        QCOMPARE(r.code, 0);
        const QJsonObject root = r.json();
        QCOMPARE(root.value(QStringLiteral("write_count")).toInt(), 27);
        // 0x101B and 0x1020 lie beyond the 27 registers this firmware has.
        const QJsonObject params = root.value(QStringLiteral("parameters")).toObject();
        QVERIFY(!params.contains(QStringLiteral("board_version")));
        QVERIFY(!params.contains(QStringLiteral("command_word")));
        QVERIFY(params.contains(QStringLiteral("simulation_value")));

        sim.clearLog();
        QCOMPARE(runTlctl(on({QStringLiteral("set"), QStringLiteral("dead_zone=2.5"), QStringLiteral("--user"),
                              QStringLiteral("User")}), asUser).code, 0);
        const QList<QByteArray> writes = blockWrites(sim.rxFrames());
        QCOMPARE(writes.size(), 1);
        QCOMPARE(be16(writes[0], 4), quint16(27));
        QCOMPARE(sim.holding(0x1013), 25);
    }

    void setWritesReadsBackAndReadShowsIt()
    {
        startSim();
        sim.clearLog();
        const TlctlRun r = runTlctl(on({QStringLiteral("set"), QStringLiteral("limit1=12.34"),
                                        QStringLiteral("discreteness=X,XX"), QStringLiteral("limit2_direction=decreasing"),
                                        QStringLiteral("limit2_autoreset=on"), QStringLiteral("hysteresis=0.5"),
                                        QStringLiteral("dead_zone=1"), QStringLiteral("trip_delay=7"),
                                        QStringLiteral("reset_delay=20"), QStringLiteral("unit=%VOL"),
                                        QStringLiteral("output_type=3Options"), QStringLiteral("net_address=17"),
                                        QStringLiteral("range_max=500"), QStringLiteral("--user"), QStringLiteral("User")}),
                                    asUser);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        // Discreteness is applied before limit1, whatever the order given.
        QVERIFY2(r.out.contains(QStringLiteral("limit1: 20.0 PPM -> 12.34 %VOL")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("the device took every value")));

        QCOMPARE(sim.holding(0x1005), 1234);
        QCOMPARE(sim.holding(0x1006), 0x8000 | 4000);         // 40.0 kept at two decimals, direction set
        QCOMPARE(sim.holding(0x1008), 0x0010 - 0x0010 + 0x0020 + 3 + 0x0400);
        QCOMPARE(sim.holding(0x1007), 50);
        QCOMPARE(sim.holding(0x1013), 100);
        QCOMPARE(sim.holding(0x1011), 7000);
        QCOMPARE(sim.holding(0x1012), 20000);
        QCOMPARE(sim.holding(0x1009), 2);
        QCOMPARE(sim.holding(0x100E) & 0xFF, 17);
        QCOMPARE(sim.holding(0x1004), 50000);
        // One block write of 48 registers, then the whole read again.
        const QList<QByteArray> rx = sim.rxFrames();
        const QList<QByteArray> writes = blockWrites(rx);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(be16(writes[0], 4), quint16(48));
        QCOMPARE(quint8(rx.last()[1]), quint8(4));

        const QJsonObject params = runTlctl(on({QStringLiteral("read"), QStringLiteral("--json")}))
                                       .json().value(QStringLiteral("parameters")).toObject();
        auto value = [&](const char *name) { return params.value(QLatin1String(name)).toObject().value(QStringLiteral("value")); };
        QCOMPARE(value("limit1").toDouble(), 12.34);
        QCOMPARE(value("limit2").toDouble(), 40.0);
        QCOMPARE(value("limit2_direction").toString(), QStringLiteral("decreasing"));
        QCOMPARE(value("unit").toString(), QStringLiteral("%VOL"));
        QCOMPARE(value("discreteness").toString(), QStringLiteral("X,XX"));
        QCOMPARE(value("reset_delay").toInt(), 20);
        QCOMPARE(value("output_type").toString(), QStringLiteral("3Options"));
        QCOMPARE(value("net_address").toInt(), 17);

        // The top of the threshold range, with its direction bit.
        QCOMPARE(runTlctl(on({QStringLiteral("set"), QStringLiteral("limit1=327.67"),
                              QStringLiteral("limit1_direction=decreasing"), QStringLiteral("--user"),
                              QStringLiteral("User")}), asUser).code, 0);
        QCOMPARE(sim.holding(0x1005), 0xFFFF);
        // Threshold and range are judged together: lowered side by side, the
        // threshold stays within the range.
        QCOMPARE(runTlctl(on({QStringLiteral("set"), QStringLiteral("range_max=300"), QStringLiteral("limit1=250"),
                              QStringLiteral("--user"), QStringLiteral("User")}), asUser).code, 0);
        QCOMPARE(sim.holding(0x1004), 30000);
        QCOMPARE(sim.holding(0x1005), 0x8000 | 25000);
    }

    void setRefusesBadValuesAndWritesNothing_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("says");
        QTest::newRow("above the threshold range") << QStringList{"limit1=3276.8"} << "out of range (0 to 3276.7 PPM";
        QTest::newRow("finer than the discreteness") << QStringList{"limit1=20.05"} << "more decimals";
        QTest::newRow("negative") << QStringList{"hysteresis=-1"} << "out of range";
        QTest::newRow("delay above 20 s") << QStringList{"trip_delay=21"} << "out of range (0 to 20)";
        QTest::newRow("delay in fractions") << QStringList{"trip_delay=1.5"} << "whole number";
        QTest::newRow("unknown unit") << QStringList{"unit=ppb"} << "PPM | mg/m3 | %LEL | %VOL";
        QTest::newRow("read-only") << QStringList{"board_version=2"} << "read-only";
        QTest::newRow("unknown name") << QStringList{"colour=red"} << "unknown parameter";
        QTest::newRow("given twice") << QStringList{"limit1=1", "limit1=2"} << "twice";
        QTest::newRow("no value") << QStringList{"limit1"} << "NAME=VALUE";
        QTest::newRow("sensor current on type 1") << QStringList{"sensor_current=50"} << "type 2";
        QTest::newRow("limit in the new discreteness")
            << QStringList{"limit1=327.68", "discreteness=X,XX"} << "out of range (0 to 327.67";
        // A threshold above the upper range value (100.0 PPM here) could never
        // trip: a raised threshold, and a range lowered below a kept one.
        QTest::newRow("threshold above the range")
            << QStringList{"limit1=150"}
            << "limit1 (150.0 PPM) is above the upper range value range_max (100.0 PPM): such a threshold can never "
               "trip; nothing was written";
        QTest::newRow("range below a threshold")
            << QStringList{"range_max=30"}
            << "tlctl: limit2 (40.0 PPM) is above the upper range value range_max (30.0 PPM): such a threshold can "
               "never trip; nothing was written";
    }

    void setRefusesBadValuesAndWritesNothing()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, says);
        startSim();
        const TlctlRun r = runTlctl(on(QStringList{QStringLiteral("set")} + words
                                       + QStringList{QStringLiteral("--user"), QStringLiteral("User")}), asUser);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.oneErrorLine() && r.err.contains(says), qPrintable(r.err));
        QVERIFY(blockWrites(sim.rxFrames()).isEmpty());
        QCOMPARE(sim.holding(0x1005), 200);
    }

    void accessLevels_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("pw");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("set without login") << QStringList{"set", "limit1=25"} << QString() << 5 << "needs a login";
        QTest::newRow("wrong password") << QStringList{"set", "limit1=25", "--user", "User"} << "7530" << 5 << "refused";
        QTest::newRow("name in other case") << QStringList{"set", "limit1=25", "--user", "user"} << "7529" << 5 << "refused";
        QTest::newRow("other level's password") << QStringList{"set", "limit1=25", "--user", "Admin"} << "7529" << 5 << "refused";
        QTest::newRow("no password, no terminal") << QStringList{"set", "limit1=25", "--user", "User"} << QString() << 5
                                                  << "TLCTL_PASSWORD";
        QTest::newRow("serial as Admin") << QStringList{"set", "serial_number=1", "--user", "Admin"} << "9641" << 5
                                         << "production level";
        QTest::newRow("calibration code as User") << QStringList{"set", "adc_4ma=1", "--user", "User"} << "7529" << 5
                                                  << "production level";
        QTest::newRow("restore without login") << QStringList{"restore", "x.txt", "--yes"} << QString() << 5 << "needs a login";
        QTest::newRow("flash without login") << QStringList{"flash", "x.bin"} << QString() << 5 << "needs a login";
        QTest::newRow("factory without login") << QStringList{"factory", "store"} << QString() << 5 << "needs a login";
        QTest::newRow("serial as Velta") << QStringList{"set", "serial_number=987654321", "adc_4ma=8100", "--user", "Velta"}
                                         << "8350" << 0 << QString();
        QTest::newRow("limit as Admin") << QStringList{"set", "limit1=25", "--user", "Admin"} << "9641" << 0 << QString();
    }

    void accessLevels()
    {
        QFETCH(QStringList, words);
        QFETCH(QString, pw);
        QFETCH(int, code);
        QFETCH(QString, says);
        startSim();
        const TlctlRun r = runTlctl(on(words), pw.isNull() ? QMap<QString, QString>() : password(pw));
        QCOMPARE(r.code, code);
        if (code != 0) {
            QVERIFY2(r.oneErrorLine() && r.err.contains(says), qPrintable(r.err));
            // Refused before anything was sent.
            QVERIFY(sim.rxFrames().isEmpty());
            return;
        }
        QVERIFY(r.err.isEmpty());
        if (words.contains(QStringLiteral("serial_number=987654321"))) {
            QCOMPARE(sim.holding(0x100F) | sim.holding(0x1010) << 16, 987654321);
            QCOMPARE(sim.holding(0x1000), 8100);
        } else {
            QCOMPARE(sim.holding(0x1005), 250);
        }
    }

    void backupAndRestoreRoundTrip()
    {
        startSim();
        const QString path = file(QStringLiteral("backup.txt"));
        const TlctlRun b = runTlctl(on({QStringLiteral("backup"), path}));
        QVERIFY2(b.code == 0, qPrintable(b.err));
        const QByteArray text = readFile(path);
        // 7 lines of 20 bytes in upper-case hex, each ended by CR LF.
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines.last().isEmpty());
        for (int i = 0; i < 7; ++i)
            QVERIFY2(QRegularExpression(QStringLiteral("^[0-9A-F]{40}\r$")).match(QString::fromLatin1(lines[i])).hasMatch(),
                     lines[i].constData());
        const QByteArray image = QByteArray::fromHex(text);
        QCOMPARE(image.size(), 140);
        QCOMPARE(image.mid(0, 2), QByteArray::fromHex("1000"));      // Config 0x0010
        QCOMPARE(image.mid(56, 4), QByteArray::fromHex("C8009001"));  // Limit1 200, Limit2 400
        QCOMPARE(image.mid(88, 2), QByteArray::fromHex("0A00"));      // Scale 10, as the pages keep it
        QCOMPARE(image.mid(102, 4), QByteArray::fromHex("67120000")); // serial 4711

        // The device drifts; the backup brings it back.
        sim.send(QStringLiteral("set holding 0x1005 999"));
        sim.send(QStringLiteral("set holding 0x1008 0x0021"));
        sim.send(QStringLiteral("set holding 0x1012 1234"));
        sim.clearLog();
        const TlctlRun r = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("User"), QStringLiteral("--yes")}),
                                    asUser);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(sim.holding(0x1005), 200);
        QCOMPARE(sim.holding(0x1008), 0x0010);
        QCOMPARE(sim.holding(0x1012), 5000);
        QCOMPARE(blockWrites(sim.rxFrames()).size(), 1);

        // The reader's tolerance: ":" and lower case, LF only.
        const QByteArray loose = ":" + text.toLower().replace("\r\n", "\n:");
        const QString loosePath = file(QStringLiteral("loose.txt"));
        QVERIFY(writeFile(loosePath, loose));
        sim.send(QStringLiteral("set holding 0x1005 999"));
        QCOMPARE(runTlctl(on({QStringLiteral("restore"), loosePath, QStringLiteral("--user"), QStringLiteral("User"), QStringLiteral("--yes")}),
                          asUser).code, 0);
        QCOMPARE(sim.holding(0x1005), 200);
    }

    void restoreRefusesBadFilesAndSendsNothing()
    {
        startSim();
        const QString path = file(QStringLiteral("full.txt"));
        QCOMPARE(runTlctl(on({QStringLiteral("backup"), path})).code, 0);
        QByteArray text = readFile(path);
        const QString shortPath = file(QStringLiteral("short.txt"));
        QVERIFY(writeFile(shortPath, text.left(text.lastIndexOf("\r\n", text.size() - 3) + 2)));
        sim.send(QStringLiteral("set holding 0x1005 999"));
        sim.clearLog();

        const TlctlRun s = runTlctl(on({QStringLiteral("restore"), shortPath, QStringLiteral("--user"),
                                        QStringLiteral("User"), QStringLiteral("--yes")}), asUser);
        QCOMPARE(s.code, 6);
        QVERIFY2(s.oneErrorLine() && s.err.contains(QStringLiteral("holds 120 of the 140 bytes")), qPrintable(s.err));
        const TlctlRun m = runTlctl(on({QStringLiteral("restore"), file(QStringLiteral("missing.txt")),
                                        QStringLiteral("--user"), QStringLiteral("User"), QStringLiteral("--yes")}), asUser);
        QCOMPARE(m.code, 6);
        QVERIFY(m.oneErrorLine());
        QVERIFY(sim.rxFrames().isEmpty());
        QCOMPARE(sim.holding(0x1005), 999);

        // A backup that cannot be written.
        const TlctlRun w = runTlctl(on({QStringLiteral("backup"), file(QStringLiteral("no/such/dir/x.txt"))}));
        QCOMPARE(w.code, 6);
        QVERIFY(w.oneErrorLine());
    }

    void restoreKeepsTheSerialNumberBelowProduction()
    {
        startSim();
        const QString path = file(QStringLiteral("other.txt"));
        QCOMPARE(runTlctl(on({QStringLiteral("backup"), path})).code, 0);
        QByteArray image = QByteArray::fromHex(readFile(path));
        image.replace(102, 4, QByteArray::fromHex("E7030000"));   // serial 999
        image.replace(56, 2, QByteArray::fromHex("2C01"));        // Limit1 300
        QVERIFY(writeFile(path, asHexLines(image.left(140))));

        const TlctlRun u = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("User"), QStringLiteral("--yes")}),
                                    asUser);
        QVERIFY2(u.code == 0, qPrintable(u.err));
        QVERIFY2(u.out.contains(QStringLiteral("serial_number      4711 (file: 999): the detector's own value")),
                 qPrintable(u.out));
        QCOMPARE(sim.holding(0x1005), 300);
        QCOMPARE(sim.holding(0x100F), 4711);

        // The serial number belongs to the detector: it is copied only when
        // asked, and only at the production level.
        const QStringList velta{QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("Velta"),
                                QStringLiteral("--yes")};
        sim.send(QStringLiteral("set holding 0x1005 200"));
        QCOMPARE(runTlctl(on(velta), password(QStringLiteral("8350"))).code, 0);
        QCOMPARE(sim.holding(0x100F), 4711);
        const TlctlRun uc = runTlctl(on({QStringLiteral("restore"), path, QStringLiteral("--user"), QStringLiteral("User"),
                                         QStringLiteral("--yes"), QStringLiteral("--clone")}), asUser);
        QVERIFY2(uc.out.contains(QStringLiteral("the level User may not change it")), qPrintable(uc.out));
        QCOMPARE(sim.holding(0x100F), 4711);
        QCOMPARE(runTlctl(on(velta + QStringList{QStringLiteral("--clone")}), password(QStringLiteral("8350"))).code, 0);
        QCOMPARE(sim.holding(0x100F), 999);
    }

    void factoryStoreAndRestore()
    {
        startSim();
        sim.send(QStringLiteral("set holding 0x1005 321"));
        sim.clearLog();
        const QStringList user{QStringLiteral("--user"), QStringLiteral("User")};
        const TlctlRun st = runTlctl(on(QStringList{QStringLiteral("factory"), QStringLiteral("store")} + user), asUser);
        QVERIFY2(st.code == 0, qPrintable(st.err));
        // The block goes first, then the store command.
        QCOMPARE(blockWrites(sim.rxFrames()).size(), 1);
        QCOMPARE(sim.commands(), QList<quint16>{0x3003});

        sim.send(QStringLiteral("set holding 0x1005 777"));
        sim.clearLog();
        const QStringList restore = on(QStringList{QStringLiteral("factory"), QStringLiteral("restore")} + user);
        const TlctlRun none = runTlctl(restore, asUser);
        QCOMPARE(none.code, 5);
        QVERIFY2(none.oneErrorLine() && none.err.contains(QStringLiteral("TLCTL_FACTORY_PASSWORD")), qPrintable(none.err));
        QMap<QString, QString> env = asUser;
        env.insert(QStringLiteral("TLCTL_FACTORY_PASSWORD"), QStringLiteral("5917"));
        QCOMPARE(runTlctl(restore, env).code, 5);
        QVERIFY(sim.commands().isEmpty());
        QCOMPARE(sim.holding(0x1005), 777);

        env.insert(QStringLiteral("TLCTL_FACTORY_PASSWORD"), QStringLiteral("5916"));
        const TlctlRun ok = runTlctl(restore, env);
        QVERIFY2(ok.code == 0, qPrintable(ok.err));
        QCOMPARE(sim.commands(), QList<quint16>{0x6006});
        QCOMPARE(sim.holding(0x1005), 321);
        // Read back after the command, as the program does.
        QCOMPARE(quint8(sim.rxFrames().last()[1]), quint8(4));

        // Admin needs no factory password.
        sim.send(QStringLiteral("set holding 0x1005 777"));
        QCOMPARE(runTlctl(on({QStringLiteral("factory"), QStringLiteral("restore"), QStringLiteral("--user"),
                              QStringLiteral("Admin")}), password(QStringLiteral("9641"))).code, 0);
        QCOMPARE(sim.holding(0x1005), 321);
    }

    void flashWritesTheImageThroughTheBootloader_data()
    {
        QTest::addColumn<bool>("bootloader");
        QTest::addColumn<int>("size");
        QTest::newRow("bootloader, 450 bytes") << true << 450;
        QTest::newRow("detector switched first, 201 bytes") << false << 201;
    }

    void flashWritesTheImageThroughTheBootloader()
    {
        QFETCH(bool, bootloader);
        QFETCH(int, size);
        const QString dump = file(QStringLiteral("flash.dump"));
        QFile::remove(dump);
        QStringList args{QStringLiteral("--dump"), dump};
        if (bootloader)
            args << QStringLiteral("--bootloader");
        startSim(args);
        const QByteArray image = applicationImage(size, size);
        const QString path = file(QStringLiteral("fw.bin"));
        QVERIFY(writeFile(path, image));

        const TlctlRun r = runTlctl(on({QStringLiteral("flash"), path, QStringLiteral("--user"), QStringLiteral("User"),
                                        QStringLiteral("--yes")}), asUser);
        QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
        QVERIFY2(r.out.startsWith(QStringLiteral("%1: %2 bytes in %3 blocks of up to 200 bytes, written from 0x08001C00")
                                      .arg(path).arg(size).arg((size + 199) / 200)), qPrintable(r.out));
        QVERIFY(r.err.isEmpty());
        // Not a terminal: plain lines, no carriage returns, a final status.
        QVERIFY(!r.out.contains(QLatin1Char('\r')));
        QVERIFY2(r.out.contains(QStringLiteral("flash: 100 % (%1 of %1 bytes)").arg(size)), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("flash: done: %1 bytes in %2 blocks").arg(size).arg((size + 199) / 200)));
        QCOMPARE(r.out.contains(QStringLiteral("switching")), !bootloader);

        const QList<quint16> cmds = sim.commands();
        QCOMPARE(cmds.count(0x5555), bootloader ? 1 : 2);
        QCOMPARE(cmds.last(), quint16(0x6060));
        QList<quint32> addresses;
        for (const QByteArray &f : sim.rxFrames())
            if (quint8(f[1]) == 14)
                addresses << (quint32(be16(f, 2)) << 16 | be16(f, 4));
        QCOMPARE(addresses.first(), quint32(0x08001C00));
        QCOMPARE(addresses.size(), (size + 199) / 200);
        QVERIFY(sim.send(QStringLiteral("dump")).isEmpty());
        QCOMPARE(readFile(dump), image);
    }

    void flashRefusesBadFiles()
    {
        startSim({QStringLiteral("--bootloader")});
        const QString empty = file(QStringLiteral("empty.bin"));
        QVERIFY(writeFile(empty, QByteArray()));
        const TlctlRun e = runTlctl(on({QStringLiteral("flash"), empty, QStringLiteral("--user"), QStringLiteral("User")}),
                                    asUser);
        QCOMPARE(e.code, 6);
        QVERIFY2(e.oneErrorLine() && e.err.contains(QStringLiteral("empty")), qPrintable(e.err));
        const TlctlRun m = runTlctl(on({QStringLiteral("flash"), file(QStringLiteral("none.bin")), QStringLiteral("--user"),
                                        QStringLiteral("User")}), asUser);
        QCOMPARE(m.code, 6);
        QVERIFY(sim.rxFrames().isEmpty());
    }

    void scanAsksEachAddressOnce()
    {
        startSim({QStringLiteral("--address"), QStringLiteral("3")});
        const TlctlRun r = runTlctl(on({QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                        QStringLiteral("--to"), QStringLiteral("5"), QStringLiteral("--json")}));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QJsonObject root = r.json();
        const QJsonArray devices = root.value(QStringLiteral("devices")).toArray();
        QCOMPARE(devices.size(), 1);
        const QJsonObject d = devices[0].toObject();
        QCOMPARE(d.value(QStringLiteral("address")).toInt(), 3);
        QCOMPARE(d.value(QStringLiteral("device_type")).toInt(), 1);
        QCOMPARE(d.value(QStringLiteral("serial_number")).toInt(), 4711);
        QCOMPARE(d.value(QStringLiteral("serial_text")).toString(), QStringLiteral("TL02ID0004711"));
        QCOMPARE(root.value(QStringLiteral("scanned")).toInt(), 5);

        // One short type request per address, a single attempt each.
        QMap<int, int> asked;
        for (const QByteArray &f : sim.allRequests())
            if (f.size() == 8 && quint8(f[1]) == 4)
                ++asked[quint8(f[0])];
        QCOMPARE(asked, (QMap<int, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
        // Four silent addresses at one 150 ms time-out each (ten attempts would be 8 s).
        QVERIFY2(root.value(QStringLiteral("seconds")).toDouble() < 5.0, qPrintable(r.out));

        const TlctlRun t = runTlctl(on({QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("2"),
                                        QStringLiteral("--to"), QStringLiteral("4")}));
        QCOMPARE(t.code, 0);
        QVERIFY2(t.out.contains(QRegularExpression(QStringLiteral("^  3  detector type 1 +TL02ID0004711 \\(4711\\)$"),
                                                   QRegularExpression::MultilineOption)), qPrintable(t.out));
        QVERIFY(t.out.contains(QRegularExpression(QStringLiteral("1 device found at 3 addresses in \\d+\\.\\d s"))));
    }

    void watchPollsTheLiveValues()
    {
        startSim();
        // Poll 3 gets no reply at all; polling goes on and the run ends with 4.
        sim.send(QStringLiteral("fault noreply 10 7"));
        sim.send(QStringLiteral("set input 0 12345"));
        sim.clearLog();
        const TlctlRun r = runTlctl(on({QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("4"),
                                        QStringLiteral("--interval"), QStringLiteral("0.2")}));
        QCOMPARE(r.code, 4);
        QVERIFY2(r.oneErrorLine() && r.err.contains(QStringLiteral("poll 3")) && r.err.contains(QStringLiteral("no reply")),
                 qPrintable(r.err));
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1 + 3);
        for (int i = 1; i < lines.size(); ++i)
            QVERIFY2(lines[i].contains(QRegularExpression(
                         QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} adc=12345 output=\\d+\\.\\d{3}mA "
                                        "conc=\\d+\\.\\dPPM pwm=\\d+ type=1 in5=0 in6=0 in7=0 in8=0 status=0x0000$"))),
                     qPrintable(lines[i]));
        // After the full read only input registers are polled.
        const QList<QByteArray> rx = sim.rxFrames();
        QCOMPARE(rx.size(), 5 + 2 + 10 + 1);
        for (int i = 5; i < rx.size(); ++i)
            QCOMPARE(rx[i].left(6), QByteArray::fromHex("01040000000A"));

        sim.send(QStringLiteral("fault clear"));
        const TlctlRun js = runTlctl(on({QStringLiteral("watch"), QStringLiteral("--count"), QStringLiteral("3"),
                                         QStringLiteral("--interval"), QStringLiteral("0.3"), QStringLiteral("--json")}));
        QCOMPARE(js.code, 0);
        const QStringList jl = js.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(jl.size(), 3);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject o = QJsonDocument::fromJson(jl[i].toUtf8()).object();
            QCOMPARE(o.value(QStringLiteral("poll")).toInt(), i + 1);
            QCOMPARE(o.value(QStringLiteral("live")).toObject().value(QStringLiteral("adc")).toInt(), 12345);
        }
        // Polls keep their period: the third starts two intervals after the first.
        QVERIFY2(js.ms >= 600, qPrintable(QString::number(js.ms)));
    }

    void failuresGiveTheirExitCodes_data()
    {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("nobody at the address") << QStringList() << QStringList{"--address", "9", "read"} << 4
                                               << "reading input registers 0-9 at address 9 on";
        QTest::newRow("bootloader cannot be read") << QStringList{"--bootloader"} << QStringList{"read"} << 4
                                                   << "bootloader";
        QTest::newRow("unknown device type") << QStringList{"--type", "3"} << QStringList{"identify"} << 4
                                             << "reports type 3";
    }

    void failuresGiveTheirExitCodes()
    {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, words);
        QFETCH(int, code);
        QFETCH(QString, says);
        startSim(simArgs);
        const TlctlRun r = runTlctl(on(words));
        QCOMPARE(r.code, code);
        QVERIFY2(r.oneErrorLine() && r.err.contains(says), qPrintable(r.err));
        if (simArgs.contains(QStringLiteral("--type"))) {
            // Sent to a device it does not know, as the connection dialog does.
            QVERIFY(sim.waitForLog(QStringLiteral("RAW 44454143544956")));
        }
        if (words.contains(QStringLiteral("9"))) {
            QVERIFY(r.err.contains(QStringLiteral("no reply")));
            QVERIFY(r.ms > 1000);
        }
    }

    void identifyTellsDetectorAndBootloader()
    {
        startSim({QStringLiteral("--bootloader")});
        const TlctlRun b = runTlctl(on({QStringLiteral("identify"), QStringLiteral("--json")}));
        QCOMPARE(b.code, 0);
        QCOMPARE(b.json().value(QStringLiteral("device_type")).toInt(), 999);
        QVERIFY(!b.json().contains(QStringLiteral("identification")));
        sim.stop();

        startSim({QStringLiteral("--version"), QStringLiteral("1.05")});
        sim.send(QStringLiteral("set ident 7 2019-05-20"));
        const TlctlRun d = runTlctl(on({QStringLiteral("identify")}));
        QCOMPARE(d.code, 0);
        for (const QString &re : {QStringLiteral("^device +detector type 1$"), QStringLiteral("^vendor +Velta$"),
                                  QStringLiteral("^model +TL-02$"), QStringLiteral("^firmware_version +1\\.05$"),
                                  QStringLiteral("^firmware_date +2019-05-20$"),
                                  QStringLiteral("^board_version +not in the 27-register block"),
                                  QStringLiteral("^serial_number +TL02ID0004711 \\(4711\\)$")})
            QVERIFY2(d.out.contains(QRegularExpression(re, QRegularExpression::MultilineOption)), qPrintable(re + d.out));
    }

    void usageAndPortErrors_data()
    {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<int>("code");
        QTest::newRow("no command") << QStringList() << 2;
        QTest::newRow("unknown command") << QStringList{"erase"} << 2;
        QTest::newRow("option of another command") << QStringList{"read", "--count", "3"} << 2;
        QTest::newRow("address above 255") << QStringList{"read", "--address", "256"} << 2;
        QTest::newRow("simulate and port") << QStringList{"read", "--simulate", "--port", "/dev/null"} << 2;
        QTest::newRow("factory what") << QStringList{"factory", "reset"} << 2;
        QTest::newRow("backup without file") << QStringList{"backup"} << 2;
        QTest::newRow("scan range upside down") << QStringList{"scan", "--from", "9", "--to", "3"} << 2;
        QTest::newRow("no port at all") << QStringList{"read"} << 2;
        QTest::newRow("port that is not there") << QStringList{"read", "--port", "/dev/tlctl-no-such-port"} << 3;
    }

    void usageAndPortErrors()
    {
        QFETCH(QStringList, words);
        QFETCH(int, code);
        const TlctlRun r = runTlctl(words);
        QCOMPARE(r.code, code);
        QVERIFY2(r.oneErrorLine(), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    void framesShowBytesDecodingAndResults()
    {
        startSim();
        sim.send(QStringLiteral("fault noreply 1"));
        const TlctlRun r = runTlctl(on({QStringLiteral("--frames"), QStringLiteral("--user"), QStringLiteral("User"),
                                        QStringLiteral("set"), QStringLiteral("limit1=25")}),
                                    password(QStringLiteral("7529")));
        QCOMPARE(r.code, 0);
        const QStringList lines = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // "> " lines carry exactly the bytes the device received, in order.
        QStringList sentHex;
        for (const QString &l : lines)
            if (l.startsWith(QLatin1String("> ")))
                sentHex << l.mid(2);
        QStringList rxHex;
        for (const QByteArray &f : sim.rxFrames())
            rxHex << QString::fromLatin1(f.toHex(' ').toUpper());
        QCOMPARE(sentHex, rxHex);
        // Each frame line is followed by its decoding; each attempt ends
        // with its result, the first one unanswered.
        QVERIFY(lines.size() > 3);
        QCOMPARE(lines[0].left(2), QStringLiteral("> "));
        QCOMPARE(lines[1], QStringLiteral("    address 1, read input registers 0x0000-0x0009 (10)"));
        QCOMPARE(lines[2], QStringLiteral("    = no reply"));
        QCOMPARE(lines[3], lines[0]);
        const int write = lines.indexOf(QRegularExpression(QStringLiteral("> 01 10 10 00 00 30 .*")));
        QVERIFY2(write > 0, qPrintable(r.err));
        QVERIFY2(lines[write + 1].contains(QStringLiteral("write multiple registers 0x1000-0x102F (48): "))
                     && lines[write + 1].contains(QStringLiteral("; limit1 = 25.0 PPM; limit1_direction = increasing;")),
                 qPrintable(lines[write + 1]));
        QCOMPARE(lines[write + 2].left(2), QStringLiteral("< "));
        QCOMPARE(lines[write + 4], QStringLiteral("    = ok"));
        QCOMPARE(sim.holding(0x1005), 250);
    }

    void helpForEveryCommand()
    {
        const TlctlRun all = runTlctl({QStringLiteral("--help")});
        QCOMPARE(all.code, 0);
        const QStringList commands = {QStringLiteral("ports"), QStringLiteral("identify"), QStringLiteral("read"),
                                      QStringLiteral("set"), QStringLiteral("watch"), QStringLiteral("backup"),
                                      QStringLiteral("restore"), QStringLiteral("factory"), QStringLiteral("flash"),
                                      QStringLiteral("scan"), QStringLiteral("journal")};
        for (const QString &c : commands) {
            QVERIFY2(all.out.contains(QStringLiteral("\n  ") + c + QLatin1Char(' ')), qPrintable(c));
            const TlctlRun one = runTlctl({c, QStringLiteral("--help")});
            QCOMPARE(one.code, 0);
            QVERIFY2(one.out.startsWith(QStringLiteral("usage: tlctl ") + c), qPrintable(one.out));
        }
        QVERIFY(all.out.contains(QStringLiteral("5 access refused")));
        const TlctlRun ports = runTlctl({QStringLiteral("ports"), QStringLiteral("--json")});
        QCOMPARE(ports.code, 0);
        QVERIFY(QJsonDocument::fromJson(ports.out.toUtf8()).isArray());
        // set --help names every settable parameter.
        const TlctlRun set = runTlctl({QStringLiteral("help"), QStringLiteral("set")});
        for (const char *name : {"limit1_direction", "dead_zone2", "net_address", "serial_number", "simulation_value"})
            QVERIFY2(set.out.contains(QLatin1String(name)), name);
    }

    void simulateNeedsNoHardware()
    {
        const TlctlRun r = runTlctl({QStringLiteral("--simulate"), QStringLiteral("--address"), QStringLiteral("7"),
                                     QStringLiteral("read"), QStringLiteral("--json")});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.json().value(QStringLiteral("address")).toInt(), 7);
        QCOMPARE(r.json().value(QStringLiteral("parameters")).toObject().value(QStringLiteral("limit1")).toObject()
                     .value(QStringLiteral("value")).toDouble(), 20.0);

        const TlctlRun s = runTlctl({QStringLiteral("--simulate"), QStringLiteral("set"), QStringLiteral("limit2=55.5"),
                                     QStringLiteral("--user"), QStringLiteral("User")}, asUser);
        QVERIFY2(s.code == 0, qPrintable(s.err));
        QVERIFY(s.out.contains(QStringLiteral("limit2: 40.0 PPM -> 55.5 PPM")));
    }

    // The prompt appears only once echo is off, so a password typed as soon as
    // it shows is neither echoed nor thrown away; one typed before the prompt
    // (type-ahead) is kept too.
    void passwordPromptDoesNotEcho()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
            QSKIP("script(1) is not installed");
        startSim();
        const QStringList words = on({QStringLiteral("set"), QStringLiteral("limit1=21"), QStringLiteral("--user"),
                                      QStringLiteral("User")});
        const TerminalRun r = runOnTerminal(words, {}, {{"Password for User: ", "7529\n"}});
        QVERIFY2(r.finished && r.code == 0, r.seen.constData());
        QVERIFY2(!r.seen.contains("7529"), r.seen.constData());
        QCOMPARE(sim.holding(0x1005), 210);

        const TerminalRun ahead = runOnTerminal(on({QStringLiteral("set"), QStringLiteral("limit1=23"),
                                                    QStringLiteral("--user"), QStringLiteral("User")}),
                                                {}, {}, "7529\n");
        QVERIFY2(ahead.finished && ahead.code == 0, ahead.seen.constData());
        QCOMPARE(sim.holding(0x1005), 230);
    }

    // A reader that goes away (tlctl ... | head -1) and SIGHUP, SIGPIPE and
    // SIGTERM end the run as Ctrl-C does: promptly, with the simulated
    // detector stopped, not by killing tlctl and leaving it running.
    void signalsEndTheRunCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGPIPE") << int(SIGPIPE);
        QTest::newRow("SIGTERM") << int(SIGTERM);
    }

    void signalsEndTheRunCleanly()
    {
        QFETCH(int, signal);
        QProcess p;
        const MarkedEnvironment marked;   // after p: sweeps before p is destroyed
        const QByteArray &mark = marked.mark;
        p.setProcessEnvironment(marked.environment());
        p.start(tlctlPath(), {QStringLiteral("--simulate"), QStringLiteral("watch"), QStringLiteral("--interval"),
                              QStringLiteral("0.2")});
        QVERIFY(p.waitForStarted());
        // Polling has begun: the simulated detector is up and answering.
        QByteArray seen;
        QElapsedTimer clock;
        clock.start();
        while (!seen.contains(" adc=") && p.state() == QProcess::Running && clock.elapsed() < 60000) {
            p.waitForReadyRead(100);
            seen += p.readAllStandardOutput();
        }
        QVERIFY2(seen.contains(" adc="), seen.constData());
        QVERIFY(!processesMarked(mark).isEmpty());
        ::kill(pid_t(p.processId()), signal);
        const bool finished = p.waitForFinished(20000);
        QVERIFY(noneLeft(mark));   // first: it also clears up after a failure
        QVERIFY(finished);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

    // A line that never falls silent: every exchange ends at its deadline
    // and says what is wrong, and a signal cuts it short at once, on every
    // kind of line.
    void babblingLineEndsTheExchange()
    {
        QVERIFY(sim.start({QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--modbus-tcp"),
                           QStringLiteral("0")}));
        bool ok = false;
        sim.send(QStringLiteral("fault babble 10"), &ok);
        QVERIFY(ok);
        const QStringList ports = {sim.portPath(), QStringLiteral("tcp://") + sim.tcpAddress(),
                                   QStringLiteral("modbus-tcp://") + sim.modbusTcpAddress()};
        for (const QString &port : ports) {
            sim.clearLog();
            const TlctlRun r = runTlctl({QStringLiteral("--port"), port, QStringLiteral("identify")}, {}, 60000);
            qInfo("identify on %s, babbling: %lld ms", qPrintable(port), r.ms);
            QCOMPARE(r.code, 4);
            QVERIFY2(r.oneErrorLine() && r.err.contains(QLatin1String("line does not fall silent (continuous data): a "
                                                                     "faulty device or noise on the line"))
                         && r.err.contains(QLatin1String("not a write time-out")),
                     qPrintable(r.err));
            // The probe of input registers 0-9: ten attempts of at most
            // 226 ms and one pause; the run ends with it.
            QCOMPARE(sim.rxFrames().size(), 10);
            QVERIFY2(r.ms < 2800 + 10000, qPrintable(QString::number(r.ms)));
        }

        const QList<QPair<int, int>> signalled = {{SIGINT, 130}, {SIGTERM, 143}, {SIGINT, 130}};
        for (int i = 0; i < signalled.size(); ++i) {
            sim.clearLog();
            QProcess p;
            p.setProcessEnvironment(tlctlEnvironment({}));
            p.start(tlctlPath(), {QStringLiteral("--port"), ports[i], QStringLiteral("identify")});
            QVERIFY(p.waitForStarted());
            // Mid-exchange: the second attempt has gone out.
            QElapsedTimer wait;
            wait.start();
            while (sim.rxFrames().size() < 2 && wait.elapsed() < 20000)
                QTest::qWait(20);
            QVERIFY(p.state() == QProcess::Running);
            QElapsedTimer clock;
            clock.start();
            ::kill(pid_t(p.processId()), signalled[i].first);
            QVERIFY(p.waitForFinished(20000));
            const qint64 ms = clock.elapsed();
            qInfo("signal %d on %s: ended after %lld ms", signalled[i].first, qPrintable(ports[i]), ms);
            QCOMPARE(p.exitCode(), signalled[i].second);
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(err.contains(QLatin1String("reading input registers 0-9 at address 1 on "))
                         && err.contains(QLatin1String("interrupted by")) && err.contains(QLatin1String("function 4)")),
                     qPrintable(err));
            // 200 ms in quiet; wide for a loaded machine.
            QVERIFY2(ms < 3000, qPrintable(QString::number(ms)));
        }
        sim.send(QStringLiteral("fault off"));
    }

    void closedOutputEndsTheRunCleanly_data()
    {
        QTest::addColumn<QString>("pipeline");
        QTest::newRow("read | head -1") << "read | head -1";
        QTest::newRow("read | reader gone at once") << "read | head -c 0";
        QTest::newRow("watch | head -1") << "watch --interval 0.1 | head -1";
    }

    void closedOutputEndsTheRunCleanly()
    {
        QFETCH(QString, pipeline);
        QProcess sh;
        const MarkedEnvironment marked;
        const QByteArray &mark = marked.mark;
        sh.setProcessEnvironment(marked.environment());
        sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                             QStringLiteral("exec 2>&1; %1 --simulate %2").arg(shellQuoted(tlctlPath()), pipeline)});
        const bool finished = sh.waitForFinished(30000);
        QVERIFY(noneLeft(mark));
        QVERIFY(finished);
        const QString out = QString::fromUtf8(sh.readAllStandardOutput());
        if (pipeline.endsWith(QLatin1String("-1")))
            QVERIFY2(out.startsWith(QStringLiteral("detector type 1 at address 1 on ")) && out.count(QLatin1Char('\n')) == 1,
                     qPrintable(out));
    }

    // A relative --port is taken from the working directory, whatever
    // QSerialPort would make of it; a bare name still means /dev/NAME.
    void relativePortPaths()
    {
        startSim();
        QTemporaryDir cwd;
        QVERIFY(QDir(cwd.path()).mkpath(QStringLiteral("links")));
        for (const char *link : {"link", "links/tl02", "tl02-here", "null"})
            QVERIFY(QFile::link(sim.portPath(), cwd.filePath(QLatin1String(link))));
        const QString resolved = QDir(cwd.path()).canonicalPath();
        auto read = [&](const QString &port) {
            return runTlctl({QStringLiteral("--port"), port, QStringLiteral("read"), QStringLiteral("--json")}, {}, 60000,
                            resolved);
        };
        for (const QString &port : {QStringLiteral("./link"), QStringLiteral("links/tl02"),
                                    QStringLiteral("links/../link"), QStringLiteral("tl02-here")}) {
            sim.clearLog();
            const TlctlRun r = read(port);
            QVERIFY2(r.code == 0, qPrintable(port + QStringLiteral(": ") + r.err));
            QCOMPARE(r.json().value(QStringLiteral("port")).toString(), QDir::cleanPath(resolved + QLatin1Char('/') + port));
            QCOMPARE(sim.rxFrames().size(), 5);
        }
        // /dev/null exists, so "null" is /dev/null (not a serial port), not the link here.
        sim.clearLog();
        const TlctlRun dev = read(QStringLiteral("null"));
        QCOMPARE(dev.code, 3);
        QVERIFY2(dev.oneErrorLine() && dev.err.contains(QStringLiteral("cannot open /dev/null")), qPrintable(dev.err));
        QTest::qWait(200);
        QVERIFY(sim.rxFrames().isEmpty());
    }

    // flash says what it will write and asks before anything goes out.
    void flashAsksFirst()
    {
        startSim({QStringLiteral("--bootloader")});
        const QString path = file(QStringLiteral("ask.bin"));
        QVERIFY(writeFile(path, applicationImage(450, 3)));
        const QStringList words = on({QStringLiteral("flash"), path, QStringLiteral("--user"), QStringLiteral("User")});

        // No terminal and no --yes: refused.
        const TlctlRun quiet = runTlctl(words, asUser);
        QCOMPARE(quiet.code, 2);
        QVERIFY2(quiet.oneErrorLine() && quiet.err.contains(QStringLiteral("add --yes")), qPrintable(quiet.err));
        QVERIFY(quiet.out.contains(QStringLiteral("450 bytes in 3 blocks")));
        // An output that cannot be written (a full disk, a reader gone) stops
        // the run before the device is touched, --yes or not.
        QProcess full;
        full.setStandardOutputFile(QStringLiteral("/dev/full"));
        QProcessEnvironment fe = QProcessEnvironment::systemEnvironment();
        fe.insert(QStringLiteral("TLCTL_PASSWORD"), QStringLiteral("7529"));
        full.setProcessEnvironment(fe);
        full.start(tlctlPath(), words + QStringList{QStringLiteral("--yes")});
        QVERIFY(full.waitForFinished(60000));
        QCOMPARE(full.exitCode(), 130);
        QVERIFY(full.readAllStandardError().contains("nothing was sent"));
        QTest::qWait(200);
        QVERIFY(sim.rxFrames().isEmpty());
        if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
            QSKIP("script(1) is not installed");
        // "no" on the terminal.
        const TerminalRun no = runOnTerminal(words, asUser, {{"[y/N] ", "n\n"}});
        QVERIFY2(no.finished && no.code == 0, no.seen.constData());
        QVERIFY(no.seen.contains("450 bytes in 3 blocks of up to 200 bytes, written from 0x08001C00"));
        QVERIFY(no.seen.contains("nothing was sent"));
        QVERIFY(no.seen.contains(QStringLiteral("at address 1 on %1 and restart it? [y/N]").arg(sim.portPath()).toUtf8()));
        QTest::qWait(200);
        QVERIFY(sim.rxFrames().isEmpty());

        // Text: "y" to the first question is not enough; the second one,
        // answered with Enter, keeps its default "no".
        const QString text = file(QStringLiteral("readme.bin"));
        QVERIFY(writeFile(text, textImage()));
        const TerminalRun second = runOnTerminal(on({QStringLiteral("flash"), text, QStringLiteral("--user"),
                                                     QStringLiteral("User")}), asUser,
                                                 {{"[y/N] ", "y\n"}, {"Write it anyway? [y/N] ", "\n"}});
        QVERIFY2(second.finished && second.code == 0, second.seen.constData());
        QVERIFY(second.seen.contains("word 1, the reset address, is 0x6E6F4320"));
        QVERIFY(second.seen.contains("not confirmed for an image that does not look like an application"));
        QTest::qWait(200);
        QVERIFY(sim.rxFrames().isEmpty());

        // "y": the image goes.
        const TerminalRun yes = runOnTerminal(words, asUser, {{"[y/N] ", "y\n"}});
        QVERIFY2(yes.finished && yes.code == 0, yes.seen.constData());
        QCOMPARE(sim.commands(), (QList<quint16>{0x5555, 0x6060}));
        int blocks = 0;
        for (const QByteArray &f : sim.rxFrames())
            blocks += quint8(f[1]) == 14;
        QCOMPARE(blocks, 3);
    }
};

QTEST_GUILESS_MAIN(TestTlctl)
#include "test_tlctl.moc"

// tlctl on several lines at once: the built binary against two tl02-sim
// processes, each on a pseudo-terminal of its own, so that every request
// shows up on the line it was meant for and nowhere else.
#include "simprocess.h"
#include "testdata.h"
#include "tlctlrun.h"

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QStringList lines(const QStringList &args, const SimProcess &first, const SimProcess &second)
{
    return args + QStringList{QStringLiteral("--port"), first.portPath(), QStringLiteral("--port"), second.portPath()};
}

// How often each address was asked for its type (the scan's request).
QMap<int, int> typeRequests(SimProcess &sim)
{
    QMap<int, int> asked;
    for (const QByteArray &f : sim.allRequests())
        if (f.size() == 8 && quint8(f[1]) == 4 && f.mid(2, 4) == QByteArray::fromHex("00040001"))
            ++asked[quint8(f[0])];
    return asked;
}

// Threshold 1 (0x1005) as a backup file holds it.
int limit1InFile(const QString &path)
{
    const QByteArray image = QByteArray::fromHex(readFile(path));
    return image.size() == 140 ? quint8(image[56]) | quint8(image[57]) << 8 : -1;
}

} // namespace

class TestTlctlLines : public QObject
{
    Q_OBJECT
    SimProcess a;
    SimProcess b;

private slots:
    void cleanup()
    {
        a.stop();
        b.stop();
    }

    // Each line is scanned through its own link: the output comes grouped in
    // the order the ports were given, and each simulator heard its own
    // line's scan once, never the other's.
    void scanGroupsTheLinesInTheOrderGiven()
    {
        QVERIFY(a.start({QStringLiteral("--address"), QStringLiteral("3")}));
        QVERIFY(b.start({QStringLiteral("--address"), QStringLiteral("5")}));
        a.clearLog();
        b.clearLog();
        const TlctlRun r = runTlctl(lines({QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                           QStringLiteral("--to"), QStringLiteral("6")}, b, a));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const int atB = r.out.indexOf(QStringLiteral("== %1 ==\n").arg(b.portPath()));
        const int atA = r.out.indexOf(QStringLiteral("== %1 ==\n").arg(a.portPath()));
        QVERIFY2(atB == 0 && atA > atB, qPrintable(r.out));
        const QString onB = r.out.mid(atB, atA - atB);
        const QString onA = r.out.mid(atA);
        const QRegularExpression found(QStringLiteral("^  (\\d)  detector type 1 "), QRegularExpression::MultilineOption);
        QCOMPARE(found.match(onB).captured(1), QStringLiteral("5"));
        QCOMPARE(found.match(onA).captured(1), QStringLiteral("3"));
        QVERIFY2(onB.contains(QStringLiteral("1 device found at 6 addresses"))
                     && onA.contains(QStringLiteral("1 device found at 6 addresses")), qPrintable(r.out));
        const QMap<int, int> once{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}};
        QCOMPARE(typeRequests(a), once);
        QCOMPARE(typeRequests(b), once);
        // Besides, only the device found was asked (its serial number).
        for (const auto &head : a.requestHeads())
            QVERIFY(head.second == 4 || head.first == 3);
        for (const auto &head : b.requestHeads())
            QVERIFY(head.second == 4 || head.first == 5);
    }

    // A silent device and a port that is not there do not stop the good
    // line: it is read in full, as alone, and the JSON says what each line did.
    void readJsonGoesOnPastDeadLines()
    {
        QVERIFY(a.start());
        QVERIFY(b.start());
        a.send(QStringLiteral("set holding 0x1005 123"));
        b.send(QStringLiteral("fault noreply -1"));
        a.clearLog();
        const TlctlRun alone = runTlctl({QStringLiteral("read"), QStringLiteral("--json"), QStringLiteral("--port"),
                                         a.portPath()});
        QVERIFY2(alone.code == 0, qPrintable(alone.err));
        const int aloneRequests = a.rxFrames().size();
        QTemporaryDir scratch;
        const QString missing = scratch.filePath(QStringLiteral("no-such-line"));
        a.clearLog();
        const TlctlRun r = runTlctl(lines({QStringLiteral("read"), QStringLiteral("--json")}, a, b)
                                    + QStringList{QStringLiteral("--port"), missing});
        // Exchange failed (4) is worse than a port that cannot be opened (3).
        QCOMPARE(r.code, 4);
        const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8());
        QVERIFY2(doc.isArray() && doc.array().size() == 3, qPrintable(r.out));
        const QJsonObject good = doc.array()[0].toObject();
        const QJsonObject silent = doc.array()[1].toObject();
        const QJsonObject absent = doc.array()[2].toObject();

        QCOMPARE(good.value(QStringLiteral("port")).toString(), a.portPath());
        QCOMPARE(good.value(QStringLiteral("exit_code")).toInt(), 0);
        QVERIFY(good.value(QStringLiteral("error")).isNull());
        const QJsonObject result = good.value(QStringLiteral("result")).toObject();
        QCOMPARE(result.value(QStringLiteral("parameters")).toObject().value(QStringLiteral("limit1")).toObject()
                     .value(QStringLiteral("raw")).toInt(), 123);
        QCOMPARE(result.value(QStringLiteral("parameters")), alone.json().value(QStringLiteral("parameters")));
        QCOMPARE(result.value(QStringLiteral("identification")), alone.json().value(QStringLiteral("identification")));
        QCOMPARE(a.rxFrames().size(), aloneRequests);

        QCOMPARE(silent.value(QStringLiteral("port")).toString(), b.portPath());
        QCOMPARE(silent.value(QStringLiteral("exit_code")).toInt(), 4);
        QVERIFY(silent.value(QStringLiteral("result")).isNull());
        QVERIFY2(silent.value(QStringLiteral("error")).toString().contains(QStringLiteral("no reply")), qPrintable(r.out));

        QCOMPARE(absent.value(QStringLiteral("exit_code")).toInt(), 3);
        QVERIFY(absent.value(QStringLiteral("result")).isNull());
        QVERIFY2(absent.value(QStringLiteral("error")).toString().startsWith(QStringLiteral("cannot open ") + missing),
                 qPrintable(r.out));
        // On stderr every message says which line it is about.
        const QStringList messages = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(messages.size(), 2);
        QVERIFY2(messages[0].startsWith(QStringLiteral("tlctl: ")) && messages[0].contains(b.portPath()), qPrintable(r.err));
        QVERIFY2(messages[1].startsWith(QStringLiteral("tlctl: ")) && messages[1].contains(missing), qPrintable(r.err));
    }

    // backup DIR: one file per device, named by its serial number and the
    // day, with that device's parameters.  A serial number met twice gets
    // _2 on the later line of the command, even when that line is read
    // first.
    void backupIntoAFolderNamesTheFilesBySerial()
    {
        QVERIFY(a.start({QStringLiteral("--turnaround"), QStringLiteral("150")}));   // read last
        QVERIFY(b.start());
        a.send(QStringLiteral("set holding 0x1005 123"));
        b.send(QStringLiteral("set holding 0x1005 321"));
        b.send(QStringLiteral("set holding 0x100F 4712"));
        QTemporaryDir folder;
        const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        const TlctlRun r = runTlctl(lines({QStringLiteral("backup"), folder.path()}, a, b));
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
        QCOMPARE(limit1InFile(folder.filePath(QStringLiteral("TL02ID0004711_%1.hex").arg(day))), 123);
        QCOMPARE(limit1InFile(folder.filePath(QStringLiteral("TL02ID0004712_%1.hex").arg(day))), 321);

        b.send(QStringLiteral("set holding 0x100F 4711"));
        QTemporaryDir same;
        const TlctlRun twice = runTlctl(lines({QStringLiteral("backup"), same.path()}, a, b));
        QVERIFY2(twice.code == 0, qPrintable(twice.err));
        QCOMPARE(QDir(same.path()).entryList(QDir::Files).size(), 2);
        QCOMPARE(limit1InFile(same.filePath(QStringLiteral("TL02ID0004711_%1.hex").arg(day))), 123);
        QCOMPARE(limit1InFile(same.filePath(QStringLiteral("TL02ID0004711_%1_2.hex").arg(day))), 321);
        QVERIFY2(twice.err.startsWith(QStringLiteral("tlctl: note: ")) && twice.err.contains(a.portPath())
                     && twice.err.contains(b.portPath()), qPrintable(twice.err));

        // Several lines need a folder; a file name is refused before any line is used.
        a.clearLog();
        const TlctlRun file = runTlctl(lines({QStringLiteral("backup"), folder.filePath(QStringLiteral("x.hex"))}, a, b));
        QCOMPARE(file.code, 2);
        QVERIFY2(file.oneErrorLine(), qPrintable(file.err));
        QVERIFY(a.rxFrames().isEmpty());
    }

    // --ports FILE names the lines as repeated --port does: in its order,
    // relative paths from the working directory, comments and blank lines
    // left out.
    void portsFileNamesTheLines()
    {
        QVERIFY(a.start({QStringLiteral("--address"), QStringLiteral("2")}));
        QVERIFY(b.start({QStringLiteral("--address"), QStringLiteral("2")}));
        QTemporaryDir cwd;
        const QString here = QDir(cwd.path()).canonicalPath();
        QVERIFY(QFile::link(b.portPath(), cwd.filePath(QStringLiteral("line-b"))));
        QVERIFY(writeFile(cwd.filePath(QStringLiteral("lines.txt")),
                          "# the rig\n\n  ./line-b  \n" + a.portPath().toUtf8() + "\n"));
        const TlctlRun r = runTlctl({QStringLiteral("scan"), QStringLiteral("--json"), QStringLiteral("--to"),
                                     QStringLiteral("2"), QStringLiteral("--ports"), QStringLiteral("lines.txt")},
                                    {}, 60000, here);
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QJsonArray all = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all[0].toObject().value(QStringLiteral("port")).toString(), here + QStringLiteral("/line-b"));
        QCOMPARE(all[1].toObject().value(QStringLiteral("port")).toString(), a.portPath());
        for (const QJsonValue &line : all)
            QCOMPARE(line.toObject().value(QStringLiteral("result")).toObject().value(QStringLiteral("devices"))
                         .toArray().size(), 1);

        QVERIFY(writeFile(cwd.filePath(QStringLiteral("none.txt")), "# nothing yet\n"));
        const TlctlRun none = runTlctl({QStringLiteral("scan"), QStringLiteral("--ports"), QStringLiteral("none.txt")},
                                       {}, 60000, here);
        QCOMPARE(none.code, 6);
        QVERIFY2(none.oneErrorLine(), qPrintable(none.err));
    }

    // Ctrl-C stops every line: the run ends promptly with 130, whatever
    // another line failed with.
    void interruptStopsEveryLine()
    {
        QVERIFY(a.start());
        QVERIFY(b.start());
        a.clearLog();
        b.clearLog();
        QProcess p;
        p.setProcessEnvironment(tlctlEnvironment({}));
        p.start(tlctlPath(), lines({QStringLiteral("scan")}, a, b)
                                 + QStringList{QStringLiteral("--port"), QStringLiteral("/nonexistent/tty")});
        QVERIFY(p.waitForStarted());
        // Both scans are under way (247 addresses take about 40 s).
        QElapsedTimer wait;
        wait.start();
        while ((a.allRequests().size() < 3 || b.allRequests().size() < 3) && wait.elapsed() < 30000)
            QTest::qWait(50);
        QVERIFY(p.state() == QProcess::Running);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 130);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(out.count(QStringLiteral("(interrupted)")), 2);
    }
};

QTEST_GUILESS_MAIN(TestTlctlLines)
#include "test_tlctl_lines.moc"

// tlctl site: a survey of two multi-drop lines fills the register and says
// what changed; the listings read it back.  Only reads reach the detectors.
// A change to many, a backup of all and the report work from the register.
#include "simprocess.h"
#include "testdata.h"
#include "tlctlrun.h"

#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The addresses a line's write requests (functions 6 and 16) went to.
QSet<int> writtenTo(SimProcess &sim)
{
    QSet<int> addresses;
    for (const QByteArray &f : sim.allRequests())
        if (f.size() > 1 && (f[1] == 6 || f[1] == 16))
            addresses.insert(quint8(f[0]));
    return addresses;
}

// Holding registers 0x1000-0x101F of the detector at `address`.
QVector<int> holdings(SimProcess &sim, int address)
{
    QVector<int> values;
    for (int reg = 0x1000; reg < 0x1020; ++reg)
        values << sim.holding(reg, address);
    return values;
}

// The register's detectors by serial number, from site show --json.
QMap<QString, QJsonObject> registered(const QString &site, const QMap<QString, QString> &env)
{
    const TlctlRun r = runTlctl({QStringLiteral("site"), QStringLiteral("show"), site, QStringLiteral("--json")}, env);
    QMap<QString, QJsonObject> bySerial;
    for (const QJsonValue &v : QJsonDocument::fromJson(r.out.toUtf8()).array())
        bySerial.insert(v.toObject().value(QStringLiteral("serial")).toString(), v.toObject());
    return bySerial;
}

} // namespace

class TlctlSiteTest : public QObject
{
    Q_OBJECT
private slots:
    void surveyFillsTheRegister()
    {
        QTemporaryDir home;
        const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home.path()}};
        SimProcess a;
        SimProcess b;
        QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("2,6")}));
        QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("4")}));
        const QString site = QStringLiteral("Котельная");

        TlctlRun r = runTlctl({QStringLiteral("site"), QStringLiteral("survey"), site, QStringLiteral("--port"),
                               a.portPath(), QStringLiteral("--port"), b.portPath()}, env, 180000);
        QCOMPARE(r.code, 0);
        for (const QString &serial : {QStringLiteral("0100002"), QStringLiteral("0100006"), QStringLiteral("0100004")})
            QVERIFY2(r.out.contains(QStringLiteral("new      TL02ID") + serial), qPrintable(r.out));
        for (SimProcess *sim : {&a, &b})
            for (const QByteArray &f : sim->allRequests())
                QVERIFY2(f[1] == 3 || f[1] == 4 || f[1] == 43, f.toHex().constData());

        // A backup, then: 100004 moved to another line at address 9, 100006
        // silent, 100002's threshold changed behind the register's back.
        QTemporaryDir backups;
        QCOMPARE(runTlctl({QStringLiteral("site"), QStringLiteral("backup"), site, backups.path()}, env, 180000).code, 0);
        QTemporaryDir files;
        QFile moved(files.filePath(QStringLiteral("devices")));
        QVERIFY(moved.open(QIODevice::WriteOnly) && moved.write("9 serial 100004\n") > 0);
        moved.close();
        SimProcess c;
        QVERIFY(c.start({QStringLiteral("--devices"), QStringLiteral("@") + moved.fileName()}));
        a.send(QStringLiteral("@6 fault noreply -1"));
        a.send(QStringLiteral("@2 set holding 0x1005 250"));
        r = runTlctl({QStringLiteral("site"), QStringLiteral("survey"), site, QStringLiteral("--port"), a.portPath(),
                      QStringLiteral("--port"), c.portPath(), QStringLiteral("--to"), QStringLiteral("12"),
                      QStringLiteral("--json")}, env, 180000);
        QCOMPARE(r.code, 0);
        const QJsonObject j = r.json();
        QCOMPARE(j.value(QStringLiteral("new")).toArray().size(), 0);
        const QJsonArray missing = j.value(QStringLiteral("missing")).toArray();
        QCOMPARE(missing.size(), 1);
        QCOMPARE(missing[0].toObject().value(QStringLiteral("serial")).toString(), QStringLiteral("TL02ID0100006"));
        const QJsonArray movedTo = j.value(QStringLiteral("moved")).toArray();
        QCOMPARE(movedTo.size(), 1);
        QCOMPARE(movedTo[0].toObject().value(QStringLiteral("old_port")).toString(), b.portPath());
        QCOMPARE(movedTo[0].toObject().value(QStringLiteral("address")).toInt(), 9);
        // Drift against the backup: 100002's threshold, and the moved one's
        // network address.
        QStringList drift;
        for (const QJsonValue &d : j.value(QStringLiteral("drift")).toArray())
            for (const QJsonValue &f : d.toObject().value(QStringLiteral("drift")).toArray())
                drift << d.toObject().value(QStringLiteral("serial")).toString().right(3) + QLatin1Char(' ')
                             + f.toObject().value(QStringLiteral("name")).toString() + QLatin1Char(' ')
                             + f.toObject().value(QStringLiteral("now")).toString();
        QCOMPARE(drift, (QStringList{QStringLiteral("002 limit1 25.0 PPM"), QStringLiteral("004 net_address 9")}));

        r = runTlctl({QStringLiteral("site"), QStringLiteral("list"), QStringLiteral("--json")}, env);
        const QJsonArray sites = QJsonDocument::fromJson(r.out.toUtf8()).array();
        QCOMPARE(sites.size(), 1);
        QCOMPARE(sites[0].toObject().value(QStringLiteral("detectors")).toInt(), 3);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("show"), site}, env);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out.count(QStringLiteral("never calibrated")), 3);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("show"), QStringLiteral("nowhere")}, env);
        QCOMPARE(r.code, 2);
        r = runTlctl({QStringLiteral("site"), QStringLiteral("due")}, env);
        QCOMPARE(r.out, QStringLiteral("no detector is due within 30 days\n"));
    }

    // Two lines of six detectors each, surveyed once; then changes, a
    // backup and the report, each checked on what reached the simulators.
    void applyBackupAndReportWorkOnTheRegister()
    {
        QTemporaryDir home;
        const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home.path()},
                                         {QStringLiteral("TLCTL_PASSWORD"), QStringLiteral("9641")},
                                         {QStringLiteral("USER"), QStringLiteral("tester")}};
        SimProcess a;
        SimProcess b;
        QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("1-6")}));
        QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("11-16")}));
        const QString site = QStringLiteral("Цех 2");
        auto tlctl = [&](const QStringList &words) { return runTlctl(QStringList{QStringLiteral("site")} + words, env, 180000); };
        const QStringList admin{QStringLiteral("--user"), QStringLiteral("Admin")};
        // PPM with one decimal: the simulator's default; limit1 is 20.0.
        auto limit1Word = [](double ppm) { return qRound(ppm * 10); };

        TlctlRun r = tlctl({QStringLiteral("survey"), site, QStringLiteral("--port"), a.portPath(), QStringLiteral("--port"),
                            b.portPath(), QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--to"),
                            QStringLiteral("16")});
        QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
        QCOMPARE(registered(site, env).size(), 12);

        // Two of the twelve, one per line, named both ways.
        a.clearLog();
        b.clearLog();
        const QVector<int> before2 = holdings(a, 2);
        const QVector<int> before15 = holdings(b, 15);
        r = tlctl(QStringList{QStringLiteral("apply"), site, QStringLiteral("--set"), QStringLiteral("limit1=30"),
                              QStringLiteral("--only"), QStringLiteral("100002,tl02id0100015"), QStringLiteral("--yes")}
                  + admin);
        QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
        QCOMPARE(r.out.count(QStringLiteral("20.0 PPM -> 30.0 PPM")), 2);
        QVERIFY2(r.out.contains(QStringLiteral("2 done, 0 failed, 0 skipped")), qPrintable(r.out));
        QCOMPARE(writtenTo(a), QSet<int>{2});
        QCOMPARE(writtenTo(b), QSet<int>{15});
        for (const auto &[sim, address, before] : {std::make_tuple(&a, 2, before2), std::make_tuple(&b, 15, before15)}) {
            QVector<int> expected = before;
            expected[5] = limit1Word(30);
            QCOMPARE(holdings(*sim, address), expected);
        }
        QCOMPARE(registered(site, env).value(QStringLiteral("TL02ID0100015")).value(QStringLiteral("limit1")).toString(),
                 QStringLiteral("30.0"));
        // How many requests a detector answers before its block write.
        const QList<QByteArray> to2 = a.rxFrames(2);
        const int beforeWrite = int(std::find_if(to2.begin(), to2.end(), [](const QByteArray &f) { return f[1] == 16; })
                                    - to2.begin());
        QVERIFY(beforeWrite > 0 && beforeWrite < to2.size());

        // A preview only, and a run without --yes and without a terminal:
        // no request reaches either line.
        a.clearLog();
        b.clearLog();
        const QStringList toAll = QStringList{QStringLiteral("apply"), site, QStringLiteral("--set"),
                                              QStringLiteral("limit1=35")} + admin;
        r = tlctl(toAll + QStringList{QStringLiteral("--dry-run")});
        QVERIFY2(r.code == 0 && r.out.contains(QStringLiteral("12 of 12 detectors of site Цех 2 change (12 values)"))
                     && r.out.count(QStringLiteral("30.0 PPM -> 35.0 PPM")) == 2,
                 qPrintable(r.out + r.err));
        r = tlctl(toAll);
        QVERIFY2(r.code == 2 && r.err.contains(QStringLiteral("--yes")), qPrintable(r.err));
        QCOMPARE(a.allRequests().size() + b.allRequests().size(), 0);

        // All twelve; the detector at 13 answers its reads, then falls silent
        // at its write.
        b.send(QStringLiteral("@13 fault noreply -1 %1").arg(beforeWrite));
        r = tlctl(toAll + QStringList{QStringLiteral("--yes")});
        QVERIFY2(r.code == 4, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains(QRegularExpression(QStringLiteral("TL02ID0100013 at \\S+ address 13: FAILED: ")))
                     && r.out.contains(QStringLiteral("11 done, 1 failed, 0 skipped")),
                 qPrintable(r.out));
        b.send(QStringLiteral("fault clear"));
        for (int address : {1, 2, 3, 4, 5, 6})
            QCOMPARE(a.holding(0x1005, address), limit1Word(35));
        for (int address : {11, 12, 14, 15, 16})
            QCOMPARE(b.holding(0x1005, address), limit1Word(35));

        // A backup of all into a folder that is made for it.
        QTemporaryDir files;
        const QString folder = files.filePath(QStringLiteral("backups"));
        r = tlctl({QStringLiteral("backup"), site, folder});
        QVERIFY2(r.code == 0 && r.out.endsWith(QStringLiteral("12 backed up, 0 failed, 0 skipped\n")),
                 qPrintable(r.out + r.err));
        const QString day = QDate::currentDate().toString(Qt::ISODate);
        QStringList expected;
        const QMap<QString, QJsonObject> detectors = registered(site, env);
        for (auto it = detectors.begin(); it != detectors.end(); ++it) {
            expected << QStringLiteral("%1_%2.hex").arg(it.key(), day);
            QCOMPARE(it.value().value(QStringLiteral("backup")).toString(), QDir(folder).filePath(expected.last()));
        }
        QCOMPARE(QDir(folder).entryList({QStringLiteral("*.hex")}, QDir::Files, QDir::Name), expected);
        const QByteArray image = QByteArray::fromHex(readFile(QDir(folder).filePath(expected.first())));
        QCOMPARE(image.size(), 140);
        QCOMPARE(quint8(image[56]) | quint8(image[57]) << 8, limit1Word(35));

        // From that file: only 13, whose write was not confirmed, is still
        // registered with its old value.
        r = tlctl(QStringList{QStringLiteral("apply"), site, QStringLiteral("--file"),
                              QDir(folder).filePath(expected.first()), QStringLiteral("--dry-run")} + admin);
        QVERIFY2(r.code == 0 && r.out.contains(QStringLiteral("1 of 12 detectors of site Цех 2 change (1 value)"))
                     && r.out.contains(QRegularExpression(QStringLiteral(
                         "address 13 \\(as read [^)]+\\):\n  limit1 +20\\.0 PPM -> 35\\.0 PPM\n"))),
                 qPrintable(r.out + r.err));

        // A gas entry's words into one detector; the register names the gas.
        a.clearLog();
        r = tlctl(QStringList{QStringLiteral("apply"), site, QStringLiteral("--gas"), QStringLiteral("метан"),
                              QStringLiteral("--library"), QStringLiteral(TL_RUNTIME_DIR "/setting.xlsx"),
                              QStringLiteral("--only"), QStringLiteral("100004"), QStringLiteral("--yes")} + admin);
        QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
        QCOMPARE(writtenTo(a), QSet<int>{4});
        QCOMPARE(a.holding(0x1005, 4), 100);
        QCOMPARE(a.holding(0x1006, 4), 200);
        QCOMPARE(registered(site, env).value(QStringLiteral("TL02ID0100004")).value(QStringLiteral("gas")).toString(),
                 QStringLiteral("Метан"));

        // The report as CSV: its header, then a row per detector.
        r = tlctl({QStringLiteral("report"), site, files.filePath(QStringLiteral("report.csv"))});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        const QStringList csv = QString::fromUtf8(readFile(files.filePath(QStringLiteral("report.csv"))))
                                    .remove(QChar(0xFEFF)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(csv.size(), 3 + 1 + 12);
        QCOMPARE(csv[0], QStringLiteral("Отчёт по объекту;Цех 2"));
        QCOMPARE(csv[2], QStringLiteral("Техник;tester"));
        for (const QString &serial : detectors.keys())
            QCOMPARE(csv.filter(QStringLiteral(";") + serial + QStringLiteral(";")).size(), 1);
        r = tlctl({QStringLiteral("report"), site, files.filePath(QStringLiteral("report.txt"))});
        QCOMPARE(r.code, 2);

        // As a PDF, with no display and no platform chosen.
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("DISPLAY");
        qunsetenv("WAYLAND_DISPLAY");
        const QString pdf = files.filePath(QStringLiteral("report.pdf"));
        r = tlctl({QStringLiteral("report"), site, pdf});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(60000));
        const QString words = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(words.contains(QStringLiteral("Отчёт по объекту")) && words.contains(QStringLiteral("TL02ID0100013")),
                 qPrintable(words));
    }
};

QTEST_GUILESS_MAIN(TlctlSiteTest)
#include "test_tlctl_site.moc"

// One change to many detectors on two multi-drop lines: exactly the chosen
// detectors and registers change, a failing detector leaves the others done.
#include "siteapply.h"
#include "paramtable.h"
#include "simprocess.h"

#include <QDir>

#include <QTemporaryDir>
#include <QtTest>

using namespace SiteApply;

class TestSiteApply : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dir.path().toUtf8()); }

    void changesExactlyTheChosenDetectors()
    {
        SimProcess a;
        SimProcess b;
        QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("2,5,8")}));
        QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("3")}));
        a.send(QStringLiteral("@2 set holding 0x1019 1"));   // 2 simulates a concentration
        a.send(QStringLiteral("@8 fault noreply -1"));
        const int limitBefore = a.holding(0x1005, 5);
        const QVector<Target> targets = {{a.portPath(), 2, 100002}, {a.portPath(), 5, 1},
                                         {a.portPath(), 8, 100008}, {b.portPath(), 3, 100003}};
        a.clearLog();
        b.clearLog();
        Runner run(targets, {{QStringLiteral("limit1"), QStringLiteral("30")}}, QStringLiteral("Admin"), false,
                   QStringLiteral("tlctl"), QStringLiteral("values"));
        QSignalSpy done(&run, &Runner::detectorDone);
        run.run();

        const auto &o = run.outcomes();
        QCOMPARE(int(o[0].status), int(Status::Done));
        QCOMPARE(int(o[1].status), int(Status::Skipped));
        QVERIFY(o[1].reason.contains(QStringLiteral("another detector")));
        QCOMPARE(int(o[2].status), int(Status::Failed));
        QCOMPARE(o[2].op.linkResult, quint16(ResultNoReply));
        QCOMPARE(int(o[3].status), int(Status::Done));
        QCOMPARE(done.count(), 4);
        QVERIFY(o[0].changes.size() == 2);   // limit1, and the simulation switched off

        // On the detectors: the new threshold on 2 and 3 alike, nothing on 5
        // or 8, the simulation off on 2; writes only to 2 and 3.
        const int limit = a.holding(0x1005, 2);
        QVERIFY(limit != limitBefore);
        QCOMPARE(b.holding(0x1005, 3), limit);
        QCOMPARE(a.holding(0x1005, 5), limitBefore);
        QCOMPARE(a.holding(0x1005, 8), limitBefore);
        QCOMPARE(a.holding(0x1019, 2), 0);
        QList<int> written;
        for (SimProcess *sim : {&a, &b})
            for (const QByteArray &f : sim->allRequests())
                if (f[1] == 16 || f[1] == 6)
                    written.append(quint8(f[0]));
        QCOMPARE(written, (QList<int>{2, 3}));

        // Stopping at the first failure: the next detector of the line is
        // not touched.
        a.clearLog();
        Runner stop({targets[2], targets[0]}, {{QStringLiteral("limit1"), QStringLiteral("40")}},
                    QStringLiteral("Admin"), true, QStringLiteral("tlctl"), QStringLiteral("values"));
        stop.run();
        QCOMPARE(int(stop.outcomes()[1].status), int(Status::Skipped));
        QCOMPARE(stop.outcomes()[1].reason, QStringLiteral("stopped after a failure"));
        QCOMPARE(a.holding(0x1005, 2), limit);

        // A detector changed behind the preview is skipped, not written.
        Target shown = targets[3];
        shown.previewed = true;
        shown.shown = o[3].block;
        b.send(QStringLiteral("@3 set holding 0x1005 %1").arg(limit + 30));
        Runner behind({shown}, {{QStringLiteral("limit1"), QStringLiteral("35")}}, QStringLiteral("Admin"), false,
                      QStringLiteral("tlctl"), QStringLiteral("values"));
        behind.run();
        QCOMPARE(int(behind.outcomes()[0].status), int(Status::Skipped));
        QVERIFY(behind.outcomes()[0].reason.contains(QStringLiteral("since the preview")));
        QCOMPARE(b.holding(0x1005, 3), limit + 30);

        // A backup of all: a file per detector, named by serial and day, with
        // the block as read; the one not reached is reported.
        QTemporaryDir out;
        const auto backup = Runner::backup({targets[0], targets[2], targets[3]}, out.path());
        backup->run();
        const QString day = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        QCOMPARE(backup->outcomes()[0].path, out.filePath(QStringLiteral("TL02ID0100002_%1.hex").arg(day)));
        QCOMPARE(int(backup->outcomes()[1].status), int(Status::Failed));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size(), 2);
        QCOMPARE(Params::holdingValue(backup->outcomes()[2].block, 0x1005), quint16(limit + 30));
    }

    // A library entry's words are thresholds in each detector's own
    // discreteness; a threshold above the range refuses the whole change.
    void gasEntryInEachDetectorsUnitsAndRangeRule()
    {
        ParamBlock device{};
        device.Config = 0x0010;   // one decimal
        device.ValueMax = 1000;
        device.Limit1 = 100;
        device.Limit2 = 200;
        const ValuesFor gas = gasValues(150, 0x8000 | 250);
        Preview p = preview(device, 1, 48, gas(device), QStringLiteral("Admin"));
        QVERIFY2(p.refused.isEmpty(), qPrintable(p.refused.value(0).second));
        QCOMPARE(Params::holdingValue(p.plan.result, 0x1005), quint16(150));
        QCOMPARE(Params::holdingValue(p.plan.result, 0x1006), quint16(0x8000 | 250));
        QCOMPARE(gas(device).value(0).second, QStringLiteral("15.0"));
        device.Config = 0;        // whole units: the same words read 150 and 250
        QCOMPARE(gas(device).value(0).second, QStringLiteral("150"));

        device.ValueMax = 200;
        p = preview(device, 1, 48, gas(device), QStringLiteral("Admin"));
        QCOMPARE(p.refused.size(), 1);
        QVERIFY(p.refused[0].second.contains(QStringLiteral("limit2")));
    }

private:
    QTemporaryDir dir;
};

QTEST_GUILESS_MAIN(TestSiteApply)
#include "test_siteapply.moc"

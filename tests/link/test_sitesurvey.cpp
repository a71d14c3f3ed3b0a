// A site survey: every line at once, scan then full reads; only reads go out.
#include "simprocess.h"
#include "sitesurvey.h"

#include <QtTest>

class TestSiteSurvey : public QObject
{
    Q_OBJECT
private slots:
    void surveysEveryLineAtOnce()
    {
        SimProcess a;
        SimProcess b;
        QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("2,7")}));
        QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("3,9,11")}));
        const QString missing = QStringLiteral("/dev/tl-test-no-such-line");
        SiteSurvey survey({b.portPath(), missing, a.portPath()}, 1, 12);
        QSignalSpy asked(&survey, &SiteSurvey::asking);
        const SiteSurvey::Result r = survey.run();

        QVERIFY(!r.cancelled);
        QCOMPARE(r.lines.size(), 3);
        QCOMPARE(r.lines[0].detectors, 3);
        QCOMPARE(r.lines[0].read, 3);
        QVERIFY(!r.lines[1].error.isEmpty());
        QCOMPARE(r.lines[2].read, 2);
        QCOMPARE(asked.count(), 24);
        // Line by line in the order given, each in address order, each
        // detector with its own block.
        QVector<int> order;
        for (const LineWorker::DeviceRead &read : r.reads) {
            QVERIFY(read.ok());
            QCOMPARE(read.block.SerialNum, qint32(100000 + read.address));
            order.append(read.address);
        }
        QCOMPARE(order, (QVector<int>{3, 9, 11, 2, 7}));
        QCOMPARE(r.reads[4].port, a.portPath());
        // Only reads went out; beyond the scan's type requests, each line's
        // went to its own detectors only.
        const QList<QPair<SimProcess *, QVector<int>>> lines = {{&a, {2, 7}}, {&b, {3, 9, 11}}};
        for (const auto &line : lines) {
            for (const QByteArray &f : line.first->allRequests()) {
                QVERIFY2(f[1] == 3 || f[1] == 4 || f[1] == 43, f.toHex().constData());
                if (f[1] != 4)
                    QVERIFY2(line.second.contains(quint8(f[0])), f.toHex().constData());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestSiteSurvey)
#include "test_sitesurvey.moc"

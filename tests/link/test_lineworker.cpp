// Line workers: each line on a thread of its own with a link of its own;
// cancelling one line's work; frames of two lines never cross.
#include "command.h"
#include "fakeline.h"
#include "lineworker.h"
#include "simprocess.h"
#include "testframes.h"

#include <QSignalSpy>
#include <QtTest>
#include <numeric>

using TestFrames::withCrc;

namespace {

QByteArray frame(std::initializer_list<int> bytes)
{
    QByteArray f;
    for (int b : bytes)
        f.append(char(b));
    return withCrc(f);
}

// Detectors at addresses 3 and 7, serial number 100 + address; silence elsewhere.
QList<FakeLine::Piece> twoDetectors(const QByteArray &req, int)
{
    const int a = quint8(req[0]);
    if (a != 3 && a != 7)
        return {};
    const int function = quint8(req[1]);
    if (function == 4)
        return {{5, frame({a, 4, 2, 0, 1})}};
    if (function == 3)
        return {{5, frame({a, 3, 4, 0, 100 + a, 0, 0})}};
    if (function == 43)
        return {{5, frame({a, 0x2B, 0x0E, 1, 2, 0, 0, 1, 2, 4, '1', '.', '0', '7'})}};
    return {};
}

} // namespace

class TestLineWorker : public QObject
{
    Q_OBJECT
private slots:
    void scanIsCancelledBetweenAddresses()
    {
        VirtualClock clock;
        QVector<int> typeAsked;   // addresses of the device-type requests that went out
        LineWorker worker(QStringLiteral("fake"));
        worker.useLine([&] {
            return std::make_unique<FakeLine>(clock, [&](const QByteArray &req, int index) {
                if (req[1] == 4 && req[3] == 4)
                    typeAsked.append(quint8(req[0]));
                return twoDetectors(req, index);
            });
        }, &clock);
        QSignalSpy hits(&worker, &LineWorker::found);
        QSignalSpy done(&worker, &LineWorker::scanned);
        // Cancelled from the worker's own thread while address 20 is asked.
        QVector<int> asked;
        connect(&worker, &LineWorker::addressAsked, &worker, [&](int a) {
            asked.append(a);
            if (a == 20)
                worker.cancel();
        }, Qt::DirectConnection);
        worker.scan(1, 247);
        QVERIFY(worker.waitIdle(30000));
        QTRY_COMPARE(done.count(), 1);

        const auto report = done.at(0).at(0).value<DeviceOps::ScanReport>();
        QCOMPARE(report.scanned, 19);
        QCOMPARE(report.stoppedBy, quint16(ResultCancelled));
        QCOMPARE(asked.size(), 20);
        QCOMPARE(hits.count(), 2);
        const auto seven = hits.at(1).at(0).value<DeviceOps::ScanHit>();
        QCOMPARE(seven.address, 7);
        QCOMPARE(seven.serialNumber, 107);
        QCOMPARE(seven.firmwareVersion, QStringLiteral("1.07"));
        // The request for address 20 was cut before it went out; nothing after it.
        QVector<int> expected(19);
        std::iota(expected.begin(), expected.end(), 1);
        QCOMPARE(typeAsked, expected);
        // A job posted after the cancel runs.
        QSignalSpy reads(&worker, &LineWorker::readsDone);
        worker.readDevices({5});
        QVERIFY(worker.waitIdle(30000));
        QTRY_COMPARE(reads.count(), 1);
        QCOMPARE(reads.at(0).at(1).toInt(), 1);   // nobody at 5: one failed read
    }

    void twoLinesAtOnce()
    {
        SimProcess simA;
        SimProcess simB;
        QVERIFY(simA.start({QStringLiteral("--address"), QStringLiteral("3")}));
        QVERIFY(simB.start({QStringLiteral("--address"), QStringLiteral("12")}));
        LineWorker a(simA.portPath());
        LineWorker b(simB.portPath());
        QSignalSpy aDone(&a, &LineWorker::scanned);
        QSignalSpy bDone(&b, &LineWorker::scanned);
        QSignalSpy bRead(&b, &LineWorker::deviceRead);
        a.scan(1, 247);
        b.scan(10, 14);
        b.readDevices({12});
        QVERIFY(b.waitIdle(60000));
        // Line A still scans; cancelling it leaves B's results whole.
        QVERIFY(!a.waitIdle(0));
        a.cancel();
        QVERIFY(a.waitIdle(10000));
        QTRY_COMPARE(aDone.count(), 1);
        QTRY_COMPARE(bRead.count(), 1);

        const auto ra = aDone.at(0).at(0).value<DeviceOps::ScanReport>();
        const auto rb = bDone.at(0).at(0).value<DeviceOps::ScanReport>();
        QVERIFY2(ra.scanned < 247, qPrintable(QString::number(ra.scanned)));
        QCOMPARE(rb.scanned, 5);
        QCOMPARE(rb.hits.size(), 1);
        QCOMPARE(rb.hits[0].address, 12);
        const auto read = bRead.at(0).at(0).value<LineWorker::DeviceRead>();
        QVERIFY(read.ok());
        QCOMPARE(read.address, 12);
        QCOMPARE(read.port, simB.portPath());
        QCOMPARE(int(read.writeCount), 48);

        // Each simulator heard only its own line's requests.
        for (const QByteArray &f : simB.allRequests())
            QVERIFY2(quint8(f[0]) >= 10 && quint8(f[0]) <= 14, f.toHex().constData());
        int aAsked = 0;
        for (const QByteArray &f : simA.allRequests()) {
            QCOMPARE(quint8(f[1]), quint8(quint8(f[0]) == 3 ? f[1] : 4));
            ++aAsked;
        }
        QVERIFY(aAsked >= ra.scanned);
    }
};

QTEST_GUILESS_MAIN(TestLineWorker)
#include "test_lineworker.moc"

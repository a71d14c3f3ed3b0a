// The journal's background sender: it syncs on a thread of its own, one
// sync at a time, at start, by its timer and after a nudge; a file location
// sends nothing; a change of location cancels the old sync; stop() cuts a
// running sync short and ends promptly, also against a server that cannot
// be reached.
#include "journallocation.h"
#include "journalsender.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>

namespace {

// A sync that takes `ms` unless cancelled, counting its calls and how many
// ran at once, and whether any ran on the GUI thread.
struct FakeSync {
    std::atomic_int calls{0};
    std::atomic_int inside{0};
    std::atomic_int mostAtOnce{0};
    std::atomic_bool onGuiThread{false};
    std::atomic_bool sawCancel{false};
    int ms = 50;

    JournalSender::SyncFunction function()
    {
        return [this](const QString &location, const std::atomic_bool *cancel) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                onGuiThread = true;
            const int now = ++inside;
            int most = mostAtOnce;
            while (now > most && !mostAtOnce.compare_exchange_weak(most, now)) {
            }
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < ms && !*cancel)
                QThread::msleep(5);
            if (*cancel)
                sawCancel = true;
            --inside;
            Journal::SyncReport report;
            report.server = location;
            report.sent = ++calls;
            return report;
        };
    }
};

const QString Unreachable = QStringLiteral("postgresql://tl@10.255.255.1:5432/journal?connect_timeout=3");

} // namespace

class JournalSenderTest : public QObject
{
    Q_OBJECT
private slots:
    void syncsOffTheGuiThreadOneAtATime();
    void fileLocationSendsNothing();
    void stopCutsSyncShort();
    void stopsPromptlyAgainstUnreachableServer();
};

void JournalSenderTest::syncsOffTheGuiThreadOneAtATime()
{
    FakeSync fake;
    JournalSender sender(nullptr, fake.function());
    QSignalSpy ended(&sender, &JournalSender::syncEnded);
    sender.setLocation(Unreachable);
    sender.setPeriod(150);
    sender.setNudgeDelay(10);
    sender.start();
    // At start, then by the timer, with nudges in between: never two at once.
    for (int i = 0; i < 20; ++i) {
        sender.nudge();
        QTest::qWait(20);
    }
    QTRY_VERIFY_WITH_TIMEOUT(fake.calls >= 4 && ended.count() >= 4, 30000);
    QVERIFY(!fake.onGuiThread);
    QCOMPARE(fake.mostAtOnce.load(), 1);
    const auto report = ended.last().at(0).value<Journal::SyncReport>();
    QCOMPARE(report.server, Unreachable);
    QVERIFY(sender.hasReport() && sender.lastReport().sent >= 4);

    // Another server: the report of the old one is not taken as the new one's.
    const QString other = QStringLiteral("service=team");
    sender.setLocation(other);
    QVERIFY(!sender.hasReport());
    QTRY_VERIFY_WITH_TIMEOUT(sender.hasReport() && sender.lastReport().server == other, 30000);

    // Retargeted to a file: the sends end.
    sender.setLocation(QStringLiteral("/tmp/journal.sqlite"));
    QTRY_VERIFY_WITH_TIMEOUT(!sender.busy(), 30000);
    const int calls = fake.calls;
    sender.nudge();
    QTest::qWait(400);
    QCOMPARE(fake.calls.load(), calls);
    sender.stop();
}

void JournalSenderTest::fileLocationSendsNothing()
{
    FakeSync fake;
    QTemporaryDir dir;
    JournalSender sender(nullptr, fake.function());
    sender.setLocation(dir.filePath(QStringLiteral("journal.sqlite")));
    sender.setPeriod(20);
    sender.setNudgeDelay(1);
    sender.start();
    sender.nudge();
    QTest::qWait(300);
    QCOMPARE(fake.calls.load(), 0);
    QVERIFY(!sender.busy());
}

void JournalSenderTest::stopCutsSyncShort()
{
    FakeSync fake;
    fake.ms = 120000;   // would run two minutes unless cancelled
    auto sender = std::make_unique<JournalSender>(nullptr, fake.function());
    QSignalSpy ended(sender.get(), &JournalSender::syncEnded);
    sender->setLocation(Unreachable);
    sender->start();
    QTRY_VERIFY_WITH_TIMEOUT(fake.inside == 1, 30000);
    QElapsedTimer t;
    t.start();
    sender.reset();
    QVERIFY2(t.elapsed() < 20000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(fake.sawCancel);
    QCOMPARE(fake.inside.load(), 0);
    QCoreApplication::processEvents();
    QCOMPARE(ended.count(), 0);
}

void JournalSenderTest::stopsPromptlyAgainstUnreachableServer()
{
    // The real sync, against an address nobody answers (or that the network
    // refuses at once): the program's exit never waits past libpq's
    // connect_timeout and stop()'s margin.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    JournalSender sender;
    sender.setLocation(Unreachable);
    sender.start();
    QTest::qWait(500);
    QElapsedTimer t;
    t.start();
    sender.stop();
    QVERIFY2(t.elapsed() < (Journal::ConnectTimeoutSeconds + 5) * 1000 + 5000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!sender.busy());
}

QTEST_GUILESS_MAIN(JournalSenderTest)
#include "test_journalsender.moc"

// tlctl journal sync against a throw-away PostgreSQL server: eight
// technicians' outboxes sent at once arrive whole, once each and in one
// unbroken chain; a server stopped in the middle of a send loses nothing,
// and the next sync completes it.
#include "journalchain.h"
#include "journalsync.h"
#include "pgcluster.h"
#include "tlctlrun.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

// An outbox of `count` records in the user's file under `dataHome`, written
// through the journal as tlctl and the program write them.
bool fillOutbox(const QString &dataHome, int count, QString *why)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    Journal::Database db;
    Journal::Error e = db.open(Journal::defaultPath());
    if (e.ok())
        e = db.begin();
    for (int i = 0; e.ok() && i < count; ++i) {
        Journal::Record r;
        r.kind = QStringLiteral("gas_zero");
        r.serial = 1000 + i;
        r.value = QStringLiteral("50.0 %LEL");
        r.ok = true;
        r.source = QStringLiteral("tlctl");
        e = db.append(r);
    }
    if (e.ok())
        e = db.commit();
    *why = Journal::errorText(e);
    return e.ok();
}

// How many records wait in the file under `dataHome`; -1 when it cannot be
// read.
qint64 waitingIn(const QString &dataHome)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    Journal::Database db;
    Journal::Waiting w;
    if (!db.open(Journal::defaultPath()).ok() || !Journal::waiting(db, &w).ok())
        return -1;
    return w.records;
}

// Empty when the server's records are all there once and chained one after
// another in id order; else what is wrong.
QString serverProblem(const QString &location, int expected)
{
    Journal::Database db;
    QVector<Journal::Record> all;
    const Journal::Error e = db.open(location);
    if (!e.ok() || !db.select(QString(), {}, 0, &all).ok())
        return Journal::errorText(e);
    QSet<QString> uuids;
    QString previous = QLatin1String(Journal::GenesisHash);
    for (const Journal::Record &r : all) {
        uuids.insert(r.uuid);
        if (r.prevHash != previous || r.hash != Journal::chainHash(previous, r))
            return QStringLiteral("record %1 is not chained to the one before").arg(r.id);
        previous = r.hash;
    }
    if (all.size() != expected || uuids.size() != expected)
        return QStringLiteral("%1 records, %2 UUIDs on the server, %3 expected").arg(all.size()).arg(uuids.size()).arg(expected);
    return QString();
}

qint64 serverCount(QSqlDatabase &db)
{
    QSqlQuery q(db);
    return q.exec(QStringLiteral("SELECT count(*) FROM records")) && q.next() ? q.value(0).toLongLong() : -1;
}

} // namespace

class TlctlJournalSyncTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(pg.start(), qPrintable(pg.why()));
    }
    void eightSendersAtOnce();
    void serverStoppedMidSend();

private:
    QTemporaryDir dir;
    PgCluster pg;
};

void TlctlJournalSyncTest::eightSendersAtOnce()
{
    QVERIFY2(pg.createDatabase(QStringLiteral("eight")), qPrintable(pg.why()));
    const QString server = pg.url(QStringLiteral("eight"));
    std::vector<std::unique_ptr<QProcess>> senders;
    for (int i = 0; i < 8; ++i) {
        const QString dataHome = dir.filePath(QStringLiteral("eight%1").arg(i));
        QString why;
        QVERIFY2(fillOutbox(dataHome, 200, &why), qPrintable(why));
        // Half name the server on the command line, half in the variable.
        QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), dataHome}};
        QStringList args{QStringLiteral("journal"), QStringLiteral("sync")};
        if (i % 2)
            env.insert(QStringLiteral("TLCTL_JOURNAL"), server);
        else
            args << QStringLiteral("--journal") << server;
        senders.emplace_back(new QProcess);
        senders.back()->setProcessEnvironment(tlctlEnvironment(env));
        senders.back()->start(tlctlPath(), args);
    }
    for (auto &p : senders) {
        QVERIFY(p->waitForFinished(300000));
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        QVERIFY2(p->exitCode() == 0 && out.startsWith(QStringLiteral("sent 200 records and 0 register changes to "))
                     && out.endsWith(QStringLiteral("; 0 wait\n")),
                 qPrintable(out + QString::fromUtf8(p->readAllStandardError())));
    }
    QCOMPARE(serverProblem(server, 1600), QString());
    for (int i = 0; i < 8; ++i)
        QCOMPARE(waitingIn(dir.filePath(QStringLiteral("eight%1").arg(i))), qint64(0));
}

void TlctlJournalSyncTest::serverStoppedMidSend()
{
    QVERIFY2(pg.createDatabase(QStringLiteral("stopped")), qPrintable(pg.why()));
    const QString server = pg.url(QStringLiteral("stopped"));
    const QString dataHome = dir.filePath(QStringLiteral("stopped"));
    const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), dataHome},
                                     {QStringLiteral("TLCTL_JOURNAL"), server}};
    // The server is stopped once it holds some of the outbox; should the
    // send have finished first (a fast machine), the outbox grows and it
    // is tried again.
    int total = 0;
    qint64 before = 0, atStop = 0;
    for (int size = 20000; size <= 80000 && (atStop <= before || atStop >= total); size *= 2) {
        QString why;
        QVERIFY2(fillOutbox(dataHome, size - total, &why), qPrintable(why));
        total = size;
        {
            QSqlDatabase watch = pg.connect(QStringLiteral("watch"), QStringLiteral("stopped"));
            QVERIFY2(watch.isOpen(), qPrintable(watch.lastError().text()));
            before = serverCount(watch);
            QProcess sender;
            sender.setProcessEnvironment(tlctlEnvironment(env));
            sender.start(tlctlPath(), {QStringLiteral("journal"), QStringLiteral("sync")});
            QVERIFY(sender.waitForStarted(30000));
            QElapsedTimer clock;
            clock.start();
            qint64 count = before;
            while (count <= before && sender.state() != QProcess::NotRunning && clock.elapsed() < 240000) {
                QThread::msleep(20);
                count = serverCount(watch);
            }
            QVERIFY2(pg.kill(), qPrintable(pg.why()));
            QVERIFY(sender.waitForFinished(120000));
            atStop = count;
            const QString err = QString::fromUtf8(sender.readAllStandardError());
            if (atStop > before && atStop < total) {
                // Cut off: it says so and what still waits, and the file
                // keeps it.
                QVERIFY2(sender.exitCode() == 6 && err.contains(QStringLiteral(" wait in ")), qPrintable(err));
                QVERIFY(waitingIn(dataHome) > 0);
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("watch"));
        QVERIFY2(pg.restart(), qPrintable(pg.why()));
    }
    QVERIFY2(atStop > before && atStop < total, "the server was never stopped in the middle of a send");

    const TlctlRun again = runTlctl({QStringLiteral("journal"), QStringLiteral("sync")}, env, 600000);
    QVERIFY2(again.code == 0 && again.out.endsWith(QStringLiteral("; 0 wait\n")), qPrintable(again.err + again.out));
    QCOMPARE(serverProblem(server, total), QString());
    QCOMPARE(waitingIn(dataHome), qint64(0));

    // With the server out of reach, reading the journal works from this
    // computer's copy, after one warning.
    const QString nowhere =
        QStringLiteral("postgresql://%1@127.0.0.1:%2/stopped?sslmode=disable").arg(pg.user()).arg(PgCluster::freePort());
    const TlctlRun offline = runTlctl({QStringLiteral("journal"), QStringLiteral("--serial"), QStringLiteral("1000"),
                                       QStringLiteral("--journal"), nowhere},
                                      {{QStringLiteral("XDG_DATA_HOME"), dataHome}});
    QVERIFY2(offline.code == 0 && offline.oneErrorLine()
                 && offline.err.contains(QStringLiteral("working from this computer's copy"))
                 && offline.out.contains(QStringLiteral("gas zero")),
             qPrintable(offline.err + offline.out.right(300)));
}

QTEST_GUILESS_MAIN(TlctlJournalSyncTest)
#include "test_tlctl_journalsync.moc"

// Sending a file of this computer to a team's server (a throw-away one) and
// reading back: older journals arrive whole and chained, a second send or a
// lost acknowledgement makes no duplicate, and the site register meets in
// one state on the server and in every technician's file, whatever order
// they sync in, with a technician's interval refused and the rest taken.
#include "journalchain.h"
#include "journalplace.h"
#include "journalserver.h"
#include "journalsync.h"
#include "registerrecords.h"
#include "siteregister.h"

#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using namespace Journal;

namespace {

const QString VersionOneRecords = QStringLiteral(
    "CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, device_type INTEGER NOT NULL,"
    " serial INTEGER NOT NULL, serial_text TEXT NOT NULL, firmware TEXT NOT NULL, address INTEGER NOT NULL,"
    " level TEXT NOT NULL, kind TEXT NOT NULL, value TEXT NOT NULL, before_text TEXT NOT NULL,"
    " after_text TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL, source TEXT NOT NULL)");
const QStringList VersionTwoRegister = {
    QStringLiteral("CREATE TABLE sites (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL UNIQUE,"
                   " calibration_interval_days INTEGER NOT NULL DEFAULT 180, created TEXT NOT NULL)"),
    QStringLiteral("CREATE TABLE detectors (site_id INTEGER NOT NULL REFERENCES sites(id), serial INTEGER NOT NULL,"
                   " serial_text TEXT NOT NULL, tag TEXT NOT NULL DEFAULT '', port TEXT NOT NULL, address INTEGER"
                   " NOT NULL, device_type INTEGER NOT NULL, write_count INTEGER NOT NULL, firmware TEXT NOT NULL,"
                   " unit TEXT NOT NULL, range_min TEXT NOT NULL, range_max TEXT NOT NULL, limit1 TEXT NOT NULL,"
                   " limit2 TEXT NOT NULL, block TEXT NOT NULL, gas TEXT NOT NULL DEFAULT '', first_seen TEXT NOT"
                   " NULL, last_read TEXT NOT NULL, backup_path TEXT NOT NULL DEFAULT '', backup_time TEXT NOT NULL"
                   " DEFAULT '', backup_block TEXT NOT NULL DEFAULT '', PRIMARY KEY (site_id, serial))"),
    QStringLiteral("CREATE TABLE detector_moves (id INTEGER PRIMARY KEY AUTOINCREMENT, site_id INTEGER NOT NULL,"
                   " serial INTEGER NOT NULL, time TEXT NOT NULL, old_port TEXT NOT NULL, old_address INTEGER NOT"
                   " NULL, new_port TEXT NOT NULL, new_address INTEGER NOT NULL)")};

QString recordSql(int n)
{
    return QStringLiteral("INSERT INTO records (time, device_type, serial, serial_text, firmware, address, level, "
                          "kind, value, before_text, after_text, outcome, reason, source) VALUES "
                          "('2024-03-%1T10:00:00.000Z', 1, %2, '', '1.07', 1, 'Velta', 'gas_zero', '', '', '', "
                          "'ok', '', 'program')").arg(n + 1, 2, 10, QLatin1Char('0')).arg(4700 + n);
}

LineWorker::DeviceRead detector(const QString &port, int address, qint32 serial, double limit1)
{
    LineWorker::DeviceRead r;
    r.port = port;
    r.address = address;
    r.deviceType = Params::TypeDetector1;
    r.writeCount = Params::HoldingCount;
    r.block.DeviceTypeReg = quint16(Params::TypeDetector1);
    r.block.SerialNum = serial;
    r.block.ValueMax = 1000;
    r.block.Limit1 = quint16(limit1);
    r.block.NetAddress = quint8(address);
    return r;
}

// Every record of the open journal, by id.
QVector<Record> allRecords(const QString &location)
{
    Database db;
    QVector<Record> all;
    if (db.open(location).ok())
        db.select(QString(), {}, 0, &all);
    return all;
}

QSet<QString> uuids(const QVector<Record> &records)
{
    QSet<QString> set;
    for (const Record &r : records)
        set.insert(r.uuid);
    return set;
}

// Empty when the server's records are chained one after another in id
// order; else the first record where they are not.
QString chainBreak(const QVector<Record> &records)
{
    QString previous = QLatin1String(GenesisHash);
    for (const Record &r : records) {
        if (r.prevHash != previous || r.hash != chainHash(previous, r))
            return QStringLiteral("record %1 (%2) is not chained on").arg(r.id).arg(r.uuid);
        previous = r.hash;
    }
    return QString();
}

} // namespace

class JournalSyncTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        QVERIFY2(pg.start(), qPrintable(pg.why()));
    }
    void olderJournalsSentWholeAndOnce();
    void registerMeetsInEveryCopy_data();
    void registerMeetsInEveryCopy();

private:
    // This computer's file when the user's data folder is `name` (the
    // technician's home).
    QString home(const QString &name)
    {
        const QString path = dir.filePath(name);
        qputenv("XDG_DATA_HOME", QFile::encodeName(path));
        return defaultPath();
    }

    QTemporaryDir dir;
    PgCluster pg;
};

void JournalSyncTest::olderJournalsSentWholeAndOnce()
{
    JournalPlace server(true, pg, QStringLiteral("older"), QString());
    QVERIFY2(server.ready(), qPrintable(server.why));

    // A file of version 1 (records only) and one of version 2 (with the
    // register's tables), each with records made before there were UUIDs,
    // and one more written now through the journal.
    const QStringList homes{QStringLiteral("v1"), QStringLiteral("v2")};
    for (int v = 1; v <= 2; ++v) {
        const QString path = home(homes[v - 1]);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        JournalPlace file(false, pg, QString(), path);
        QStringList sql{VersionOneRecords};
        if (v == 2)
            sql << VersionTwoRegister;
        for (int n = 0; n < 3 * v; ++n)
            sql << recordSql(10 * v + n);
        sql << QStringLiteral("PRAGMA user_version = %1").arg(v);
        QVERIFY2(file.run(sql), qPrintable(file.why));
        Record now;
        now.kind = QStringLiteral("firmware");
        QVERIFY(append(now, server.location).ok());   // into this computer's file
    }
    const qint64 total = 4 + 7;

    home(homes[0]);
    SyncReport r = sync(server.location);
    QVERIFY2(r.error.ok(), qPrintable(errorText(r.error)));
    QCOMPARE(r.sent, qint64(4));
    QCOMPARE(r.left.total(), qint64(0));
    home(homes[1]);
    r = sync(server.location);
    QVERIFY2(r.error.ok(), qPrintable(errorText(r.error)));
    QCOMPARE(r.sent + r.received, total);   // its own 7 sent, the first file's 4 read back
    QCOMPARE(r.received, qint64(4));

    QVector<Record> onServer = allRecords(server.location);
    QCOMPARE(onServer.size(), int(total));
    QCOMPARE(uuids(onServer).size(), int(total));
    QCOMPARE(chainBreak(onServer), QString());

    // Again: nothing to send, nothing twice.  The first file reads the
    // second's records; both files then hold what the server holds.
    r = sync(server.location);
    QVERIFY(r.error.ok() && r.sent == 0 && r.alreadyThere == 0 && r.received == 0);
    const QString first = home(homes[0]);
    r = sync(server.location);
    QVERIFY(r.error.ok() && r.sent == 0 && r.received == 7);
    QCOMPARE(uuids(allRecords(first)), uuids(onServer));
    QCOMPARE(uuids(allRecords(home(homes[1]))), uuids(onServer));

    // An acknowledgement lost (the server committed, this file never heard):
    // the records go again, are found there and are acknowledged as the
    // server holds them; none is added.
    JournalPlace file(false, pg, QString(), first);
    QVERIFY2(file.run({QStringLiteral("UPDATE records SET server_id = 0, prev_hash = '', hash = '' WHERE id <= 2")}),
             qPrintable(file.why));
    home(homes[0]);
    r = sync(server.location);
    QVERIFY(r.error.ok());
    QCOMPARE(r.alreadyThere, qint64(2));
    QCOMPARE(r.sent, qint64(0));
    QCOMPARE(allRecords(server.location).size(), int(total));
    QCOMPARE(file.value(QStringLiteral("SELECT count(*) FROM records WHERE server_id = 0 OR hash = ''")).toInt(), 0);

    // An unreachable server is said at once, and what waits stays.
    Record later;
    later.kind = QStringLiteral("file_load");
    QVERIFY(append(later, server.location).ok());
    const QString nowhere =
        QStringLiteral("postgresql://tltest@127.0.0.1:%1/older?sslmode=disable").arg(PgCluster::freePort());
    r = sync(nowhere);
    QCOMPARE(r.error.problem, Problem::CannotOpen);
    QCOMPARE(r.left.records, qint64(1));
}

void JournalSyncTest::registerMeetsInEveryCopy_data()
{
    QTest::addColumn<bool>("newerFirst");
    QTest::newRow("older tag sent first") << false;
    QTest::newRow("newer tag sent first") << true;
}

void JournalSyncTest::registerMeetsInEveryCopy()
{
    QFETCH(bool, newerFirst);
    const QString name = newerFirst ? QStringLiteral("team_b") : QStringLiteral("team_a");
    JournalPlace server(true, pg, name, QString());
    QVERIFY2(server.ready(), qPrintable(server.why));
    {
        // The team's roles (the owner may make them), and two technicians.
        QVERIFY(pg.superuserSql(QStringLiteral("postgres"), {QStringLiteral("ALTER ROLE %1 CREATEROLE").arg(pg.user())}));
        Database owner;
        QVERIFY(owner.open(server.location).ok());
        QStringList said;
        const Error e = initServer(owner, &said);
        QVERIFY2(e.ok(), qPrintable(errorText(e)));
    }
    const QString anna = name + QStringLiteral("_anna"), boris = name + QStringLiteral("_boris");
    QVERIFY2(pg.createLogin(anna, {QLatin1String(TechnicianRole)}), qPrintable(pg.why()));
    QVERIFY2(pg.createLogin(boris, {QLatin1String(TechnicianRole)}), qPrintable(pg.why()));
    const QString site = QStringLiteral("Котельная");
    const QDateTime monday(QDate(2025, 3, 3), QTime(9, 0), Qt::UTC);

    // Each technician works in a file of their own, offline: the same site,
    // the same detector surveyed (Boris later, on another line), and its tag
    // set, Anna's first, Boris's later.  Anna also sets the interval, which
    // is an admin's to set.
    auto work = [&](const QString &who, const QDateTime &when, const QString &port, double limit, const QString &tag) {
        Database db;
        QVERIFY(db.open(home(who)).ok());
        Site::Register reg(db);
        Site::Info info;
        QVERIFY(reg.createSite(site, Site::DefaultIntervalDays, &info).ok());
        Site::SurveyChanges changes;
        QVERIFY(reg.applySurvey(info.id, {detector(port, 3, 4711, limit)}, when, &changes).ok());
        QVERIFY(reg.setTag(info.id, 4711, tag).ok());
        if (who == anna)
            QVERIFY(reg.setInterval(info.id, 90).ok());
        QThread::msleep(20);   // the next change is a later one
    };
    work(anna, monday, QStringLiteral("/dev/ttyUSB0"), 20, QStringLiteral("у входа"));
    work(boris, monday.addDays(1), QStringLiteral("/dev/ttyUSB1"), 25, QStringLiteral("у насоса"));

    const QStringList order = newerFirst ? QStringList{boris, anna, boris} : QStringList{anna, boris, anna};
    qint64 refused = 0, registerSent = 0;
    for (const QString &who : order) {
        home(who);
        const SyncReport r = sync(pg.url(name, who));
        QVERIFY2(r.error.ok(), qPrintable(errorText(r.error)));
        QCOMPARE(r.left.total(), qint64(0));
        refused += r.refused;
        registerSent += r.registerSent;
    }
    // Anna's interval alone was refused, once; every other change went.
    QCOMPARE(refused, qint64(1));
    QCOMPARE(registerSent, qint64(3 + 3));
    QVERIFY(server.value(QStringLiteral("SELECT count(*) FROM register_records WHERE field = 'interval'")).toInt() == 0);

    // The server and both files: the newest tag and read (Boris's), the
    // earliest sighting (Anna's), and all the history.
    const QString detectorState = QStringLiteral(
        "SELECT d.tag || '|' || d.port || '|' || d.limit1 || '|' || d.first_seen || '|' || d.last_read || '|' || "
        "(SELECT count(*) FROM detectors) || '|' || (SELECT count(*) FROM sites) FROM detectors d");
    const QString history = QStringLiteral("SELECT count(*) FROM register_records WHERE field <> 'interval'");
    const QString expected = server.value(detectorState).toString();
    QVERIFY2(expected.startsWith(QStringLiteral("у насоса|/dev/ttyUSB1|")) && expected.endsWith(QLatin1String("|1|1")),
             qPrintable(expected + server.why));
    QVERIFY2(expected.contains(QStringLiteral("|2025-03-03T")) && expected.contains(QStringLiteral("|2025-03-04T")),
             qPrintable(expected));
    QCOMPARE(server.value(history).toInt(), 6);
    for (const QString &who : {anna, boris}) {
        JournalPlace file(false, pg, QString(), home(who));
        QCOMPARE(file.value(detectorState).toString(), expected);
        QCOMPARE(file.value(history).toInt(), 6);
    }
    JournalPlace annasFile(false, pg, QString(), home(anna));
    QVERIFY(!annasFile.value(QStringLiteral("SELECT refused FROM register_records WHERE field = 'interval'"))
                 .toString().isEmpty());

    // Synced again, nothing goes twice and the refused change stays put.
    home(anna);
    const SyncReport again = sync(pg.url(name, anna));
    QVERIFY(again.error.ok() && again.registerSent == 0 && again.refused == 0 && again.left.refused == 1);
}

QTEST_GUILESS_MAIN(JournalSyncTest)
#include "test_journalsync.moc"

// The calibration journal's database on its own: schema, records in and out,
// filters, CSV, and the clear answers for a locked, damaged or newer file;
// the same journal on a PostgreSQL server (a throw-away one, started once for
// this test), its schema, migration and write lock.
#include "command.h"
#include "journal.h"
#include "journalchain.h"
#include "journalplace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

using namespace Journal;

namespace {

// The link this test works through.
Command link;

Record make(qint64 serial, const QString &kind, const QDateTime &time, bool ok = true)
{
    Record r;
    r.time = time;
    r.deviceType = 1;
    r.serial = serial;
    r.serialText = QStringLiteral("TL02ID%1").arg(serial, 7, 10, QLatin1Char('0'));
    r.firmware = QStringLiteral("1.07");
    r.address = 1;
    r.level = QStringLiteral("Velta");
    r.kind = kind;
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_4ma=8000; adc_20ma=40000");
    r.after = QStringLiteral("adc_4ma=8100; adc_20ma=40100");
    r.ok = ok;
    r.reason = ok ? QString() : QStringLiteral("no reply, \"timeout\"");
    r.source = QStringLiteral("program");
    return r;
}

// A record added straight into the journal at `location` (append() itself
// writes to this computer's file, where a server's records wait).
Error appendAt(Record &r, const QString &location)
{
    Database db;
    const Error e = db.open(location);
    return e.ok() ? db.append(r) : e;
}

} // namespace

class JournalTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir.isValid()); Database::busyTimeoutMs = 3000; }
    void recordsFiltersAndSchema_data() { JournalPlace::addRows(); }
    void recordsFiltersAndSchema();
    void serverSchemaMigrationAndLock();
    void csvQuotesAndHeader();
    void startedWithoutEndIsUnfinished();
    void defaultPathFollowsDataHome();
    void lockedFileAnsweredInTime();
    void damagedOrForeignFileNamed_data();
    void damagedOrForeignFileNamed();
    void newerSchemaRefused();
    void recordFromDeviceAndFieldTexts();
    void unusableFileKeepsRecordBeside_data();
    void unusableFileKeepsRecordBeside();

private:
    QTemporaryDir dir;
    PgCluster pg;
};

void JournalTest::recordsFiltersAndSchema()
{
    QFETCH(bool, server);
    // A file's folders are made on open.
    JournalPlace place(server, pg, QStringLiteral("records"), dir.filePath(QStringLiteral("a/b/journal.sqlite")));
    QVERIFY2(place.ready(), qPrintable(place.why));
    const QString path = place.location;
    const QDate today = QDate::currentDate();
    Record r1 = make(1234, QStringLiteral("gas_zero"), QDateTime(today.addDays(-10), QTime(9, 0)));
    Record r2 = make(1234, QStringLiteral("gas_span"), QDateTime(today, QTime(10, 30, 0, 125)), false);
    // A serial number past 32 bits is kept whole.
    Record r3 = make(4000000777LL, QStringLiteral("file_load"), QDateTime(today.addDays(-1), QTime(23, 59, 59)));
    r3.deviceType = 2;
    r3.address = 247;
    r3.level = QStringLiteral("Admin");
    r3.source = QStringLiteral("tlctl");
    r3.firmware = QStringLiteral("1.08 «β»");
    // A session's record: its group, its details, and the outcome "started".
    r2.group = QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7");
    r2.started = true;
    r3.group = r2.group;
    r3.details = QStringLiteral("{\"kind\":\"calibration\",\"technician\":\"Анна\"}");
    QVERIFY(appendAt(r1, path).ok());
    QVERIFY(appendAt(r2, path).ok());
    QVERIFY(appendAt(r3, path).ok());
    QVERIFY(r1.id > 0 && r2.id > r1.id && r3.id > r2.id);

    Database db;
    QVERIFY(db.open(path).ok());
    QVector<Record> all;
    QVERIFY(db.query(Filter(), &all).ok());
    QCOMPARE(all.size(), 3);
    // Oldest first, every field back as written.
    QCOMPARE(all[0].id, r1.id);
    QCOMPARE(all[1].id, r3.id);
    QCOMPARE(all[2].id, r2.id);
    for (const auto &pair : {qMakePair(all[2], r2), qMakePair(all[1], r3)}) {
        const Record &back = pair.first;
        const Record &written = pair.second;
        QCOMPARE(back.time, written.time);
        QCOMPARE(back.deviceType, written.deviceType);
        QCOMPARE(back.serial, written.serial);
        QCOMPARE(back.serialText, written.serialText);
        QCOMPARE(back.firmware, written.firmware);
        QCOMPARE(back.address, written.address);
        QCOMPARE(back.level, written.level);
        QCOMPARE(back.kind, written.kind);
        QCOMPARE(back.value, written.value);
        QCOMPARE(back.before, written.before);
        QCOMPARE(back.after, written.after);
        QCOMPARE(back.ok, written.ok);
        QCOMPARE(back.reason, written.reason);
        QCOMPARE(back.source, written.source);
        QCOMPARE(back.uuid, written.uuid);
        QCOMPARE(back.login, written.login);
        QCOMPARE(back.host, written.host);
        QCOMPARE(back.started, written.started);
        QCOMPARE(back.group, written.group);
        QCOMPARE(back.details, written.details);
    }
    // Made when written: a UUID each, the login name and the host.
    QVERIFY(!QUuid::fromString(r1.uuid).isNull() && r1.uuid != r2.uuid && r2.uuid != r3.uuid);
    QCOMPARE(all[0].login, loginName());
    QVERIFY(!loginName().isEmpty());
    QCOMPARE(all[0].host, QSysInfo::machineHostName());
    QCOMPARE(all[0].reason, QString(QLatin1String("")));

    QVector<Record> found;
    QVERIFY(db.query(Filter{QStringLiteral("1234"), {}, {}}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QStringLiteral("tl02id4000000777"), {}, {}}, &found).ok());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].id, r3.id);
    // The day bounds are whole local days, both included.
    QVERIFY(db.query(Filter{QString(), today.addDays(-1), today}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QString(), {}, today.addDays(-1)}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QStringLiteral("1234"), today.addDays(-1), {}}, &found).ok());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].id, r2.id);
    db.close();

    // The schema carries its version.
    const QVariant version = place.value(server ? QStringLiteral("SELECT version FROM journal_schema")
                                                : QStringLiteral("PRAGMA user_version"));
    QVERIFY2(version.isValid(), qPrintable(place.why));
    QCOMPARE(version.toInt(), SchemaVersion);
}

void JournalTest::serverSchemaMigrationAndLock()
{
    QVERIFY2(pg.start(), qPrintable(pg.why()));
    qInfo("the test server started in %lld ms", pg.startMs());
    auto texts = [](const QVariantList &values) {
        QStringList out;
        for (const QVariant &v : values)
            out << v.toString();
        return out;
    };
    const QString tablesLeft = QStringLiteral("SELECT count(*) FROM information_schema.tables WHERE table_schema = "
                                              "current_schema() AND table_name IN ('records', 'sites', 'detectors', "
                                              "'detector_moves', 'journal_schema')");

    // The same tables with the same columns, in the same order, as a file.
    JournalPlace file(false, pg, QString(), dir.filePath(QStringLiteral("columns.sqlite")));
    JournalPlace server(true, pg, QStringLiteral("columns"), QString());
    QVERIFY2(server.ready(), qPrintable(server.why));
    for (const QString &location : {file.location, server.location}) {
        Database db;
        const Error e = db.open(location);
        QVERIFY2(e.ok(), qPrintable(errorText(e)));
    }
    for (const char *table : {"records", "sites", "detectors", "detector_moves"}) {
        const QStringList fileColumns =
            texts(file.column(QStringLiteral("SELECT name FROM pragma_table_info('%1')").arg(QLatin1String(table))));
        const QStringList serverColumns = texts(server.column(
            QStringLiteral("SELECT column_name::text FROM information_schema.columns WHERE table_schema = "
                           "current_schema() AND table_name = '%1' ORDER BY ordinal_position")
                .arg(QLatin1String(table))));
        QVERIFY2(!fileColumns.isEmpty(), table);
        QCOMPARE(serverColumns, fileColumns);
    }

    // A journal of version 2 on the server: each record it holds gets a
    // UUID of its own when it is opened.
    JournalPlace older(true, pg, QStringLiteral("older"), QString());
    QVERIFY2(older.ready(), qPrintable(older.why));
    {
        Database db;
        QVERIFY(db.open(older.location).ok());
    }
    const QString versionTwoRecord = QStringLiteral(
        "INSERT INTO records (time, device_type, serial, serial_text, firmware, address, level, kind, value, "
        "before_text, after_text, outcome, reason, source) VALUES ('2025-01-0%1T08:00:00.000Z', 1, 4711, '', "
        "'1.07', 1, 'Velta', 'gas_zero', '', '', '', 'ok', '', 'program')");
    QVERIFY2(older.run({QStringLiteral("DROP INDEX records_uuid"),
                        QStringLiteral("ALTER TABLE records DROP COLUMN uuid, DROP COLUMN login, DROP COLUMN host, "
                                       "DROP COLUMN prev_hash, DROP COLUMN hash, DROP COLUMN server_id, "
                                       "DROP COLUMN group_uuid, DROP COLUMN details"),
                        QStringLiteral("DROP TABLE register_records, register_state, journal_sync"),
                        QStringLiteral("UPDATE journal_schema SET version = 2"), versionTwoRecord.arg(1),
                        versionTwoRecord.arg(2)}),
             qPrintable(older.why));
    {
        Database db;
        const Error e = db.open(older.location);
        QVERIFY2(e.ok(), qPrintable(errorText(e)));
        QCOMPARE(db.versionFound(), 2);
        QVector<Record> records;
        QVERIFY(db.query(Filter(), &records).ok());
        QCOMPARE(records.size(), 2);
        QVERIFY(!QUuid::fromString(records[0].uuid).isNull() && !QUuid::fromString(records[1].uuid).isNull());
        QVERIFY(records[0].uuid != records[1].uuid);
        // ... and its place in the chain, in the order of the ids.
        QCOMPARE(records[0].prevHash, QLatin1String(GenesisHash));
        QCOMPARE(records[0].hash, chainHash(QLatin1String(GenesisHash), records[0]));
        QCOMPARE(records[1].prevHash, records[0].hash);
        QCOMPARE(records[1].hash, chainHash(records[0].hash, records[1]));
    }
    QCOMPARE(older.value(QStringLiteral("SELECT version FROM journal_schema")).toInt(), SchemaVersion);

    // A step that fails leaves nothing behind: one transaction, and a
    // failed statement is no unreachable server.
    JournalPlace clash(true, pg, QStringLiteral("clash"), QString());
    QVERIFY2(clash.ready() && clash.run({QStringLiteral("CREATE TABLE detector_moves (x INTEGER)")}),
             qPrintable(clash.why));
    {
        Database db;
        const Error e = db.open(clash.location);
        QCOMPARE(e.problem, Problem::Failed);
        QVERIFY2(e.detail.contains(QLatin1String("detector_moves")), qPrintable(e.detail));
    }
    QCOMPARE(clash.value(tablesLeft).toInt(), 1);

    // A journal of a newer program is refused, as such a file is.
    QVERIFY2(server.run({QStringLiteral("UPDATE journal_schema SET version = version + 1")}), qPrintable(server.why));
    {
        Database db;
        QCOMPARE(db.open(server.location).problem, Problem::NewerSchema);
    }
    QVERIFY2(server.run({QStringLiteral("UPDATE journal_schema SET version = version - 1")}), qPrintable(server.why));

    // A writer waits for another's lock, then says it is locked; once the
    // lock is free it takes it.
    {
        Database holder, waiter;
        QVERIFY(holder.open(server.location).ok());
        Database::busyTimeoutMs = 300;
        QVERIFY(waiter.open(server.location).ok());
        QVERIFY(holder.begin().ok());
        const Error locked = waiter.begin();
        QCOMPARE(locked.problem, Problem::Locked);
        QVERIFY2(errorText(locked).contains(QLatin1String("locked by another program")), qPrintable(errorText(locked)));
        QVERIFY(holder.commit().ok());
        QVERIFY(waiter.begin().ok());
        QVERIFY(waiter.commit().ok());
    }

    // A service name reaches the same database, the password again from
    // the pgpass file.
    const QString serviceFile = dir.filePath(QStringLiteral("pg_service.conf"));
    {
        QFile f(serviceFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral("[tl_tests]\nhost=%1\nport=%2\ndbname=columns\nuser=%3\nsslmode=disable\n")
                    .arg(pg.host()).arg(pg.port()).arg(pg.user()).toUtf8());
    }
    qputenv("PGSERVICEFILE", QFile::encodeName(serviceFile));
    Record viaService = make(55, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    const Error e = appendAt(viaService, QStringLiteral("service=tl_tests"));
    qunsetenv("PGSERVICEFILE");
    QVERIFY2(e.ok(), qPrintable(errorText(e)));
    QCOMPARE(server.value(QStringLiteral("SELECT serial FROM records WHERE id = %1").arg(viaService.id)).toLongLong(),
             qint64(55));

    // A server that drops the connection is one that cannot be reached.
    Database lost;
    QVERIFY(lost.open(server.location).ok());
    QVERIFY(pg.superuserSql(QStringLiteral("postgres"),
                            {QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
                                            "'columns' AND usename = '%1'").arg(pg.user())}));
    Record dropped = make(56, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    const Error gone = lost.append(dropped);
    QVERIFY2(gone.problem == Problem::CannotOpen,
             qPrintable(QStringLiteral("%1: %2").arg(int(gone.problem)).arg(gone.detail)));
}

void JournalTest::csvQuotesAndHeader()
{
    Record r = make(42, QStringLiteral("input_4ma"), QDateTime(QDate(2026, 3, 1), QTime(8, 5, 0)), false);
    r.id = 7;
    r.value = QStringLiteral("4,000 mA");
    r.uuid = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
    r.login = QStringLiteral("anna");
    r.host = QStringLiteral("bench-2");
    r.group = QStringLiteral("7c9e6679-7425-40de-944b-e07fc1f90ae7");
    r.details = QStringLiteral("{\"a\":1,\"b\":\"x\"}");
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    QVERIFY(writeCsv({r}, path).ok());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);   // header, one record, the empty rest after the last CR LF
    QVERIFY(lines[0].startsWith(QLatin1String("id,time,device_type,serial,")));
    QCOMPARE(lines[2], QString());
    QCOMPARE(lines[1], QStringLiteral("7,2026-03-01T08:05:00,1,42,TL02ID0000042,1.07,1,Velta,input_4ma,"
                                      "\"4,000 mA\",adc_4ma=8000; adc_20ma=40000,adc_4ma=8100; adc_20ma=40100,"
                                      "failed,\"no reply, \"\"timeout\"\"\",program,"
                                      "0f8fad5b-d9cb-469f-a165-70867728950e,anna,bench-2,"
                                      "7c9e6679-7425-40de-944b-e07fc1f90ae7,\"{\"\"a\"\":1,\"\"b\"\":\"\"x\"\"}\""));
    // A file that cannot be made is an error, not an empty success.
    QCOMPARE(writeCsv({r}, dir.filePath(QStringLiteral("none/x.csv"))).problem, Problem::FileWrite);
}

void JournalTest::defaultPathFollowsDataHome()
{
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    const QString path = defaultPath();
    qputenv("XDG_DATA_HOME", old);
    QCOMPARE(path, dir.filePath(QStringLiteral("data/tl-configuration/journal.sqlite")));
}

void JournalTest::lockedFileAnsweredInTime()
{
    const QString path = dir.filePath(QStringLiteral("locked.sqlite"));
    Record first = make(1, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    QVERIFY(append(first, path).ok());
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));

        Database::busyTimeoutMs = 300;
        QElapsedTimer clock;
        clock.start();
        Record r = make(2, QStringLiteral("gas_span"), QDateTime::currentDateTime());
        const Error e = append(r, path);
        const qint64 ms = clock.elapsed();
        QCOMPARE(e.problem, Problem::Locked);
        QCOMPARE(e.path, path);
        QVERIFY2(errorText(e).contains(QLatin1String("locked by another program")), qPrintable(errorText(e)));
        // It waited for the lock, and then gave up (wide bounds: a busy machine).
        QVERIFY2(ms >= 200 && ms < 30000, qPrintable(QString::number(ms)));

        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    // Once the lock is gone the journal takes records again.
    Record later = make(3, QStringLiteral("gas_span"), QDateTime::currentDateTime());
    QVERIFY(append(later, path).ok());
}

void JournalTest::damagedOrForeignFileNamed_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::newRow("not a database") << true;
    QTest::newRow("damaged journal") << false;
}

void JournalTest::damagedOrForeignFileNamed()
{
    QFETCH(bool, foreign);
    const QString path = dir.filePath(foreign ? QStringLiteral("foreign.sqlite") : QStringLiteral("damaged.sqlite"));
    if (foreign) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    } else {
        for (int i = 0; i < 50; ++i) {
            Record r = make(i, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
            QVERIFY(append(r, path).ok());
        }
        // Scramble every page after the header page.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        QVERIFY(size > 4096);
        f.seek(100);
        f.write(QByteArray(int(size - 100), '\xA5'));
    }
    Database db;
    Error e = db.open(path);
    if (e.ok()) {   // a damaged body may only show when it is read or written
        QVector<Record> records;
        e = db.query(Filter(), &records);
    }
    QVERIFY2(e.problem == Problem::Corrupt, qPrintable(QStringLiteral("%1: %2").arg(int(e.problem)).arg(errorText(e))));
    QVERIFY2(errorText(e).contains(QLatin1String("damaged or is not a journal")), qPrintable(errorText(e)));
    QVERIFY(!db.isOpen() || !e.ok());
}

void JournalTest::newerSchemaRefused()
{
    const QString path = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        raw.setDatabaseName(path);
        QVERIFY(raw.open());
        QSqlQuery q(raw);
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion + 1)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    Record r = make(5, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    const Error e = append(r, path);
    QCOMPARE(e.problem, Problem::NewerSchema);
    QCOMPARE(r.id, qint64(0));
}

void JournalTest::startedWithoutEndIsUnfinished()
{
    const QDateTime t(QDate(2026, 3, 1), QTime(8, 0));
    auto rec = [&](const QString &kind, const QString &group, bool started, const QString &uuid) {
        Record r = make(42, kind, t);
        r.group = group;
        r.started = started;
        r.uuid = uuid;
        return r;
    };
    // A retried zero whose second write never ended, a span that ended, and
    // a step of no session (its own UUID pairs it) that never ended.
    const QVector<Record> records = {rec("gas_zero", "g", true, "z1"), rec("gas_zero", "g", false, "z1e"),
                                     rec("gas_span", "g", true, "s1"), rec("gas_zero", "g", true, "z2"),
                                     rec("gas_span", "g", false, "s1e"), rec("output_4ma", "", true, "o1"),
                                     rec("gas_zero", "h", false, "other")};
    QCOMPARE(unfinished(records), (QStringList{"z2", "o1"}));

    // A record without the later fields hashes as before them; with them,
    // they are part of what the hash covers.
    Record old = make(42, QStringLiteral("gas_zero"), QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC));
    old.uuid = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
    QCOMPARE(chainHash(QLatin1String(GenesisHash), old),
             QStringLiteral("b9b0fe756096b33c21e717b785cdaccf4e07d5b369b88c4fc31d470f73c3f3ce"));
    Record grouped = old;
    grouped.group = QStringLiteral("g");
    Record detailed = grouped;
    detailed.details = QStringLiteral("{}");
    Record started = old;
    started.started = true;
    const QSet<QString> hashes = {chainHash(QLatin1String(GenesisHash), old), chainHash(QLatin1String(GenesisHash), grouped),
                                  chainHash(QLatin1String(GenesisHash), detailed), chainHash(QLatin1String(GenesisHash), started)};
    QCOMPARE(hashes.size(), 4);
}

void JournalTest::recordFromDeviceAndFieldTexts()
{
    link.resetState();
    link.DeviceType = 1;
    link.SlaveAddress = 17;
    link.UserName = QStringLiteral("Admin");
    link.DeviceParams.SerialNum = 4321;
    link.DeviceParams.DeviceTypeReg = 1;
    qstrncpy(link.DeviceParams.IdFirmwareVersion, "1.07", sizeof link.DeviceParams.IdFirmwareVersion);
    Record r = fromDevice(link, Kind::GasSpan, QStringLiteral("program"));
    QCOMPARE(r.kind, QStringLiteral("gas_span"));
    QCOMPARE(r.serial, qint64(4321));
    QCOMPARE(r.serialText, QStringLiteral("TL02ID0004321"));
    QCOMPARE(r.firmware, QStringLiteral("1.07"));
    QCOMPARE(r.address, 17);
    QCOMPARE(r.level, QStringLiteral("Admin"));
    // The bootloader's block may be another detector's: nothing of it is kept.
    link.DeviceType = 999;
    r = fromDevice(link, Kind::Firmware, QStringLiteral("tlctl"));
    QCOMPARE(r.serial, qint64(0));
    QVERIFY(r.serialText.isEmpty() && r.firmware.isEmpty());
    QCOMPARE(r.deviceType, 999);

    ParamBlock a{}, b{};
    a.ADCCode4m = 8000;
    b = a;
    b.ADCCode4m = 8123;
    b.PWMCode20m = 5000;
    QCOMPARE(fieldsText(calibrationFields(Kind::GasZero), b),
             QStringLiteral("adc_4ma=8123; adc_20ma=0; adc_calib=0; conc_calib=0 PPM"));
    QString was, now;
    differences(a, b, 48, &was, &now);
    QCOMPARE(was, QStringLiteral("adc_4ma=8000; pwm_20ma=0"));
    QCOMPARE(now, QStringLiteral("adc_4ma=8123; pwm_20ma=5000"));
    link.resetState();
}

void JournalTest::unusableFileKeepsRecordBeside_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("damaged file") << false;
    QTest::newRow("folder in its place") << true;
}

void JournalTest::unusableFileKeepsRecordBeside()
{
    QFETCH(bool, folder);
    const QString path = dir.filePath(folder ? QStringLiteral("folder.sqlite") : QStringLiteral("junk.sqlite"));
    if (folder) {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'j'));
    }
    Record r = make(4711, QStringLiteral("gas_span"), QDateTime::currentDateTime());
    r.uuid.clear();
    const Error e = append(r, path);
    QVERIFY(!e.ok());
    QCOMPARE(e.keptIn, sidePath(path));
    QVERIFY(errorText(e).contains(sidePath(path)));
    QVERIFY(!QUuid::fromString(r.uuid).isNull() && !r.host.isEmpty());
    // The side file holds the record whole, as one line.
    QFile side(sidePath(path));
    QVERIFY(side.open(QIODevice::ReadOnly));
    QList<QByteArray> lines = side.readAll().split('\n');
    side.close();
    QCOMPARE(lines.size(), 2);
    Record kept;
    QVERIFY(recordFromLine(lines[0], &kept));
    QCOMPARE(kept.uuid, r.uuid);
    QCOMPARE(kept.after, r.after);
    QCOMPARE(kept.time, r.time);
    // A line that is no record, and the same record once more.
    QVERIFY(side.open(QIODevice::Append));
    side.write("{\"half\": \n" + recordLine(r) + '\n');
    side.close();

    // The journal usable again: the first open takes the record in once
    // and leaves only the damaged line.
    if (folder)
        QVERIFY(QDir(path).removeRecursively());
    else
        QVERIFY(QFile::remove(path));
    for (int open = 0; open < 2; ++open) {
        Database db;
        QVERIFY(db.open(path).ok());
        QVector<Record> all;
        QVERIFY(db.query(Filter(), &all).ok());
        QCOMPARE(all.size(), 1);
        QCOMPARE(all[0].uuid, r.uuid);
        QCOMPARE(all[0].before, r.before);
        QCOMPARE(all[0].login, r.login);
        QVERIFY(side.open(QIODevice::ReadOnly));
        QCOMPARE(side.readAll(), QByteArray("{\"half\": \n"));
        side.close();
        // Taken in a second time (a copy of the side file put back): no duplicate.
        QVERIFY(side.open(QIODevice::Append));
        side.write(recordLine(r) + '\n');
        side.close();
    }
}

QTEST_GUILESS_MAIN(JournalTest)
#include "test_journal.moc"

// The site register in the journal's file: the move from a journal of
// version 1, what a survey reports against the last one and the last
// backup, and the due dates taken from the calibration records; the survey
// and the due dates on a PostgreSQL server (a throw-away one) as well.
#include "conversions.h"
#include "journalplace.h"
#include "siteregister.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

using namespace Site;

namespace {

const QString Line1 = QStringLiteral("/dev/ttyUSB0");
const QString Line2 = QStringLiteral("/dev/ttyUSB1");

LineWorker::DeviceRead detector(const QString &port, int address, qint32 serial, const char *firmware = "1.07",
                                double limit1 = 20)
{
    LineWorker::DeviceRead r;
    r.port = port;
    r.address = address;
    r.deviceType = Params::TypeDetector1;
    r.writeCount = Params::HoldingCount;
    ParamBlock &b = r.block;
    b.DeviceTypeReg = quint16(Params::TypeDetector1);
    b.SerialNum = serial;
    b.Config = Conv::withDecimals(0, 1);   // PPM, one decimal
    b.Scale = Conv::scaleFromConfig(b.Config);
    b.ValueMax = Conv::toScaled(100, b.Scale);
    b.Limit1 = Conv::limitWithValue(0, limit1, b.Scale);
    b.NetAddress = quint8(address);
    qstrncpy(b.IdFirmwareVersion, firmware, sizeof b.IdFirmwareVersion);
    return r;
}

// Runs plain SQL on a file of the test's own, outside the journal's code.
void runSql(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
}

QVariant sqlValue(const QString &path, const QString &statement)
{
    QVariant v;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(statement) && q.next())
                v = q.value(0);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
    return v;
}

const QString VersionOneRecords = QStringLiteral(
    "CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, time TEXT NOT NULL, device_type INTEGER NOT NULL,"
    " serial INTEGER NOT NULL, serial_text TEXT NOT NULL, firmware TEXT NOT NULL, address INTEGER NOT NULL,"
    " level TEXT NOT NULL, kind TEXT NOT NULL, value TEXT NOT NULL, before_text TEXT NOT NULL,"
    " after_text TEXT NOT NULL, outcome TEXT NOT NULL, reason TEXT NOT NULL, source TEXT NOT NULL)");

QString recordSql(qint64 serial, const QString &kind, const QDateTime &time, bool ok = true)
{
    return QStringLiteral("INSERT INTO records (time, device_type, serial, serial_text, firmware, address, level, "
                          "kind, value, before_text, after_text, outcome, reason, source) VALUES ('%1', 1, %2, "
                          "'', '1.07', 1, 'Velta', '%3', '', '', '', '%4', '', 'tlctl')")
        .arg(time.toUTC().toString(Qt::ISODateWithMs)).arg(serial).arg(kind,
                                                                          ok ? QStringLiteral("ok")
                                                                             : QStringLiteral("failed"));
}

} // namespace

class SiteRegisterTest : public QObject
{
    Q_OBJECT
private slots:
    void versionOneMigratedWholeOrNotAtAll();
    void secondSurveyReportsWhatChanged_data() { JournalPlace::addRows(); }
    void secondSurveyReportsWhatChanged();
    void dueStatusFollowsRecordsAndInterval_data() { JournalPlace::addRows(); }
    void dueStatusFollowsRecordsAndInterval();

private:
    QTemporaryDir dir;
    PgCluster pg;
};

void SiteRegisterTest::versionOneMigratedWholeOrNotAtAll()
{
    const QDateTime t(QDate(2024, 3, 1), QTime(10, 0));
    const QString path = dir.filePath(QStringLiteral("v1.sqlite"));
    runSql(path, {VersionOneRecords, recordSql(4711, QStringLiteral("gas_zero"), t),
                  recordSql(4712, QStringLiteral("file_load"), t.addDays(1), false),
                  QStringLiteral("PRAGMA user_version = 1")});
    {
        Journal::Database db;
        QVERIFY(db.open(path).ok());
        QVector<Journal::Record> records;
        QVERIFY(db.query(Journal::Filter(), &records).ok());
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].serial, qint64(4711));
        QCOMPARE(records[1].ok, false);
        // Each record that was there got a UUID of its own.
        QVERIFY(!records[0].uuid.isEmpty() && !records[1].uuid.isEmpty());
        QVERIFY(records[0].uuid != records[1].uuid);
        QVERIFY(!QUuid::fromString(records[0].uuid).isNull());
        Register reg(db);
        Info site;
        QVERIFY(reg.createSite(QStringLiteral("Котельная"), DefaultIntervalDays, &site).ok());
        QVERIFY(site.id > 0);
    }
    QCOMPARE(sqlValue(path, QStringLiteral("PRAGMA user_version")).toInt(), Journal::SchemaVersion);
    QCOMPARE(sqlValue(path, QStringLiteral("SELECT COUNT(DISTINCT uuid) FROM records WHERE uuid <> ''")).toInt(), 2);
    // The column is unique: a copy of a record's UUID is refused.
    {
        Journal::Record copy;
        copy.uuid = sqlValue(path, QStringLiteral("SELECT uuid FROM records LIMIT 1")).toString();
        QCOMPARE(Journal::append(copy, path).problem, Journal::Problem::Failed);
    }
    QCOMPARE(sqlValue(path, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                           "('sites', 'detectors', 'detector_moves')")).toInt(), 3);

    // A step that fails leaves the file as it was: still version 1, none of
    // the new tables.
    const QString clash = dir.filePath(QStringLiteral("clash.sqlite"));
    runSql(clash, {VersionOneRecords, QStringLiteral("CREATE TABLE detector_moves (x INTEGER)"),
                   QStringLiteral("PRAGMA user_version = 1")});
    {
        Journal::Database db;
        QCOMPARE(db.open(clash).problem, Journal::Problem::Failed);
    }
    QCOMPARE(sqlValue(clash, QStringLiteral("PRAGMA user_version")).toInt(), 1);
    QCOMPARE(sqlValue(clash, QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE name IN "
                                            "('sites', 'detectors')")).toInt(), 0);

    const QString newer = dir.filePath(QStringLiteral("v3.sqlite"));
    runSql(newer, {VersionOneRecords, QStringLiteral("PRAGMA user_version = %1").arg(Journal::SchemaVersion + 1)});
    Journal::Database db;
    QCOMPARE(db.open(newer).problem, Journal::Problem::NewerSchema);
}

void SiteRegisterTest::secondSurveyReportsWhatChanged()
{
    QFETCH(bool, server);
    JournalPlace place(server, pg, QStringLiteral("survey"), dir.filePath(QStringLiteral("survey.sqlite")));
    QVERIFY2(place.ready(), qPrintable(place.why));
    Journal::Database db;
    QVERIFY(db.open(place.location).ok());
    Register reg(db);
    Info site;
    QVERIFY(reg.createSite(QStringLiteral("Цех 2"), DefaultIntervalDays, &site).ok());
    const QDateTime first(QDate(2024, 5, 1), QTime(9, 0));

    LineWorker::DeviceRead failed = detector(Line1, 7, 0);
    failed.outcome.failed = DeviceOps::Step::Probe;
    SurveyChanges changes;
    QVERIFY(reg.applySurvey(site.id, {detector(Line1, 2, 1002), detector(Line1, 1, 1001),
                                      detector(Line2, 1, 1003), failed}, first, &changes).ok());
    QCOMPARE(changes.added.size(), 3);
    QCOMPARE(changes.failedReads, 1);
    QVERIFY(changes.missing.isEmpty() && changes.moved.isEmpty() && changes.drifted.isEmpty());
    QVERIFY(reg.recordBackup(site.id, 1001, QStringLiteral("/b/TL02ID0001001_2024-05-01.hex"),
                             detector(Line1, 1, 1001).block, first).ok());
    QVERIFY(reg.setTag(site.id, 1001, QStringLiteral("Котельная, у входа")).ok());

    // 1001 stays with threshold 1 raised; 1002 moved to the other line with
    // new firmware; 1003 is gone; 1004 is new.
    QVERIFY(reg.applySurvey(site.id, {detector(Line1, 1, 1001, "1.07", 25), detector(Line2, 5, 1002, "1.08"),
                                      detector(Line1, 3, 1004)}, first.addDays(90), &changes).ok());
    QCOMPARE(changes.added.size(), 1);
    QCOMPARE(changes.added[0].serialText, QStringLiteral("TL02ID0001004"));
    QCOMPARE(changes.missing.size(), 1);
    QCOMPARE(changes.missing[0].serial, qint64(1003));
    QCOMPARE(changes.missing[0].port, Line2);
    QCOMPARE(changes.moved.size(), 1);
    QCOMPARE(changes.moved[0].serial, qint64(1002));
    QCOMPARE(changes.moved[0].oldPort + QString::number(changes.moved[0].oldAddress), Line1 + QStringLiteral("2"));
    QCOMPARE(changes.moved[0].port + QString::number(changes.moved[0].address), Line2 + QStringLiteral("5"));
    QCOMPARE(changes.firmware.size(), 1);
    QCOMPARE(changes.firmware[0].oldFirmware + QStringLiteral("->") + changes.firmware[0].firmware,
             QStringLiteral("1.07->1.08"));
    QCOMPARE(changes.drifted.size(), 1);
    QCOMPARE(changes.drifted[0].serial, qint64(1001));
    QCOMPARE(changes.drifted[0].drift.size(), 1);
    QCOMPARE(changes.drifted[0].drift[0].name, QStringLiteral("limit1"));
    QCOMPARE(changes.drifted[0].drift[0].before, QStringLiteral("20.0 PPM"));
    QCOMPARE(changes.drifted[0].drift[0].after, QStringLiteral("25.0 PPM"));

    QVector<Move> moves;
    QVERIFY(reg.moves(site.id, 1002, &moves).ok());
    QCOMPARE(moves.size(), 1);
    QCOMPARE(moves[0].newAddress, 5);
    QCOMPARE(moves[0].time, first.addDays(90));

    // The register holds the second survey's values, by line then address;
    // the missing detector keeps its last place and read.
    QVector<Detector> list;
    QVERIFY(reg.detectors(site.id, &list).ok());
    QStringList order;
    for (const Detector &d : list)
        order << d.serialText.right(4);
    QCOMPARE(order, (QStringList{"1001", "1004", "1003", "1002"}));
    Detector d;
    QVERIFY(reg.findDetector(site.id, QStringLiteral("tl02id0001001"), &d).ok());
    QCOMPARE(d.limit1, QStringLiteral("25.0"));
    QCOMPARE(d.tag, QStringLiteral("Котельная, у входа"));
    QCOMPARE(d.lastRead, first.addDays(90));
    QCOMPARE(d.firstSeen, first);
    QCOMPARE(list[2].lastRead, first);

    // The report's row carries the drift against the backup, in the
    // program's words; a detector never backed up has none.
    Due due;
    due.detector = d;
    const SiteReport::Row row = reportRow(due);
    QCOMPARE(row.drift, QStringList{QStringLiteral("Порог 1: 20.0 PPM → 25.0 PPM")});
    QCOMPARE(row.tag + row.range, QStringLiteral("Котельная, у входа") + d.rangeMin + QStringLiteral("–") + d.rangeMax);
    due.detector = list[1];
    QVERIFY(reportRow(due).drift.isEmpty());
}

void SiteRegisterTest::dueStatusFollowsRecordsAndInterval()
{
    QFETCH(bool, server);
    JournalPlace place(server, pg, QStringLiteral("due"), dir.filePath(QStringLiteral("due.sqlite")));
    QVERIFY2(place.ready(), qPrintable(place.why));
    const QString path = place.location;
    const QDate today(2024, 6, 1);
    const QTime noon(12, 0);
    Info plant, store;
    {
        Journal::Database db;
        QVERIFY(db.open(path).ok());
        Register reg(db);
        QVERIFY(reg.createSite(QStringLiteral("Завод"), DefaultIntervalDays, &plant).ok());
        QVERIFY(reg.createSite(QStringLiteral("Склад"), DefaultIntervalDays, &store).ok());
        SurveyChanges changes;
        QVERIFY(reg.applySurvey(plant.id, {detector(Line1, 1, 1), detector(Line1, 2, 2), detector(Line1, 3, 3),
                                           detector(Line1, 4, 4)}, QDateTime(today, noon), &changes).ok());
        QVERIFY(reg.applySurvey(store.id, {detector(Line1, 1, 5)}, QDateTime(today, noon), &changes).ok());
    }
    QVERIFY2(place.run({recordSql(1, QStringLiteral("gas_span"), QDateTime(today.addDays(-200), noon)),
                        recordSql(1, QStringLiteral("gas_zero"), QDateTime(today.addDays(-250), noon)),
                        recordSql(2, QStringLiteral("gas_zero"), QDateTime(today.addDays(-160), noon)),
                        recordSql(2, QStringLiteral("gas_span"), QDateTime(today.addDays(-5), noon), false),
                        recordSql(3, QStringLiteral("gas_zero"), QDateTime(today.addDays(-10), noon)),
                        recordSql(4, QStringLiteral("file_load"), QDateTime(today.addDays(-1), noon)),
                        recordSql(5, QStringLiteral("gas_span"), QDateTime(today.addDays(-175), noon)),
                        recordSql(3, QStringLiteral("function_check"), QDateTime(today.addDays(-3), noon)),
                        recordSql(3, QStringLiteral("function_check"), QDateTime(today.addDays(-1), noon), false),
                        recordSql(1, QStringLiteral("function_check"), QDateTime(today.addDays(-2), noon), false)}),
             qPrintable(place.why));

    Journal::Database db;
    QVERIFY(db.open(path).ok());
    Register reg(db);
    QVector<Due> due;
    QVERIFY(reg.calibration(plant.id, today, &due).ok());
    QCOMPARE(due.size(), 4);
    QCOMPARE(due[0].status, Status::Overdue);
    QCOMPARE(due[0].lastCalibration, QDateTime(today.addDays(-200), noon));
    QCOMPARE(due[0].nextDue, today.addDays(-20));
    QCOMPARE(due[1].status, Status::Soon);   // the failed span counts for nothing
    QCOMPARE(due[1].nextDue, today.addDays(20));
    QCOMPARE(due[2].status, Status::Ok);
    QCOMPARE(due[3].status, Status::Unknown);
    QVERIFY(!due[3].nextDue.isValid());
    // The last function check passed; a failed one is none, and a check is
    // no calibration.
    QCOMPARE(due[2].lastFunctionCheck, QDateTime(today.addDays(-3), noon));
    QVERIFY(!due[0].lastFunctionCheck.isValid());
    QCOMPARE(due[2].lastCalibration, QDateTime(today.addDays(-10), noon));

    auto serials = [&](int days) {
        QVector<Due> list;
        QStringList out;
        if (reg.due(days, today, &list).ok())
            for (const Due &d : list)
                out << d.site + QLatin1Char(':') + QString::number(d.detector.serial);
        return out;
    };
    QCOMPARE(serials(30), (QStringList{"Завод:1", "Склад:5", "Завод:2"}));

    QVERIFY(reg.setInterval(plant.id, 365).ok());
    QVERIFY(reg.calibration(plant.id, today, &due).ok());
    QCOMPARE(due[0].status, Status::Ok);
    QCOMPARE(due[0].nextDue, today.addDays(165));
    QCOMPARE(serials(30), (QStringList{"Склад:5"}));
    QCOMPARE(serials(210), (QStringList{"Склад:5", "Завод:1", "Завод:2"}));
}

QTEST_GUILESS_MAIN(SiteRegisterTest)
#include "test_siteregister.moc"

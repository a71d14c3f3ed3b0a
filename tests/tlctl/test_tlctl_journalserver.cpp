// A team's journal on a PostgreSQL server (a throw-away one): tlctl journal
// init as the database's owner, then a technician's login that adds records
// and surveys through the journal's own code but can neither change nor
// remove a record, an admin's that may set a site's interval, and tlctl
// finding the server through --journal and TLCTL_JOURNAL.
#include "journal.h"
#include "journalserver.h"
#include "pgcluster.h"
#include "siteregister.h"
#include "tlctlrun.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Team = QStringLiteral("team");

// Runs `statement` as `role` on the team's database, outside the journal's
// code; the database's error text, empty when it went through.
QString sqlAs(const PgCluster &pg, const QString &role, const QString &statement)
{
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("as-role"));
        db.setHostName(pg.host());
        db.setPort(pg.port());
        db.setDatabaseName(Team);
        db.setUserName(role);
        db.setConnectOptions(QStringLiteral("sslmode=disable"));
        if (!db.open()) {
            error = QStringLiteral("no login: ") + db.lastError().text();
        } else {
            QSqlQuery q(db);
            if (!q.exec(statement))
                error = q.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("as-role"));
    return error;
}

LineWorker::DeviceRead detectorAt(int address)
{
    LineWorker::DeviceRead r;
    r.port = QStringLiteral("/dev/ttyUSB0");
    r.address = address;
    r.deviceType = Params::TypeDetector1;
    r.writeCount = Params::HoldingCount;
    r.block.DeviceTypeReg = quint16(Params::TypeDetector1);
    r.block.SerialNum = 4711;
    r.block.NetAddress = quint8(address);
    return r;
}

} // namespace

class TlctlJournalServerTest : public QObject
{
    Q_OBJECT
private slots:
    void teamServerRolesGuardAndLocation();

private:
    PgCluster pg;
    QTemporaryDir home;
};

void TlctlJournalServerTest::teamServerRolesGuardAndLocation()
{
    QVERIFY(home.isValid());
    QVERIFY2(pg.createDatabase(Team), qPrintable(pg.why()));
    // The database's owner may make roles, as a team's administrator is set
    // up to.
    QVERIFY(pg.superuserSql(QStringLiteral("postgres"), {QStringLiteral("ALTER ROLE %1 CREATEROLE").arg(pg.user())}));
    const QString owner = pg.url(Team);
    const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home.path()}};

    TlctlRun r = runTlctl({QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--journal"), owner}, env);
    QVERIFY2(r.code == 0 && r.err.isEmpty(), qPrintable(r.err + r.out));
    for (const QString &said : {QStringLiteral("was made (schema version %1)").arg(Journal::SchemaVersion),
                                QStringLiteral("role tl_technician made"), QStringLiteral("role tl_admin made"),
                                QStringLiteral("tl_admin made a member of tl_technician"),
                                QStringLiteral("changed or removed by their owner %1 only").arg(pg.user())})
        QVERIFY2(r.out.contains(said), qPrintable(said + QStringLiteral(" not in:\n") + r.out));
    // Again: nothing new to make, and no error.
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--journal"), owner}, env);
    QVERIFY2(r.code == 0 && r.err.isEmpty(), qPrintable(r.err + r.out));
    QVERIFY2(r.out.contains(QStringLiteral("is up to date")) && r.out.contains(QStringLiteral("role tl_admin already there"))
                 && !r.out.contains(QStringLiteral("made a member")),
             qPrintable(r.out));

    QVERIFY2(pg.createLogin(QStringLiteral("anna"), {QLatin1String(Journal::TechnicianRole)}), qPrintable(pg.why()));
    QVERIFY2(pg.createLogin(QStringLiteral("boss"), {QLatin1String(Journal::AdminRole)}), qPrintable(pg.why()));
    const QString anna = pg.url(Team, QStringLiteral("anna"));

    // The technician adds a record and surveys a site through the journal's
    // own code.
    Journal::Record record;
    record.kind = QStringLiteral("gas_zero");
    record.serial = 4711;
    record.serialText = QStringLiteral("TL02ID0004711");
    record.source = QStringLiteral("tlctl");
    record.ok = true;
    qint64 siteId = 0;
    Journal::Error e;
    {
        Journal::Database db;
        e = db.open(anna);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        e = db.append(record);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        QVERIFY(record.id > 0 && !record.uuid.isEmpty() && record.hash.size() == 64);
        Site::Register reg(db);
        Site::Info site;
        e = reg.createSite(QStringLiteral("Котельная"), Site::DefaultIntervalDays, &site);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        siteId = site.id;
        Site::SurveyChanges changes;
        e = reg.applySurvey(site.id, {detectorAt(3)}, QDateTime::currentDateTime(), &changes);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        // Moved: the detector's row is updated and the move added.
        e = reg.applySurvey(site.id, {detectorAt(5)}, QDateTime::currentDateTime(), &changes);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        QVector<Site::Move> moves;
        QVERIFY(reg.moves(site.id, 4711, &moves).ok());
        QCOMPARE(moves.size(), 1);
        // A site's interval is the admin's to set.
        e = reg.setInterval(site.id, 90);
        QCOMPARE(e.problem, Journal::Problem::Failed);
        QVERIFY2(e.detail.contains(QLatin1String("permission denied")), qPrintable(e.detail));
    }
    {
        Journal::Database db;
        QVERIFY(db.open(pg.url(Team, QStringLiteral("boss"))).ok());
        e = Site::Register(db).setInterval(siteId, 90);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
    }

    // Neither changing nor removing a record: the privileges refuse it, and
    // the guard still does when they were granted by mistake.
    const QString change = QStringLiteral("UPDATE records SET reason = 'changed' WHERE id = %1").arg(record.id);
    const QString remove = QStringLiteral("DELETE FROM records WHERE id = %1").arg(record.id);
    for (const QString &statement : {change, remove}) {
        const QString refused = sqlAs(pg, QStringLiteral("anna"), statement);
        QVERIFY2(refused.contains(QLatin1String("permission denied for table records")), qPrintable(refused));
    }
    QCOMPARE(sqlAs(pg, pg.user(), QStringLiteral("GRANT UPDATE, DELETE, TRUNCATE ON records TO anna")), QString());
    for (const QString &statement : {change, remove, QStringLiteral("TRUNCATE records")}) {
        const QString refused = sqlAs(pg, QStringLiteral("anna"), statement);
        QVERIFY2(refused.contains(QLatin1String("records are kept as written")), qPrintable(statement + ": " + refused));
    }
    // The owner may correct one.
    QCOMPARE(sqlAs(pg, pg.user(), change), QString());

    // TLCTL_JOURNAL names the server: the record, changed by the owner, with
    // its UUID, login and host.
    const QMap<QString, QString> onServer{{QStringLiteral("XDG_DATA_HOME"), home.path()},
                                          {QStringLiteral("TLCTL_JOURNAL"), anna}};
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("--csv")}, onServer);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QStringList lines = r.out.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].endsWith(QLatin1String(",source,uuid,login,host,group,details")));
    QVERIFY2(lines[1].endsWith(QStringLiteral(",changed,tlctl,%1,%2,%3,,")
                                   .arg(record.uuid, Journal::loginName(), QSysInfo::machineHostName())),
             qPrintable(lines[1]));
    r = runTlctl({QStringLiteral("site"), QStringLiteral("list")}, onServer);
    QVERIFY2(r.code == 0 && r.out.contains(QStringLiteral("Котельная  (1 detectors, calibration every 90 days)")),
             qPrintable(r.err + r.out));

    // --journal wins over the variable.
    const QString file = home.filePath(QStringLiteral("own.sqlite"));
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("--journal"), file}, onServer);
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QCOMPARE(r.out, QStringLiteral("the journal %1 has no records\n").arg(file));

    // The technician may not set the server up.
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("init")}, onServer);
    QVERIFY2(r.code == 6 && r.oneErrorLine()
                 && r.err.contains(QStringLiteral("the journal's tables belong to %1: journal init runs as that "
                                                  "role, not as anna").arg(pg.user())),
             qPrintable(r.err + r.out));

    // A password in the location, on the command line or in the variable,
    // is refused before anything is done, and never shown.
    const QString withPassword =
        QStringLiteral("postgresql://anna:s3cret@%1:%2/%3").arg(pg.host()).arg(pg.port()).arg(Team);
    for (const bool inVariable : {false, true}) {
        QMap<QString, QString> bad = env;
        QStringList args{QStringLiteral("journal")};
        if (inVariable)
            bad.insert(QStringLiteral("TLCTL_JOURNAL"), withPassword);
        else
            args << QStringLiteral("--journal") << withPassword;
        r = runTlctl(args, bad);
        QVERIFY2(r.code == 2 && r.oneErrorLine() && r.out.isEmpty(), qPrintable(r.err + r.out));
        QVERIFY2(r.err.contains(QLatin1String("a password does not go into the journal's location"))
                     && !r.err.contains(QLatin1String("s3cret")),
                 qPrintable(r.err));
    }
}

QTEST_GUILESS_MAIN(TlctlJournalServerTest)
#include "test_tlctl_journalserver.moc"

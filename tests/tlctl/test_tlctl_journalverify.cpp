// The chain of a team server's records, checked by tlctl journal verify: a
// journal as written is intact, and a record altered, removed or put in by
// the tables' owner (the one role the records' guard lets through) is named.
#include "journal.h"
#include "journalchain.h"
#include "journalserver.h"
#include "pgcluster.h"
#include "tlctlrun.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Team = QStringLiteral("chain");

Journal::Record make(int n)
{
    Journal::Record r;
    r.time = QDateTime::currentDateTime().addSecs(n);
    r.deviceType = 1;
    r.serial = 4700 + n;
    r.serialText = QStringLiteral("TL02ID%1").arg(r.serial, 7, 10, QLatin1Char('0'));
    r.kind = QStringLiteral("gas_span");
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_calib=1200");
    r.after = QStringLiteral("adc_calib=1300");
    r.ok = true;
    r.source = QStringLiteral("tlctl");
    return r;
}

} // namespace

class TlctlJournalVerifyTest : public QObject
{
    Q_OBJECT
private slots:
    void chainIntactAndEveryBreakNamed();

private:
    PgCluster pg;
    QTemporaryDir home;
};

void TlctlJournalVerifyTest::chainIntactAndEveryBreakNamed()
{
    QVERIFY(home.isValid());
    QVERIFY2(pg.createDatabase(Team), qPrintable(pg.why()));
    QVERIFY(pg.superuserSql(QStringLiteral("postgres"), {QStringLiteral("ALTER ROLE %1 CREATEROLE").arg(pg.user())}));
    const QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home.path()}};
    TlctlRun r =
        runTlctl({QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--journal"), pg.url(Team)}, env);
    QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
    QVERIFY2(pg.createLogin(QStringLiteral("vera"), {QLatin1String(Journal::TechnicianRole)}), qPrintable(pg.why()));
    const QString vera = pg.url(Team, QStringLiteral("vera"));

    // Six records as a technician writes them, each chained by the server.
    QVector<Journal::Record> records;
    {
        Journal::Database db;
        Journal::Error e = db.open(vera);
        QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
        for (int n = 1; n <= 6; ++n) {
            Journal::Record record = make(n);
            e = db.append(record);
            QVERIFY2(e.ok(), qPrintable(Journal::errorText(e)));
            records << record;
        }
    }
    QCOMPARE(records[0].prevHash, QLatin1String(Journal::GenesisHash));
    for (int i = 1; i < records.size(); ++i)
        QCOMPARE(records[i].prevHash, records[i - 1].hash);

    const QStringList verify{QStringLiteral("journal"), QStringLiteral("verify"), QStringLiteral("--journal"), vera};
    auto expectIntact = [&]() {
        const TlctlRun run = runTlctl(verify, env);
        return run.code == 0
               && run.out.contains(QStringLiteral("the chain of 6 records is intact; the last hash is %1")
                                       .arg(records.last().hash));
    };
    QVERIFY(expectIntact());

    // Each break, made by the owner, then undone; `owner` runs statements
    // as the tables' owner outside the journal's code.
    QSqlDatabase owner = pg.connect(QStringLiteral("owner"), Team);
    QVERIFY(owner.isOpen());
    auto run = [&](const QString &statement, const QVariantList &values = {}) {
        QSqlQuery q(owner);
        if (values.isEmpty())
            return q.exec(statement) ? QString() : q.lastError().text();
        if (!q.prepare(statement))
            return q.lastError().text();
        for (const QVariant &v : values)
            q.addBindValue(v);
        return q.exec() ? QString() : q.lastError().text();
    };
    auto expectBreak = [&](const QString &uuid, const QString &what) {
        const TlctlRun run = runTlctl(verify, env);
        const bool named = run.code == 4 && run.out.contains(uuid) && run.out.contains(what);
        if (!named)
            qWarning("%s", qPrintable(run.out + run.err));
        return named;
    };

    // Altered: the third record's gas changed.
    QCOMPARE(run(QStringLiteral("UPDATE records SET value = '20.0 %LEL' WHERE id = ?"), {records[2].id}), QString());
    QVERIFY(expectBreak(records[2].uuid, QStringLiteral("was altered")));
    QCOMPARE(run(QStringLiteral("UPDATE records SET value = '50.0 %LEL' WHERE id = ?"), {records[2].id}), QString());
    QVERIFY(expectIntact());

    // Removed: the fourth record; the fifth is named as the one after the
    // gap.  Put back as it was, the chain holds again.
    QCOMPARE(run(QStringLiteral("CREATE TABLE kept AS SELECT * FROM records WHERE id = %1").arg(records[3].id)), QString());
    QCOMPARE(run(QStringLiteral("DELETE FROM records WHERE id = ?"), {records[3].id}), QString());
    QVERIFY(expectBreak(records[4].uuid, QStringLiteral("was removed")));
    QCOMPARE(run(QStringLiteral("INSERT INTO records SELECT * FROM kept")), QString());
    QVERIFY(expectIntact());

    // Inserted: a row never chained, and a forged one chained to an older
    // record with a hash of its own that fits its text.
    Journal::Record forged = make(9);
    forged.uuid = QStringLiteral("00000000-0000-4000-8000-00000000f0f0");
    forged.prevHash = records[1].hash;
    forged.hash = Journal::chainHash(forged.prevHash, forged);
    const QString insert = QStringLiteral(
        "INSERT INTO records (id, time, device_type, serial, serial_text, firmware, address, level, kind, value, "
        "before_text, after_text, outcome, reason, source, uuid, login, host, prev_hash, hash) VALUES "
        "(1000, ?, 1, ?, ?, '', 0, '', 'gas_span', ?, ?, ?, 'ok', '', 'tlctl', ?, '', '', ?, ?)");
    QCOMPARE(run(insert, {forged.time.toUTC().toString(Qt::ISODateWithMs), forged.serial, forged.serialText,
                          forged.value, forged.before, forged.after, forged.uuid, QStringLiteral(""), QStringLiteral("")}),
             QString());
    QVERIFY(expectBreak(forged.uuid, QStringLiteral("carries no hash")));
    QCOMPARE(run(QStringLiteral("DELETE FROM records WHERE id = 1000")), QString());
    QCOMPARE(run(insert, {forged.time.toUTC().toString(Qt::ISODateWithMs), forged.serial, forged.serialText,
                          forged.value, forged.before, forged.after, forged.uuid, forged.prevHash, forged.hash}),
             QString());
    QVERIFY(expectBreak(forged.uuid, QStringLiteral("was inserted")));

    owner = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("owner"));

    // A file of this computer has no chain to check.
    r = runTlctl({QStringLiteral("journal"), QStringLiteral("verify"), QStringLiteral("--journal"),
                  home.filePath(QStringLiteral("own.sqlite"))},
                 env);
    QVERIFY2(r.code == 6 && r.oneErrorLine() && r.err.contains(QStringLiteral("has no chain")), qPrintable(r.err));
}

QTEST_GUILESS_MAIN(TlctlJournalVerifyTest)
#include "test_tlctl_journalverify.moc"

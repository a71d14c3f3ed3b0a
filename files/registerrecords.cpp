#include "registerrecords.h"

#include "siteregister.h"

#include <QJsonDocument>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

namespace Site {

namespace {

using Journal::Error;

QString timeKey(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString(QLatin1String(""));
}

QString text(const QJsonObject &value, const char *name)
{
    const QString s = value.value(QLatin1String(name)).toString();
    return s.isNull() ? QStringLiteral("") : s;
}

int number(const QJsonObject &value, const char *name)
{
    return value.value(QLatin1String(name)).toInt();
}

// store() keeps and applies a record inside a savepoint of the caller's
// transaction.  A statement that fails (a server refusing a login the
// change) goes back to it before the statement itself is freed: a server
// frees nothing in a transaction an error has aborted, and says so.
const char *const Savepoint = "tl_register_record";

Error failed(Journal::Database &db, const QSqlError &error)
{
    const Error e = db.fail(Journal::Problem::Failed, error);
    QSqlQuery(db.handle()).exec(QStringLiteral("ROLLBACK TO SAVEPOINT %1").arg(QLatin1String(Savepoint)));
    return e;
}

// The statements of one record, on one connection.
class Applier
{
public:
    Applier(Journal::Database &db, const RegisterRecord &r) : db(db), r(r), when(timeKey(r.time)) {}

    Error apply()
    {
        qint64 site = 0;
        if (!siteId(&site))
            return failure;
        const QString &f = r.field;
        if (f == QLatin1String("move")) {
            // History: every move once; store() only applies a new record.
            return run(QStringLiteral("INSERT INTO detector_moves (site_id, serial, time, old_port, old_address, "
                                      "new_port, new_address) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                       {site, r.serial, when, text(r.value, "old_port"), number(r.value, "old_address"),
                        text(r.value, "new_port"), number(r.value, "new_address")});
        }
        if (f == QLatin1String("site"))
            return newest(nullptr) ? Error() : failure;
        if (f == QLatin1String("interval")) {
            bool wins = false;
            if (!newest(&wins))
                return failure;
            return wins ? run(QStringLiteral("UPDATE sites SET calibration_interval_days = ? WHERE id = ?"),
                              {number(r.value, "days"), site})
                        : Error();
        }
        if (f != QLatin1String("read") && f != QLatin1String("tag") && f != QLatin1String("gas")
            && f != QLatin1String("backup"))
            return Error();   // a field of a newer program: kept, not understood here
        if (!detector(site))
            return failure;
        const QVariantList key{site, r.serial};
        if (f == QLatin1String("read")) {
            // The earliest read is when it was first seen, whichever copy
            // took it first.
            const Error e = run(QStringLiteral("UPDATE detectors SET first_seen = ? WHERE site_id = ? AND serial = ? "
                                               "AND (first_seen = '' OR first_seen > ?)"),
                                {when, site, r.serial, when});
            if (!e.ok())
                return e;
        }
        bool wins = false;
        if (!newest(&wins))
            return failure;
        if (!wins)
            return Error();
        if (f == QLatin1String("read"))
            return run(QStringLiteral("UPDATE detectors SET port = ?, address = ?, device_type = ?, write_count = ?, "
                                      "firmware = ?, serial_text = ?, unit = ?, range_min = ?, range_max = ?, "
                                      "limit1 = ?, limit2 = ?, block = ?, last_read = ? WHERE site_id = ? AND "
                                      "serial = ?"),
                       QVariantList{text(r.value, "port"), number(r.value, "address"), number(r.value, "device_type"),
                                    number(r.value, "write_count"), text(r.value, "firmware"),
                                    text(r.value, "serial_text"), text(r.value, "unit"), text(r.value, "range_min"),
                                    text(r.value, "range_max"), text(r.value, "limit1"), text(r.value, "limit2"),
                                    text(r.value, "block"), when}
                           + key);
        if (f == QLatin1String("tag"))
            return run(QStringLiteral("UPDATE detectors SET tag = ? WHERE site_id = ? AND serial = ?"),
                       QVariantList{text(r.value, "tag")} + key);
        if (f == QLatin1String("gas"))
            return run(QStringLiteral("UPDATE detectors SET gas = ? WHERE site_id = ? AND serial = ?"),
                       QVariantList{text(r.value, "gas")} + key);
        return run(QStringLiteral("UPDATE detectors SET backup_path = ?, backup_time = ?, backup_block = ? "
                                  "WHERE site_id = ? AND serial = ?"),
                   QVariantList{text(r.value, "path"), text(r.value, "time"), text(r.value, "block")} + key);
    }

private:
    Error run(const QString &statement, const QVariantList &values)
    {
        QSqlQuery q(db.handle());
        if (!q.prepare(statement))
            return failed(db, q.lastError());
        for (const QVariant &v : values)
            q.addBindValue(v);
        return q.exec() ? Error() : failed(db, q.lastError());
    }

    // The first column of the first row of `statement` into `value`
    // (invalid when none); false, with `failure` set, on an error.
    bool select(const QString &statement, const QVariantList &values, QVariantList *row, int columns = 1)
    {
        QSqlQuery q(db.handle());
        bool ok = q.prepare(statement);
        for (const QVariant &v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
        if (!ok) {
            failure = failed(db, q.lastError());
            return false;
        }
        row->clear();
        if (q.next())
            for (int i = 0; i < columns; ++i)
                row->append(q.value(i));
        return true;
    }

    // The site's id; a site not known yet is made.
    bool siteId(qint64 *id)
    {
        const QString find = QStringLiteral("SELECT id FROM sites WHERE name = ?");
        QVariantList row;
        if (!select(find, {r.site}, &row))
            return false;
        if (row.isEmpty()) {
            const QString created = r.field == QLatin1String("site") ? text(r.value, "created") : when;
            failure = run(QStringLiteral("INSERT INTO sites (name, calibration_interval_days, created) "
                                         "VALUES (?, ?, ?)"),
                          {r.site, DefaultIntervalDays, created.isEmpty() ? when : created});
            if (!failure.ok() || !select(find, {r.site}, &row))
                return false;
        }
        *id = row.value(0).toLongLong();
        return true;
    }

    // The detector's row; one not known yet is made empty, for its reads to
    // fill in.
    bool detector(qint64 site)
    {
        QVariantList row;
        if (!select(QStringLiteral("SELECT serial FROM detectors WHERE site_id = ? AND serial = ?"), {site, r.serial},
                    &row))
            return false;
        if (!row.isEmpty())
            return true;
        failure = run(QStringLiteral("INSERT INTO detectors (site_id, serial, serial_text, port, address, device_type, "
                                     "write_count, firmware, unit, range_min, range_max, limit1, limit2, block, "
                                     "first_seen, last_read) VALUES (?, ?, '', '', 0, 0, 0, '', '', '', '', '', '', "
                                     "'', '', '')"),
                      {site, r.serial});
        return failure.ok();
    }

    // Whether the record is the newest of its field (`wins`), and if so it
    // becomes the one register_state names.
    bool newest(bool *wins)
    {
        QVariantList row;
        const QVariantList key{r.site, r.serial, r.field};
        if (!select(QStringLiteral("SELECT time, uuid FROM register_state WHERE site = ? AND serial = ? AND field = ?"),
                    key, &row, 2))
            return false;
        if (!row.isEmpty()) {
            const QString time = row[0].toString();
            const QString uuid = row[1].toString();
            if (time > when || (time == when && uuid >= r.uuid)) {
                if (wins)
                    *wins = false;
                return true;
            }
            failure = run(QStringLiteral("UPDATE register_state SET time = ?, uuid = ? WHERE site = ? AND serial = ? "
                                         "AND field = ?"),
                          QVariantList{when, r.uuid} + key);
        } else {
            failure = run(QStringLiteral("INSERT INTO register_state (site, serial, field, time, uuid) "
                                         "VALUES (?, ?, ?, ?, ?)"),
                          key + QVariantList{when, r.uuid});
        }
        if (wins)
            *wins = failure.ok();
        return failure.ok();
    }

    Journal::Database &db;
    const RegisterRecord &r;
    const QString when;

public:
    Error failure;
};

} // namespace

QString valueText(const QJsonObject &value)
{
    return QString::fromUtf8(QJsonDocument(value).toJson(QJsonDocument::Compact));
}

Journal::Error store(Journal::Database &db, RegisterRecord &r, bool *added)
{
    if (added)
        *added = false;
    if (!r.time.isValid())
        r.time = QDateTime::currentDateTime();
    if (r.uuid.isEmpty())
        r.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (r.login.isEmpty())
        r.login = Journal::loginName();
    if (r.host.isEmpty())
        r.host = QSysInfo::machineHostName();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT count(*) FROM register_records WHERE uuid = ?")))
        return db.fail(Journal::Problem::Failed, q.lastError());
    q.addBindValue(r.uuid);
    if (!q.exec() || !q.next())
        return db.fail(Journal::Problem::Failed, q.lastError());
    if (q.value(0).toLongLong() > 0)
        return Error();
    q.finish();
    if (!q.exec(QStringLiteral("SAVEPOINT %1").arg(QLatin1String(Savepoint))))
        return db.fail(Journal::Problem::Failed, q.lastError());
    if (!q.prepare(QStringLiteral("INSERT INTO register_records (uuid, time, site, serial, field, value, login, host, "
                                  "server_id, refused) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")))
        return failed(db, q.lastError());
    auto orEmpty = [](const QString &s) { return QVariant(s.isNull() ? QStringLiteral("") : s); };
    for (const QVariant &v : QVariantList{r.uuid, timeKey(r.time), r.site, r.serial, r.field, valueText(r.value),
                                          orEmpty(r.login), orEmpty(r.host), db.isServer() ? 0 : r.serverId,
                                          orEmpty(r.refused)})
        q.addBindValue(v);
    if (!q.exec())
        return failed(db, q.lastError());
    const Error e = Applier(db, r).apply();
    if (!e.ok())
        return e;
    if (!q.exec(QStringLiteral("RELEASE SAVEPOINT %1").arg(QLatin1String(Savepoint))))
        return failed(db, q.lastError());
    if (added)
        *added = true;
    return e;
}

Journal::Error registerRecords(Journal::Database &db, const QString &where, const QVariantList &values, int limit,
                               QVector<RegisterRecord> *records)
{
    records->clear();
    QSqlQuery q(db.handle());
    q.setForwardOnly(true);
    QString statement = QStringLiteral("SELECT id, uuid, time, site, serial, field, value, login, host, server_id, "
                                       "refused FROM register_records");
    if (!where.isEmpty())
        statement += QStringLiteral(" WHERE ") + where;
    statement += QStringLiteral(" ORDER BY id");
    if (limit > 0)
        statement += QStringLiteral(" LIMIT %1").arg(limit);
    if (!q.prepare(statement))
        return db.fail(Journal::Problem::Failed, q.lastError());
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return db.fail(Journal::Problem::Failed, q.lastError());
    while (q.next()) {
        RegisterRecord r;
        r.id = q.value(0).toLongLong();
        r.uuid = q.value(1).toString();
        r.time = QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs);
        r.site = q.value(3).toString();
        r.serial = q.value(4).toLongLong();
        r.field = q.value(5).toString();
        r.value = QJsonDocument::fromJson(q.value(6).toString().toUtf8()).object();
        r.login = q.value(7).toString();
        r.host = q.value(8).toString();
        r.serverId = db.isServer() ? r.id : q.value(9).toLongLong();
        r.refused = q.value(10).toString();
        records->append(r);
    }
    return q.lastError().isValid() ? db.fail(Journal::Problem::Failed, q.lastError()) : Error();
}

} // namespace Site

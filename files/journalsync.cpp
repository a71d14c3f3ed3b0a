#include "journalsync.h"

#include "journallocation.h"
#include "registerrecords.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QUuid>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace Journal {

QString localPath(const QString &location)
{
    const Location place = parseLocation(location);
    return place.kind == Location::Kind::SqliteFile ? place.path : defaultPath();
}

Error waiting(Database &db, Waiting *w)
{
    *w = Waiting();
    QSqlQuery q(db.handle());
    if (!q.exec(QStringLiteral("SELECT (SELECT count(*) FROM records WHERE server_id = 0), "
                               "(SELECT count(*) FROM register_records WHERE server_id = 0 AND refused = ''), "
                               "(SELECT count(*) FROM register_records WHERE refused <> '')"))
        || !q.next())
        return db.fail(Problem::Failed, q.lastError());
    w->records = q.value(0).toLongLong();
    w->registerRecords = q.value(1).toLongLong();
    w->refused = q.value(2).toLongLong();
    return Error();
}

namespace {

// Records sent or read in one transaction of each side.
constexpr int Batch = 200;
// How long a sender keeps waiting for the server's write lock while other
// senders hold it in turn (each wait itself is the session's lock timeout):
// sending is off the device path, so it may wait for a team that syncs at
// once.
constexpr qint64 LockPatienceMs = 120000;

// What journal_sync holds: the server the file's marks belong to, and the
// last id of each kind read from it.
const char *const ServerKey = "server";
const char *const RecordsReadKey = "records_read";
const char *const RegisterReadKey = "register_read";

bool cancelled(const std::atomic_bool *cancel)
{
    return cancel && cancel->load();
}

Error stopped(const QString &server)
{
    return Error{Problem::Failed, QStringLiteral("stopped before everything was sent and read"), server};
}

QString placeholders(int count)
{
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

Error setting(Database &db, const char *name, QString *value)
{
    value->clear();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT value FROM journal_sync WHERE name = ?")))
        return db.fail(Problem::Failed, q.lastError());
    q.addBindValue(QLatin1String(name));
    if (!q.exec())
        return db.fail(Problem::Failed, q.lastError());
    if (q.next())
        *value = q.value(0).toString();
    return Error();
}

// Inside the caller's transaction.
Error setSetting(Database &db, const char *name, const QString &value)
{
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("DELETE FROM journal_sync WHERE name = ?")))
        return db.fail(Problem::Failed, q.lastError());
    q.addBindValue(QLatin1String(name));
    if (!q.exec() || !q.prepare(QStringLiteral("INSERT INTO journal_sync (name, value) VALUES (?, ?)")))
        return db.fail(Problem::Failed, q.lastError());
    q.addBindValue(QLatin1String(name));
    q.addBindValue(value);
    return q.exec() ? Error() : db.fail(Problem::Failed, q.lastError());
}

// Runs `statement` once per row of `rows`, each a list of bound values.
Error runEach(Database &db, const QString &statement, const QVector<QVariantList> &rows)
{
    QSqlQuery q(db.handle());
    if (!q.prepare(statement))
        return db.fail(Problem::Failed, q.lastError());
    for (const QVariantList &row : rows) {
        for (const QVariant &v : row)
            q.addBindValue(v);
        if (!q.exec())
            return db.fail(Problem::Failed, q.lastError());
    }
    return Error();
}

// Commits, or rolls back and passes the error on.
Error finish(Database &db, const Error &e)
{
    if (!e.ok()) {
        db.rollback();
        return e;
    }
    return db.commit();
}

class Sender
{
public:
    Sender(Database &local, Database &server, SyncReport &report, const std::atomic_bool *cancel)
        : local(local), server(server), report(report), cancel(cancel)
    {
    }

    // The file's marks belong to one server.  For another (or the first)
    // everything counts as waiting again and is read again from the start:
    // sending is idempotent, so what the new server has already costs
    // nothing but the look.
    Error sameServer(const QString &name)
    {
        QString known;
        Error e = setting(local, ServerKey, &known);
        if (!e.ok() || known == name)
            return e;
        e = local.begin();
        if (!e.ok())
            return e;
        e = runEach(local, QStringLiteral("UPDATE records SET server_id = 0, prev_hash = '', hash = '' "
                                          "WHERE server_id <> 0 OR prev_hash <> '' OR hash <> ''"), {{}});
        if (e.ok())
            e = runEach(local, QStringLiteral("UPDATE register_records SET server_id = 0, refused = '' "
                                              "WHERE server_id <> 0 OR refused <> ''"), {{}});
        if (e.ok())
            e = runEach(local, QStringLiteral("DELETE FROM journal_sync"), {{}});
        if (e.ok())
            e = setSetting(local, ServerKey, name);
        return finish(local, e);
    }

    // The waiting records, oldest first, a batch per server transaction.
    Error sendRecords()
    {
        Error e = nameUnnamed();
        while (e.ok()) {
            if (cancelled(cancel))
                return stopped(server.location());
            QVector<Record> batch;
            e = local.select(QStringLiteral("server_id = 0"), {}, Batch, &batch);
            if (!e.ok() || batch.isEmpty())
                return e;
            // On the server, under its write lock: a record it has already
            // (a send cut off after its commit, before this file heard of
            // it) is acknowledged as it is there; the others are chained on.
            e = server.begin();
            if (!e.ok()) {
                if (waitAgain(&e))
                    continue;
                return e;
            }
            QHash<QString, Record> there;
            e = onServer(batch, &there);
            QVector<QVariantList> acks;
            qint64 sent = 0, found = 0;
            for (int i = 0; e.ok() && i < batch.size(); ++i) {
                Record r = batch[i];
                const auto it = there.constFind(r.uuid);
                if (it != there.constEnd()) {
                    r.serverId = it->serverId;
                    r.prevHash = it->prevHash;
                    r.hash = it->hash;
                    ++found;
                } else {
                    r.id = 0;
                    e = server.append(r);
                    ++sent;
                }
                acks.append({r.serverId, r.prevHash, r.hash, batch[i].id});
            }
            e = finish(server, e);
            if (!e.ok()) {
                if (waitAgain(&e))
                    continue;
                return e;
            }
            lockWait.invalidate();
            report.sent += sent;
            report.alreadyThere += found;
            // Only this computer's file takes the acknowledgement: the
            // server's records are never changed.
            e = local.begin();
            if (e.ok())
                e = finish(local, runEach(local, QStringLiteral("UPDATE records SET server_id = ?, prev_hash = ?, "
                                                                "hash = ? WHERE id = ?"),
                                          acks));
        }
        return e;
    }

    // The waiting register changes, oldest first, each in a server
    // transaction of its own: one the server refuses (a technician setting
    // an interval) is marked and the rest go on.
    Error sendRegister()
    {
        Error e;
        while (e.ok()) {
            if (cancelled(cancel))
                return stopped(server.location());
            QVector<Site::RegisterRecord> batch;
            e = Site::registerRecords(local, QStringLiteral("server_id = 0 AND refused = ''"), {}, Batch, &batch);
            if (!e.ok() || batch.isEmpty())
                return e;
            for (int i = 0; i < batch.size(); ++i) {
                Site::RegisterRecord &r = batch[i];
                const qint64 localId = r.id;
                e = server.begin();
                if (!e.ok()) {
                    if (waitAgain(&e)) {
                        --i;
                        continue;
                    }
                    return e;
                }
                bool added = false;
                e = Site::store(server, r, &added);
                QVector<Site::RegisterRecord> stored;
                if (e.ok())
                    e = Site::registerRecords(server, QStringLiteral("uuid = ?"), {r.uuid}, 1, &stored);
                if (!e.ok() && e.code == QLatin1String("42501")) {
                    // Not this login's to change: kept here, not sent again.
                    server.rollback();
                    e = runEach(local, QStringLiteral("UPDATE register_records SET refused = ? WHERE id = ?"),
                                {{e.detail.isEmpty() ? QStringLiteral("refused") : e.detail, localId}});
                    if (!e.ok())
                        return e;
                    ++report.refused;
                    continue;
                }
                e = finish(server, e);
                if (!e.ok())
                    return e;
                lockWait.invalidate();
                if (added)
                    ++report.registerSent;
                e = runEach(local, QStringLiteral("UPDATE register_records SET server_id = ? WHERE id = ?"),
                            {{stored.value(0).serverId, localId}});
                if (!e.ok())
                    return e;
            }
        }
        return e;
    }

    // The server's records past the last one read, those this file lacks
    // added with their server id and chain.
    Error readRecords()
    {
        Error e;
        while (e.ok()) {
            if (cancelled(cancel))
                return stopped(server.location());
            qint64 mark = 0;
            e = readMark(RecordsReadKey, &mark);
            QVector<Record> batch;
            if (e.ok())
                e = server.select(QStringLiteral("id > ?"), {mark}, Batch, &batch);
            if (!e.ok() || batch.isEmpty())
                return e;
            e = local.begin();
            if (!e.ok())
                return e;
            QStringList uuids;
            for (const Record &r : batch)
                uuids << r.uuid;
            QSet<QString> known;
            e = localUuids(QStringLiteral("records"), uuids, &known);
            qint64 received = 0;
            for (int i = 0; e.ok() && i < batch.size(); ++i) {
                Record r = batch[i];
                if (known.contains(r.uuid))
                    continue;
                r.id = 0;
                e = local.append(r);
                ++received;
            }
            if (e.ok())
                e = setSetting(local, RecordsReadKey, QString::number(batch.last().serverId));
            e = finish(local, e);
            if (e.ok())
                report.received += received;
        }
        return e;
    }

    Error readRegister()
    {
        Error e;
        while (e.ok()) {
            if (cancelled(cancel))
                return stopped(server.location());
            qint64 mark = 0;
            e = readMark(RegisterReadKey, &mark);
            QVector<Site::RegisterRecord> batch;
            if (e.ok())
                e = Site::registerRecords(server, QStringLiteral("id > ?"), {mark}, Batch, &batch);
            if (!e.ok() || batch.isEmpty())
                return e;
            e = local.begin();
            if (!e.ok())
                return e;
            qint64 received = 0;
            for (int i = 0; e.ok() && i < batch.size(); ++i) {
                Site::RegisterRecord r = batch[i];
                r.id = 0;
                r.refused.clear();
                bool added = false;
                e = Site::store(local, r, &added);
                received += added ? 1 : 0;
            }
            if (e.ok())
                e = setSetting(local, RegisterReadKey, QString::number(batch.last().serverId));
            e = finish(local, e);
            if (e.ok())
                report.registerReceived += received;
        }
        return e;
    }

private:
    // Whether to try again after `e`: the write lock was busy (other
    // senders), and the sender has not waited for it too long in a row.
    bool waitAgain(Error *e)
    {
        if (e->problem != Problem::Locked || cancelled(cancel))
            return false;
        if (!lockWait.isValid())
            lockWait.start();
        if (lockWait.elapsed() > LockPatienceMs)
            return false;
        *e = Error();
        return true;
    }

    // A record without a UUID (one put in by hand) gets one here before it
    // goes, so that its acknowledgement and any second send find it.
    Error nameUnnamed()
    {
        QVector<Record> unnamed;
        Error e = local.select(QStringLiteral("server_id = 0 AND (uuid IS NULL OR uuid = '')"), {}, 0, &unnamed);
        if (!e.ok() || unnamed.isEmpty())
            return e;
        QVector<QVariantList> rows;
        for (const Record &r : unnamed)
            rows.append({QUuid::createUuid().toString(QUuid::WithoutBraces), r.id});
        e = local.begin();
        return e.ok() ? finish(local, runEach(local, QStringLiteral("UPDATE records SET uuid = ? WHERE id = ?"), rows))
                      : e;
    }

    // The server's own copies of any of the batch's records.
    Error onServer(const QVector<Record> &batch, QHash<QString, Record> *there)
    {
        QVariantList uuids;
        for (const Record &r : batch)
            uuids << r.uuid;
        QVector<Record> found;
        const Error e = server.select(QStringLiteral("uuid IN (%1)").arg(placeholders(uuids.size())), uuids, 0, &found);
        for (const Record &r : found)
            there->insert(r.uuid, r);
        return e;
    }

    Error localUuids(const QString &table, const QStringList &uuids, QSet<QString> *known)
    {
        QSqlQuery q(local.handle());
        if (!q.prepare(QStringLiteral("SELECT uuid FROM %1 WHERE uuid IN (%2)").arg(table, placeholders(uuids.size()))))
            return local.fail(Problem::Failed, q.lastError());
        for (const QString &u : uuids)
            q.addBindValue(u);
        if (!q.exec())
            return local.fail(Problem::Failed, q.lastError());
        while (q.next())
            known->insert(q.value(0).toString());
        return Error();
    }

    Error readMark(const char *name, qint64 *mark)
    {
        QString text;
        const Error e = setting(local, name, &text);
        *mark = text.toLongLong();
        return e;
    }

    Database &local;
    Database &server;
    SyncReport &report;
    const std::atomic_bool *cancel;
    QElapsedTimer lockWait;   // since the write lock was first found busy; invalid when it was not
};

} // namespace

SyncReport sync(const QString &location, const std::atomic_bool *cancel)
{
    SyncReport report;
    const Location place = parseLocation(location);
    report.server = place.text;
    if (place.kind == Location::Kind::Invalid) {
        report.error = Error{Problem::CannotOpen, place.problem, place.text};
        return report;
    }
    if (!place.isServer())
        return report;   // a file of this computer is its own journal: nothing to send

    Database local;
    report.error = local.open(localPath(location));
    if (!report.error.ok())
        return report;
    // Opening a server's journal that is older than this program brings it
    // up to date under the write lock, which other senders may hold in turn.
    Database server;
    Error e = server.open(location);
    QElapsedTimer opening;
    opening.start();
    while (e.problem == Problem::Locked && opening.elapsed() < LockPatienceMs && !cancelled(cancel))
        e = server.open(location);
    Sender sender(local, server, report, cancel);
    if (e.ok())
        e = sender.sameServer(place.text);
    if (e.ok())
        e = sender.sendRecords();
    if (e.ok())
        e = sender.sendRegister();
    if (e.ok())
        e = sender.readRecords();
    if (e.ok())
        e = sender.readRegister();
    report.error = e;
    const Error counted = waiting(local, &report.left);
    if (report.error.ok())
        report.error = counted;
    return report;
}

} // namespace Journal

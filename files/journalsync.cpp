#include "journalsync.h"

#include "journallocation.h"

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

SyncReport sync(const QString &location, const std::atomic_bool *)
{
    SyncReport report;
    report.server = parseLocation(location).text;
    report.error = Error{Problem::Failed, QStringLiteral("sending is not built yet"), report.server};
    return report;
}

} // namespace Journal

// Where a journal lives: an SQLite file, or a database on a PostgreSQL
// server that a team shares.  One text names it, in a setting, a command
// line or an environment variable alike:
//
//   postgresql://[USER@]HOST[:PORT][/DBNAME][?KEY=VALUE&...]   (also postgres://)
//       a server, as libpq takes a connection URL; HOST may be [IPv6].  Each
//       KEY=VALUE is a libpq connection option (sslmode=verify-full,
//       sslrootcert=FILE, connect_timeout=5, application_name=...), handed
//       to libpq as it is.  Parts may be percent-encoded.
//   service=NAME
//       a server named by a libpq service (pg_service.conf, or the file
//       PGSERVICEFILE names); NAME is letters, digits, '_', '-' and '.'.
//   anything else
//       the path of an SQLite file (a file whose name starts with
//       "service=" is written "./service=...").
//
// A password never goes into the location: a URL with one (user:secret@...
// or ?password=...) is refused.  libpq finds it itself, in ~/.pgpass, the
// file PGPASSFILE names or the service file.
//
// No widgets and no database here.
#pragma once

#include <QString>
#include <QStringList>

namespace Journal {

struct Location {
    enum class Kind {
        Invalid,       // not usable: `problem` says why
        SqliteFile,
        Postgres,
    };
    Kind kind = Kind::Invalid;
    QString text;      // the location for messages (never with a password)
    QString problem;   // why it is invalid

    QString path;      // SqliteFile: the file

    // Postgres: what the URL or service names; empty (port -1) when not given.
    QString host;
    int port = -1;
    QString dbname;
    QString user;
    QString service;
    // Further libpq connection options, "key=value" each, in the order given.
    QStringList options;

    bool isServer() const { return kind == Kind::Postgres; }
};

Location parseLocation(const QString &text);

// The libpq connection options of a server location (`options`, the service,
// a connect_timeout of ConnectTimeoutSeconds and TCP keepalives unless given), as
// QSqlDatabase::setConnectOptions() of the QPSQL driver takes them:
// "key='value'" joined by ';'.
constexpr int ConnectTimeoutSeconds = 10;
QString connectOptions(const Location &location);

} // namespace Journal

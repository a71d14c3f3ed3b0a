// A throw-away PostgreSQL server for the tests, with no cluster of the
// system's involved: initdb (of the newest /usr/lib/postgresql/<version>/bin)
// makes one in a temporary folder, pg_ctl starts it listening on 127.0.0.1
// at a free port and on a unix socket in that folder, and stops it again
// (-m fast) when the object goes, also after a failed test.  Should the test
// process die before that, a watcher it leaves behind stops the server and
// removes the folder.
//
// PostgreSQL refuses to run as root: a test run as root runs initdb and the
// server as the system user postgres (setpriv, the folder handed to that
// user); any other user runs them as itself.
//
// Logins: the superuser tlsuper is trusted on the socket only (the fixture's
// own psql uses it); the tests' role tltest logs in over TCP with a
// SCRAM password, which libpq finds in a pgpass file the fixture writes and
// points PGPASSFILE at, as a user's ~/.pgpass would hold it.
//
// No widgets.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class PgCluster
{
public:
    PgCluster() = default;
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Starts the server once; later calls answer as the first did.  false:
    // why() says what failed, with the tool's own words.
    bool start();
    QString why() const { return problem; }
    qint64 startMs() const { return startedInMs; }

    // A new, empty database that the tests' role owns; false: why() says.
    bool createDatabase(const QString &name);
    // The URL the journal takes for `database` (the password stays out), as
    // the tests' role or as `role`.
    QString url(const QString &database) const { return url(database, user()); }
    QString url(const QString &database, const QString &role) const;
    // A new role that logs in over TCP, a member of the roles `memberOf`
    // (which must exist), with a password of this run added to the pgpass
    // file; false: why() says.
    bool createLogin(const QString &role, const QStringList &memberOf);
    QString host() const { return QStringLiteral("127.0.0.1"); }
    int port() const { return serverPort; }
    QString user() const { return QStringLiteral("tltest"); }
    // The pgpass file that holds the role's password.
    QString passFile() const;
    // A plain QPSQL connection of the tests' role to `database`, opened,
    // outside the journal's code; remove it with QSqlDatabase::removeDatabase.
    QSqlDatabase connect(const QString &connection, const QString &database) const;
    // Runs `statements` with psql as the superuser in `database`.
    bool superuserSql(const QString &database, const QStringList &statements, QString *output = nullptr);

    void stop();
    // Stops the server at once, as a crash or a pulled plug would (pg_ctl
    // stop -m immediate: no shutdown checkpoint, clients cut off), and
    // starts it again on the same port and folder; false: why() says.
    bool kill();
    bool restart();

    // A port on 127.0.0.1 that nothing listened on a moment ago.
    static int freePort();

private:
    bool run(const QString &program, const QStringList &arguments, bool asServer, int timeoutMs,
             QString *output = nullptr, const QByteArray &input = QByteArray());
    bool fail(const QString &what);
    QString tool(const QString &name) const;
    QString dataDir() const;

    std::unique_ptr<QTemporaryDir> folder;
    QString binDir;
    QString problem;
    bool tried = false;
    bool running = false;   // the server runs
    bool ready = false;     // and the tests' role may log in
    bool asPostgres = false;
    int serverPort = 0;
    qint64 startedInMs = 0;
    qint64 watcher = 0;
    bool passFileSet = false;   // PGPASSFILE points at ours
    QByteArray oldPassFile;
    bool hadPassFile = false;
};

#include "pgcluster.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char *const Superuser = "tlsuper";
const char *const ServerUser = "postgres";

// The last lines of a text, enough to see why a tool failed.
QString tail(const QString &text, int lines = 15)
{
    QStringList all = text.trimmed().split(QLatin1Char('\n'));
    if (all.size() > lines)
        all = all.mid(all.size() - lines);
    return all.join(QLatin1Char('\n'));
}

QStringList asServerUser(const QString &program, const QStringList &arguments)
{
    return QStringList{QStringLiteral("--reuid"), QLatin1String(ServerUser), QStringLiteral("--regid"),
                       QLatin1String(ServerUser), QStringLiteral("--init-groups"), QStringLiteral("--"), program}
           + arguments;
}

} // namespace

int PgCluster::freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

PgCluster::~PgCluster()
{
    stop();
}

bool PgCluster::fail(const QString &what)
{
    problem = QStringLiteral("the test server did not start: ") + what;
    return false;
}

QString PgCluster::tool(const QString &name) const
{
    return binDir + QLatin1Char('/') + name;
}

QString PgCluster::dataDir() const
{
    return folder->filePath(QStringLiteral("data"));
}

QString PgCluster::passFile() const
{
    return folder ? folder->filePath(QStringLiteral("pgpass")) : QString();
}

bool PgCluster::run(const QString &program, const QStringList &arguments, bool asServer, int timeoutMs,
                    QString *output, const QByteArray &input)
{
    QProcess p;
    p.setWorkingDirectory(folder->path());   // one the server's user may enter
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (asServer && asPostgres)
        p.start(QStringLiteral("setpriv"), asServerUser(program, arguments));
    else
        p.start(program, arguments);
    QString text;
    bool ok = p.waitForStarted(30000);
    if (ok) {
        p.write(input);
        p.closeWriteChannel();
        ok = p.waitForFinished(timeoutMs);
        if (!ok) {
            text = QStringLiteral("%1 did not end within %2 s; ")
                       .arg(QFileInfo(program).fileName())
                       .arg(timeoutMs / 1000);
            p.kill();
            p.waitForFinished(5000);
        }
    } else {
        text = QStringLiteral("%1 could not be run (%2); ").arg(program, p.errorString());
    }
    text += QString::fromLocal8Bit(p.readAll());
    ok = ok && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = text;
    return ok;
}

bool PgCluster::start()
{
    if (tried)
        return ready;
    tried = true;
    QElapsedTimer clock;
    clock.start();

    // The newest server version installed.
    const QDir base(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = base.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString &a, const QString &b) { return a.toDouble() > b.toDouble(); });
    for (const QString &v : versions) {
        if (QFileInfo(base.filePath(v + QStringLiteral("/bin/initdb"))).isExecutable()) {
            binDir = base.filePath(v + QStringLiteral("/bin"));
            break;
        }
    }
    if (binDir.isEmpty())
        return fail(QStringLiteral("no /usr/lib/postgresql/<version>/bin/initdb (Debian package postgresql)"));

    folder.reset(new QTemporaryDir(QDir::tempPath() + QStringLiteral("/tl-pg-XXXXXX")));
    if (!folder->isValid())
        return fail(QStringLiteral("no temporary folder: ") + folder->errorString());
    asPostgres = ::geteuid() == 0;
    if (asPostgres) {
        const passwd *pw = ::getpwnam(ServerUser);
        if (!pw)
            return fail(QStringLiteral("PostgreSQL does not run as root, and there is no user %1 to run it as")
                            .arg(QLatin1String(ServerUser)));
        if (::chown(QFile::encodeName(folder->path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
            return fail(QStringLiteral("%1 cannot be handed to the user %2: %3")
                            .arg(folder->path(), QLatin1String(ServerUser), QString::fromLocal8Bit(strerror(errno))));
    }

    // Should this process die before stop(), a watcher stops the server (if
    // it runs) and removes the folder.
    {
        const QString stopCommand =
            QStringLiteral("'%1' -D '%2' -m immediate -w stop").arg(tool(QStringLiteral("pg_ctl")), dataDir());
        const QString script =
            QStringLiteral("while kill -0 %1 2>/dev/null; do sleep 1; done; %2%3 >/dev/null 2>&1; rm -rf '%4'")
                .arg(::getpid())
                .arg(asPostgres ? QStringLiteral("setpriv --reuid %1 --regid %1 --init-groups -- ")
                                      .arg(QLatin1String(ServerUser))
                                : QString(),
                     stopCommand, folder->path());
        QProcess w;
        w.setProgram(QStringLiteral("/bin/sh"));
        w.setArguments({QStringLiteral("-c"), script});
        w.setStandardInputFile(QProcess::nullDevice());
        w.setStandardOutputFile(QProcess::nullDevice());
        w.setStandardErrorFile(QProcess::nullDevice());
        if (!w.startDetached(&watcher))
            watcher = 0;
    }

    QString out;
    if (!run(tool(QStringLiteral("initdb")),
             {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), QLatin1String(Superuser), QStringLiteral("-E"),
              QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync"),
              QStringLiteral("--auth-local=trust"), QStringLiteral("--auth-host=scram-sha-256")},
             true, 120000, &out))
        return fail(QStringLiteral("initdb: ") + tail(out));
    // Only this machine, a socket in the folder, and no waiting for disks.
    QFile conf(dataDir() + QStringLiteral("/postgresql.conf"));
    if (!conf.open(QIODevice::Append)
        || conf.write(QStringLiteral("\nlisten_addresses = '127.0.0.1'\nunix_socket_directories = '%1'\n"
                                     "fsync = off\nsynchronous_commit = off\nfull_page_writes = off\n"
                                     "max_connections = 40\n")
                          .arg(folder->path()).toUtf8()) < 0
        || !conf.flush())
        return fail(QStringLiteral("postgresql.conf cannot be written: ") + conf.errorString());
    conf.close();

    // The port found free may be taken again before the server binds it:
    // then another.
    const QString log = folder->filePath(QStringLiteral("server.log"));
    for (int attempt = 0; attempt < 3 && !running; ++attempt) {
        serverPort = freePort();
        if (serverPort == 0)
            return fail(QStringLiteral("no free port on 127.0.0.1"));
        running = run(tool(QStringLiteral("pg_ctl")),
                      {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"), log, QStringLiteral("-w"),
                       QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"),
                       QStringLiteral("-p %1").arg(serverPort), QStringLiteral("start")},
                      true, 90000, &out);
        QFile logFile(log);
        const QString logText =
            logFile.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(logFile.readAll()) : QString();
        if (!running && !logText.contains(QLatin1String("could not bind")))
            return fail(QStringLiteral("pg_ctl start: %1\n%2").arg(tail(out), tail(logText)));
    }
    if (!running)
        return fail(QStringLiteral("no port could be bound (%1)").arg(tail(out)));

    // The tests' role, with a password of this run that only the pgpass
    // file holds (psql reads it from its input, not its command line).
    const QString password = QString::number(QRandomGenerator::system()->generate64(), 36);
    if (!superuserSql(QStringLiteral("postgres"),
                      {QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(user(), password)}, &out))
        return fail(QStringLiteral("the role %1 was not made: %2").arg(user(), tail(out)));
    QFile pass(passFile());
    if (!pass.open(QIODevice::WriteOnly)
        || !pass.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || pass.write(QStringLiteral("%1:%2:*:%3:%4\n").arg(host()).arg(serverPort).arg(user(), password).toUtf8()) < 0
        || !pass.flush())
        return fail(QStringLiteral("the pgpass file cannot be written: ") + pass.errorString());
    pass.close();
    hadPassFile = qEnvironmentVariableIsSet("PGPASSFILE");
    oldPassFile = qgetenv("PGPASSFILE");
    qputenv("PGPASSFILE", QFile::encodeName(passFile()));
    passFileSet = true;
    startedInMs = clock.elapsed();
    ready = true;
    return true;
}

bool PgCluster::superuserSql(const QString &database, const QStringList &statements, QString *output)
{
    QByteArray script;
    for (const QString &s : statements)
        script += s.toUtf8() + ";\n";
    return run(tool(QStringLiteral("psql")),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"),
                QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-h"), folder->path(),
                QStringLiteral("-p"), QString::number(serverPort), QStringLiteral("-U"), QLatin1String(Superuser),
                QStringLiteral("-d"), database},
               false, 60000, output, script);
}

bool PgCluster::createDatabase(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[a-z_][a-z0-9_]*$"));
    if (!plain.match(name).hasMatch()) {
        problem = QStringLiteral("\"%1\" is no plain database name").arg(name);
        return false;
    }
    if (!start())
        return false;
    QString out;
    if (!superuserSql(QStringLiteral("postgres"), {QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(name, user())},
                      &out)) {
        problem = QStringLiteral("the database %1 was not made: %2").arg(name, tail(out));
        return false;
    }
    return true;
}

QString PgCluster::url(const QString &database, const QString &role) const
{
    return QStringLiteral("postgresql://%1@%2:%3/%4?sslmode=disable").arg(role, host()).arg(serverPort).arg(database);
}

bool PgCluster::createLogin(const QString &role, const QStringList &memberOf)
{
    static const QRegularExpression plain(QStringLiteral("^[a-z_][a-z0-9_]*$"));
    for (const QString &name : QStringList{role} + memberOf) {
        if (!plain.match(name).hasMatch()) {
            problem = QStringLiteral("\"%1\" is no plain role name").arg(name);
            return false;
        }
    }
    if (!start())
        return false;
    const QString password = QString::number(QRandomGenerator::system()->generate64(), 36);
    QString statement = QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password);
    if (!memberOf.isEmpty())
        statement += QStringLiteral(" IN ROLE ") + memberOf.join(QStringLiteral(", "));
    QString out;
    if (!superuserSql(QStringLiteral("postgres"), {statement}, &out)) {
        problem = QStringLiteral("the role %1 was not made: %2").arg(role, tail(out));
        return false;
    }
    QFile pass(passFile());
    if (!pass.open(QIODevice::Append)
        || pass.write(QStringLiteral("%1:%2:*:%3:%4\n").arg(host()).arg(serverPort).arg(role, password).toUtf8()) < 0
        || !pass.flush()) {
        problem = QStringLiteral("the pgpass file cannot be written: ") + pass.errorString();
        return false;
    }
    return true;
}

QSqlDatabase PgCluster::connect(const QString &connection, const QString &database) const
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    db.setHostName(host());
    db.setPort(serverPort);
    db.setDatabaseName(database);
    db.setUserName(user());
    db.setConnectOptions(QStringLiteral("sslmode=disable"));
    db.open();
    return db;
}

bool PgCluster::kill()
{
    if (!running) {
        problem = QStringLiteral("the test server is not running");
        return false;
    }
    QString out;
    if (!run(tool(QStringLiteral("pg_ctl")), {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"),
                                                QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
             true, 60000, &out)) {
        problem = QStringLiteral("pg_ctl stop -m immediate: ") + tail(out);
        return false;
    }
    running = false;
    return true;
}

bool PgCluster::restart()
{
    QString out;
    running = run(tool(QStringLiteral("pg_ctl")),
                  {QStringLiteral("-D"), dataDir(), QStringLiteral("-l"), folder->filePath(QStringLiteral("server.log")),
                   QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"),
                   QStringLiteral("-p %1").arg(serverPort), QStringLiteral("start")},
                  true, 90000, &out);
    if (!running)
        problem = QStringLiteral("pg_ctl start after a stop: ") + tail(out);
    return running;
}

void PgCluster::stop()
{
    if (watcher > 0) {
        ::kill(pid_t(watcher), SIGTERM);
        watcher = 0;
    }
    // Also after a start that failed once the server may have come up.
    ready = false;
    if (running || (folder && QFile::exists(dataDir() + QStringLiteral("/postmaster.pid")))) {
        running = false;
        QString out;
        const QString pgCtl = tool(QStringLiteral("pg_ctl"));
        if (!run(pgCtl, {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("fast"),
                         QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("stop")},
                 true, 90000, &out))
            run(pgCtl, {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), QStringLiteral("immediate"),
                        QStringLiteral("-w"), QStringLiteral("stop")},
                true, 60000, &out);
    }
    if (passFileSet) {
        passFileSet = false;
        if (hadPassFile)
            qputenv("PGPASSFILE", oldPassFile);
        else
            qunsetenv("PGPASSFILE");
    }
    folder.reset();
}

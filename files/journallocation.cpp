#include "journallocation.h"

#include <QRegularExpression>
#include <QUrl>

namespace Journal {

namespace {

const QString PasswordAdvice = QStringLiteral(
    "a password does not go into the journal's location: put it into ~/.pgpass, the file PGPASSFILE names or "
    "the service file (pg_service.conf), never into a setting or a command line");

QString decoded(const QString &part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

Location invalid(Location l, const QString &problem)
{
    l.kind = Location::Kind::Invalid;
    l.problem = problem;
    return l;
}

Location parseUrl(const QString &text, const QString &scheme)
{
    Location l;
    l.text = text;
    QString rest = text.mid(scheme.size());
    QString query;
    const int mark = rest.indexOf(QLatin1Char('?'));
    if (mark >= 0) {
        query = rest.mid(mark + 1);
        rest.truncate(mark);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash >= 0 ? rest.left(slash) : rest;
    const QString path = slash >= 0 ? rest.mid(slash + 1) : QString();
    const int at = authority.lastIndexOf(QLatin1Char('@'));
    const QString userInfo = at >= 0 ? authority.left(at) : QString();
    const QString hostPort = authority.mid(at + 1);

    // Options first: a password among them is refused like one in the
    // user part, and neither is ever shown.
    QStringList shownOptions;
    bool password = false;
    QString problem;
    for (const QString &item : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = item.indexOf(QLatin1Char('='));
        const QString key = decoded(item.left(eq));
        if (key == QLatin1String("password")) {
            password = true;
            continue;
        }
        shownOptions << item;
        if (!problem.isEmpty())
            continue;
        static const QRegularExpression keyword(QStringLiteral("^[a-z_]+$"));
        if (eq < 0)
            problem = QStringLiteral("the option \"%1\" has no value").arg(item);
        else if (!keyword.match(key).hasMatch())
            problem = QStringLiteral("\"%1\" is not a connection option").arg(key);
        else if (decoded(item.mid(eq + 1)).contains(QLatin1Char(';')))
            problem = QStringLiteral("the option %1 holds a ';', which cannot be passed on").arg(key);
        else
            l.options << key + QLatin1Char('=') + decoded(item.mid(eq + 1));
    }
    const int colon = userInfo.indexOf(QLatin1Char(':'));
    if (colon >= 0 || password) {
        // The location as it may be shown: the user, without the password.
        const QString user = colon >= 0 ? userInfo.left(colon) : userInfo;
        l.text = scheme + (user.isEmpty() ? QString() : user + QLatin1Char('@')) + hostPort
                 + (slash >= 0 ? QLatin1Char('/') + path : QString())
                 + (shownOptions.isEmpty() ? QString() : QLatin1Char('?') + shownOptions.join(QLatin1Char('&')));
        return invalid(l, PasswordAdvice);
    }
    if (!problem.isEmpty())
        return invalid(l, problem);

    l.user = decoded(userInfo);
    QString portText;
    if (hostPort.startsWith(QLatin1Char('['))) {
        const int close = hostPort.indexOf(QLatin1Char(']'));
        if (close < 0)
            return invalid(l, QStringLiteral("the IPv6 address has no closing ']'"));
        l.host = hostPort.mid(1, close - 1);
        const QString after = hostPort.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return invalid(l, QStringLiteral("\"%1\" after the IPv6 address").arg(after));
        portText = after.mid(1);
    } else {
        if (hostPort.contains(QLatin1Char(',')))
            return invalid(l, QStringLiteral("the journal takes one server, not a list"));
        const int c = hostPort.lastIndexOf(QLatin1Char(':'));
        l.host = decoded(c >= 0 ? hostPort.left(c) : hostPort);
        if (c >= 0)
            portText = hostPort.mid(c + 1);
    }
    if (!portText.isEmpty()) {
        bool number = false;
        l.port = portText.toInt(&number);
        if (!number || l.port < 1 || l.port > 65535 || !portText.at(0).isDigit())
            return invalid(l, QStringLiteral("\"%1\" is not a port (1-65535)").arg(portText));
    }
    l.dbname = decoded(path);
    if (l.dbname.contains(QLatin1Char('/')))
        return invalid(l, QStringLiteral("\"%1\" is not a database name").arg(l.dbname));
    l.kind = Location::Kind::Postgres;
    return l;
}

QString quoted(const QString &value)
{
    QString v = value;
    v.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    v.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + v + QLatin1Char('\'');
}

} // namespace

Location parseLocation(const QString &text)
{
    for (const char *scheme : {"postgresql://", "postgres://"}) {
        if (text.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return parseUrl(text, text.left(int(qstrlen(scheme))));
    }
    Location l;
    l.text = text;
    const QString servicePrefix = QStringLiteral("service=");
    if (text.startsWith(servicePrefix)) {
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_.-]+$"));
        l.service = text.mid(servicePrefix.size());
        if (!name.match(l.service).hasMatch())
            return invalid(l, QStringLiteral("\"%1\" is not a service name (letters, digits, '_', '-' and '.')")
                                  .arg(l.service));
        l.kind = Location::Kind::Postgres;
        return l;
    }
    if (text.isEmpty())
        return invalid(l, QStringLiteral("no journal location given"));
    l.kind = Location::Kind::SqliteFile;
    l.path = text;
    return l;
}

QString connectOptions(const Location &location)
{
    QStringList parts;
    if (!location.service.isEmpty())
        parts << QStringLiteral("service=") + quoted(location.service);
    QStringList given;
    for (const QString &option : location.options) {
        const int eq = option.indexOf(QLatin1Char('='));
        const QString key = option.left(eq);
        given << key;
        parts << key + QLatin1Char('=') + quoted(option.mid(eq + 1));
    }
    // Unless the location says otherwise: a connect gives up in time, and a
    // connection whose server went silent mid-send (a laptop leaving the
    // network) is found dead within about half a minute instead of the
    // system's two hours, so a sender blocked in it ends.
    const QPair<const char *, int> defaults[] = {{"connect_timeout", ConnectTimeoutSeconds},
                                                 {"keepalives_idle", 10},
                                                 {"keepalives_interval", 5},
                                                 {"keepalives_count", 3},
                                                 {"tcp_user_timeout", 30000}};
    for (const auto &d : defaults)
        if (!given.contains(QLatin1String(d.first)))
            parts << QStringLiteral("%1=%2").arg(QLatin1String(d.first)).arg(d.second);
    return parts.join(QLatin1Char(';'));
}

} // namespace Journal

#include "accesslevels.h"

namespace Access {

QString levelFor(const QString &login, const QString &password)
{
    if (password.isEmpty())
        return QString();
    struct Credential { QLatin1String login; const char *password; };
    // Tried in this order.
    static const Credential table[] = {{ProductionLevel, "8350"}, {UserLevel, "7529"}, {AdminLevel, "9641"}};
    for (const Credential &c : table) {
        if (login == c.login && password == QLatin1String(c.password))
            return login;
    }
    return QString();
}

bool factoryPasswordAccepted(const QString &password)
{
    return password == QLatin1String("5916");
}

} // namespace Access

#include "accesslevels.h"

namespace Access {

QString levelFor(const QString &login, const QString &password)
{
    if (password.isEmpty())
        return QString();
    struct Credential { const char *login; const char *password; };
    // Tried in this order.
    static const Credential table[] = {{"Velta", "8350"}, {"User", "7529"}, {"Admin", "9641"}};
    for (const Credential &c : table) {
        if (login == QLatin1String(c.login) && password == QLatin1String(c.password))
            return login;
    }
    return QString();
}

bool factoryPasswordAccepted(const QString &password)
{
    return password == QLatin1String("5916");
}

} // namespace Access

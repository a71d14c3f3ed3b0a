// The three access levels and their built-in credentials.  The login dialog
// and tlctl both decide through these.
#pragma once

#include <QString>

namespace Access {

// Level name granted by a login, or an empty string when refused.  Names and
// passwords are compared exactly (case-sensitive); an empty password is
// always refused.
QString levelFor(const QString &login, const QString &password);

// The factory password that lets the "User" level run one protected action.
bool factoryPasswordAccepted(const QString &password);

// Level rules.
inline bool isProduction(const QString &level) { return level == QLatin1String("Velta"); }
// "User" must give the factory password before reading factory settings or
// opening the gas library.
inline bool needsFactoryPassword(const QString &level) { return level == QLatin1String("User"); }
// The serial number can be changed at the production level (and before login).
inline bool serialNumberEditable(const QString &level)
{ return level != QLatin1String("User") && level != QLatin1String("Admin"); }

} // namespace Access

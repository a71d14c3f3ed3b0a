// The access levels, their names and built-in credentials, and what each
// level may see and do.  The login dialog, the pages and tlctl all decide
// through these; nobody else compares level names.
#pragma once

#include <QLatin1String>
#include <QString>

namespace Access {

// Level names as command.UserName holds them.  NoLevel is the name before
// anybody has logged in.
template <int N>
constexpr QLatin1String levelName(const char (&name)[N]) { return QLatin1String(name, N - 1); }
constexpr QLatin1String NoLevel = levelName("Noname");
constexpr QLatin1String UserLevel = levelName("User");
constexpr QLatin1String AdminLevel = levelName("Admin");
constexpr QLatin1String ProductionLevel = levelName("Velta");

// Level name granted by a login, or an empty string when refused.  Names and
// passwords are compared exactly (case-sensitive); an empty password is
// always refused.
QString levelFor(const QString &login, const QString &password);

// The factory password that lets the "User" level run one protected action.
bool factoryPasswordAccepted(const QString &password);

// Level rules.
// Somebody has logged in (the gas library menu is offered from then on).
inline bool hasLoggedIn(const QString &level) { return level != NoLevel; }
inline bool isProduction(const QString &level) { return level == ProductionLevel; }
// "User" must give the factory password before reading factory settings or
// opening the gas library.
inline bool needsFactoryPassword(const QString &level) { return level == UserLevel; }
// The production controls (the calibration-parameters page, the PWM code and
// the concentration simulation, the serial number) are kept from "User" and
// "Admin"; "Velta" sees them, and so does the program before any login.
inline bool seesProductionControls(const QString &level)
{ return level != UserLevel && level != AdminLevel; }
// The serial number can be changed at the production level (and before login).
inline bool serialNumberEditable(const QString &level) { return seesProductionControls(level); }

} // namespace Access

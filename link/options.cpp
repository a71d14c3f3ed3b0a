#include "options.h"

#include "accesslevels.h"

const QStringList UnitNames = {QStringLiteral("PPM"), QStringLiteral("mg/m3"),
                               QStringLiteral("%LEL"), QStringLiteral("%VOL")};
const QStringList DiscretenessNames = {QStringLiteral("X"), QStringLiteral("X,X"),
                                       QStringLiteral("X,XX")};
const QStringList OptionNames = {QStringLiteral("1Options"), QStringLiteral("2Options"),
                                 QStringLiteral("3Options"), QStringLiteral("4Options")};
const QStringList BaudNames = {QStringLiteral("38400"), QStringLiteral("57600"),
                               QStringLiteral("115200")};
const QString DefaultUserName = QString(Access::NoLevel);
const QString ProgramName = QStringLiteral("TL Configuration");
// The version of project() in the top CMakeLists.txt.
const QString ProgramVersion = QStringLiteral(TL_PROJECT_VERSION);

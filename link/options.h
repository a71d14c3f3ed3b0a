// Fixed option tables shown by the pages.  These texts are the same in every
// language and are not translated.
#pragma once

#include <QStringList>

extern const QStringList UnitNames;          // "PPM", "mg/m3", "%LEL", "%VOL"
extern const QStringList DiscretenessNames;  // "X", "X,X", "X,XX"
extern const QStringList OptionNames;        // "1Options" .. "4Options"
extern const QStringList BaudNames;          // "38400", "57600", "115200"
extern const QString DefaultUserName;        // "Noname"

// Program constants used in titles and in the about window.
extern const QString ProgramName;            // "TL Configuration"
extern const QString ProgramVersion;         // "1.8", from the build (project())

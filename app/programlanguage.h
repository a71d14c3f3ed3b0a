// The language the program speaks, for what is not among its own translated
// texts: Qt's own dialogs and buttons (file choosers, Cancel, Yes and No),
// which come in Russian from Qt's translation (Debian's
// qttranslations5-l10n) while the program speaks Russian, and the numbers of
// exported tables.  The main window sets it when it switches its
// translation.  No widgets here.
#pragma once

#include <QLocale>

namespace ProgramLanguage {

// Russian unless English was chosen.  Installs Qt's Russian translation
// (qtbase_ru.qm from Qt's translations folder) for Russian and removes it
// for English.
void setEnglish(bool english);
bool isEnglish();
// Qt's Russian translation is installed (false in English, or when the
// file is missing).
bool qtTranslationInstalled();
// The locale of that language (decimal comma in Russian, point in
// English), numbers written without group separators.
QLocale locale();

} // namespace ProgramLanguage

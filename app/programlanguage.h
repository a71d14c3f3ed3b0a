// The language the program speaks, for what is written in it apart from the
// translated texts: the numbers of exported tables.  The main window sets it
// when it switches its translation.  No widgets here.
#pragma once

#include <QLocale>

namespace ProgramLanguage {

// Russian unless English was chosen.
void setEnglish(bool english);
bool isEnglish();
// The locale of that language (decimal comma in Russian, point in
// English), numbers written without group separators.
QLocale locale();

} // namespace ProgramLanguage

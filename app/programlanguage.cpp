#include "programlanguage.h"

namespace ProgramLanguage {

namespace {
bool english = false;
} // namespace

void setEnglish(bool on)
{
    english = on;
}

bool isEnglish()
{
    return english;
}

QLocale locale()
{
    QLocale l = english ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale(QLocale::Russian, QLocale::Russia);
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}

} // namespace ProgramLanguage

#include "programlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace ProgramLanguage {

namespace {
bool english = false;
bool qtInstalled = false;
// Belongs to the application object, and goes with it.
QPointer<QTranslator> qtTranslator;
} // namespace

void setEnglish(bool on)
{
    english = on;
    if (!QCoreApplication::instance())
        return;
    if (!qtTranslator) {
        qtTranslator = new QTranslator(QCoreApplication::instance());
        qtInstalled = false;
    }
    if (qtInstalled) {
        QCoreApplication::removeTranslator(qtTranslator);
        qtInstalled = false;
    }
    // The program's own texts are Russian in the sources; English needs no
    // translation of Qt's.
    if (!english && qtTranslator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        qtInstalled = QCoreApplication::installTranslator(qtTranslator);
}

bool isEnglish()
{
    return english;
}

bool qtTranslationInstalled()
{
    return qtInstalled && qtTranslator;
}

QLocale locale()
{
    QLocale l = english ? QLocale(QLocale::English, QLocale::UnitedStates) : QLocale(QLocale::Russian, QLocale::Russia);
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}

} // namespace ProgramLanguage

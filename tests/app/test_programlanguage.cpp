// The program's language beyond its own texts: Qt's dialogs and buttons
// follow it (Qt's Russian translation in, then out again), and so do the
// numbers of exported tables.
#include "programlanguage.h"

#include <QDialogButtonBox>
#include <QLibraryInfo>
#include <QPushButton>
#include <QtTest>

class ProgramLanguageTest : public QObject
{
    Q_OBJECT
private slots:
    void qtDialogsAndNumbersFollowIt();
};

void ProgramLanguageTest::qtDialogsAndNumbersFollowIt()
{
    const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/qtbase_ru.qm")))
        QSKIP("Qt's translations are not installed (qttranslations5-l10n)");
    auto cancelText = [] {
        QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Save);
        return box.button(QDialogButtonBox::Cancel)->text().remove(QLatin1Char('&'));
    };
    QCOMPARE(cancelText(), QStringLiteral("Cancel"));

    ProgramLanguage::setEnglish(false);
    QVERIFY(ProgramLanguage::qtTranslationInstalled());
    QCOMPARE(cancelText(), QStringLiteral("Отмена"));
    QCOMPARE(ProgramLanguage::locale().toString(1234.5, 'f', 1), QStringLiteral("1234,5"));
    // Set again: still one translation, still Russian.
    ProgramLanguage::setEnglish(false);
    QCOMPARE(cancelText(), QStringLiteral("Отмена"));

    ProgramLanguage::setEnglish(true);
    QVERIFY(ProgramLanguage::isEnglish());
    QVERIFY(!ProgramLanguage::qtTranslationInstalled());
    QCOMPARE(cancelText(), QStringLiteral("Cancel"));
    QCOMPARE(ProgramLanguage::locale().toString(1234.5, 'f', 1), QStringLiteral("1234.5"));

    ProgramLanguage::setEnglish(false);
    QCOMPARE(cancelText(), QStringLiteral("Отмена"));
}

QTEST_MAIN(ProgramLanguageTest)
#include "test_programlanguage.moc"

// The gas library's rules without widgets: searching and appending on
// workbooks made by openpyxl, the threshold words from typed values, the
// display lines, and whether an entry fits a device.
#include "gaslibrary.h"
#include "testdata.h"
#include "xlsxdocument.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using GasLibrary::Entry;
using GasLibrary::Status;
using GasLibrary::ValueProblem;

Q_DECLARE_METATYPE(ValueProblem)

class TestGasLibraryUnit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void searchAndAppendOnOpenpyxlWorkbooks();
    void usedRangeStartingBelowRow1();
    void libraryThatCannotBeUsed();
    void thresholdWords_data();
    void thresholdWords();
    void cellsAndLines();
    void fitToDevice();

private:
    QTemporaryDir dir;
};

// The openpyxl library: three sheets, the second ("Газы") active, titles in
// row 1, row 5 with a format of its own.
void TestGasLibraryUnit::searchAndAppendOnOpenpyxlWorkbooks()
{
    const QString original = dir.filePath(QStringLiteral("library-original.xlsx"));
    const QString path = dir.filePath(QStringLiteral("library.xlsx"));
    QVERIFY(runXlsxFixture({QStringLiteral("library"), original}));
    QVERIFY(QFile::copy(original, path));

    QVector<Entry> found;
    QCOMPARE(GasLibrary::search(path, QStringLiteral("МЕТАН"), &found), Status::Ok);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[0].row, 2);
    QCOMPARE(found[0].name, QStringLiteral("Метан"));
    QCOMPARE(found[0].limit2, QVariant(32968.0));
    QCOMPARE(found[1].row, 4);
    QCOMPARE(found[1].name, QStringLiteral("метанол"));
    QCOMPARE(GasLibrary::search(path, QString(), &found), Status::Ok);
    QCOMPARE(found.size(), 4);
    QCOMPARE(found[0].name, QStringLiteral("Название газа"));

    int row = 0;
    QCOMPARE(GasLibrary::append(path, QStringLiteral("Этилен"), 0x8000 | 205, 300, &row), Status::Ok);
    QCOMPARE(row, 5);
    QVERIFY(runXlsxFixture({QStringLiteral("compare"), original, path, QStringLiteral("xl/worksheets/sheet2.xml"),
                     QStringLiteral("{\"A5\": \"Этилен\", \"B5\": 32973, \"C5\": 300}")}));
    // The next one goes below it, and both are found.
    QCOMPARE(GasLibrary::append(path, QStringLiteral("этилен"), 10, 20, &row), Status::Ok);
    QCOMPARE(row, 6);
    QCOMPARE(GasLibrary::search(path, QStringLiteral("ЭТИЛ"), &found), Status::Ok);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[1].row, 6);
    QCOMPARE(found[1].limit1, QVariant(10.0));
}

// Used range A3:C6: rows 3-6 are searched, the new entry goes to row 7.
void TestGasLibraryUnit::usedRangeStartingBelowRow1()
{
    const QString original = dir.filePath(QStringLiteral("offset-original.xlsx"));
    const QString path = dir.filePath(QStringLiteral("offset.xlsx"));
    QVERIFY(runXlsxFixture({QStringLiteral("offset"), original}));
    QVERIFY(QFile::copy(original, path));

    QVector<Entry> found;
    QCOMPARE(GasLibrary::search(path, QString(), &found), Status::Ok);
    QCOMPARE(found.size(), 4);
    QCOMPARE(found.first().row, 3);
    QCOMPARE(found.last().row, 6);
    QCOMPARE(found.last().name, QStringLiteral("метанол"));
    int row = 0;
    QCOMPARE(GasLibrary::append(path, QStringLiteral("Бутан"), 150, 300, &row), Status::Ok);
    QCOMPARE(row, 7);
    QVERIFY(runXlsxFixture({QStringLiteral("compare"), original, path, QStringLiteral("xl/worksheets/sheet1.xml"),
                     QStringLiteral("{\"A7\": \"Бутан\", \"B7\": 150, \"C7\": 300}")}));
}

// Missing or not a workbook: OpenFailed with a reason, nothing created or
// changed; a save that cannot replace the file: SaveFailed, file as it was.
void TestGasLibraryUnit::libraryThatCannotBeUsed()
{
    const QString missing = dir.filePath(QStringLiteral("missing.xlsx"));
    QVector<Entry> found{Entry{}};
    QString error;
    QCOMPARE(GasLibrary::search(missing, QString(), &found, &error), Status::OpenFailed);
    QVERIFY(found.isEmpty());
    QVERIFY(!error.isEmpty());
    QCOMPARE(GasLibrary::append(missing, QStringLiteral("Метан"), 1, 2), Status::OpenFailed);
    QVERIFY(!QFile::exists(missing));

    const QString text = dir.filePath(QStringLiteral("text.xlsx"));
    QVERIFY(writeFile(text, "Метан;200;400\n"));
    QCOMPARE(GasLibrary::append(text, QStringLiteral("Метан"), 1, 2), Status::OpenFailed);
    QCOMPARE(readFile(text), QByteArray("Метан;200;400\n"));

    // No room for the new file (a file-size limit, as a full disk): the
    // workbook loads, the save fails, the old file stays.
    const QString path = dir.filePath(QStringLiteral("full.xlsx"));
    QVERIFY(runXlsxFixture({QStringLiteral("offset"), path}));
    const QByteArray before = readFile(path);
    Status s;
    {
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &tiny);
        s = GasLibrary::append(path, QStringLiteral("Бутан"), 150, 300, nullptr, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    QCOMPARE(s, Status::SaveFailed);
    QVERIFY(!error.isEmpty());
    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("full*")}, QDir::Files), QStringList{QStringLiteral("full.xlsx")});
}

void TestGasLibraryUnit::thresholdWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<bool>("decreasing");
    QTest::addColumn<ValueProblem>("problem");
    QTest::addColumn<int>("word");
    const auto ok = ValueProblem::None;
    QTest::newRow("X,X decreasing") << "20.0" << 1 << true << ok << 200 + 32768;
    QTest::newRow("comma") << "19,5" << 1 << false << ok << 195;
    QTest::newRow("X,XX exact") << "0.29" << 2 << false << ok << 29;
    QTest::newRow("trailing zero") << "20.50" << 1 << false << ok << 205;
    QTest::newRow("whole at X,XX") << "3" << 2 << false << ok << 300;
    QTest::newRow("X max") << "32767" << 0 << true << ok << 0xFFFF;
    QTest::newRow("X,X max") << "3276.7" << 1 << false << ok << 32767;
    QTest::newRow("zero") << "0" << 0 << false << ok << 0;
    QTest::newRow("minus zero") << "-0.0" << 1 << false << ok << 0;
    QTest::newRow("X over") << "32768" << 0 << false << ValueProblem::OutOfRange << -1;
    QTest::newRow("X,X over") << "3276.8" << 1 << false << ValueProblem::OutOfRange << -1;
    QTest::newRow("X,XX over") << "327.68" << 2 << false << ValueProblem::OutOfRange << -1;
    QTest::newRow("huge") << "99999999999999999999" << 0 << false << ValueProblem::OutOfRange << -1;
    QTest::newRow("negative") << "-1" << 0 << false << ValueProblem::OutOfRange << -1;
    QTest::newRow("decimals at X") << "20.5" << 0 << false << ValueProblem::TooManyDecimals << -1;
    QTest::newRow("two at X,X") << "20.05" << 1 << false << ValueProblem::TooManyDecimals << -1;
    QTest::newRow("text") << "двадцать" << 1 << false << ValueProblem::NotANumber << -1;
    QTest::newRow("exponent") << "2e1" << 0 << false << ValueProblem::NotANumber << -1;
    QTest::newRow("empty") << "" << 0 << false << ValueProblem::NotANumber << -1;
    QTest::newRow("plus") << "+5" << 0 << false << ValueProblem::NotANumber << -1;
}

void TestGasLibraryUnit::thresholdWords()
{
    QFETCH(QString, text);
    QFETCH(int, decimals);
    QFETCH(bool, decreasing);
    QFETCH(ValueProblem, problem);
    QFETCH(int, word);
    quint16 got = 0x1234;
    QCOMPARE(GasLibrary::thresholdWord(text, decimals, decreasing, &got), problem);
    QCOMPARE(int(got), word < 0 ? 0x1234 : word);
}

void TestGasLibraryUnit::cellsAndLines()
{
    quint16 w = 0;
    QVERIFY(GasLibrary::cellWord(QVariant(32968.0), &w) && w == 32968);
    QVERIFY(GasLibrary::cellWord(QVariant(QStringLiteral(" 200 ")), &w) && w == 200);
    QVERIFY(GasLibrary::cellWord(QVariant(65535.0), &w) && w == 65535);
    for (const QVariant &bad : {QVariant(100.5), QVariant(65536.0), QVariant(-1.0), QVariant(QStringLiteral("много")),
                                QVariant(true), QVariant()})
        QVERIFY2(!GasLibrary::cellWord(bad, &w), qPrintable(bad.toString()));

    const Entry methane{2, QStringLiteral("Метан"), QVariant(200.0), QVariant(32968.0)};
    QCOMPARE(GasLibrary::displayLine(methane), QStringLiteral("Метан          | 200     | 32968"));
    QCOMPARE(GasLibrary::composeLine(QStringLiteral("Диоксид углерода"), QStringLiteral("| 50"), QStringLiteral("| 100")),
             QStringLiteral("Диоксид углерод| 50а     | 100"));
    quint16 a = 0, b = 0;
    QVERIFY(GasLibrary::entryWords(methane, &a, &b) && a == 200 && b == 32968);
    QVERIFY(!GasLibrary::entryWords(Entry{3, QStringLiteral("x"), QVariant(1.0), QVariant()}, &a, &b));

    QCOMPARE(GasLibrary::thresholdText(0x8000 | 195, 1), QStringLiteral("19.5"));
    QCOMPARE(GasLibrary::thresholdText(50, 2), QStringLiteral("0.50"));
    QCOMPARE(GasLibrary::maxThreshold(1), 3276.7);
}

// The direction bit is no part of the threshold; the unit and the
// discreteness are compared each on its own bits.
void TestGasLibraryUnit::fitToDevice()
{
    const quint16 lelXX = 0x0600 | (1 << 4) | 2;    // auto-reset bits, X,X, %LEL
    QVERIFY(GasLibrary::fit(0x8000 | 1000, 1000, (1 << 4) | 2, lelXX, 1000).ok());
    GasLibrary::Fit f = GasLibrary::fit(1001, 0x8000 | 1000, (1 << 4) | 2, lelXX, 1000);
    QVERIFY(f.limit1AboveRange && !f.limit2AboveRange && !f.unitDiffers && !f.discretenessDiffers && !f.ok());
    f = GasLibrary::fit(10, 0x8000 | 1001, (1 << 4) | 3, lelXX, 1000);
    QVERIFY(f.unitDiffers && !f.discretenessDiffers && f.limit2AboveRange && !f.limit1AboveRange);
    f = GasLibrary::fit(10, 20, (2 << 4) | 2, lelXX, 1000);
    QVERIFY(!f.unitDiffers && f.discretenessDiffers && !f.aboveRange());
    QVERIFY(GasLibrary::rangeFit(0x8000 | 5, 5, 5).ok());
    QVERIFY(GasLibrary::rangeFit(6, 0, 5).aboveRange());
}

QTEST_GUILESS_MAIN(TestGasLibraryUnit)
#include "test_gaslibrary.moc"

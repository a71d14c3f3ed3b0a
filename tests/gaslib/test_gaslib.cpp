// The gas configuration library: searching, composing and appending entries,
// applying an entry to the detector, and opening the dialog from the menu.
#include "sensorconfiguration.h"
#include "xlsxdocument.h"

#include "programlink.h"
#include "deviceops.h"
#include "mainwindow.h"
#include "modalcloser.h"
#include "simlink.h"
#include "simprocess.h"
#include "testdata.h"
#include "testframes.h"

#include <KZip>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QStringListModel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

const char *const MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// A library workbook: one sheet, rows given as lists of cell values (text
// or numbers; an invalid QVariant leaves the cell out).  Row `formatRow`
// (when > 0) is an empty row with a format of its own (style 1).
QByteArray libraryPackage(const QList<QVariantList> &rows, int formatRow = 0)
{
    QString sheetData;
    int last = 0;
    for (int r = 0; r < rows.size(); ++r) {
        sheetData += QStringLiteral("<row r=\"%1\">").arg(r + 1);
        for (int c = 0; c < rows.at(r).size(); ++c) {
            const QVariant v = rows.at(r).at(c);
            const QString ref = XlsxDocument::columnName(c + 1) + QString::number(r + 1);
            if (!v.isValid())
                continue;
            if (v.type() == QVariant::String)
                sheetData += QStringLiteral("<c r=\"%1\" t=\"inlineStr\"><is><t>%2</t></is></c>").arg(ref, v.toString().toHtmlEscaped());
            else
                sheetData += QStringLiteral("<c r=\"%1\"><v>%2</v></c>").arg(ref, v.toString());
        }
        sheetData += QStringLiteral("</row>");
        last = r + 1;
    }
    if (formatRow > 0)
        sheetData += QStringLiteral("<row r=\"%1\" s=\"1\" customFormat=\"1\"/>").arg(formatRow);
    const QString dimension = last ? QStringLiteral("<dimension ref=\"A1:C%1\"/>").arg(last) : QString();

    const QList<QPair<QString, QByteArray>> parts = {
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
         "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
         "</Types>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
         "</Relationships>"},
        {"xl/workbook.xml",
         QByteArray("<workbook xmlns=\"") + MainNs + "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
         "<sheets><sheet name=\"Газы\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
         "</Relationships>"},
        {"xl/styles.xml",
         QByteArray("<styleSheet xmlns=\"") + MainNs + "\">"
         "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font><font><i/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
         "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
         "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
         "<cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
         "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/></cellXfs>"
         "</styleSheet>"},
        {"xl/worksheets/sheet1.xml",
         (QStringLiteral("<worksheet xmlns=\"%1\">%2<sheetData>%3</sheetData></worksheet>")
              .arg(QLatin1String(MainNs), dimension, sheetData)).toUtf8()},
    };
    QByteArray out;
    QBuffer buffer(&out);
    KZip zip(&buffer);
    zip.open(QIODevice::WriteOnly);
    for (const auto &p : parts)
        zip.writeFile(p.first, p.second);
    zip.close();
    return out;
}

const QList<QVariantList> &standardRows()
{
    static const QList<QVariantList> rows = {
        {"Название газа", "Порог 1", "Порог 2"},
        {"Метан", 200, 32968},
        {"Пропан", 100, 400},
        {"метанол", 50, 32818},
    };
    return rows;
}

QStringList modelLines(QListView *view)
{
    auto *m = qobject_cast<QStringListModel *>(view->model());
    return m ? m->stringList() : QStringList();
}

// Types text as key presses (QTest::keyClicks knows only ASCII).
void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &release);
    }
}

void clickLine(QListView *view, int line)
{
    const QModelIndex idx = view->model()->index(line, 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(idx).center());
}

// Lowers the file-size limit so that no file can be written (a full disk).
class DiskFull
{
public:
    DiskFull()
    {
        getrlimit(RLIMIT_FSIZE, &old);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit tiny = old;
        tiny.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    ~DiskFull()
    {
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }

private:
    struct rlimit old;
    void (*oldHandler)(int);
};

} // namespace

class TestGasLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void searchListsMatchesInSheetOrder();
    void displayLines_data();
    void displayLines();
    void searchWithoutUsableLibrary_data();
    void searchWithoutUsableLibrary();

    void addTabShowsTheRecord();
    void thresholdEditsRoundAndKeepDirection();
    void unitAndDiscretenessChangeOnlyTheirBits();

    void appendGoesAfterTheUsedRange();
    void appendTakesTheRowFormatAndKeepsTheRest();
    void usedRangeStartingBelowRow1();
    void nameIsKeptBetweenOpenings();
    void failedSaveIsReportedAndLibraryKept();
    void appendWithoutUsableLibrary();

    void saveParamWritesTheSelectedThresholds();
    void saveParamNeedsAUsableSelection();
    void saveParamReportsAFailedWrite();
    void saveParamRefusesThresholdsAboveTheRange();

    void menuActionAsksFactoryPasswordAtUserLevel();
    void menuActionAtOtherLevels();

    void englishTexts();
    void sampleLibraryIsUsable();

private:
    QString library() const { return dir.filePath(QStringLiteral("setting.xlsx")); }
    bool startSim();

    QTemporaryDir dir;
    SimProcess sim;
    ModalCloser *closer = nullptr;
};

void TestGasLibrary::initTestCase()
{
    QVERIFY(dir.isValid());
    SensorConfiguration::setLibraryPath(library());
    MainWindow::setIniPathOverride(dir.filePath(QStringLiteral("ini")));
}

void TestGasLibrary::init()
{
    sim.stop();
    command.closePort();
    command.resetState();
    gasRecord = GasRecord();
    QVERIFY(writeFile(library(), libraryPackage(standardRows())));
    delete closer;
    closer = new ModalCloser;
}

void TestGasLibrary::cleanupTestCase()
{
    delete closer;
    sim.stop();
    command.closePort();
}

bool TestGasLibrary::startSim()
{
    if (!SimLink::openSim(command, sim))
        return false;
    command.DeviceType = 1;
    // A full read, as the main window makes before: the block is this
    // detector's.
    if (!DeviceOps::read(command, DeviceOps::ReadMode::Full).ok() || command.WriteCount != 48)
        return false;
    sim.clearLog();
    return true;
}

// ------------------------------------------------------------------ search

// Row 1 titles, rows 2-4 Метан, Пропан, метанол: МЕТАН finds rows 2 and 4 in
// sheet order; the header line is built like the others, without bars.
void TestGasLibrary::searchListsMatchesInSheetOrder()
{
    SensorConfiguration dlg;
    auto *search = dlg.findChild<QLineEdit *>("lineEdit_NameGas");
    auto *view = dlg.findChild<QListView *>("listView_Config");
    QCOMPARE(search->maxLength(), 20);

    search->setText(QStringLiteral("МЕТАН"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(dlg.findChild<QLineEdit *>("lineEdit_Header")->text(), QStringLiteral("Название газа  Порог 1   Порог 2"));
    QCOMPARE(modelLines(view), QStringList({"Метан          | 200     | 32968", "метанол        | 50      | 32818"}));

    // An empty search text lists every row, titles included.
    search->clear();
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(view).size(), 4);
    QCOMPARE(modelLines(view).first(), QStringLiteral("Название газа  | Порог 1 | Порог 2"));

    search->setText(QStringLiteral("нет такого"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QVERIFY(modelLines(view).isEmpty());
    QVERIFY(closer->seen.isEmpty());
}

// Texts are inserted at 0, 15 and 25, padding with spaces up to the
// position: a short name is padded, a long one split by the later inserts.
void TestGasLibrary::displayLines_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("word1");
    QTest::addColumn<QString>("word2");
    QTest::addColumn<QString>("line");
    QTest::newRow("Метан") << "Метан" << "| 200" << "| 32968" << "Метан          | 200     | 32968";
    QTest::newRow("fifteen") << "Пятнадцать букв" << "| 1" << "| 2" << "Пятнадцать букв| 1       | 2";
    QTest::newRow("long name") << "Диоксид углерода" << "| 50" << "| 100" << "Диоксид углерод| 50а     | 100";
    QTest::newRow("long value") << "Газ" << "| 1234567890" << "| 7" << "Газ            | 12345678| 790";
    QTest::newRow("empty") << "" << "" << "" << "                         ";
}

void TestGasLibrary::displayLines()
{
    QFETCH(QString, name);
    QFETCH(QString, word1);
    QFETCH(QString, word2);
    QFETCH(QString, line);
    QCOMPARE(SensorConfiguration::composeLine(name, word1, word2), line);
}

void TestGasLibrary::searchWithoutUsableLibrary_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("not a workbook") << QByteArray("Метан;200;400\n") << true;
    QTest::newRow("damaged workbook") << libraryPackage(standardRows()).left(300) << true;
}

// A missing or unreadable library: the critical box " " / "Ошибка открытия
// файла", an empty list, and the file left alone.
void TestGasLibrary::searchWithoutUsableLibrary()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFile::remove(library());
    if (exists)
        QVERIFY(writeFile(library(), content));

    SensorConfiguration dlg;
    auto *view = dlg.findChild<QListView *>("listView_Config");
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral(" "));
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Ошибка открытия файла"));
    QVERIFY(modelLines(view).isEmpty());
    QCOMPARE(QFile::exists(library()), exists);
    if (exists)
        QCOMPARE(readFile(library()), content);
}

// ---------------------------------------------------------------- add tab

void TestGasLibrary::addTabShowsTheRecord()
{
    ParamBlock &p = command.DeviceParams;
    p.Config = 0x0600 | (1 << 4) | 2;          // auto-reset bits, X,X, %LEL
    p.Limit1 = 0x8000 | 200;
    p.Limit2 = 400;
    p.HisterezisLimit = 15;
    p.DeadZone = 5;
    p.DeadZone2 = 65535;
    const ParamBlock before = p;

    SensorConfiguration dlg;
    QCOMPARE(dlg.findChild<QTabWidget *>("tabWidget")->currentIndex(), 0);
    QCOMPARE(dlg.findChild<QComboBox *>("comboBoxUnitMeas")->count(), 4);
    QCOMPARE(dlg.findChild<QComboBox *>("comboBoxDiscreteness")->itemText(2), QStringLiteral("X,XX"));
    dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);

    auto *lim1 = dlg.findChild<QCheckBox *>("checkBoxLim1IncDec");
    auto *lim2 = dlg.findChild<QCheckBox *>("checkBoxLim2IncDec");
    QVERIFY(!lim1->isChecked());
    QCOMPARE(lim1->text(), QStringLiteral("Убыв."));
    QVERIFY(lim2->isChecked());
    QCOMPARE(lim2->text(), QStringLiteral("Возр."));
    QCOMPARE(dlg.findChild<QComboBox *>("comboBoxUnitMeas")->currentIndex(), 2);
    QCOMPARE(dlg.findChild<QComboBox *>("comboBoxDiscreteness")->currentIndex(), 1);

    struct Expect {
        const char *name;
        double value;
        double maximum;
    };
    const Expect boxes[] = {
        {"doubleSpinBox_Limit1", 20.0, 3276.7},
        {"doubleSpinBox_Limit2", 40.0, 3276.7},
        {"doubleSpinBox_HisterezisLimit", 1.5, 6553.5},
        {"doubleSpinBox_DeadZone", 0.5, 6553.5},
        {"doubleSpinBox_DeadZone_2", 6553.5, 6553.5},
    };
    for (const Expect &e : boxes) {
        auto *box = dlg.findChild<QDoubleSpinBox *>(e.name);
        QVERIFY2(box, e.name);
        QCOMPARE(box->decimals(), 1);
        QCOMPARE(box->maximum(), e.maximum);
        QCOMPARE(box->suffix(), QStringLiteral(" %LEL"));
        QCOMPARE(box->value(), e.value);
    }
    // Showing the record changes nothing in it, nor in the device's block.
    QCOMPARE(gasRecord.config, before.Config);
    QCOMPARE(gasRecord.limit1, quint16(0x8000 | 200));
    QCOMPARE(gasRecord.limit2, quint16(400));
    QCOMPARE(gasRecord.hysteresis, quint16(15));
    QCOMPARE(gasRecord.deadZone2, quint16(65535));
    QVERIFY(std::memcmp(&before, &command.DeviceParams, sizeof before) == 0);
}

// With discreteness X,X and threshold 1 decreasing, 20.0 stores 200 + 32768;
// values are rounded to the nearest (ties to even) and the direction bit
// stays whatever the value does.  The device's block is not touched.
void TestGasLibrary::thresholdEditsRoundAndKeepDirection()
{
    command.DeviceParams.Limit1 = 75;   // increasing
    const ParamBlock before = command.DeviceParams;
    SensorConfiguration dlg;
    dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
    auto *discreteness = dlg.findChild<QComboBox *>("comboBoxDiscreteness");
    auto *lim1 = dlg.findChild<QCheckBox *>("checkBoxLim1IncDec");
    auto *limit1 = dlg.findChild<QDoubleSpinBox *>("doubleSpinBox_Limit1");
    auto *hysteresis = dlg.findChild<QDoubleSpinBox *>("doubleSpinBox_HisterezisLimit");
    QVERIFY(lim1->isChecked());

    discreteness->setCurrentIndex(1);
    emit discreteness->activated(1);
    QCOMPARE(limit1->value(), 7.5);               // the word stays, its meaning changes
    lim1->setChecked(false);
    QCOMPARE(lim1->text(), QStringLiteral("Убыв."));
    QCOMPARE(gasRecord.limit1, quint16(0x8000 | 75));
    limit1->setValue(20.0);
    QCOMPARE(gasRecord.limit1, quint16(200 + 32768));

    lim1->setChecked(true);
    QCOMPARE(lim1->text(), QStringLiteral("Возр."));
    QCOMPARE(gasRecord.limit1, quint16(200));
    limit1->setValue(5000.0);                     // clamped to 3276.7
    QCOMPARE(gasRecord.limit1, quint16(32767));
    lim1->setChecked(false);
    QCOMPARE(gasRecord.limit1, quint16(0xFFFF));

    // X,XX: 0.29 x 100 is 28.999..., stored as 29, not 28.
    discreteness->setCurrentIndex(2);
    emit discreteness->activated(2);
    hysteresis->setValue(0.29);
    QCOMPARE(gasRecord.hysteresis, quint16(29));
    limit1->setValue(1.15);
    QCOMPARE(gasRecord.limit1, quint16(0x8000 | 115));
    // Halves go to the even neighbour (values a user cannot type at two
    // decimals, handed to the slots as a spin box would).
    QVERIFY(QMetaObject::invokeMethod(&dlg, "on_doubleSpinBox_DeadZone_valueChanged", Q_ARG(double, 0.125)));
    QCOMPARE(gasRecord.deadZone, quint16(12));
    QVERIFY(QMetaObject::invokeMethod(&dlg, "on_doubleSpinBox_DeadZone_2_valueChanged", Q_ARG(double, 0.375)));
    QCOMPARE(gasRecord.deadZone2, quint16(38));
    QVERIFY(QMetaObject::invokeMethod(&dlg, "on_doubleSpinBox_Limit2_valueChanged", Q_ARG(double, 0.625)));
    QCOMPARE(gasRecord.limit2 & 0x7FFF, 62);

    QVERIFY(std::memcmp(&before, &command.DeviceParams, sizeof before) == 0);
}

void TestGasLibrary::unitAndDiscretenessChangeOnlyTheirBits()
{
    command.DeviceParams.Config = 0xF6C1;   // unit 1, discreteness 0, other bits set
    command.DeviceParams.Limit2 = 0x8000 | 1234;
    SensorConfiguration dlg;
    dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
    auto *unit = dlg.findChild<QComboBox *>("comboBoxUnitMeas");
    auto *discreteness = dlg.findChild<QComboBox *>("comboBoxDiscreteness");
    auto *limit2 = dlg.findChild<QDoubleSpinBox *>("doubleSpinBox_Limit2");
    QCOMPARE(unit->currentIndex(), 1);
    QCOMPARE(limit2->suffix(), QStringLiteral(" mg/m3"));
    QCOMPARE(limit2->value(), 1234.0);

    unit->setCurrentIndex(3);
    emit unit->activated(3);
    QCOMPARE(gasRecord.config, quint16(0xF6C3));
    QCOMPARE(limit2->suffix(), QStringLiteral(" %VOL"));
    discreteness->setCurrentIndex(2);
    emit discreteness->activated(2);
    QCOMPARE(gasRecord.config, quint16(0xF6E3));
    QCOMPARE(limit2->decimals(), 2);
    QCOMPARE(limit2->value(), 12.34);
    QCOMPARE(gasRecord.limit2, quint16(0x8000 | 1234));
    QVERIFY(!dlg.findChild<QCheckBox *>("checkBoxLim2IncDec")->isChecked());
}

// ---------------------------------------------------------------- append

// Used range A1:C4: the new entry goes into row 5, text name and numbers.
void TestGasLibrary::appendGoesAfterTheUsedRange()
{
    command.DeviceParams.Config = 1 << 4;
    command.DeviceParams.Limit1 = 0x8000 | 195;
    command.DeviceParams.Limit2 = 230;
    SensorConfiguration dlg;
    dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
    typeText(dlg.findChild<QLineEdit *>("lineEdit_NameGasAdd"), QStringLiteral("Кислород & <O2>"));
    dlg.findChild<QDoubleSpinBox *>("doubleSpinBox_Limit2")->setValue(23.5);
    dlg.findChild<QPushButton *>("pushButton")->click();
    QVERIFY(closer->seen.isEmpty());

    XlsxDocument doc(library());
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:C5"));
    QCOMPARE(doc.read(5, 1), QVariant(QStringLiteral("Кислород & <O2>")));
    QCOMPARE(doc.read(5, 2), QVariant(double(0x8000 | 195)));
    QCOMPARE(doc.read(5, 3), QVariant(235.0));
    QCOMPARE(doc.read(4, 1), QVariant(QStringLiteral("метанол")));

    // The new entry is found by the next search.
    auto *search = dlg.findChild<QLineEdit *>("lineEdit_NameGas");
    search->setText(QStringLiteral("кисл"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(dlg.findChild<QListView *>("listView_Config")),
             QStringList{QStringLiteral("Кислород & <O2>| 32963   | 235")});
}

// A library made by openpyxl whose row 5 has a format: the new cells take
// it, and openpyxl finds every other sheet, cell, style and part unchanged.
void TestGasLibrary::appendTakesTheRowFormatAndKeepsTheRest()
{
    const QString script = QStringLiteral(TL_SOURCE_DIR "/tests/xlsx/fixtures.py");
    const QString original = dir.filePath(QStringLiteral("openpyxl-original.xlsx"));
    QProcess py;
    py.setProcessChannelMode(QProcess::MergedChannels);
    py.start(QStringLiteral(TL_PYTHON), {script, QStringLiteral("library"), original});
    QVERIFY(py.waitForFinished(60000));
    QVERIFY2(py.exitCode() == 0, py.readAll().constData());
    QFile::remove(library());
    QVERIFY(QFile::copy(original, library()));

    gasRecord.name = QStringLiteral("Бутан");
    command.DeviceParams.Limit1 = 150;
    command.DeviceParams.Limit2 = 300;
    SensorConfiguration dlg;
    dlg.findChild<QPushButton *>("pushButton")->click();
    QVERIFY(closer->seen.isEmpty());

    py.start(QStringLiteral(TL_PYTHON),
             {script, QStringLiteral("compare"), original, library(), QStringLiteral("xl/worksheets/sheet2.xml"),
              QStringLiteral("{\"A5\": \"Бутан\", \"B5\": 150, \"C5\": 300}")});
    QVERIFY(py.waitForFinished(60000));
    QVERIFY2(py.exitCode() == 0, py.readAll().constData());
}

// LibreOffice often saves a used range that does not start at row 1; here
// it is A3:C6.  The search covers rows 3-6 and a new entry goes to row 7,
// after the last used row, leaving rows 3-6 and everything else as they were.
void TestGasLibrary::usedRangeStartingBelowRow1()
{
    const QString script = QStringLiteral(TL_SOURCE_DIR "/tests/xlsx/fixtures.py");
    const QString original = dir.filePath(QStringLiteral("offset-original.xlsx"));
    QProcess py;
    py.setProcessChannelMode(QProcess::MergedChannels);
    py.start(QStringLiteral(TL_PYTHON), {script, QStringLiteral("offset"), original});
    QVERIFY(py.waitForFinished(60000));
    QVERIFY2(py.exitCode() == 0, py.readAll().constData());
    QFile::remove(library());
    QVERIFY(QFile::copy(original, library()));

    gasRecord.name = QStringLiteral("Бутан");
    command.DeviceParams.Limit1 = 150;
    command.DeviceParams.Limit2 = 300;
    SensorConfiguration dlg;
    auto *search = dlg.findChild<QLineEdit *>("lineEdit_NameGas");
    auto *view = dlg.findChild<QListView *>("listView_Config");
    search->setText(QStringLiteral("метан"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(view), QStringList({"Метан          | 200     | 32968", "метанол        | 50      | 32818"}));

    dlg.findChild<QPushButton *>("pushButton")->click();
    QVERIFY(closer->seen.isEmpty());
    XlsxDocument doc(library());
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A3:C7"));
    QCOMPARE(doc.read(7, 1), QVariant(QStringLiteral("Бутан")));
    py.start(QStringLiteral(TL_PYTHON),
             {script, QStringLiteral("compare"), original, library(), QStringLiteral("xl/worksheets/sheet1.xml"),
              QStringLiteral("{\"A7\": \"Бутан\", \"B7\": 150, \"C7\": 300}")});
    QVERIFY(py.waitForFinished(60000));
    QVERIFY2(py.exitCode() == 0, py.readAll().constData());

    // Every used row is searched, the new last one too.
    search->clear();
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(view).size(), 5);
    QCOMPARE(modelLines(view).first(), QStringLiteral("Название газа  | Порог 1 | Порог 2"));
    QCOMPARE(modelLines(view).last(), QStringLiteral("Бутан          | 150     | 300"));
}

// The name typed at one opening is stored by an addition at the next one.
void TestGasLibrary::nameIsKeptBetweenOpenings()
{
    {
        SensorConfiguration first;
        auto *name = first.findChild<QLineEdit *>("lineEdit_NameGasAdd");
        QCOMPARE(name->maxLength(), 20);
        typeText(name, QStringLiteral("Аммиак"));
        QCOMPARE(gasRecord.name, QStringLiteral("Аммиак"));
    }
    command.DeviceParams.Limit1 = 20;
    command.DeviceParams.Limit2 = 60;
    {
        SensorConfiguration second;
        QCOMPARE(second.findChild<QLineEdit *>("lineEdit_NameGasAdd")->text(), QStringLiteral("Аммиак"));
        second.findChild<QPushButton *>("pushButton")->click();
    }
    XlsxDocument doc(library());
    QCOMPARE(doc.read(5, 1), QVariant(QStringLiteral("Аммиак")));
    QCOMPARE(doc.read(5, 2), QVariant(20.0));
    QCOMPARE(doc.read(5, 3), QVariant(60.0));
}

// A save that fails (no room on the disk) says so in a critical box and
// leaves the library exactly as it was.
void TestGasLibrary::failedSaveIsReportedAndLibraryKept()
{
    const QByteArray before = readFile(library());
    gasRecord.name = QStringLiteral("Водород");
    SensorConfiguration dlg;
    {
        DiskFull full;
        dlg.findChild<QPushButton *>("pushButton")->click();
    }
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).className, QStringLiteral("QMessageBox"));
    QCOMPARE(closer->seen.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Не удалось сохранить библиотеку конфигураций"));
    QCOMPARE(readFile(library()), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral("setting")),
             QStringList{QStringLiteral("setting.xlsx")});

    // Room again: the same entry goes in.
    closer->clear();
    dlg.findChild<QPushButton *>("pushButton")->click();
    QVERIFY(closer->seen.isEmpty());
    QCOMPARE(XlsxDocument(library()).read(5, 1), QVariant(QStringLiteral("Водород")));
}

void TestGasLibrary::appendWithoutUsableLibrary()
{
    QFile::remove(library());
    SensorConfiguration dlg;
    dlg.findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral(" "));
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Ошибка открытия файла"));
    QVERIFY(!QFile::exists(library()));

    // A file that is no workbook is not overwritten with one.
    const QByteArray text("Метан;200;400\n");
    QVERIFY(writeFile(library(), text));
    closer->clear();
    dlg.findChild<QPushButton *>("pushButton")->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Ошибка открытия файла"));
    QCOMPARE(readFile(library()), text);
}

// ------------------------------------------------------- applying an entry

// "Сохранить параметры" puts the selected entry's words, as stored, into
// Limit1 and Limit2 and writes the block; the other registers keep the
// device's values.
void TestGasLibrary::saveParamWritesTheSelectedThresholds()
{
    QVERIFY(startSim());
    const quint16 config = command.DeviceParams.Config;
    const int hysteresis = sim.holding(0x1007);

    SensorConfiguration dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *view = dlg.findChild<QListView *>("listView_Config");
    dlg.findChild<QLineEdit *>("lineEdit_NameGas")->setText(QStringLiteral("метан"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(view).size(), 2);
    clickLine(view, 1);                                   // метанол, row 4
    dlg.findChild<QPushButton *>("pushButton_Save_Param")->click();
    QVERIFY(closer->seen.isEmpty());

    QCOMPARE(command.DeviceParams.Limit1, quint16(50));
    QCOMPARE(command.DeviceParams.Limit2, quint16(32818));
    QCOMPARE(sim.holding(0x1005), 50);
    QCOMPARE(sim.holding(0x1006), 32818);
    QCOMPARE(sim.holding(0x1007), hysteresis);
    QCOMPARE(sim.holding(0x1008), int(config));
    // The serial number and the type, then the block.
    const QList<QByteArray> frames = sim.rxFrames();
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames.at(0).mid(1, 5), QByteArray::fromHex("03100F0002"));
    QCOMPARE(frames.at(1).mid(1, 5), QByteArray::fromHex("0400040001"));
    QCOMPARE(quint8(frames.at(2).at(1)), quint8(16));
    QCOMPARE(frames.at(2).mid(2, 4), QByteArray::fromHex("10000030"));

    // Another line, another entry.
    sim.clearLog();
    clickLine(view, 0);                                   // Метан, row 2
    dlg.findChild<QPushButton *>("pushButton_Save_Param")->click();
    QCOMPARE(sim.holding(0x1005), 200);
    QCOMPARE(sim.holding(0x1006), 32968);
}

// Nothing selected (the dialog just opened, or a new search emptied the
// list), or an entry whose thresholds are no words: said so, nothing sent.
void TestGasLibrary::saveParamNeedsAUsableSelection()
{
    QVERIFY(writeFile(library(), libraryPackage({
        {"Название газа", "Порог 1", "Порог 2"},
        {"Метан", 200, 400},
        {"Пропан", "много", 400},
        {"Бутан", 100.5, 400},
        {"Этан", 70000, 400},
        {"Гексан", QVariant(), 400},
    })));
    QVERIFY(startSim());
    const quint16 limit1 = command.DeviceParams.Limit1;
    const QString noSelection = QStringLiteral("Выберите конфигурацию в списке");
    const QString badWords = QStringLiteral("Пороги выбранной конфигурации должны быть числами от 0 до 65535");

    SensorConfiguration dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *view = dlg.findChild<QListView *>("listView_Config");
    auto *save = dlg.findChild<QPushButton *>("pushButton_Save_Param");
    save->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer->seen.at(0).text, noSelection);

    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(view).size(), 6);
    for (int line = 2; line <= 5; ++line) {
        closer->clear();
        clickLine(view, line);
        save->click();
        QCOMPARE(closer->seen.size(), 1);
        QCOMPARE(closer->seen.at(0).text, badWords);
    }
    // The title row is an entry too, and its "words" are text.
    closer->clear();
    clickLine(view, 0);
    save->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).text, badWords);

    // A selection does not survive a new search.
    clickLine(view, 1);
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    closer->clear();
    save->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).text, noSelection);

    QVERIFY(sim.rxFrames().isEmpty());
    QCOMPARE(command.DeviceParams.Limit1, limit1);
}

void TestGasLibrary::saveParamReportsAFailedWrite()
{
    QVERIFY(startSim());
    bool ok = false;
    sim.send(QStringLiteral("fault exception 4 -1 2"), &ok);   // after the serial number and type
    QVERIFY(ok);
    SensorConfiguration dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *view = dlg.findChild<QListView *>("listView_Config");
    dlg.findChild<QLineEdit *>("lineEdit_NameGas")->setText(QStringLiteral("Пропан"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    clickLine(view, 0);
    dlg.findChild<QPushButton *>("pushButton_Save_Param")->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Ошибка обмена данными"));
    sim.send(QStringLiteral("fault clear"));
    // The entry stays in the block, so that "Сохранить параметры" on the main
    // window, or here again, sends it once more.
    QCOMPARE(command.DeviceParams.Limit1, quint16(100));
    QCOMPARE(command.DeviceParams.Limit2, quint16(400));
    QVERIFY(!sim.rxFrames().isEmpty());
    QCOMPARE(quint8(sim.rxFrames().at(2).at(1)), quint8(16));

    // Another detector now answers there (its own serial number): nothing is
    // written, and it is said why.
    sim.send(QStringLiteral("set holding 0x100F 999"));
    sim.clearLog();
    closer->clear();
    dlg.findChild<QPushButton *>("pushButton_Save_Param")->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("К прибору подключён другой прибор: прочитайте параметры заново"));
    QVERIFY(TestFrames::writes(sim).isEmpty());
    QCOMPARE(sim.holding(0x1005), 200);
}

// A threshold above the device's upper range value (the direction bit is
// no part of it) would never be reached: refused with both thresholds shown
// in the device's unit, nothing sent, the block unchanged.
void TestGasLibrary::saveParamRefusesThresholdsAboveTheRange()
{
    QVERIFY(startSim());
    bool ok = false;
    sim.send(QStringLiteral("set holding 0x1004 199"), &ok);       // range_max 19.9 PPM
    QVERIFY(ok);
    command.DeviceParams.ValueMax = 199;
    const ParamBlock before = command.DeviceParams;

    SensorConfiguration dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    auto *view = dlg.findChild<QListView *>("listView_Config");
    auto *save = dlg.findChild<QPushButton *>("pushButton_Save_Param");
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    clickLine(view, 1);                                   // Метан 200 / 32968
    save->click();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral("Ошибка"));
    QCOMPARE(closer->seen.at(0).text,
             QStringLiteral("Порог 1 (20.0 PPM) выше верхнего значения диапазона (19.9 PPM): такой порог никогда не "
                            "сработает\nПорог 2 (20.0 PPM) выше верхнего значения диапазона (19.9 PPM): такой порог "
                            "никогда не сработает\nПараметры в прибор не записаны."));
    QVERIFY(sim.rxFrames().isEmpty());
    QVERIFY(std::memcmp(&before, &command.DeviceParams, sizeof before) == 0);

    // метанол, 50 / 32818: both within 19.9, written.
    closer->clear();
    clickLine(view, 3);
    save->click();
    QVERIFY(closer->seen.isEmpty());
    QCOMPARE(sim.holding(0x1005), 50);
    QCOMPARE(sim.holding(0x1006), 32818);
}

// -------------------------------------------------------------- menu action

// At level "User" the factory password comes first: refused, the dialog does
// not open and nothing is read; accepted, the dialog opens, the grant is
// used up, and closing the dialog reads the device.
void TestGasLibrary::menuActionAsksFactoryPasswordAtUserLevel()
{
    // Built before the device is known, so that no pages read it yet.
    MainWindow w;
    theMainWindow = &w;
    QVERIFY(startSim());
    command.UserName = QStringLiteral("User");
    auto *autoUpdate = w.findChild<QCheckBox *>("checkBoxAutoupdate");

    // Refused: the password dialog is closed without the password.
    w.on_action_config_triggered();
    QCOMPARE(closer->seen.size(), 1);
    QCOMPARE(closer->seen.at(0).className, QStringLiteral("AuthorizationWindow"));
    QVERIFY(sim.rxFrames().isEmpty());

    // Accepted.
    closer->clear();
    closer->pushHandler([](QWidget *widget) {
        auto *password = widget->findChild<QLineEdit *>("password_2");
        if (!password)
            return false;
        password->setText(QStringLiteral("5916"));
        QMetaObject::invokeMethod(widget->findChild<QPushButton *>("pushButton_OK"), "click", Qt::QueuedConnection);
        return true;
    });
    bool sawTab0 = false;
    closer->pushHandler([&sawTab0](QWidget *widget) {
        auto *tabs = widget->findChild<QTabWidget *>("tabWidget");
        sawTab0 = tabs && tabs->currentIndex() == 0 && command.FactoryAccess == 0;
        return false;
    });
    autoUpdate->setEnabled(true);
    autoUpdate->setChecked(true);
    w.statusBar()->showMessage(QStringLiteral("старое"));
    w.on_action_config_triggered();
    QCOMPARE(closer->seen.size(), 2);
    QCOMPARE(closer->seen.at(0).className, QStringLiteral("AuthorizationWindow"));
    QCOMPARE(closer->seen.at(1).className, QStringLiteral("SensorConfiguration"));
    QVERIFY(sawTab0);
    QCOMPARE(command.FactoryAccess, quint8(0));
    QVERIFY(!autoUpdate->isChecked());
    QList<int> functions;
    for (const QByteArray &f : sim.rxFrames())
        functions << quint8(f.at(1));
    QCOMPARE(functions, QList<int>({43, 43, 3, 4}));
    QCOMPARE(w.statusBar()->currentMessage(), QStringLiteral("Успешная передача данных"));
    theMainWindow = nullptr;
}

void TestGasLibrary::menuActionAtOtherLevels()
{
    MainWindow w;
    theMainWindow = &w;
    QVERIFY(startSim());
    for (const QString &level : {QStringLiteral("Admin"), QStringLiteral("Velta")}) {
        command.UserName = level;
        command.FactoryAccess = 1;
        closer->clear();
        sim.clearLog();
        w.on_action_config_triggered();
        QCOMPARE(closer->seen.size(), 1);
        QCOMPARE(closer->seen.at(0).className, QStringLiteral("SensorConfiguration"));
        QCOMPARE(command.FactoryAccess, quint8(0));
        QCOMPARE(sim.rxFrames().size(), 4);
    }
    theMainWindow = nullptr;
}

// Under the English translation no Russian is left on the dialog, and its
// messages are English too.
void TestGasLibrary::englishTexts()
{
    QTranslator english;
    QVERIFY(english.load(QStringLiteral(TL_RUNTIME_DIR "/TL_Program_en_US.qm")));
    QCoreApplication::installTranslator(&english);
    const auto cyrillic = [](const QString &s) {
        for (const QChar ch : s)
            if (ch.script() == QChar::Script_Cyrillic)
                return true;
        return false;
    };
    {
        SensorConfiguration dlg;
        dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
        QStringList russian;
        const auto tabs = dlg.findChild<QTabWidget *>("tabWidget");
        for (int i = 0; i < tabs->count(); ++i)
            if (cyrillic(tabs->tabText(i)))
                russian << tabs->tabText(i);
        for (QWidget *w : dlg.findChildren<QWidget *>()) {
            QString text;
            if (auto *b = qobject_cast<QAbstractButton *>(w))
                text = b->text();
            else if (auto *l = qobject_cast<QLabel *>(w))
                text = l->text();
            else if (auto *g = qobject_cast<QGroupBox *>(w))
                text = g->title();
            if (cyrillic(text))
                russian << w->objectName() + QStringLiteral(": ") + text;
        }
        QVERIFY2(russian.isEmpty(), qPrintable(russian.join(QStringLiteral(", "))));
        QCOMPARE(dlg.findChild<QPushButton *>("pushButton")->text(), QStringLiteral("Save configuration"));

        dlg.findChild<QTabWidget *>("tabWidget")->setCurrentIndex(0);
        dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
        QCOMPARE(dlg.findChild<QLineEdit *>("lineEdit_Header")->text(), QStringLiteral("Gas name       Thresh. 1 Thresh. 2"));
        dlg.findChild<QPushButton *>("pushButton_Save_Param")->click();
        QFile::remove(library());
        dlg.findChild<QPushButton *>("pushButton")->click();
    }
    QCoreApplication::removeTranslator(&english);
    QCOMPARE(closer->seen.size(), 2);
    QCOMPARE(closer->seen.at(0).title, QStringLiteral("Error"));
    QCOMPARE(closer->seen.at(0).text, QStringLiteral("Select a configuration in the list"));
    QCOMPARE(closer->seen.at(1).text, QStringLiteral("File open error"));
}

// The library that ships beside the program: titles in row 1, then entries
// whose names fit the first column and whose thresholds are words; a search
// and an addition work on it.
void TestGasLibrary::sampleLibraryIsUsable()
{
    const QString shipped = QStringLiteral(TL_RUNTIME_DIR "/setting.xlsx");
    XlsxDocument doc(shipped);
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    const XlsxCellRange used = doc.dimension();
    QCOMPARE(used.firstRow(), 1);
    QCOMPARE(used.lastColumn(), 3);
    QVERIFY(used.lastRow() >= 6);
    QCOMPARE(doc.read(1, 1), QVariant(QStringLiteral("Название газа")));
    for (int r = 2; r <= used.lastRow(); ++r) {
        const QString name = doc.read(r, 1).toString();
        QVERIFY2(!name.isEmpty() && name.size() <= 15, qPrintable(name));
        for (int c = 2; c <= 3; ++c) {
            const QVariant v = doc.read(r, c);
            QCOMPARE(v.type(), QVariant::Double);
            QVERIFY(v.toDouble() == std::trunc(v.toDouble()) && v.toDouble() >= 0 && v.toDouble() <= 65535);
        }
    }

    QFile::remove(library());
    QVERIFY(QFile::copy(shipped, library()));
    SensorConfiguration dlg;
    dlg.findChild<QLineEdit *>("lineEdit_NameGas")->setText(QStringLiteral("МЕТАН"));
    dlg.findChild<QPushButton *>("pushButton_SearchGas")->click();
    QCOMPARE(modelLines(dlg.findChild<QListView *>("listView_Config")),
             QStringList({"Метан          | 100     | 200", "Метанол        | 100     | 200"}));
    gasRecord.name = QStringLiteral("Этилен");
    dlg.findChild<QPushButton *>("pushButton")->click();
    QVERIFY(closer->seen.isEmpty());
    QCOMPARE(XlsxDocument(library()).read(used.lastRow() + 1, 1), QVariant(QStringLiteral("Этилен")));
}

QTEST_MAIN(TestGasLibrary)
#include "test_gaslib.moc"

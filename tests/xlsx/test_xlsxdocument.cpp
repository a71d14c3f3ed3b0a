// The xlsx layer: reading workbooks made by openpyxl and by hand, writing
// cells, saving without disturbing anything else, and refusing damaged files.
#include "xlsxdocument.h"

#include "testdata.h"

#include <KZip>
#include <KArchiveDirectory>
#include <KZipFileEntry>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

const char *const MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

using Parts = QList<QPair<QString, QByteArray>>;

QByteArray pack(const Parts &parts, bool compressed = true)
{
    QByteArray out;
    QBuffer buffer(&out);
    KZip zip(&buffer);
    zip.setCompression(compressed ? KZip::DeflateCompression : KZip::NoCompression);
    if (!zip.open(QIODevice::WriteOnly))
        return QByteArray();
    for (const auto &p : parts)
        zip.writeFile(p.first, p.second);
    zip.close();
    return out;
}

// Every part of a package, in archive order.
Parts unpack(const QByteArray &data)
{
    QByteArray copy = data;
    QBuffer buffer(&copy);
    KZip zip(&buffer);
    Parts parts;
    if (!zip.open(QIODevice::ReadOnly))
        return parts;
    QList<const KZipFileEntry *> files;
    QList<const KArchiveDirectory *> dirs{zip.directory()};
    while (!dirs.isEmpty()) {
        const KArchiveDirectory *dir = dirs.takeLast();
        for (const QString &name : dir->entries()) {
            const KArchiveEntry *e = dir->entry(name);
            if (e->isDirectory())
                dirs << static_cast<const KArchiveDirectory *>(e);
            else
                files << static_cast<const KZipFileEntry *>(e);
        }
    }
    std::sort(files.begin(), files.end(), [](auto a, auto b) { return a->position() < b->position(); });
    for (auto f : files)
        parts << qMakePair(f->path(), f->data());
    return parts;
}

QByteArray partOf(const Parts &parts, const QString &name)
{
    for (const auto &p : parts)
        if (p.first == name)
            return p.second;
    return QByteArray();
}

// A package with one worksheet written by hand.  `sheet` is the whole sheet
// XML; `sst` the shared strings (none when empty).
Parts handMade(const QByteArray &sheet, const QByteArray &sst = QByteArray(),
               const QByteArray &workbook = QByteArray())
{
    Parts parts;
    parts << qMakePair(QStringLiteral("[Content_Types].xml"), QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
        + QByteArray(sst.isEmpty() ? "" : "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>")
        + "</Types>"));
    parts << qMakePair(QStringLiteral("_rels/.rels"), QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
        "</Relationships>"));
    parts << qMakePair(QStringLiteral("xl/workbook.xml"), workbook.isEmpty() ? QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet name=\"Лист1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>") : workbook);
    parts << qMakePair(QStringLiteral("xl/_rels/workbook.xml.rels"), QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
        + QByteArray(sst.isEmpty() ? "" : "<Relationship Id=\"rId4\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>")
        + "</Relationships>"));
    parts << qMakePair(QStringLiteral("xl/styles.xml"), QByteArray(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
        "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
        "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
        "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
        "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
        "<cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
        "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/></cellXfs>"
        "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
        "</styleSheet>"));
    parts << qMakePair(QStringLiteral("xl/worksheets/sheet1.xml"), sheet);
    if (!sst.isEmpty())
        parts << qMakePair(QStringLiteral("xl/sharedStrings.xml"), sst);
    return parts;
}

QByteArray sheetXml(const QByteArray &body)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"")
           + MainNs + "\">" + body + "</worksheet>";
}

Parts replaced(Parts parts, const QString &name, const QByteArray &data)
{
    for (auto &p : parts)
        if (p.first == name)
            p.second = data;
    return parts;
}

Parts without(Parts parts, const QString &name)
{
    for (int i = 0; i < parts.size(); ++i)
        if (parts.at(i).first == name)
            parts.removeAt(i--);
    return parts;
}

struct PyResult {
    int exitCode = -1;
    QString out;
};

PyResult fixtures(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TL_PYTHON),
            QStringList{QStringLiteral(TL_SOURCE_DIR "/tests/xlsx/fixtures.py")} + args);
    PyResult r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.out = QStringLiteral("python did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAll());
    return r;
}

QJsonObject dumpWorkbook(const QString &path)
{
    const PyResult r = fixtures({QStringLiteral("dump"), path});
    if (r.exitCode != 0)
        qWarning("%s", qPrintable(r.out));
    return QJsonDocument::fromJson(r.out.toUtf8()).object();
}

QJsonObject activeCells(const QJsonObject &dump)
{
    for (const auto v : dump.value(QStringLiteral("sheets")).toArray()) {
        const QJsonObject s = v.toObject();
        if (s.value(QStringLiteral("title")) == dump.value(QStringLiteral("active")))
            return s.value(QStringLiteral("cells")).toObject();
    }
    return QJsonObject();
}

// Files in a directory, for spotting leftovers of a failed save.
QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestXlsxDocument : public QObject
{
    Q_OBJECT

private slots:
    void openpyxlLibraryIsRead();
    void appendingKeepsEverythingElse();
    void savingInPlaceShowsTheSavedWorkbook();

    void handMadeSheets_data();
    void handMadeSheets();
    void mergedCellsLandInPlace();
    void writesThatAreRefused();

    void damagedFilesAreRefused_data();
    void damagedFilesAreRefused();
    void tooManyCellsAreRefused();
    void corruptedPackagesNeverCrash();

    void failedSaveKeepsTheFile();

    void referencesAndRanges();

private:
    QTemporaryDir tmp;
};

// A library made by openpyxl: the sheet shown is the active one, not the
// first; values come back with their types; the formatted empty row offers
// its format.
void TestXlsxDocument::openpyxlLibraryIsRead()
{
    const QString path = tmp.filePath(QStringLiteral("openpyxl-read.xlsx"));
    const PyResult made = fixtures({QStringLiteral("library"), path});
    QVERIFY2(made.exitCode == 0, qPrintable(made.out));

    XlsxDocument doc(path);
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QCOMPARE(doc.sheetNames(), QStringList({"Справка", "Газы", "Прочее"}));
    QCOMPARE(doc.currentSheetName(), QStringLiteral("Газы"));
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:C4"));
    QCOMPARE(doc.read(1, 1), QVariant(QStringLiteral("Название газа")));
    QCOMPARE(doc.read(2, 1), QVariant(QStringLiteral("Метан")));
    QCOMPARE(doc.read(2, 2).type(), QVariant::Double);
    QCOMPARE(doc.read(2, 2).toString(), QStringLiteral("200"));
    QCOMPARE(doc.read(4, 3).toString(), QStringLiteral("32818"));
    QVERIFY(!doc.read(4, 4).isValid());
    QVERIFY(!doc.read(5, 1).isValid());
    QVERIFY(!doc.read(1000, 1000).isValid());

    QVERIFY(!doc.rowFormat(1).isValid());   // cells styled, the row itself not
    QVERIFY(!doc.rowFormat(4).isValid());
    QVERIFY(!doc.rowFormat(6).isValid());
    const XlsxFormat row5 = doc.rowFormat(5);
    QVERIFY(row5.isValid());
    const QByteArray sheet = partOf(unpack(readFile(path)), QStringLiteral("xl/worksheets/sheet2.xml"));
    QVERIFY(sheet.contains(QStringLiteral("<row r=\"5\" customFormat=\"1\" s=\"%1\">").arg(row5.styleIndex()).toUtf8()));
}

// The gas library's append: after our save openpyxl finds the new row with
// the row's format, and every other sheet, cell, style, width, name and part
// exactly as before.
void TestXlsxDocument::appendingKeepsEverythingElse()
{
    const QString path = tmp.filePath(QStringLiteral("openpyxl-append.xlsx"));
    const QString saved = tmp.filePath(QStringLiteral("openpyxl-append-saved.xlsx"));
    const PyResult made = fixtures({QStringLiteral("library"), path});
    QVERIFY2(made.exitCode == 0, qPrintable(made.out));

    XlsxDocument doc(path);
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    const XlsxCellRange used = doc.dimension();
    const int row = used.lastRow() - used.firstRow() + 2;
    QCOMPARE(row, 5);
    const XlsxFormat format = doc.rowFormat(row);
    QVERIFY(doc.write(row, 1, QStringLiteral("Сероводород & <H2S>"), format));
    QVERIFY(doc.write(row, 2, 100, format));
    QVERIFY(doc.write(row, 3, int(0x8000 | 150), format));
    QVERIFY2(doc.saveAs(saved), qPrintable(doc.errorString()));

    const PyResult cmp = fixtures({QStringLiteral("compare"), path, saved, QStringLiteral("xl/worksheets/sheet2.xml"),
                                   QStringLiteral("{\"A5\": \"Сероводород & <H2S>\", \"B5\": 100, \"C5\": 32918}")});
    QVERIFY2(cmp.exitCode == 0, qPrintable(cmp.out));

    // The sheet's own XML changed only where the cells went and in <dimension>.
    const QByteArray before = partOf(unpack(readFile(path)), QStringLiteral("xl/worksheets/sheet2.xml"));
    const QByteArray after = partOf(unpack(readFile(saved)), QStringLiteral("xl/worksheets/sheet2.xml"));
    const QByteArray rowTag = QStringLiteral("<row r=\"5\" customFormat=\"1\" s=\"%1\">").arg(format.styleIndex()).toUtf8();
    QByteArray expected = before;
    expected.replace("<dimension ref=\"A1:C4\"/>", "<dimension ref=\"A1:C5\"/>");
    expected.replace(rowTag + "</row>",
                     rowTag + QStringLiteral("<c r=\"A5\" s=\"%1\" t=\"inlineStr\"><is><t>Сероводород &amp; &lt;H2S&gt;</t></is></c>"
                                             "<c r=\"B5\" s=\"%1\"><v>100</v></c><c r=\"C5\" s=\"%1\"><v>32918</v></c></row>")
                                  .arg(format.styleIndex()).toUtf8());
    QCOMPARE(QString::fromUtf8(after), QString::fromUtf8(expected));
}

// saveAs over the file it came from replaces it, and the document then shows
// what was saved (the next append goes one row further down).
void TestXlsxDocument::savingInPlaceShowsTheSavedWorkbook()
{
    const QString path = tmp.filePath(QStringLiteral("in-place.xlsx"));
    QVERIFY(writeFile(path, pack(handMade(sheetXml(
        "<dimension ref=\"A1:C2\"/><sheetData>"
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Название газа</t></is></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>Метан</t></is></c><c r=\"B2\"><v>200</v></c><c r=\"C2\"><v>400</v></c></row>"
        "</sheetData>")))));
    for (int n = 0; n < 2; ++n) {
        XlsxDocument doc(path);
        QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
        const int row = doc.dimension().lastRow() - doc.dimension().firstRow() + 2;
        QCOMPARE(row, 3 + n);
        QVERIFY(doc.write(row, 1, QStringLiteral("Газ %1").arg(n)));
        QVERIFY(doc.write(row, 2, 10 + n));
        QVERIFY2(doc.saveAs(path), qPrintable(doc.errorString()));
        QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:C%1").arg(row));
        QCOMPARE(doc.read(row, 1), QVariant(QStringLiteral("Газ %1").arg(n)));
        QCOMPARE(doc.read(row, 2), QVariant(double(10 + n)));
    }
    QCOMPARE(filesIn(tmp.path()).filter(QStringLiteral("in-place")), QStringList{QStringLiteral("in-place.xlsx")});

    const QJsonObject cells = activeCells(dumpWorkbook(path));
    QCOMPARE(cells.value("A3").toObject().value("value").toString(), QStringLiteral("Газ 0"));
    QCOMPARE(cells.value("B4").toObject().value("value").toInt(), 11);
    QCOMPARE(cells.value("C2").toObject().value("value").toInt(), 400);
}

// Sheets written by hand the way various programs write them.  Each row:
// the parts, the cells expected (row, column, value), the used range, then
// cells to write, and the used range after saving.  After the save openpyxl
// must see the written cells and all others unchanged.
void TestXlsxDocument::handMadeSheets_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QVariantList>("cells");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QVariantList>("writes");
    QTest::addColumn<QString>("usedAfter");
    QTest::addColumn<bool>("openpyxlReads");

    QTest::newRow("shared strings, rich text and phonetic runs")
        << pack(handMade(sheetXml(
               "<dimension ref=\"A1:B3\"/><sheetData>"
               "<row r=\"1\" spans=\"1:2\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>3</v></c></row>"
               "<row r=\"2\" spans=\"1:2\"><c r=\"A2\" t=\"s\"><v>1</v></c><c r=\"B2\"><v>200</v></c></row>"
               "<row r=\"3\" spans=\"1:2\"><c r=\"A3\" t=\"s\"><v>2</v></c><c r=\"B3\"><v>32968</v></c></row>"
               "</sheetData>"),
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"4\" uniqueCount=\"4\">"
               "<si><t>Название газа</t></si>"
               "<si><r><rPr><b/></rPr><t>Ме</t></r><r><t xml:space=\"preserve\">тан </t></r></si>"
               "<si><t>метанол</t><rPh sb=\"0\" eb=\"2\"><t>МТЛ</t></rPh><phoneticPr fontId=\"0\"/></si>"
               "<si><t xml:space=\"preserve\"> Порог &amp; 1</t></si>"
               "</sst>"))
        << QVariantList{1, 1, "Название газа", 1, 2, " Порог & 1", 2, 1, "Метан ", 3, 1, "метанол", 3, 2, 32968.0}
        << "A1:B3"
        << QVariantList{4, 1, "Пропан", 4, 2, 100, 2, 3, 7}
        << "A1:C4"
        << true;

    QTest::newRow("inline strings, formulas, errors, booleans")
        << pack(handMade(sheetXml(
               "<dimension ref=\"A1:E1\"/><sheetData><row r=\"1\">"
               "<c r=\"A1\" t=\"inlineStr\"><is><t>Метан</t></is></c>"
               "<c r=\"B1\" t=\"inlineStr\"><is><r><t>Про</t></r><r><rPr><i/></rPr><t>пан</t></r></is></c>"
               "<c r=\"C1\" t=\"str\"><f>A1&amp;\"!\"</f><v>Метан!</v></c>"
               "<c r=\"D1\" t=\"b\"><v>1</v></c>"
               "<c r=\"E1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
               "</row></sheetData>")))
        << QVariantList{1, 1, "Метан", 1, 2, "Пропан", 1, 3, "Метан!", 1, 4, true, 1, 5, "#DIV/0!"}
        << "A1:E1"
        << QVariantList{1, 6, "после", 2, 1, false, 2, 2, 0.1}
        << "A1:F2"
        << true;

    QTest::newRow("sparse rows and cells, no dimension")
        << pack(handMade(sheetXml(
               "<sheetData>"
               "<row r=\"2\"><c r=\"B2\"><v>1.5</v></c></row>"
               "<row r=\"7\"><c r=\"D7\"><v>-3</v></c><c r=\"AA7\" t=\"inlineStr\"><is><t>далеко</t></is></c></row>"
               "<row r=\"1000\"><c r=\"C1000\"><v>1E3</v></c></row>"
               "</sheetData>")))
        << QVariantList{2, 2, 1.5, 7, 4, -3.0, 7, 27, "далеко", 1000, 3, 1000.0, 1, 1, QVariant(), 7, 5, QVariant()}
        << "B2:AA1000"
        << QVariantList{5, 1, "между", 7, 5, "рядом", 1001, 1, 1}
        << "A2:AA1001"
        << true;

    QTest::newRow("references left out")
        << pack(handMade(sheetXml(
               "<sheetData>"
               "<row><c t=\"inlineStr\"><is><t>Название газа</t></is></c><c t=\"inlineStr\"><is><t>Порог 1</t></is></c></row>"
               "<row><c><v>1</v></c><c r=\"C2\"><v>3</v></c><c><v>4</v></c></row>"
               "<row r=\"5\"><c r=\"B5\"><v>5</v></c><c><v>6</v></c></row>"
               "<row><c r=\"A6\"><v>6</v></c></row>"
               "</sheetData>")))
        << QVariantList{1, 1, "Название газа", 1, 2, "Порог 1", 2, 1, 1.0, 2, 3, 3.0, 2, 4, 4.0, 5, 2, 5.0, 5, 3, 6.0,
                        6, 1, 6.0, 2, 2, QVariant()}
        << "A1:D6"
        << QVariantList{7, 1, "новая", 3, 1, "тоже", 2, 2, "в пропуск"}
        << "A1:D7"
        << true;

    // openpyxl cannot read a reference without its row; we can.
    QTest::newRow("references without row numbers")
        << pack(handMade(sheetXml(
               "<sheetData>"
               "<row r=\"2\"><c r=\"B\"><v>1</v></c><c r=\"$D\"><v>2</v></c><c><v>3</v></c></row>"
               "<row r=\"4\"><c r=\"A\" t=\"inlineStr\"><is><t>Метан</t></is></c></row>"
               "</sheetData>")))
        << QVariantList{2, 2, 1.0, 2, 4, 2.0, 2, 5, 3.0, 4, 1, "Метан", 2, 3, QVariant()}
        << "A2:E4"
        << QVariantList{2, 3, "C", 5, 1, "Пропан"}
        << "A2:E5"
        << false;

    QTest::newRow("prefixed namespace")
        << pack(handMade(QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?>"
               "<x:worksheet xmlns:x=\"") + MainNs + "\"><x:dimension ref=\"A1:B1\"/><x:sheetData>"
               "<x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>Метан</x:t></x:is></x:c><x:c r=\"B1\"><x:v>200</x:v></x:c></x:row>"
               "</x:sheetData></x:worksheet>"))
        << QVariantList{1, 1, "Метан", 1, 2, 200.0}
        << "A1:B1"
        << QVariantList{2, 1, "Пропан", 2, 3, 400}
        << "A1:C2"
        << true;

    QTest::newRow("empty sheet")
        << pack(handMade(sheetXml("<dimension ref=\"A1\"/><sheetData/>")))
        << QVariantList{1, 1, QVariant()}
        << "A1"
        << QVariantList{2, 1, "первая", 2, 2, 1}
        << "A1:B2"
        << true;

    QTest::newRow("BOM, CRLF, comments and self-closing rows")
        << pack(handMade(QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<worksheet xmlns=\"") + MainNs
               + "\">\r\n  <dimension ref=\"A1:A3\" />\r\n  <sheetData>\r\n"
                 "    <!-- titles -->\r\n"
                 "    <row r=\"1\">\r\n      <c r=\"A1\" t=\"inlineStr\"><is><t>Газ</t></is></c>\r\n    </row>\r\n"
                 "    <row r=\"2\" s=\"1\" customFormat=\"1\" />\r\n"
                 "    <row r=\"3\"><c r=\"A3\" s=\"1\"/></row>\r\n"
                 "  </sheetData>\r\n</worksheet>\r\n"))
        << QVariantList{1, 1, "Газ", 2, 1, QVariant(), 3, 1, QVariant()}
        << "A1:A3"
        << QVariantList{2, 1, "в строке", 3, 1, 3, 3, 2, "за ней"}
        << "A1:B3"
        << true;
}

void TestXlsxDocument::handMadeSheets()
{
    QFETCH(QByteArray, package);
    QFETCH(QVariantList, cells);
    QFETCH(QString, used);
    QFETCH(QVariantList, writes);
    QFETCH(QString, usedAfter);
    QFETCH(bool, openpyxlReads);

    XlsxDocument doc;
    QVERIFY2(doc.loadData(package), qPrintable(doc.errorString()));
    for (int i = 0; i + 2 < cells.size(); i += 3) {
        const int row = cells.at(i).toInt(), column = cells.at(i + 1).toInt();
        const QVariant got = doc.read(row, column);
        const QVariant want = cells.at(i + 2);
        QVERIFY2(got == want && got.type() == want.type(),
                 qPrintable(QStringLiteral("%1%2: %3 (%4)").arg(XlsxDocument::columnName(column)).arg(row)
                                .arg(got.toString(), QString::fromLatin1(got.typeName()))));
    }
    QCOMPARE(doc.dimension().toString(), used);

    const QString path = tmp.filePath(QStringLiteral("hand-%1.xlsx").arg(QTest::currentDataTag()).replace(' ', '-'));
    const QString saved = path + QStringLiteral(".saved.xlsx");
    QVERIFY(writeFile(path, package));
    QJsonObject expected;
    for (int i = 0; i + 2 < writes.size(); i += 3) {
        const int row = writes.at(i).toInt(), column = writes.at(i + 1).toInt();
        QVERIFY(doc.write(row, column, writes.at(i + 2)));
        expected.insert(XlsxDocument::columnName(column) + QString::number(row), QJsonValue::fromVariant(writes.at(i + 2)));
    }
    QCOMPARE(doc.dimension().toString(), usedAfter);
    QVERIFY2(doc.saveAs(saved), qPrintable(doc.errorString()));

    // Read back by ourselves...
    XlsxDocument again(saved);
    QVERIFY2(again.isLoaded(), qPrintable(again.errorString()));
    QCOMPARE(again.dimension().toString(), usedAfter);
    for (int i = 0; i + 2 < writes.size(); i += 3) {
        const QVariant want = writes.at(i + 2);
        const QVariant got = again.read(writes.at(i).toInt(), writes.at(i + 1).toInt());
        if (want.type() == QVariant::Int)
            QCOMPARE(got, QVariant(want.toDouble()));
        else
            QCOMPARE(got, want);
    }
    // ...and by openpyxl, which must find everything else unchanged.
    if (!openpyxlReads)
        return;
    const PyResult cmp = fixtures({QStringLiteral("compare"), path, saved, QStringLiteral("xl/worksheets/sheet1.xml"),
                                   QString::fromUtf8(QJsonDocument(expected).toJson(QJsonDocument::Compact))});
    QVERIFY2(cmp.exitCode == 0, qPrintable(cmp.out));
}

// The exact text of a sheet after writing into it: new cells and rows go in
// column and row order between the old ones, a replaced cell keeps its style,
// an empty row element opens up, the span hint and the used range grow, and
// not one other character changes.
void TestXlsxDocument::mergedCellsLandInPlace()
{
    const QByteArray before = sheetXml(
        "<dimension ref=\"B2:D9\"/><sheetData>"
        "<row r=\"2\" spans=\"2:4\"><c r=\"B2\"><v>1</v></c><c r=\"D2\" s=\"1\"><v>2</v></c></row>"
        "<row r=\"5\" s=\"1\" customFormat=\"1\"/>"
        "<row r=\"9\" spans=\"2:2\" ht=\"20\" customHeight=\"1\"><c r=\"B9\" t=\"inlineStr\"><is><t>x</t></is></c></row>"
        "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>");
    XlsxDocument doc;
    QVERIFY2(doc.loadData(pack(handMade(before))), qPrintable(doc.errorString()));
    QCOMPARE(doc.rowFormat(5), XlsxFormat(1));
    QVERIFY(!doc.rowFormat(2).isValid());

    QVERIFY(doc.write(2, 3, QStringLiteral(" с пробелами ")));    // between B2 and D2
    QVERIFY(doc.write(2, 4, 3.25));                             // replaces D2, keeps s="1"
    QVERIFY(doc.write(2, 1, true, XlsxFormat(0)));              // before B2
    QVERIFY(doc.write(5, 2, QStringLiteral("a\"b"), doc.rowFormat(5)));
    QVERIFY(doc.write(3, 2, 7));                                // new row between 2 and 5
    QVERIFY(doc.write(12, 5, QVariant(QStringLiteral("конец"))));
    QVERIFY(doc.write(9, 2, QVariant()));                       // emptied
    QByteArray out;
    QVERIFY2(doc.saveToData(&out), qPrintable(doc.errorString()));

    const QByteArray expected = sheetXml(
        "<dimension ref=\"A2:E12\"/><sheetData>"
        "<row r=\"2\" spans=\"1:4\"><c r=\"A2\" s=\"0\" t=\"b\"><v>1</v></c><c r=\"B2\"><v>1</v></c>"
        "<c r=\"C2\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> с пробелами </t></is></c>"
        "<c r=\"D2\" s=\"1\"><v>3.25</v></c></row>"
        "<row r=\"3\"><c r=\"B3\"><v>7</v></c></row>"
        "<row r=\"5\" s=\"1\" customFormat=\"1\"><c r=\"B5\" s=\"1\" t=\"inlineStr\"><is><t>a&quot;b</t></is></c></row>"
        "<row r=\"9\" spans=\"2:2\" ht=\"20\" customHeight=\"1\"><c r=\"B9\"/></row>"
        "<row r=\"12\"><c r=\"E12\" t=\"inlineStr\"><is><t>конец</t></is></c></row>"
        "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>");
    const Parts parts = unpack(out);
    QCOMPARE(QString::fromUtf8(partOf(parts, QStringLiteral("xl/worksheets/sheet1.xml"))), QString::fromUtf8(expected));
    // The other parts are byte for byte the same, in the same order.
    const Parts original = handMade(before);
    QCOMPARE(parts.size(), original.size());
    for (int i = 0; i < parts.size(); ++i) {
        QCOMPARE(parts.at(i).first, original.at(i).first);
        if (parts.at(i).first != QLatin1String("xl/worksheets/sheet1.xml"))
            QCOMPARE(parts.at(i).second, original.at(i).second);
    }
    // saveToData leaves the document alone: nothing is saved yet.
    QCOMPARE(doc.read(2, 4), QVariant(3.25));
    XlsxDocument reread;
    QVERIFY(reread.loadData(out));
    QVERIFY(!reread.read(9, 2).isValid());
    QCOMPARE(reread.read(2, 1), QVariant(true));
}

void TestXlsxDocument::writesThatAreRefused()
{
    XlsxDocument doc;
    QVERIFY(!doc.write(1, 1, 1));   // nothing loaded
    QVERIFY(!doc.errorString().isEmpty());
    QByteArray out;
    QVERIFY(!doc.saveToData(&out));

    QVERIFY(doc.loadData(pack(handMade(sheetXml("<dimension ref=\"A1\"/><sheetData/>")))));
    QVERIFY(!doc.write(1, 1, 1, XlsxFormat(2)));   // styles have cellXfs 0 and 1 only
    QVERIFY(!doc.write(0, 1, 1));
    QVERIFY(!doc.write(1, 0, 1));
    QVERIFY(!doc.write(XlsxDocument::MaxRows + 1, 1, 1));
    QVERIFY(!doc.write(1, XlsxDocument::MaxColumns + 1, 1));
    QVERIFY(!doc.write(1, 1, std::nan("")));
    QVERIFY(!doc.write(1, 1, QDate(2020, 1, 1)));
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A1"));
    QVERIFY(doc.write(XlsxDocument::MaxRows, XlsxDocument::MaxColumns, 1, XlsxFormat(1)));
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:XFD1048576"));
}

// Files that are no workbook, or a damaged one: refused with a reason, and
// nothing can be read, written or saved.
void TestXlsxDocument::damagedFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("reason");

    const QByteArray goodSheet = sheetXml("<dimension ref=\"A1\"/><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>");
    const Parts good = handMade(goodSheet);
    const QByteArray goodData = pack(good);

    QTest::newRow("empty file") << QByteArray() << "zip";
    QTest::newRow("text file") << QByteArray("Название газа;Порог 1;Порог 2\nМетан;200;400\n") << "zip";
    QTest::newRow("truncated package") << goodData.left(goodData.size() / 2) << "zip";
    QTest::newRow("no content types") << pack(without(good, "[Content_Types].xml")) << "content types";
    QTest::newRow("no workbook") << pack(without(good, "xl/workbook.xml")) << "no part xl/workbook.xml";
    QTest::newRow("no workbook relationships") << pack(without(good, "xl/_rels/workbook.xml.rels")) << "no part";
    QTest::newRow("no sheet part") << pack(without(good, "xl/worksheets/sheet1.xml")) << "no part xl/worksheets/sheet1.xml";
    QTest::newRow("broken workbook XML")
        << pack(replaced(good, "xl/workbook.xml", "<workbook xmlns=\"x\"><sheets><sheet name=\"a\"></sheets>")) << "Broken workbook";
    QTest::newRow("workbook without sheets")
        << pack(replaced(good, "xl/workbook.xml", QByteArray("<workbook xmlns=\"") + MainNs + "\"><sheets/></workbook>"))
        << "no sheets";
    QTest::newRow("active sheet is a chart")
        << pack(replaced(good, "xl/workbook.xml", QByteArray("<workbook xmlns=\"") + MainNs
               + "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                 "<bookViews><workbookView activeTab=\"1\"/></bookViews><sheets><sheet name=\"a\" sheetId=\"1\" r:id=\"rId1\"/>"
                 "<sheet name=\"b\" sheetId=\"2\" r:id=\"rId3\"/></sheets></workbook>"))
        << "not a worksheet";
    QTest::newRow("broken sheet XML")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", sheetXml("<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></row></sheetData>")))
        << "Broken sheet";
    QTest::newRow("sheet cut short")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", goodSheet.left(goodSheet.size() - 20))) << "Broken sheet";
    QTest::newRow("sheet without cell data")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", sheetXml("<dimension ref=\"A1\"/>"))) << "no cell data";
    QTest::newRow("column past XFD")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", sheetXml("<sheetData><row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row></sheetData>")))
        << "Bad cell reference XFE1";
    QTest::newRow("row past the last")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", sheetXml("<sheetData><row r=\"1048577\"><c><v>1</v></c></row></sheetData>")))
        << "off the sheet";
    QTest::newRow("cell row past the last")
        << pack(replaced(good, "xl/worksheets/sheet1.xml", sheetXml("<sheetData><row><c r=\"A99999999\"><v>1</v></c></row></sheetData>")))
        << "Bad cell reference";
    QTest::newRow("cells past the last column")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData><row r=\"1\"><c r=\"XFD1\"/><c/></row></sheetData>")))
        << "off the sheet";
    QTest::newRow("rows out of order")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData><row r=\"5\"><c r=\"A5\"/></row><row r=\"3\"><c r=\"A3\"/></row></sheetData>")))
        << "out of order";
    QTest::newRow("cells out of order")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData><row r=\"1\"><c r=\"C1\"/><c r=\"B1\"/></row></sheetData>")))
        << "out of order";
    QTest::newRow("missing shared string")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></sheetData>")))
        << "Shared string 0";
    QTest::newRow("entity declarations")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         QByteArray("<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                                    "<worksheet xmlns=\"") + MainNs + "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&b;</t></is></c></row></sheetData></worksheet>"))
        << "DTD";
    QTest::newRow("not UTF-8")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xcc\xe5\xf2\xe0\xed</t></is></c></row></sheetData>")))
        << "not UTF-8";
    QTest::newRow("huge part")
        << pack(replaced(good, "xl/worksheets/sheet1.xml",
                         sheetXml("<sheetData/>") + QByteArray(int(XlsxDocument::MaxPartSize), ' ')))
        << "too large";
    QTest::newRow("unknown compression")
        << [&] {
               // Method 12 (bzip2) in the sheet's local and central headers.
               QByteArray d = goodData;
               const QByteArray name = "xl/worksheets/sheet1.xml";
               for (int at = d.indexOf(name); at >= 0; at = d.indexOf(name, at + 1)) {
                   if (d.mid(at - 30, 4) == QByteArray("PK\x03\x04", 4))
                       d[at - 30 + 8] = 12;
                   else if (d.mid(at - 46, 4) == QByteArray("PK\x01\x02", 4))
                       d[at - 46 + 10] = 12;
               }
               return d;
           }()
        << "unsupported compression";
    QTest::newRow("packed size past the end of the file")
        << [&] {
               // A stored part whose central header claims 2 GB of packed data.
               QByteArray d = pack(good, false);
               const QByteArray name = "_rels/.rels";
               for (int at = d.indexOf(name); at >= 0; at = d.indexOf(name, at + 1)) {
                   if (d.mid(at - 46, 4) == QByteArray("PK\x01\x02", 4))
                       d.replace(at - 46 + 20, 4, QByteArray("\xff\xff\xff\x7f", 4));
               }
               return d;
           }()
        << "_rels/.rels is damaged";
}

void TestXlsxDocument::damagedFilesAreRefused()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, reason);

    XlsxDocument doc;
    QVERIFY(!doc.loadData(data));
    QVERIFY(!doc.isLoaded());
    QVERIFY(!doc.errorString().isEmpty());
    QVERIFY2(doc.errorString().contains(reason), qPrintable(doc.errorString()));
    QVERIFY(!doc.read(1, 1).isValid());
    QVERIFY(!doc.dimension().isValid());
    QVERIFY(!doc.write(2, 1, QStringLiteral("Метан")));

    // The same through a file: refused, and saving creates nothing.
    const QString path = tmp.filePath(QStringLiteral("damaged.xlsx"));
    const QString target = tmp.filePath(QStringLiteral("damaged-saved.xlsx"));
    QVERIFY(writeFile(path, data));
    XlsxDocument fromFile(path);
    QVERIFY(!fromFile.isLoaded());
    QVERIFY(!fromFile.errorString().isEmpty());
    QVERIFY(!fromFile.saveAs(target));
    QVERIFY(!QFile::exists(target));
    QCOMPARE(readFile(path), data);
}

// A sheet of a million and one cells is more than a gas library can hold.
void TestXlsxDocument::tooManyCellsAreRefused()
{
    QByteArray body = "<sheetData>";
    const QByteArray fullRow = "<row>" + QByteArray("<c/>").repeated(XlsxDocument::MaxColumns) + "</row>";
    const int fullRows = XlsxDocument::MaxCells / XlsxDocument::MaxColumns;
    body += fullRow.repeated(fullRows);
    const int rest = XlsxDocument::MaxCells - fullRows * XlsxDocument::MaxColumns;
    XlsxDocument doc;
    QVERIFY2(doc.loadData(pack(handMade(sheetXml(body + "<row>" + QByteArray("<c/>").repeated(rest) + "</row></sheetData>")))),
             qPrintable(doc.errorString()));
    QCOMPARE(doc.dimension().toString(), QStringLiteral("A1:XFD%1").arg(fullRows + 1));
    QVERIFY(!doc.loadData(pack(handMade(sheetXml(body + "<row>" + QByteArray("<c/>").repeated(rest + 1) + "</row></sheetData>")))));
    QVERIFY2(doc.errorString().contains(QStringLiteral("too many cells")), qPrintable(doc.errorString()));
}

// Random damage to a good package: every outcome is either a refusal or a
// workbook that can be written and saved and loads again.
void TestXlsxDocument::corruptedPackagesNeverCrash()
{
    const QByteArray good = pack(handMade(sheetXml(
        "<dimension ref=\"A1:C2\"/><sheetData>"
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>Порог</t></is></c></row>"
        "<row r=\"2\" s=\"1\" customFormat=\"1\"><c r=\"A2\"><v>200</v></c><c r=\"C2\" t=\"b\"><v>0</v></c></row>"
        "</sheetData>"),
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>Газ</t></si></sst>"));
    QRandomGenerator rng(20240611);
    int loaded = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray d = good;
        const int flips = 1 + rng.bounded(8);
        for (int i = 0; i < flips; ++i)
            d[rng.bounded(d.size())] = char(rng.bounded(256));
        if (rng.bounded(10) == 0)
            d.truncate(rng.bounded(d.size()));
        XlsxDocument doc;
        if (!doc.loadData(d)) {
            QVERIFY(!doc.errorString().isEmpty());
            continue;
        }
        ++loaded;
        const XlsxCellRange used = doc.dimension();
        for (int r = 1; r <= 3; ++r)
            doc.read(r, 1);
        const int row = used.lastRow() - used.firstRow() + 2;
        QVERIFY(doc.write(qBound(1, row, XlsxDocument::MaxRows), 1, QStringLiteral("Метан"), doc.rowFormat(row)));
        QByteArray out;
        QVERIFY2(doc.saveToData(&out), qPrintable(doc.errorString()));
        XlsxDocument again;
        QVERIFY2(again.loadData(out), qPrintable(again.errorString()));
    }
    // Flips in compressed data mostly break a part; some rounds must still
    // have loaded (bytes of the archive that do not matter).
    QVERIFY(loaded > 0);
}

// A save that cannot be completed (a full disk here: the file-size limit is
// lowered below the package's size) reports failure and leaves the old file
// exactly as it was, with no temporary file left behind.
void TestXlsxDocument::failedSaveKeepsTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setting.xlsx"));
    QByteArray body = "<sheetData>";
    for (int r = 1; r <= 200; ++r)
        body += QStringLiteral("<row r=\"%1\"><c r=\"A%1\" t=\"inlineStr\"><is><t>Газ номер %1</t></is></c><c r=\"B%1\"><v>%1</v></c></row>").arg(r).toUtf8();
    const QByteArray original = pack(handMade(sheetXml(body + "</sheetData>")));
    QVERIFY(writeFile(path, original));

    XlsxDocument doc(path);
    QVERIFY2(doc.isLoaded(), qPrintable(doc.errorString()));
    QVERIFY(doc.write(201, 1, QStringLiteral("Новый")));

    QVERIFY(!doc.saveAs(dir.filePath(QStringLiteral("no/such/dir/setting.xlsx"))));
    QVERIFY(!doc.errorString().isEmpty());

    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(original.size() / 2);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = doc.saveAs(path);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!saved);
    QVERIFY(!doc.errorString().isEmpty());
    QCOMPARE(readFile(path), original);
    QCOMPARE(filesIn(dir.path()), QStringList{QStringLiteral("setting.xlsx")});

    // The written cell is still pending; with room on the disk it saves.
    QCOMPARE(doc.read(201, 1), QVariant(QStringLiteral("Новый")));
    QVERIFY2(doc.saveAs(path), qPrintable(doc.errorString()));
    XlsxDocument again(path);
    QCOMPARE(again.read(201, 1), QVariant(QStringLiteral("Новый")));
    QCOMPARE(again.read(200, 2), QVariant(200.0));
}

void TestXlsxDocument::referencesAndRanges()
{
    QCOMPARE(XlsxDocument::columnName(1), QStringLiteral("A"));
    QCOMPARE(XlsxDocument::columnName(26), QStringLiteral("Z"));
    QCOMPARE(XlsxDocument::columnName(27), QStringLiteral("AA"));
    QCOMPARE(XlsxDocument::columnName(702), QStringLiteral("ZZ"));
    QCOMPARE(XlsxDocument::columnName(703), QStringLiteral("AAA"));
    QCOMPARE(XlsxDocument::columnName(16384), QStringLiteral("XFD"));
    QVERIFY(XlsxDocument::columnName(16385).isEmpty());
    QVERIFY(XlsxDocument::columnName(0).isEmpty());

    QCOMPARE(XlsxCellRange::fromString("$B$2:$AA$10"), XlsxCellRange(2, 2, 10, 27));
    QCOMPARE(XlsxCellRange::fromString("C4:A1"), XlsxCellRange(1, 1, 4, 3));
    QCOMPARE(XlsxCellRange::fromString("XFD1048576").toString(), QStringLiteral("XFD1048576"));
    QVERIFY(!XlsxCellRange::fromString("A0").isValid());
    QVERIFY(!XlsxCellRange::fromString("A:C").isValid());
    QVERIFY(!XlsxCellRange::fromString("XFE1").isValid());
    QVERIFY(!XlsxCellRange::fromString("A1048577").isValid());
    QVERIFY(!XlsxCellRange::fromString("1:3").isValid());
    QCOMPARE(XlsxCellRange().rowCount(), 0);
    // The empty range makes the gas library's arithmetic come out right:
    // no rows to search, the first entry goes into row 1.
    QCOMPARE(XlsxCellRange().lastRow() - XlsxCellRange().firstRow() + 1, 0);
    QCOMPARE(XlsxCellRange().united(XlsxCellRange(3, 2, 3, 2)).toString(), QStringLiteral("B3"));
}

QTEST_GUILESS_MAIN(TestXlsxDocument)
#include "test_xlsxdocument.moc"

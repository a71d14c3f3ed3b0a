#include "xlsxdocument.h"

#include <KZip>
#include <KArchiveDirectory>
#include <KZipFileEntry>

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextCodec>
#include <QVector>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>

// ---------------------------------------------------------------------------
// Cell references

namespace {

// Parses "B7", "$B$7", or "B", a column without its row (row 0 then); a
// bare row number is refused.  False when it is not a reference or lies off
// the grid.
bool parseCellRef(const QStringRef &ref, int *row, int *column)
{
    int i = 0;
    const int n = ref.size();
    if (i < n && ref.at(i) == QLatin1Char('$'))
        ++i;
    qint64 col = 0;
    int letters = 0;
    while (i < n) {
        const QChar ch = ref.at(i);
        if (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z'))
            col = col * 26 + (ch.unicode() - 'A' + 1);
        else if (ch >= QLatin1Char('a') && ch <= QLatin1Char('z'))
            col = col * 26 + (ch.unicode() - 'a' + 1);
        else
            break;
        if (++letters > 3)
            return false;
        ++i;
    }
    if (letters == 0 || col > XlsxDocument::MaxColumns)
        return false;
    if (i < n && ref.at(i) == QLatin1Char('$'))
        ++i;
    qint64 r = 0;
    int digits = 0;
    while (i < n) {
        const QChar ch = ref.at(i);
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return false;
        r = r * 10 + (ch.unicode() - '0');
        if (++digits > 7 || r > XlsxDocument::MaxRows)
            return false;
        ++i;
    }
    if (digits > 0 && r == 0)
        return false;
    *row = int(r);
    *column = int(col);
    return true;
}

quint64 cellKey(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }
int keyRow(quint64 key) { return int(key >> 32); }
int keyColumn(quint64 key) { return int(key & 0xFFFFFFFFu); }

bool isXmlChar(uint c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
           || (c >= 0x10000 && c <= 0x10FFFF);
}

// Escapes text for element content or an attribute value; drops characters
// that XML cannot carry at all.
QString escapeXml(const QString &text)
{
    QString out;
    out.reserve(text.size() + 16);
    const QVector<uint> points = text.toUcs4();
    for (uint c : points) {
        switch (c) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\r': out += QLatin1String("&#13;"); break;
        default:
            if (!isXmlChar(c))
                break;
            if (c >= 0x10000) {
                out += QChar(QChar::highSurrogate(c));
                out += QChar(QChar::lowSurrogate(c));
            } else {
                out += QChar(ushort(c));
            }
        }
    }
    return out;
}

bool isNumberType(int type)
{
    switch (type) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::SChar: case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

QString numberText(const QVariant &v)
{
    switch (int(v.type())) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (d == std::trunc(d) && std::fabs(d) < 9007199254740992.0)
            return QString::number(qint64(d));
        return QString::number(d, 'g', QLocale::FloatingPointShortest);
    }
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UInt:
        return QString::number(v.toULongLong());
    default:
        return QString::number(v.toLongLong());
    }
}

// "<...>" of an element as found in the text: from its '<' to the end of the
// token that the reader just reported.  Attribute values cannot hold a
// literal '<', so the last one before the end starts the tag.
int tagStart(const QString &xml, qint64 tokenEnd)
{
    return xml.lastIndexOf(QLatin1Char('<'), int(tokenEnd) - 1);
}

// Sets (or leaves) an attribute value in the text of a start tag.
QString withAttribute(const QString &tag, const QString &name, const QString &value, bool *found)
{
    QRegularExpression re(QStringLiteral("(\\s%1\\s*=\\s*)([\"'])[^\"']*\\2").arg(name));
    QRegularExpressionMatch m = re.match(tag);
    *found = m.hasMatch();
    if (!m.hasMatch())
        return tag;
    QString out = tag;
    out.replace(m.capturedStart(), m.capturedLength(), m.captured(1) + m.captured(2) + value + m.captured(2));
    return out;
}

struct XmlText {
    QString text;
    enum Encoding { Utf8, Utf8Bom, Utf16LE, Utf16BE } encoding = Utf8;
};

// Decodes an XML part: UTF-8 (with or without BOM) or UTF-16 with BOM.
bool decodeXml(const QByteArray &bytes, XmlText *out)
{
    QTextCodec *codec = nullptr;
    int skip = 0;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        out->encoding = XmlText::Utf8Bom;
        codec = QTextCodec::codecForName("UTF-8");
        skip = 3;
    } else if (bytes.startsWith("\xFF\xFE")) {
        out->encoding = XmlText::Utf16LE;
        codec = QTextCodec::codecForName("UTF-16LE");
        skip = 2;
    } else if (bytes.startsWith("\xFE\xFF")) {
        out->encoding = XmlText::Utf16BE;
        codec = QTextCodec::codecForName("UTF-16BE");
        skip = 2;
    } else {
        out->encoding = XmlText::Utf8;
        codec = QTextCodec::codecForName("UTF-8");
    }
    if (!codec)
        return false;
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    out->text = codec->toUnicode(bytes.constData() + skip, bytes.size() - skip, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QByteArray encodeXml(const XmlText &xml)
{
    switch (xml.encoding) {
    case XmlText::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + xml.text.toUtf8();
    case XmlText::Utf16LE:
    case XmlText::Utf16BE: {
        QTextCodec *codec = QTextCodec::codecForName(xml.encoding == XmlText::Utf16LE ? "UTF-16LE" : "UTF-16BE");
        QByteArray bom = xml.encoding == XmlText::Utf16LE ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
        return bom + codec->fromUnicode(xml.text);
    }
    case XmlText::Utf8:
        break;
    }
    return xml.text.toUtf8();
}

// A reader that refuses DTDs (xlsx parts have none; entity tricks are not
// welcome) and reports the first problem.
class PartReader : public QXmlStreamReader
{
public:
    explicit PartReader(const QString &text) : QXmlStreamReader(text) {}

    // Next token; false at the end of the document or on an error.
    bool next()
    {
        if (atEnd())
            return false;
        readNext();
        if (tokenType() == DTD) {
            raiseError(QStringLiteral("DTD not allowed"));
            return false;
        }
        if (tokenType() == EndDocument)
            return false;
        return !hasError();
    }
};

// The id attribute of a relationship reference (r:id), whatever its prefix.
QString relationshipId(const QXmlStreamAttributes &attrs)
{
    for (const QXmlStreamAttribute &a : attrs) {
        if (a.name() == QLatin1String("id") && a.namespaceUri().endsWith(QLatin1String("relationships")))
            return a.value().toString();
    }
    return QString();
}

bool attributeIsTrue(const QXmlStreamAttributes &attrs, const char *name)
{
    const QStringRef v = attrs.value(QLatin1String(name));
    return v == QLatin1String("1") || v == QLatin1String("true");
}

// Text of a string item (<si> or <is>): the text of its <t> elements, the
// runs of rich text joined, phonetic hints (<rPh>) left out.  The reader
// stands on the item's start element and ends on its end element.
QString readStringItem(PartReader &r)
{
    QString text;
    int depth = 1;
    int tDepth = 0;     // depth of the <t> being read, 0 outside one
    int phonetic = 0;   // depth of an <rPh>, 0 outside one
    while (depth > 0 && r.next()) {
        switch (r.tokenType()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (r.name() == QLatin1String("rPh") && !phonetic)
                phonetic = depth;
            else if (r.name() == QLatin1String("t") && !phonetic && !tDepth)
                tDepth = depth;
            break;
        case QXmlStreamReader::EndElement:
            if (depth == tDepth)
                tDepth = 0;
            if (depth == phonetic)
                phonetic = 0;
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (tDepth)
                text += r.text();
            break;
        default:
            break;
        }
    }
    return text;
}

QString partDirectory(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

// Resolves a relationship target against the directory of its source part.
QString resolveTarget(const QString &baseDir, const QString &target)
{
    QString t = target;
    const int hash = t.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        t.truncate(hash);
    QString joined = t.startsWith(QLatin1Char('/')) ? t.mid(1) : baseDir + t;
    QStringList out;
    for (const QString &seg : joined.split(QLatin1Char('/'))) {
        if (seg.isEmpty() || seg == QLatin1String("."))
            continue;
        if (seg == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out << seg;
    }
    return out.join(QLatin1Char('/'));
}

} // namespace

// ---------------------------------------------------------------------------
// XlsxCellRange

XlsxCellRange XlsxCellRange::united(const XlsxCellRange &o) const
{
    if (!o.isValid())
        return *this;
    if (!isValid())
        return o;
    return XlsxCellRange(std::min(m_firstRow, o.m_firstRow), std::min(m_firstColumn, o.m_firstColumn),
                         std::max(m_lastRow, o.m_lastRow), std::max(m_lastColumn, o.m_lastColumn));
}

QString XlsxCellRange::toString() const
{
    if (!isValid())
        return QString();
    const QString first = XlsxDocument::columnName(m_firstColumn) + QString::number(m_firstRow);
    if (m_firstRow == m_lastRow && m_firstColumn == m_lastColumn)
        return first;
    return first + QLatin1Char(':') + XlsxDocument::columnName(m_lastColumn) + QString::number(m_lastRow);
}

XlsxCellRange XlsxCellRange::fromString(const QString &ref)
{
    const QString s = ref.trimmed();
    const int colon = s.indexOf(QLatin1Char(':'));
    const QStringRef a = colon < 0 ? QStringRef(&s) : s.leftRef(colon);
    const QStringRef b = colon < 0 ? QStringRef(&s) : s.midRef(colon + 1);
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!parseCellRef(a, &r1, &c1) || !parseCellRef(b, &r2, &c2) || r1 == 0 || r2 == 0)
        return XlsxCellRange();
    return XlsxCellRange(std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2));
}

// ---------------------------------------------------------------------------
// XlsxDocument

struct XlsxDocument::Private {
    struct Cell {
        int start = 0;   // '<' of <c>
        int end = 0;     // after </c> or "/>"
        QVariant value;
        int style = -1;
    };
    struct Row {
        int start = 0;      // '<' of <row>
        int tagEnd = 0;     // after the start tag
        int endTag = 0;     // '<' of </row> (tagEnd for an empty element)
        int end = 0;        // after the element
        bool selfClosing = false;
        int style = -1;
        bool customFormat = false;
        QString qualifiedName;
        QMap<int, Cell> cells;
    };
    struct Pending {
        QVariant value;
        int style = -1;
    };

    bool loaded = false;
    QString error;

    // Every file of the package, in archive order, unpacked.
    struct Part {
        QString path;
        QByteArray data;
        QDateTime date;
    };
    QVector<Part> parts;
    QStringList sheetNames;
    int currentSheet = -1;
    QString sheetPath;
    int xfCount = 0;
    QStringList sharedStrings;

    // The current sheet's XML and where its parts lie in it.
    XmlText sheetXml;
    QMap<int, Row> rows;
    XlsxCellRange cellsRange;         // bounding box of the cells present
    bool hasDimension = false;
    int dimensionStart = 0, dimensionEnd = 0;
    XlsxCellRange dimensionRange;
    int sheetDataStart = 0, sheetDataTagEnd = 0, sheetDataEndTag = 0, sheetDataEnd = 0;
    bool sheetDataSelfClosing = false;
    QString sheetDataName;
    QString prefix;                   // namespace prefix of the sheet elements, with ':'

    QMap<quint64, Pending> pending;

    void reset()
    {
        loaded = false;
        parts.clear();
        sheetNames.clear();
        currentSheet = -1;
        sheetPath.clear();
        xfCount = 0;
        sharedStrings.clear();
        sheetXml = XmlText();
        rows.clear();
        cellsRange = XlsxCellRange();
        hasDimension = false;
        dimensionStart = dimensionEnd = 0;
        dimensionRange = XlsxCellRange();
        sheetDataStart = sheetDataTagEnd = sheetDataEndTag = sheetDataEnd = 0;
        sheetDataSelfClosing = false;
        sheetDataName.clear();
        prefix.clear();
        pending.clear();
    }

    bool fail(const QString &why)
    {
        error = why;
        return false;
    }

    bool load(const QByteArray &data);
    bool readPart(const QHash<QString, int> &byName, const QString &path, QByteArray *out, bool required);
    bool parseRelationships(const QString &text, QHash<QString, QPair<QString, QString>> *rels);
    bool parseWorkbook(const QString &text, QStringList *sheetIds, int *activeTab);
    bool parseSharedStrings(const QString &text);
    bool parseStyles(const QString &text);
    bool parseSheet();
    bool finishRow(Row &row, QVector<QPair<int, Cell>> &cells, int rowNumber, int *lastRow);

    QString cellXml(int row, int column, const Pending &p, int existingStyle) const;
    bool buildSheet(QString *out) const;
    bool buildPackage(QByteArray *out);
};

static QList<const KZipFileEntry *> zipFiles(const KArchiveDirectory *root, int limit, bool *tooMany)
{
    QList<const KZipFileEntry *> files;
    QList<const KArchiveDirectory *> dirs{root};
    int seen = 0;
    *tooMany = false;
    while (!dirs.isEmpty()) {
        const KArchiveDirectory *dir = dirs.takeLast();
        const QStringList names = dir->entries();
        for (const QString &name : names) {
            if (++seen > limit) {
                *tooMany = true;
                return files;
            }
            const KArchiveEntry *e = dir->entry(name);
            if (!e)
                continue;
            if (e->isDirectory())
                dirs.append(static_cast<const KArchiveDirectory *>(e));
            else if (e->isFile())
                files.append(static_cast<const KZipFileEntry *>(e));
        }
    }
    std::sort(files.begin(), files.end(),
              [](const KZipFileEntry *a, const KZipFileEntry *b) { return a->position() < b->position(); });
    return files;
}

bool XlsxDocument::Private::readPart(const QHash<QString, int> &byName, const QString &path, QByteArray *out,
                                     bool required)
{
    const int i = byName.value(path.toLower(), -1);
    if (i < 0) {
        if (required)
            return fail(QStringLiteral("The workbook has no part %1").arg(path));
        out->clear();
        return true;
    }
    *out = parts.at(i).data;
    return true;
}

bool XlsxDocument::Private::parseRelationships(const QString &text, QHash<QString, QPair<QString, QString>> *rels)
{
    PartReader r(text);
    int depth = 0;
    while (r.next()) {
        if (r.isStartElement()) {
            ++depth;
            if (depth == 2 && r.name() == QLatin1String("Relationship")) {
                const QXmlStreamAttributes a = r.attributes();
                if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
                    continue;
                rels->insert(a.value(QLatin1String("Id")).toString(),
                             qMakePair(a.value(QLatin1String("Type")).toString(),
                                       a.value(QLatin1String("Target")).toString()));
                if (rels->size() > MaxEntries)
                    return fail(QStringLiteral("Too many relationships"));
            }
        } else if (r.isEndElement()) {
            --depth;
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("Broken relationships: %1").arg(r.errorString()));
    return true;
}

bool XlsxDocument::Private::parseWorkbook(const QString &text, QStringList *sheetIds, int *activeTab)
{
    PartReader r(text);
    int depth = 0;
    bool sawView = false;
    while (r.next()) {
        if (r.isStartElement()) {
            ++depth;
            if (depth == 1 && r.name() != QLatin1String("workbook"))
                return fail(QStringLiteral("Not a workbook"));
            if (depth == 3 && r.name() == QLatin1String("sheet")) {
                const QXmlStreamAttributes a = r.attributes();
                sheetNames << a.value(QLatin1String("name")).toString();
                *sheetIds << relationshipId(a);
                if (sheetNames.size() > MaxSheets)
                    return fail(QStringLiteral("Too many sheets"));
            } else if (depth == 3 && r.name() == QLatin1String("workbookView") && !sawView) {
                sawView = true;
                bool ok = false;
                const int tab = r.attributes().value(QLatin1String("activeTab")).toInt(&ok);
                if (ok)
                    *activeTab = tab;
            }
        } else if (r.isEndElement()) {
            --depth;
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("Broken workbook: %1").arg(r.errorString()));
    return true;
}

bool XlsxDocument::Private::parseSharedStrings(const QString &text)
{
    PartReader r(text);
    int depth = 0;
    while (r.next()) {
        if (r.isStartElement()) {
            ++depth;
            if (depth == 2 && r.name() == QLatin1String("si")) {
                if (sharedStrings.size() >= MaxSharedStrings)
                    return fail(QStringLiteral("Too many shared strings"));
                sharedStrings << readStringItem(r);
                --depth;   // the reader is on </si>
            }
        } else if (r.isEndElement()) {
            --depth;
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("Broken shared strings: %1").arg(r.errorString()));
    return true;
}

bool XlsxDocument::Private::parseStyles(const QString &text)
{
    PartReader r(text);
    int depth = 0;
    bool inCellXfs = false;
    while (r.next()) {
        if (r.isStartElement()) {
            ++depth;
            if (depth == 2 && r.name() == QLatin1String("cellXfs"))
                inCellXfs = true;
            else if (depth == 3 && inCellXfs && r.name() == QLatin1String("xf"))
                ++xfCount;
        } else if (r.isEndElement()) {
            if (depth == 2)
                inCellXfs = false;
            --depth;
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("Broken styles: %1").arg(r.errorString()));
    return true;
}

bool XlsxDocument::Private::finishRow(Row &row, QVector<QPair<int, Cell>> &cells, int rowNumber, int *lastRow)
{
    if (rowNumber <= *lastRow || rowNumber > MaxRows)
        return fail(QStringLiteral("Row %1 is out of order or off the sheet").arg(rowNumber));
    *lastRow = rowNumber;
    int lastColumn = 0;
    for (auto &c : cells) {
        if (c.first <= lastColumn)
            return fail(QStringLiteral("Cells of row %1 are out of order").arg(rowNumber));
        lastColumn = c.first;
        row.cells.insert(c.first, c.second);
        cellsRange = cellsRange.united(XlsxCellRange(rowNumber, c.first, rowNumber, c.first));
    }
    cells.clear();
    rows.insert(rowNumber, row);
    return true;
}

bool XlsxDocument::Private::parseSheet()
{
    const QString &xml = sheetXml.text;
    PartReader r(xml);
    int depth = 0;
    int cellCount = 0;
    int lastRow = 0;
    bool sawSheetData = false;

    // The row being read.
    bool inRow = false;
    Row row;
    int rowNumber = 0;         // 0 while not known
    QVector<QPair<int, Cell>> rowCells;
    int cellColumn = 0;
    int cellRowHint = 0;       // first row number found in a cell reference

    // The cell being read.
    bool inCell = false;
    Cell cell;
    QString cellType;
    QString cellText;
    bool cellHasValue = false;
    bool cellInline = false;

    while (r.next()) {
        const auto token = r.tokenType();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            const QStringRef name = r.name();
            if (depth == 1) {
                if (name != QLatin1String("worksheet"))
                    return fail(QStringLiteral("The current sheet is not a worksheet"));
                prefix = r.prefix().isEmpty() ? QString() : r.prefix().toString() + QLatin1Char(':');
            } else if (depth == 2 && name == QLatin1String("dimension") && !hasDimension) {
                hasDimension = true;
                dimensionStart = tagStart(xml, r.characterOffset());
                dimensionRange = XlsxCellRange::fromString(r.attributes().value(QLatin1String("ref")).toString());
            } else if (depth == 2 && name == QLatin1String("sheetData")) {
                if (sawSheetData)
                    return fail(QStringLiteral("Two sheetData elements"));
                sawSheetData = true;
                sheetDataStart = tagStart(xml, r.characterOffset());
                sheetDataTagEnd = int(r.characterOffset());
                sheetDataName = r.qualifiedName().toString();
                prefix = r.prefix().isEmpty() ? QString() : r.prefix().toString() + QLatin1Char(':');
            } else if (depth == 3 && sawSheetData && !sheetDataEnd && name == QLatin1String("row")) {
                inRow = true;
                row = Row();
                row.start = tagStart(xml, r.characterOffset());
                row.tagEnd = int(r.characterOffset());
                row.qualifiedName = r.qualifiedName().toString();
                const QXmlStreamAttributes a = r.attributes();
                rowNumber = 0;
                if (a.hasAttribute(QLatin1String("r"))) {
                    bool ok = false;
                    const qint64 n = a.value(QLatin1String("r")).toLongLong(&ok);
                    if (!ok || n < 1 || n > MaxRows)
                        return fail(QStringLiteral("Row number off the sheet"));
                    rowNumber = int(n);
                }
                bool ok = false;
                const int s = a.value(QLatin1String("s")).toInt(&ok);
                row.style = ok && s >= 0 ? s : -1;
                row.customFormat = attributeIsTrue(a, "customFormat");
                cellColumn = 0;
                cellRowHint = 0;
            } else if (depth == 4 && inRow && name == QLatin1String("c")) {
                if (++cellCount > MaxCells)
                    return fail(QStringLiteral("The sheet has too many cells"));
                inCell = true;
                cell = Cell();
                cell.start = tagStart(xml, r.characterOffset());
                const QXmlStreamAttributes a = r.attributes();
                if (a.hasAttribute(QLatin1String("r"))) {
                    int rr = 0, cc = 0;
                    if (!parseCellRef(a.value(QLatin1String("r")), &rr, &cc))
                        return fail(QStringLiteral("Bad cell reference %1").arg(a.value(QLatin1String("r")).toString()));
                    cellColumn = cc;
                    if (rr && !cellRowHint)
                        cellRowHint = rr;
                } else {
                    if (++cellColumn > MaxColumns)
                        return fail(QStringLiteral("Cell off the sheet"));
                }
                bool ok = false;
                const int s = a.value(QLatin1String("s")).toInt(&ok);
                cell.style = ok && s >= 0 ? s : -1;
                cellType = a.value(QLatin1String("t")).toString();
                cellText.clear();
                cellHasValue = false;
                cellInline = false;
            } else if (depth == 5 && inCell && name == QLatin1String("v")) {
                cellText = r.readElementText(QXmlStreamReader::SkipChildElements);
                if (r.hasError())
                    break;
                cellHasValue = true;
                --depth;
            } else if (depth == 5 && inCell && name == QLatin1String("is")) {
                cellText = readStringItem(r);
                if (r.hasError())
                    break;
                cellInline = true;
                --depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 2 && hasDimension && !dimensionEnd && r.name() == QLatin1String("dimension")) {
                dimensionEnd = int(r.characterOffset());
            } else if (depth == 2 && sawSheetData && !sheetDataEnd && r.name() == QLatin1String("sheetData")) {
                sheetDataEnd = int(r.characterOffset());
                sheetDataSelfClosing = sheetDataEnd == sheetDataTagEnd;
                sheetDataEndTag = sheetDataSelfClosing ? sheetDataEnd : tagStart(xml, sheetDataEnd);
            } else if (depth == 3 && inRow) {
                inRow = false;
                row.end = int(r.characterOffset());
                row.selfClosing = row.end == row.tagEnd;
                row.endTag = row.selfClosing ? row.end : tagStart(xml, row.end);
                if (!rowNumber)
                    rowNumber = cellRowHint ? cellRowHint : lastRow + 1;
                if (!finishRow(row, rowCells, rowNumber, &lastRow))
                    return false;
            } else if (depth == 4 && inCell) {
                inCell = false;
                cell.end = int(r.characterOffset());
                if (cellInline && (cellType.isEmpty() || cellType == QLatin1String("inlineStr"))) {
                    cell.value = cellText;
                } else if (cellHasValue) {
                    if (cellType.isEmpty() || cellType == QLatin1String("n")) {
                        bool ok = false;
                        const double v = cellText.trimmed().toDouble(&ok);
                        cell.value = ok ? QVariant(v) : QVariant(cellText);
                    } else if (cellType == QLatin1String("s")) {
                        bool ok = false;
                        const int i = cellText.trimmed().toInt(&ok);
                        if (!ok || i < 0 || i >= sharedStrings.size())
                            return fail(QStringLiteral("Shared string %1 does not exist").arg(cellText));
                        cell.value = sharedStrings.at(i);
                    } else if (cellType == QLatin1String("b")) {
                        const QString t = cellText.trimmed();
                        cell.value = t == QLatin1String("1") || t == QLatin1String("true");
                    } else {
                        // "str" (formula text), "e" (error code), "d" (ISO date), "inlineStr" with <v>
                        cell.value = cellText;
                    }
                }
                rowCells.append(qMakePair(cellColumn, cell));
            }
            --depth;
        }
    }
    if (r.hasError())
        return fail(QStringLiteral("Broken sheet: %1").arg(r.errorString()));
    if (!sawSheetData || !sheetDataEnd)
        return fail(QStringLiteral("The sheet has no cell data"));
    if (hasDimension && !dimensionEnd)
        return fail(QStringLiteral("Broken dimension"));
    return true;
}

bool XlsxDocument::Private::load(const QByteArray &data)
{
    reset();
    if (data.size() > MaxFileSize)
        return fail(QStringLiteral("The file is too large for a workbook"));
    QByteArray source = data;
    QBuffer buffer(&source);
    KZip zip(&buffer);
    if (!zip.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("The file is not a zip package"));

    bool tooMany = false;
    const QList<const KZipFileEntry *> files = zipFiles(zip.directory(), MaxEntries, &tooMany);
    if (tooMany)
        return fail(QStringLiteral("The package has too many entries"));
    // Every part is unpacked now: a damaged one is found at once, not when
    // the workbook is saved, and saving then copies what was read.
    QHash<QString, int> byName;
    qint64 total = 0;
    for (const KZipFileEntry *f : files) {
        const QString path = f->path();
        if (f->size() < 0 || f->size() > MaxPartSize || (total += f->size()) > MaxTotalSize)
            return fail(QStringLiteral("Part %1 is too large").arg(path));
        if (f->encoding() != 0 && f->encoding() != 8)
            return fail(QStringLiteral("Part %1 uses an unsupported compression").arg(path));
        // Packed data cannot be longer than the file (KZip would allocate it).
        if (f->compressedSize() < 0 || f->compressedSize() > data.size()
            || (f->encoding() == 0 && f->compressedSize() != f->size()))
            return fail(QStringLiteral("Part %1 is damaged").arg(path));
        const QByteArray bytes = f->data();
        if (bytes.size() != f->size())
            return fail(QStringLiteral("Part %1 is damaged").arg(path));
        byName.insert(path.toLower(), parts.size());
        parts.append(Part{path, bytes, f->date()});
    }
    if (!byName.contains(QStringLiteral("[content_types].xml")))
        return fail(QStringLiteral("The package has no content types"));

    QByteArray bytes;
    XmlText text;

    // The package relationships name the workbook part.
    QString workbookPath = QStringLiteral("xl/workbook.xml");
    if (!readPart(byName, QStringLiteral("_rels/.rels"), &bytes, false))
        return false;
    if (!bytes.isEmpty()) {
        if (!decodeXml(bytes, &text))
            return fail(QStringLiteral("Package relationships are not UTF-8 or UTF-16"));
        QHash<QString, QPair<QString, QString>> rels;
        if (!parseRelationships(text.text, &rels))
            return false;
        for (const auto &rel : qAsConst(rels)) {
            if (rel.first.endsWith(QLatin1String("/officeDocument"))) {
                workbookPath = resolveTarget(QString(), rel.second);
                break;
            }
        }
    }

    if (!readPart(byName, workbookPath, &bytes, true))
        return false;
    if (!decodeXml(bytes, &text))
        return fail(QStringLiteral("The workbook is not UTF-8 or UTF-16"));
    QStringList sheetIds;
    int activeTab = 0;
    if (!parseWorkbook(text.text, &sheetIds, &activeTab))
        return false;
    if (sheetNames.isEmpty())
        return fail(QStringLiteral("The workbook has no sheets"));
    currentSheet = activeTab >= 0 && activeTab < sheetNames.size() ? activeTab : 0;

    const QString workbookDir = partDirectory(workbookPath);
    const QString relsPath = workbookDir + QStringLiteral("_rels/")
                             + workbookPath.mid(workbookDir.size()) + QStringLiteral(".rels");
    if (!readPart(byName, relsPath, &bytes, true))
        return false;
    if (!decodeXml(bytes, &text))
        return fail(QStringLiteral("Workbook relationships are not UTF-8 or UTF-16"));
    QHash<QString, QPair<QString, QString>> rels;
    if (!parseRelationships(text.text, &rels))
        return false;

    const auto sheetRel = rels.value(sheetIds.at(currentSheet));
    if (sheetRel.second.isEmpty())
        return fail(QStringLiteral("The current sheet has no part"));
    if (!sheetRel.first.endsWith(QLatin1String("/worksheet")))
        return fail(QStringLiteral("The current sheet is not a worksheet"));
    sheetPath = resolveTarget(workbookDir, sheetRel.second);

    for (const auto &rel : qAsConst(rels)) {
        const bool strings = rel.first.endsWith(QLatin1String("/sharedStrings"));
        const bool styles = rel.first.endsWith(QLatin1String("/styles"));
        if (!strings && !styles)
            continue;
        if (!readPart(byName, resolveTarget(workbookDir, rel.second), &bytes, true))
            return false;
        if (!decodeXml(bytes, &text))
            return fail(QStringLiteral("A workbook part is not UTF-8 or UTF-16"));
        if (strings ? !parseSharedStrings(text.text) : !parseStyles(text.text))
            return false;
    }

    if (!readPart(byName, sheetPath, &bytes, true))
        return false;
    // Keep the entry's own spelling of the name for saving.
    sheetPath = parts.at(byName.value(sheetPath.toLower())).path;
    if (!decodeXml(bytes, &sheetXml))
        return fail(QStringLiteral("The sheet is not UTF-8 or UTF-16"));
    if (!parseSheet())
        return false;
    loaded = true;
    error.clear();
    return true;
}

QString XlsxDocument::Private::cellXml(int row, int column, const Pending &p, int existingStyle) const
{
    const QString c = prefix + QLatin1Char('c');
    QString out = QLatin1Char('<') + c + QStringLiteral(" r=\"") + XlsxDocument::columnName(column)
                  + QString::number(row) + QLatin1Char('"');
    const int style = p.style >= 0 ? p.style : existingStyle;
    if (style >= 0)
        out += QStringLiteral(" s=\"%1\"").arg(style);
    const QVariant &v = p.value;
    if (!v.isValid() || v.isNull()) {
        out += QStringLiteral("/>");
    } else if (v.type() == QVariant::Bool) {
        out += QStringLiteral(" t=\"b\"><%1v>%2</%1v></%3>").arg(prefix, v.toBool() ? QStringLiteral("1") : QStringLiteral("0"), c);
    } else if (isNumberType(int(v.type()))) {
        out += QStringLiteral("><%1v>%2</%1v></%3>").arg(prefix, numberText(v), c);
    } else {
        const QString text = v.toString();
        const bool keepSpaces = !text.isEmpty() && (text.at(0).isSpace() || text.at(text.size() - 1).isSpace());
        out += QStringLiteral(" t=\"inlineStr\"><%1is><%1t%2>%3</%1t></%1is></%4>")
                   .arg(prefix, keepSpaces ? QStringLiteral(" xml:space=\"preserve\"") : QString(), escapeXml(text), c);
    }
    return out;
}

bool XlsxDocument::Private::buildSheet(QString *out) const
{
    struct Edit {
        int pos;
        int length;
        QString text;
    };
    QVector<Edit> edits;
    const QString &xml = sheetXml.text;

    // Pending cells grouped by row, columns ascending.
    QMap<int, QMap<int, Pending>> byRow;
    for (auto it = pending.constBegin(); it != pending.constEnd(); ++it)
        byRow[keyRow(it.key())].insert(keyColumn(it.key()), it.value());

    QString newRowsAtEnd;                  // rows that go after the last row
    QMap<int, QString> newRowsBefore;      // rows that go before an existing row (by its start)

    for (auto rit = byRow.constBegin(); rit != byRow.constEnd(); ++rit) {
        const int rowNumber = rit.key();
        const QMap<int, Pending> &cells = rit.value();
        auto existing = rows.constFind(rowNumber);
        if (existing == rows.constEnd()) {
            QString text = QStringLiteral("<%1row r=\"%2\">").arg(prefix).arg(rowNumber);
            for (auto cit = cells.constBegin(); cit != cells.constEnd(); ++cit)
                text += cellXml(rowNumber, cit.key(), cit.value(), -1);
            text += QStringLiteral("</%1row>").arg(prefix);
            auto next = rows.upperBound(rowNumber);
            if (next == rows.constEnd())
                newRowsAtEnd += text;
            else
                newRowsBefore[next->start] += text;
            continue;
        }

        const Row &row = existing.value();
        int minNew = MaxColumns + 1, maxNew = 0;
        QMap<int, QString> inserts;        // position -> new cells placed there
        for (auto cit = cells.constBegin(); cit != cells.constEnd(); ++cit) {
            const int column = cit.key();
            auto old = row.cells.constFind(column);
            if (old != row.cells.constEnd()) {
                if (!row.selfClosing)
                    edits.append({old->start, old->end - old->start,
                                  cellXml(rowNumber, column, cit.value(), old->style)});
                continue;
            }
            minNew = std::min(minNew, column);
            maxNew = std::max(maxNew, column);
            auto next = row.cells.upperBound(column);
            const int pos = next == row.cells.constEnd() ? row.endTag : next->start;
            inserts[pos] += cellXml(rowNumber, column, cit.value(), -1);
        }

        QString startTag = xml.mid(row.start, row.tagEnd - row.start);
        bool spansChanged = false;
        if (maxNew > 0) {
            // Keep the row's column-span hint true.
            const QRegularExpression spansRe(QStringLiteral("\\sspans\\s*=\\s*([\"'])(\\d+):(\\d+)\\1"));
            const QRegularExpressionMatch m = spansRe.match(startTag);
            if (m.hasMatch()) {
                const int lo = std::min(m.captured(2).toInt(), minNew);
                const int hi = std::max(m.captured(3).toInt(), maxNew);
                bool found = false;
                startTag = withAttribute(startTag, QStringLiteral("spans"), QStringLiteral("%1:%2").arg(lo).arg(hi), &found);
                spansChanged = found;
            }
        }
        if (row.selfClosing) {
            // <row .../> becomes <row ...>cells</row>; an empty row has no cells.
            QString open = startTag;
            open.chop(2);
            QString text = open + QLatin1Char('>');
            for (const QString &s : qAsConst(inserts))
                text += s;
            text += QStringLiteral("</%1>").arg(row.qualifiedName);
            edits.append({row.start, row.end - row.start, text});
        } else {
            if (spansChanged)
                edits.append({row.start, row.tagEnd - row.start, startTag});
            for (auto iit = inserts.constBegin(); iit != inserts.constEnd(); ++iit)
                edits.append({iit.key(), 0, iit.value()});
        }
    }

    for (auto it = newRowsBefore.constBegin(); it != newRowsBefore.constEnd(); ++it)
        edits.append({it.key(), 0, it.value()});
    if (!newRowsAtEnd.isEmpty()) {
        if (sheetDataSelfClosing) {
            QString open = xml.mid(sheetDataStart, sheetDataEnd - sheetDataStart);
            open.chop(2);
            edits.append({sheetDataStart, sheetDataEnd - sheetDataStart,
                          open + QLatin1Char('>') + newRowsAtEnd + QStringLiteral("</%1>").arg(sheetDataName)});
        } else {
            edits.append({sheetDataEndTag, 0, newRowsAtEnd});
        }
    }

    if (hasDimension && !pending.isEmpty()) {
        XlsxCellRange used = dimensionRange.united(cellsRange);
        for (auto it = pending.constBegin(); it != pending.constEnd(); ++it)
            used = used.united(XlsxCellRange(keyRow(it.key()), keyColumn(it.key()), keyRow(it.key()), keyColumn(it.key())));
        bool found = false;
        const QString tag = withAttribute(xml.mid(dimensionStart, dimensionEnd - dimensionStart), QStringLiteral("ref"),
                                          used.toString(), &found);
        if (found)
            edits.append({dimensionStart, dimensionEnd - dimensionStart, tag});
    }

    // Apply in text order; an insertion goes before a replacement at the same place.
    std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
        return a.pos != b.pos ? a.pos < b.pos : a.length < b.length;
    });
    QString result;
    result.reserve(xml.size() + 1024);
    int at = 0;
    for (const Edit &e : qAsConst(edits)) {
        if (e.pos < at || e.pos + e.length > xml.size())
            return false;   // overlapping edits: a bug, never write such a sheet
        result += xml.midRef(at, e.pos - at);
        result += e.text;
        at = e.pos + e.length;
    }
    result += xml.midRef(at);
    *out = result;
    return true;
}

bool XlsxDocument::Private::buildPackage(QByteArray *out)
{
    XmlText newSheet = sheetXml;
    if (!buildSheet(&newSheet.text))
        return fail(QStringLiteral("Internal error while merging the cells into the sheet"));
    const QByteArray sheetBytes = encodeXml(newSheet);

    QByteArray packed;
    QBuffer outBuffer(&packed);
    KZip writer(&outBuffer);
    writer.setCompression(KZip::DeflateCompression);
    writer.setExtraField(KZip::NoExtraField);
    if (!writer.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("The package could not be created"));
    for (const Part &part : qAsConst(parts)) {
        const QByteArray &data = part.path == sheetPath ? sheetBytes : part.data;
        if (!writer.writeFile(part.path, data, 0100644, QString(), QString(), part.date, part.date, part.date)) {
            writer.close();
            return fail(QStringLiteral("Part %1 could not be packed").arg(part.path));
        }
    }
    if (!writer.close())
        return fail(QStringLiteral("The package could not be finished"));
    *out = packed;
    return true;
}

XlsxDocument::XlsxDocument() : d(new Private) {}

XlsxDocument::XlsxDocument(const QString &fileName) : d(new Private)
{
    load(fileName);
}

XlsxDocument::~XlsxDocument() = default;

bool XlsxDocument::load(const QString &fileName)
{
    d->reset();
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return d->fail(QStringLiteral("Cannot open %1: %2").arg(fileName, f.errorString()));
    if (f.size() > MaxFileSize)
        return d->fail(QStringLiteral("The file is too large for a workbook"));
    const QByteArray data = f.read(MaxFileSize + 1);
    if (f.error() != QFileDevice::NoError)
        return d->fail(QStringLiteral("Cannot read %1: %2").arg(fileName, f.errorString()));
    return d->load(data);
}

bool XlsxDocument::loadData(const QByteArray &data)
{
    return d->load(data);
}

bool XlsxDocument::isLoaded() const { return d->loaded; }

QString XlsxDocument::errorString() const { return d->error; }

QStringList XlsxDocument::sheetNames() const { return d->loaded ? d->sheetNames : QStringList(); }

QString XlsxDocument::currentSheetName() const
{
    return d->loaded ? d->sheetNames.value(d->currentSheet) : QString();
}

XlsxCellRange XlsxDocument::dimension() const
{
    if (!d->loaded)
        return XlsxCellRange();
    XlsxCellRange used = d->dimensionRange.united(d->cellsRange);
    for (auto it = d->pending.constBegin(); it != d->pending.constEnd(); ++it) {
        const int r = keyRow(it.key()), c = keyColumn(it.key());
        used = used.united(XlsxCellRange(r, c, r, c));
    }
    return used;
}

QVariant XlsxDocument::read(int row, int column) const
{
    if (!d->loaded)
        return QVariant();
    auto p = d->pending.constFind(cellKey(row, column));
    if (p != d->pending.constEnd())
        return p->value.isNull() ? QVariant() : p->value;
    auto r = d->rows.constFind(row);
    if (r == d->rows.constEnd())
        return QVariant();
    auto c = r->cells.constFind(column);
    return c == r->cells.constEnd() ? QVariant() : c->value;
}

XlsxFormat XlsxDocument::rowFormat(int row) const
{
    if (!d->loaded)
        return XlsxFormat();
    auto r = d->rows.constFind(row);
    if (r == d->rows.constEnd() || !r->customFormat || r->style < 0 || r->style >= d->xfCount)
        return XlsxFormat();
    return XlsxFormat(r->style);
}

bool XlsxDocument::write(int row, int column, const QVariant &value, const XlsxFormat &format)
{
    if (!d->loaded)
        return d->fail(QStringLiteral("No workbook is loaded"));
    if (row < 1 || row > MaxRows || column < 1 || column > MaxColumns)
        return d->fail(QStringLiteral("Cell %1,%2 is off the sheet").arg(row).arg(column));
    if (format.isValid() && format.styleIndex() >= d->xfCount)
        return d->fail(QStringLiteral("The workbook has no cell style %1").arg(format.styleIndex()));
    const int type = int(value.type());
    if (value.isValid() && !value.isNull()) {
        if (isNumberType(type)) {
            if (!std::isfinite(value.toDouble()))
                return d->fail(QStringLiteral("A cell cannot hold %1").arg(value.toDouble()));
        } else if (type != QMetaType::Bool && type != QMetaType::QString && type != QMetaType::QChar) {
            return d->fail(QStringLiteral("A cell cannot hold a value of type %1").arg(value.typeName()));
        }
    }
    if (d->pending.size() >= MaxCells && !d->pending.contains(cellKey(row, column)))
        return d->fail(QStringLiteral("Too many cells written"));
    d->pending.insert(cellKey(row, column), Private::Pending{value, format.styleIndex()});
    return true;
}

bool XlsxDocument::saveToData(QByteArray *out)
{
    if (!d->loaded)
        return d->fail(QStringLiteral("No workbook is loaded"));
    return d->buildPackage(out);
}

bool XlsxDocument::saveAs(const QString &fileName)
{
    QByteArray packed;
    if (!saveToData(&packed))
        return false;
    // Written beside the target and renamed over it only when complete, so
    // the old workbook survives a full disk or a crash half-way.
    QSaveFile f(fileName);
    // Unbuffered, so that a short write (a full disk) shows in the count
    // instead of being lost in a flush.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return d->fail(QStringLiteral("Cannot write %1: %2").arg(fileName, f.errorString()));
    if (f.write(packed) != packed.size() || !f.flush() || f.size() != packed.size()) {
        const QString why = f.errorString();
        f.cancelWriting();
        return d->fail(QStringLiteral("Cannot write %1: %2").arg(fileName, why));
    }
    if (!f.commit())
        return d->fail(QStringLiteral("Cannot write %1: %2").arg(fileName, f.errorString()));
    if (!d->load(packed))
        return false;
    return true;
}

QString XlsxDocument::columnName(int column)
{
    if (column < 1 || column > MaxColumns)
        return QString();
    QString name;
    while (column > 0) {
        const int rem = (column - 1) % 26;
        name.prepend(QChar('A' + rem));
        column = (column - 1) / 26;
    }
    return name;
}

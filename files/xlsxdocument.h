// A small reader and writer of xlsx workbooks, enough for the gas library:
// the active worksheet's cells can be read, a few cells written, and the
// workbook saved again with everything else left exactly as it was.
//
// The zip container is handled by KArchive (KZip), the XML by
// QXmlStreamReader.  Saving rewrites only the active sheet's XML: the cells
// written are spliced into the original text at their row and column, the
// used range in <dimension> is widened, and every other part of the package
// is copied unchanged.  New text cells are written as inline strings, so the
// shared-strings table is never touched.
//
// No widgets here: the command-line tool uses this class too.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

// Format of the cells written: a cell style index (an entry of cellXfs in the
// workbook's styles).  An invalid format leaves the style of a cell alone.
class XlsxFormat
{
public:
    XlsxFormat() = default;
    explicit XlsxFormat(int styleIndex) : m_style(styleIndex < 0 ? -1 : styleIndex) {}

    bool isValid() const { return m_style >= 0; }
    int styleIndex() const { return m_style; }

    bool operator==(const XlsxFormat &o) const { return m_style == o.m_style; }
    bool operator!=(const XlsxFormat &o) const { return m_style != o.m_style; }

private:
    int m_style = -1;
};

// A rectangle of cells, rows and columns numbered from 1.  The empty range is
// rows 1..0 and columns 1..0, so that "last - first + 1" counts 0 rows.
class XlsxCellRange
{
public:
    XlsxCellRange() = default;
    XlsxCellRange(int firstRow, int firstColumn, int lastRow, int lastColumn)
        : m_firstRow(firstRow), m_firstColumn(firstColumn), m_lastRow(lastRow), m_lastColumn(lastColumn) {}

    bool isValid() const
    {
        return m_firstRow >= 1 && m_firstColumn >= 1 && m_firstRow <= m_lastRow && m_firstColumn <= m_lastColumn;
    }
    int firstRow() const { return m_firstRow; }
    int lastRow() const { return m_lastRow; }
    int firstColumn() const { return m_firstColumn; }
    int lastColumn() const { return m_lastColumn; }
    int rowCount() const { return isValid() ? m_lastRow - m_firstRow + 1 : 0; }

    // Smallest range holding both (an invalid range adds nothing).
    XlsxCellRange united(const XlsxCellRange &o) const;
    // "A1:C4", or "B2" for a single cell; empty for an invalid range.
    QString toString() const;
    // Parses "A1:C4", "$A$1:$C$4" or "B2"; an invalid range when it is not one.
    static XlsxCellRange fromString(const QString &ref);

    bool operator==(const XlsxCellRange &o) const
    {
        return m_firstRow == o.m_firstRow && m_firstColumn == o.m_firstColumn && m_lastRow == o.m_lastRow
               && m_lastColumn == o.m_lastColumn;
    }

private:
    int m_firstRow = 1;
    int m_firstColumn = 1;
    int m_lastRow = 0;
    int m_lastColumn = 0;
};

class XlsxDocument
{
public:
    // Limits of the worksheet grid.
    static constexpr int MaxRows = 1048576;
    static constexpr int MaxColumns = 16384;
    // Limits of what is accepted at all, so that a damaged or hostile file
    // fails quickly instead of eating the machine.
    static constexpr qint64 MaxFileSize = 256 * 1024 * 1024;
    static constexpr qint64 MaxPartSize = 64 * 1024 * 1024;
    static constexpr qint64 MaxTotalSize = 256 * 1024 * 1024;  // all parts, unpacked
    static constexpr int MaxEntries = 10000;
    static constexpr int MaxCells = 1000000;
    static constexpr int MaxSharedStrings = 1000000;
    static constexpr int MaxSheets = 10000;

    XlsxDocument();
    // Loads the workbook; check isLoaded() / errorString().
    explicit XlsxDocument(const QString &fileName);
    ~XlsxDocument();
    XlsxDocument(const XlsxDocument &) = delete;
    XlsxDocument &operator=(const XlsxDocument &) = delete;

    bool load(const QString &fileName);
    bool loadData(const QByteArray &data);
    bool isLoaded() const;
    // Why the last load, write or save failed.
    QString errorString() const;

    // Names of all sheets in workbook order, and the one in use: the sheet
    // that the workbook view shows (activeTab).
    QStringList sheetNames() const;
    QString currentSheetName() const;

    // Used range of the current sheet: the range its <dimension> names,
    // widened to every cell present and every cell written since loading.
    XlsxCellRange dimension() const;

    // Value of a cell: QString for text (shared, inline, rich text joined,
    // formula text results, error codes), double for numbers, bool for
    // booleans; an invalid QVariant for an empty or missing cell.
    QVariant read(int row, int column) const;

    // The row's own format when the row carries one (customFormat), else an
    // invalid format.
    XlsxFormat rowFormat(int row) const;

    // Sets a cell: text, a number or a boolean; an invalid QVariant empties
    // the cell.  A valid format must name an existing cell style.  Nothing is
    // stored until saveAs().  False (with errorString()) when refused.
    bool write(int row, int column, const QVariant &value, const XlsxFormat &format = XlsxFormat());

    // Writes the workbook with the cells written merged in.  The file is
    // replaced atomically: on any failure the old file stays as it was and
    // false is returned.  After success the document shows the saved file.
    bool saveAs(const QString &fileName);
    // The same package as bytes, without touching any file or this object.
    bool saveToData(QByteArray *out);

    // "A" for 1 ... "XFD" for 16384; empty when out of range.
    static QString columnName(int column);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

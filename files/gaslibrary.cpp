#include "gaslibrary.h"

#include "conversions.h"
#include "paramtable.h"
#include "xlsxdocument.h"

#include <QFile>
#include <QRegularExpression>

#include <cmath>

namespace GasLibrary {

namespace {

const int LineSecondAt = 15;
const int LineThirdAt = 25;

// Inserts `text` at `pos`, padding with spaces first when pos is past the end.
void insertAt(QString &line, int pos, const QString &text)
{
    if (pos > line.size())
        line += QString(pos - line.size(), QLatin1Char(' '));
    line.insert(pos, text);
}

// Loads the library; the file is first opened for reading on its own, so
// that a missing or unreadable file is told apart from a damaged one.
bool load(const QString &path, XlsxDocument &doc, QString *error)
{
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        if (error)
            *error = probe.errorString();
        return false;
    }
    probe.close();
    if (!doc.load(path)) {
        if (error)
            *error = doc.errorString();
        return false;
    }
    return true;
}

int scaleOf(int decimals)
{
    return Conv::scaleFromConfig(Conv::withDecimals(0, decimals));
}

} // namespace

Status search(const QString &path, const QString &text, QVector<Entry> *found, QString *error)
{
    found->clear();
    XlsxDocument doc;
    if (!load(path, doc, error))
        return Status::OpenFailed;
    const XlsxCellRange used = doc.dimension();
    for (int r = used.firstRow(); used.isValid() && r <= used.lastRow(); ++r) {
        const QString name = doc.read(r, NameColumn).toString();
        if (name.contains(text, Qt::CaseInsensitive))
            found->append(Entry{r, name, doc.read(r, Limit1Column), doc.read(r, Limit2Column)});
    }
    return Status::Ok;
}

Status append(const QString &path, const QString &name, quint16 limit1, quint16 limit2, int *row, QString *error)
{
    XlsxDocument doc;
    if (!load(path, doc, error))
        return Status::OpenFailed;
    // The row after the last used one, so that no entry is overwritten
    // whatever row the used range starts at.
    const XlsxCellRange used = doc.dimension();
    const int at = used.isValid() ? used.lastRow() + 1 : 1;
    const XlsxFormat format = doc.rowFormat(at);
    const bool written = doc.write(at, NameColumn, name, format) && doc.write(at, Limit1Column, int(limit1), format)
                         && doc.write(at, Limit2Column, int(limit2), format);
    // saveAs replaces the file only by a complete new one.
    if (!written || !doc.saveAs(path)) {
        if (error)
            *error = doc.errorString();
        return Status::SaveFailed;
    }
    if (row)
        *row = at;
    return Status::Ok;
}

bool cellWord(const QVariant &cell, quint16 *word)
{
    bool ok = false;
    double v = 0;
    if (cell.type() == QVariant::String)
        v = cell.toString().trimmed().toDouble(&ok);
    else if (cell.type() == QVariant::Double || cell.type() == QVariant::Int || cell.type() == QVariant::LongLong)
        v = cell.toDouble(&ok);
    if (!ok || v != std::trunc(v) || v < 0 || v > 65535)
        return false;
    *word = quint16(v);
    return true;
}

bool entryWords(const Entry &entry, quint16 *limit1, quint16 *limit2)
{
    return cellWord(entry.limit1, limit1) && cellWord(entry.limit2, limit2);
}

QString composeLine(const QString &first, const QString &second, const QString &third)
{
    QString line;
    insertAt(line, 0, first);
    insertAt(line, LineSecondAt, second);
    insertAt(line, LineThirdAt, third);
    return line;
}

QString displayLine(const Entry &entry)
{
    return composeLine(entry.name, QStringLiteral("| ") + entry.limit1.toString(),
                       QStringLiteral("| ") + entry.limit2.toString());
}

ValueProblem thresholdWord(const QString &text, int decimals, bool decreasing, quint16 *word)
{
    // Decimal digits are taken as digits, not through a double, so that
    // "0.29" at two decimals is 29 and "20.05" at one decimal is refused.
    static const QRegularExpression number(QStringLiteral("^(-?)([0-9]+)(?:[.,]([0-9]*))?$"));
    const QRegularExpressionMatch m = number.match(text.trimmed());
    if (!m.hasMatch())
        return ValueProblem::NotANumber;
    QString whole = m.captured(2);
    QString fraction = m.captured(3);
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    while (whole.size() > 1 && whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
    const bool zero = whole == QLatin1String("0") && fraction.isEmpty();
    if (!m.captured(1).isEmpty() && !zero)
        return ValueProblem::OutOfRange;
    if (fraction.size() > decimals)
        return ValueProblem::TooManyDecimals;
    if (whole.size() > 6)
        return ValueProblem::OutOfRange;
    const qint64 stored = whole.toLongLong() * scaleOf(decimals)
                          + fraction.leftJustified(decimals, QLatin1Char('0')).toLongLong();
    if (stored > 0x7FFF)
        return ValueProblem::OutOfRange;
    *word = quint16(stored | (decreasing ? 0x8000 : 0));
    return ValueProblem::None;
}

double maxThreshold(int decimals)
{
    return Conv::maxLimit(quint16(scaleOf(decimals)));
}

QString thresholdText(quint16 word, int decimals)
{
    return QString::number(Conv::limitShown(word, quint16(scaleOf(decimals))), 'f', decimals);
}

Fit rangeFit(quint16 limit1, quint16 limit2, quint16 rangeMax)
{
    Fit f;
    f.limit1AboveRange = Params::thresholdAboveRange(limit1, rangeMax);
    f.limit2AboveRange = Params::thresholdAboveRange(limit2, rangeMax);
    return f;
}

Fit fit(quint16 limit1, quint16 limit2, quint16 entryConfig, quint16 deviceConfig, quint16 rangeMax)
{
    Fit f = rangeFit(limit1, limit2, rangeMax);
    f.unitDiffers = Conv::unitIndex(entryConfig) != Conv::unitIndex(deviceConfig);
    f.discretenessDiffers = Conv::decimals(entryConfig) != Conv::decimals(deviceConfig);
    return f;
}

} // namespace GasLibrary

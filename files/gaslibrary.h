// The gas library's rules, without widgets: the spreadsheet setting.xlsx
// holds one entry per row of its active sheet, the gas name in column A and
// the two threshold words in columns B and C.  The library dialog and tlctl
// both read, search and extend it through these functions.
//
// A threshold word has the layout of Limit1/Limit2: bits 0-14 the threshold
// times the scale of the discreteness (1, 10, 100), bit 15 set for a
// decreasing threshold.  The row does not say which unit and discreteness the
// words were made for.
#pragma once

#include <QString>
#include <QVariant>
#include <QVector>
#include <QtGlobal>

namespace GasLibrary {

constexpr int NameColumn = 1;
constexpr int Limit1Column = 2;
constexpr int Limit2Column = 3;
// The name as typed is kept to this many characters (the dialog's boxes).
constexpr int MaxNameLength = 20;

// One row of the library, its cells as the sheet holds them.
struct Entry {
    int row = 0;
    QString name;
    QVariant limit1;
    QVariant limit2;
};

// Why the library could not be used.
enum class Status {
    Ok,
    OpenFailed,   // missing, unreadable or not a workbook: nothing was changed
    SaveFailed,   // an append could not be saved: the file is as it was
};

// Every used row whose name contains `text`, ignoring case, in sheet order:
// rows from the first to the last of the sheet's used range, wherever it
// starts.  An empty text matches every row, titles included.  `error`
// (when given) says why the library could not be opened.
Status search(const QString &path, const QString &text, QVector<Entry> *found, QString *error = nullptr);

// Appends an entry in the row after the last used one (row 1 in an empty
// sheet): the name as text and the two words as numbers, each taking the
// row's own format, and replaces the file with the complete new workbook.
// `row` (when given) gets the row written.
Status append(const QString &path, const QString &name, quint16 limit1, quint16 limit2, int *row = nullptr,
              QString *error = nullptr);

// A threshold word as the library stores it: a whole number 0..65535 in a
// number cell, or in a text cell holding one.  False for anything else.
bool cellWord(const QVariant &cell, quint16 *word);
// Both words of an entry; false when either cell holds no word.
bool entryWords(const Entry &entry, quint16 *limit1, quint16 *limit2);

// The display line of the dialog's list: the three texts inserted at
// positions 0, 15 and 25 of an empty line; inserting past the end first pads
// with spaces, so a long text is split by the next insertion.
QString composeLine(const QString &first, const QString &second, const QString &third);
// An entry's line: its name, "| " and the first cell, "| " and the second.
QString displayLine(const Entry &entry);

// Threshold words from the value a technician gives.
enum class ValueProblem {
    None,
    NotANumber,
    OutOfRange,       // below 0 or above 32767 / scale
    TooManyDecimals,  // more decimals than the discreteness shows
};
// Reads `text` (a point or a comma before the decimals) as a threshold in
// the discreteness `decimals` (0, 1 or 2) and makes its word with the
// direction given.  The value must have at most `decimals` decimals and lie
// within 0 .. 32767 / scale.
ValueProblem thresholdWord(const QString &text, int decimals, bool decreasing, quint16 *word);
// The largest threshold the discreteness holds (32767 / scale).
double maxThreshold(int decimals);
// A word's threshold as shown in the discreteness: "19.5", "20", "0.50".
QString thresholdText(quint16 word, int decimals);

// What would make an entry unfit for a device: words made for another unit
// or discreteness than the device's, or a threshold above the device's upper
// range value (ValueMax, stored in the same scale as the thresholds).
struct Fit {
    bool unitDiffers = false;
    bool discretenessDiffers = false;
    bool limit1AboveRange = false;
    bool limit2AboveRange = false;

    bool aboveRange() const { return limit1AboveRange || limit2AboveRange; }
    bool ok() const { return !unitDiffers && !discretenessDiffers && !aboveRange(); }
};
// `deviceConfig` and `rangeMax` are the device's Config and ValueMax;
// `entryConfig` carries the entry's unit (bits 0-1) and discreteness (bits
// 4-5) in the same places.
Fit fit(quint16 limit1, quint16 limit2, quint16 entryConfig, quint16 deviceConfig, quint16 rangeMax);
// The range part alone, for when the entry's unit is not known.
Fit rangeFit(quint16 limit1, quint16 limit2, quint16 rangeMax);

} // namespace GasLibrary

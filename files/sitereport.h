// The site report ("Отчёт по объекту"): every detector of a site with where
// it hangs, what it is, its settings, its calibration dates and its drift
// against the last backup.  This part has no widgets: the rows, the words
// for the due state and the CSV; the PDF is sitereport_gui.h.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

namespace SiteReport {

enum class Due {
    Unknown,   // never calibrated (no record in the journal)
    Ok,
    Soon,      // due within DueSoonDays
    Overdue,
};
constexpr int DueSoonDays = 30;

// The due state on `today` of a detector next due on `nextDue` (invalid:
// never calibrated).
Due dueOn(const QDate &nextDue, const QDate &today);

struct Row {
    QString tag;
    QString port;
    int address = 0;
    QString serialText;
    QString type;
    QString firmware;
    QString gas;
    QString unit;
    QString range;            // "0–100"
    QString limit1;
    QString limit2;
    QDate lastCalibration;    // invalid: none
    QDate nextDue;            // invalid: unknown
    QStringList drift;        // "limit1: 20.0 → 25.0 PPM", against the last backup
    // The journal's record of the last calibration, as a paper copy names
    // it for a check against the server: its UUID, and its hash once a
    // server has chained it (empty before).
    QString recordUuid;
    QString recordHash;
};

struct Header {
    QString site;
    QDate date;
    QString technician;
};

// The due state in words (in the program's language), never in colour
// alone: "просрочена на 12 дн.", "через 5 дн.", "в срок", "нет данных".
QString dueText(const Row &row, const QDate &today);

// The kind of device, in the program's language: "Детектор, тип 1".
QString typeText(int deviceType);

// The column titles, in the program's language.
QStringList columnTitles();
// A record's hash as a report shows it: the hash, or words saying that a
// server has not given one yet; `shortForm` the first 12 digits only.
QString hashText(const QString &hash, bool shortForm = false);
// One row's cells, in the order of columnTitles().
QStringList cells(const Row &row, const QDate &today);

// The report as CSV: the header lines (site, date, technician), an empty
// line, the column titles and a line per detector; ";"-separated (as a
// spreadsheet of this locale reads it), fields quoted where needed, CR LF,
// UTF-8 with a byte-order mark.
QByteArray toCsv(const Header &header, const QVector<Row> &rows);

} // namespace SiteReport

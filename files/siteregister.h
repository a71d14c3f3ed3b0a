// The site register: which detector (by its serial number) hangs where on a
// site's RS-485 lines, what it held when it was last read, its last backup,
// and when it was last calibrated and is next due.  It lives in the journal's
// database (tables sites, detectors, detector_moves) and works over an open
// Journal::Database, so calibration records and the register are one file.
// Every change is made as a register record (registerrecords.h), kept and
// applied in one place, so that it reaches a team's server and the other
// technicians' files as the calibration records do.
//
// No widgets and no messages: every call returns a Journal::Error and the
// caller reports it.  A survey only reads devices; applySurvey() only writes
// the register.
#pragma once

#include "journal.h"
#include "sitereport.h"
#include "lineworker.h"
#include "paramtable.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <functional>

namespace Site {

using Journal::Error;

constexpr int DefaultIntervalDays = 180;

struct Info {
    qint64 id = 0;                       // 0: no such site
    QString name;
    int intervalDays = DefaultIntervalDays;   // between calibrations
    QDateTime created;
};

struct Detector {
    qint64 siteId = 0;                   // 0: no such detector
    qint64 serial = 0;
    QString serialText;                  // "TL02ID0004711"
    QString tag;                         // where it hangs, in the technician's words
    QString port;                        // line it was last read on
    int address = 0;
    int deviceType = 0;
    quint16 writeCount = 0;
    QString firmware;
    // As last read, shown as tlctl read shows them (unit apart).
    QString unit, rangeMin, rangeMax, limit1, limit2;
    QByteArray block;                    // the 140-byte image as last read
    QString gas;                         // gas-library entry applied; empty: none known
    QDateTime firstSeen, lastRead;
    QString backupPath;                  // empty: no backup known
    QDateTime backupTime;
    QByteArray backupBlock;              // the backup's 140-byte image
};

struct Move {
    qint64 serial = 0;
    QDateTime time;
    QString oldPort, newPort;
    int oldAddress = 0, newAddress = 0;
};

// One detector in what a survey changed.
struct Change {
    qint64 serial = 0;
    QString serialText;
    QString port;                        // where the survey found it (missing: where it was)
    int address = 0;
    QString oldPort;                     // moved: where it was
    int oldAddress = 0;
    QString oldFirmware, firmware;       // firmware: before and now
    QVector<Journal::FieldChange> drift; // drifted: the last backup's value -> the one read
};

struct SurveyChanges {
    QVector<Change> added;               // not in the site's register before
    QVector<Change> missing;             // in the register, not read by this survey
    QVector<Change> moved;               // other line or address than last time
    QVector<Change> firmware;            // other firmware version than last time
    QVector<Change> drifted;             // values that differ from the last backup
    int failedReads = 0;                 // places that answered no full read
};

// The due state of a detector (SiteReport::dueOn): unknown when never
// calibrated (no ok gas zero or span record), overdue, due within
// SiteReport::DueSoonDays, ok.
using Status = SiteReport::Due;

struct Due {
    QString site;
    Detector detector;
    QDateTime lastCalibration;           // invalid: none recorded
    QString lastUuid;                    // that record's UUID and hash (empty: none,
    QString lastHash;                    // or not chained by a server yet)
    QDateTime lastFunctionCheck;         // the newest function check passed; invalid: none
    QDate nextDue;                       // invalid when never calibrated
    Status status = Status::Unknown;
};

// A block holding `image` (a Detector's 140-byte block or backupBlock), the
// rest zero.
ParamBlock blockOf(const QByteArray &image);

// A detector's row of the site report, in the program's words: drift is
// its last backup against the block as last read.
SiteReport::Row reportRow(const Due &due);

class Register
{
public:
    // `journal` must be open and outlive the register.
    explicit Register(Journal::Database &journal);

    // Sites.
    Error createSite(const QString &name, int intervalDays = DefaultIntervalDays, Info *site = nullptr);
    Error sites(QVector<Info> *sites);                   // by name
    Error findSite(const QString &name, Info *site);     // site->id 0 when there is none
    Error setInterval(qint64 siteId, int days);

    // Detectors of a site.
    Error detectors(qint64 siteId, QVector<Detector> *detectors);   // by line, then address
    // By serial number digits or text ("4711", "TL02ID0004711"); id 0 when
    // there is none.
    Error findDetector(qint64 siteId, const QString &serial, Detector *detector);
    // Where a detector hangs, wherever it is registered: its tag and its
    // site's calibration interval (the site it was read in last); both
    // empty / 0 when it is registered nowhere.
    Error placeOf(qint64 serial, QString *tag, int *intervalDays);
    Error setTag(qint64 siteId, qint64 serial, const QString &tag);
    Error setGas(qint64 siteId, qint64 serial, const QString &gas);
    Error moves(qint64 siteId, qint64 serial, QVector<Move> *moves);   // oldest first

    // Takes every read of one survey of the site: adds the detectors not
    // known, updates the known ones (place, type, firmware, values), records
    // moves, and tells what changed since the last survey.  Reads that
    // failed or found no detector change nothing; a serial number read twice
    // counts at its first place.  All or nothing.
    Error applySurvey(qint64 siteId, const QVector<LineWorker::DeviceRead> &reads, const QDateTime &time,
                      SurveyChanges *changes);

    // The detector's last backup; drift is measured against its block.
    Error recordBackup(qint64 siteId, qint64 serial, const QString &path, const ParamBlock &block,
                       const QDateTime &time);

    // Calibration state of every detector of a site, by line then address.
    Error calibration(qint64 siteId, const QDate &today, QVector<Due> *due);
    // Across all sites: detectors overdue or due within `days` of `today`
    // (never-calibrated ones are left out), soonest first.
    Error due(int days, const QDate &today, QVector<Due> *due);

private:
    // A tag or gas entry of a known detector, as a register record.
    Error setDetectorField(qint64 siteId, qint64 serial, const QString &field, const QString &value);
    Error dueOf(const QString &where, const QVariantList &values, const QDate &today, QVector<Due> *due);
    Error failed(const QSqlQuery &q) const;
    Journal::Database &db;
};

} // namespace Site

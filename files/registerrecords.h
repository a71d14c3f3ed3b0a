// The site register's changes as records of their own (table
// register_records), so that the register travels between this computer's
// file and a team's server as the calibration records do.  A record names
// its site by name and its detector by serial number (0: the site itself),
// never by a database's own ids, so it means the same in every copy.
//
// Every change of the register, wherever it is made, goes through store():
// the record is kept (once per UUID) and applied.  Site::Register builds
// its changes as records and stores them; sending and reading back
// (journalsync.h) store the other copy's records the same way.  There is no
// second way of changing the register's tables.
//
// What a record's field means, its value a compact JSON object:
//   "site"      {"created": time}            the site exists
//   "interval"  {"days": N}                  its calibration interval
//   "read"      {"port", "address", "device_type", "write_count",
//                "firmware", "serial_text", "unit", "range_min",
//                "range_max", "limit1", "limit2", "block"}
//                                            a detector as a survey read it
//   "tag"       {"tag": text}                where it hangs
//   "gas"       {"gas": name}                the gas-library entry applied
//   "backup"    {"path", "time", "block"}    its last backup
//   "move"      {"old_port", "old_address", "new_port", "new_address"}
// For all but "move" the newest record wins per (site, serial, field), the
// UUID breaking a tie (register_state keeps which one set it), so the
// copies agree whatever order the records arrive in; a detector's
// first_seen is its earliest read and last_read its newest.  A "move" is
// history: it adds its row to detector_moves once, when the record is new.
// A record for a site not known yet makes it (with the default interval
// until an "interval" record says otherwise); one for a detector not known
// yet makes its row, filled in by its first "read".
//
// No widgets and no messages.
#pragma once

#include "journal.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVector>

namespace Site {

struct RegisterRecord {
    qint64 id = 0;              // the database's own id
    QString uuid;               // set by store() when empty
    QDateTime time;             // when the change was made (or the detector read)
    QString site;               // the site's name
    qint64 serial = 0;          // the detector's serial number; 0: the site itself
    QString field;              // "site", "interval", "read", "tag", "gas", "backup", "move"
    QJsonObject value;
    QString login;              // set by store() when empty
    QString host;               // set by store() when empty
    qint64 serverId = 0;        // the server's id of it; 0 in a file of this computer while it waits
    QString refused;            // the server's reason when it refused the record; it is not sent again
};

// Keeps `record` in the open journal `db` and applies it to the register,
// unless a record of its UUID is there already (then nothing changes and
// `added` is false).  Runs inside the caller's transaction (Database::begin())
// when there is one; the caller rolls back on an error.
Journal::Error store(Journal::Database &db, RegisterRecord &record, bool *added = nullptr);

// Register records of the open `db` matching the SQL condition `where`
// (with `values` bound), by id, at most `limit` (0: all).
Journal::Error registerRecords(Journal::Database &db, const QString &where, const QVariantList &values, int limit,
                               QVector<RegisterRecord> *records);

// The value as the database keeps it, and back.
QString valueText(const QJsonObject &value);

} // namespace Site

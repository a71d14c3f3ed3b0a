// The calibration journal: a database that keeps one record for every
// calibration step, parameter-file load, factory store or restore and
// firmware update, made by the program or by tlctl.  It is an SQLite file in
// the user's data folder unless a location names another file or a
// PostgreSQL database that a team shares (journallocation.h says how); the
// same code runs on both, and what either spells its own way is in
// journaldialect.h.
//
// No widgets and no messages here: every call says what went wrong (a
// Problem and the database's own text) and the caller reports it in its own
// language.  A journal that cannot be written never stops device work: the
// callers write their record after the device operation, keep that
// operation's outcome and only report the journal's failure.
//
// Each open uses a connection of its own (unique name) and closes it again,
// so the program and tlctl may write the same journal at the same time; a
// writer that finds it locked waits up to busyTimeoutMs first.
#pragma once

#include "deviceparams.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>
#include <memory>

class Command;
class QSqlDatabase;
class QSqlError;
class QSqlQuery;

namespace Journal {

class Dialect;

// What a record is about.  The key (kindKey) is what the database and the
// CSV hold.
enum class Kind {
    GasZero,
    GasSpan,
    Input4mA,
    Input20mA,
    Output4mA,
    Output20mA,
    FileLoad,
    FactoryStore,
    FactoryRestore,
    Firmware,
    // A guided calibration's readings before and after its adjustment, and
    // a function check (bump test), which writes nothing to the device.
    AsFound,
    AsLeft,
    FunctionCheck,
};
QString kindKey(Kind kind);
// The kind for a key; false when the key is unknown.
bool kindFromKey(const QString &key, Kind *kind);
// Readable English names (tlctl; the program shows its own).
QString kindText(const QString &key);

struct Record {
    qint64 id = 0;                 // given by the database
    QDateTime time;                // when the operation ended
    int deviceType = 0;            // 1 or 2 a detector, 999 the bootloader
    qint64 serial = 0;             // serial number as the device holds it
    QString serialText;            // "TL02ID0001234"; empty when not known
    QString firmware;              // firmware version text; empty when not known
    int address = 0;               // Modbus address used
    QString level;                 // access level (User, Admin, Velta)
    QString kind;                  // kindKey()
    QString value;                 // test gas, current or file used, with its unit
    QString before;                // "name=value; ..." before the operation
    QString after;                 // the same after it
    bool ok = false;
    // Written before a device write: the operation began.  The record of
    // its end follows in the same group; a started record with none after
    // it (unfinished()) is an operation that never ended, a program killed
    // mid-write.
    bool started = false;
    QString reason;                // why it failed (empty when ok)
    QString source;                // "program" or "tlctl"
    // Who wrote it, where, and a name of its own that stays the same in any
    // copy of the journal: set by append() when empty (a new UUID, the
    // login name, the computer's host name).
    QString uuid;                  // "3f2504e0-4f89-41d3-9a0c-0305e82c3301"
    QString login;
    QString host;
    // The record's place in a team server's chain (journalchain.h): the hash
    // of the record before it and its own, both SHA-256 as lower-case hex.
    // A server sets them when it takes the record in; a file of this
    // computer holds them once the server has acknowledged the record, and
    // holds them empty until then.
    QString prevHash;
    QString hash;
    // The server's id of the record (on the server: its id); 0 in a file of
    // this computer while the record waits to be sent.
    qint64 serverId = 0;
    // The UUID of the session the record belongs to (a guided calibration or
    // a function check, or one step and its started record); empty: none.
    QString group;
    // What the session knew when the record was written, as JSON
    // (protocoldata.h); empty for the other records.
    QString details;
};

// The started records of `records` after which no record of the same group
// and kind follows: operations that never ended.  Their UUIDs.
QStringList unfinished(const QVector<Record> &records);

// The login name of the user running the program: $USER, else $LOGNAME,
// else the password database's entry of the user id; empty when none.
QString loginName();

// The device fields of `link` (type, serial number, firmware version,
// address, access level) with the time now, for a record of `kind`.  In the
// bootloader state the detector's own fields are not known and stay empty.
Record fromDevice(const Command &link, Kind kind, const QString &source);
// The same with the detector's own fields taken from `block` (the device as
// it was before an operation that may have changed them).
Record fromDevice(const Command &link, Kind kind, const QString &source, const ParamBlock &block);

// "name=value; ..." for the named parameters of the parameter table, as
// tlctl read shows them (with their unit).
QString fieldsText(const QStringList &names, const ParamBlock &block);
// A parameter whose shown value differs between two blocks, with its unit
// ("limit1", "20.0 %LEL", "25.0 %LEL").
struct FieldChange {
    QString name;
    QString before;
    QString after;
};
// The parameters whose shown value differs between the blocks (within the
// first `writeCount` registers; the command register left out), in table
// order.
QVector<FieldChange> changedFields(const ParamBlock &before, const ParamBlock &after, quint16 writeCount);
// The same as before and after texts ("name=value; ...").
void differences(const ParamBlock &before, const ParamBlock &after, quint16 writeCount, QString *beforeText,
                 QString *afterText);
// The names of the calibration fields a step of `kind` changes.
QStringList calibrationFields(Kind kind);

// The value of a firmware record, the same for the program and tlctl: the
// image file, its size and its SHA-256, which tell later exactly what was
// written ("/home/u/tl02.bin, 1000 bytes, SHA-256 3f5a...").
QString firmwareValue(const QString &path, qint64 size, const QString &sha256Hex);

// What went wrong with the database.
enum class Problem {
    None,
    CannotOpen,     // the folder or file cannot be made or opened, the server
                    // cannot be reached or refuses the login, or the location
                    // is not one (a password in it, say)
    Locked,         // another program holds the journal locked past the wait
    Corrupt,        // not a database, or a damaged one
    NewerSchema,    // written by a newer version of the program
    Failed,         // any other database error
    FileWrite,      // the CSV file could not be written
};

struct Error {
    Error() = default;
    Error(Problem problem, const QString &detail, const QString &path = QString(), const QString &code = QString())
        : problem(problem), detail(detail), path(path), code(code)
    {
    }
    Problem problem = Problem::None;
    QString detail;   // the database's or file's own text
    QString path;     // the file, or the server's location (never with a password)
    QString code;     // the database's own code for it (a server's SQLSTATE); empty when none
    // append(record, location) only: the journal's file could not take the
    // record, and it was kept in this side file instead (sidePath()); empty
    // when it could not be kept either, or when nothing failed.
    QString keptIn;
    bool ok() const { return problem == Problem::None; }
};

// A plain English sentence for `error` (tlctl; the program has its own).
QString errorText(const Error &error);

// The database file: $XDG_DATA_HOME (or ~/.local/share)/tl-configuration/
// journal.sqlite, the same for the program and tlctl.
QString defaultPath();

// 1: the records; 2: the site register (sites, detectors, detector_moves);
// 3: each record's uuid (unique), login and host; 4: the records' chain
// (prev_hash, hash) and server id, the register's own records
// (register_records, register_state) and the sending state (journal_sync);
// 5: the record's group and details, and the outcome "started".
constexpr int SchemaVersion = 5;

struct Filter {
    QString serial;   // a serial number (digits) or its text; empty: any
    QDate from;       // first day (local time); invalid: no lower bound
    QDate to;         // last day (local time); invalid: no upper bound
};

class Database
{
public:
    // How long a writer waits for a lock held by another connection.
    static int busyTimeoutMs;

    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens (or creates, with its folder and schema) the journal at
    // `location`: an SQLite file's path or a server (journallocation.h).
    Error open(const QString &location = defaultPath());
    void close();
    bool isOpen() const;
    // Whether the open journal is on a server; the location as messages
    // name it; the schema version it had when opened (0: it was made then).
    bool isServer() const;
    QString location() const { return locationText; }
    int versionFound() const { return foundVersion; }

    // Adds `record`; its id is set on success.  On a server the record is
    // chained (its prevHash and hash set, serverId its id) under the write
    // lock: append takes the lock itself, or uses the one begin() took, so
    // that a caller may add many records in one transaction.  A file of this
    // computer keeps the chain fields and serverId as given.
    Error append(Record &record);
    // Records matching `filter`, oldest first.
    Error query(const Filter &filter, QVector<Record> *records);
    // Every record in the order the journal took them in (by id), one at a
    // time, without holding them all, its time in UTC; `each` returns false
    // to stop.
    Error scan(const std::function<bool(const Record &)> &each);
    // Records matching the SQL condition `where` (with `values` bound; empty:
    // all), in the order of their id, at most `limit` (0: all): what waits
    // to be sent, what a server has past a given id.
    Error select(const QString &where, const QVariantList &values, int limit, QVector<Record> *records);

    // For the other parts of the same database (the site register): the open
    // connection, a transaction that takes the write lock at once, and the
    // Error for a failed statement.
    QSqlDatabase handle() const;
    Error begin();
    Error commit();     // rolls back when the commit fails
    void rollback();
    Error fail(Problem fallback, const QSqlError &error) const;

private:
    // The session's settings, then the schema: checked, and migrated when
    // older.
    Error settle(QSqlQuery &q);
    Error migrate(QSqlQuery &q);
    Error newerSchema(int version) const;
    Error giveUuids(QSqlQuery &q);
    Error chainRecords(QSqlQuery &q);
    Error appendRow(Record &record);
    // After an SQLite file opened: its side file's records taken in.
    void takeInSideFile(const QString &path);
    QString connection;
    bool writing = false;          // inside begin() .. commit() / rollback()
    QString chainTip;              // on a server while writing: the newest hash
    std::unique_ptr<QSqlQuery> insertRecord;   // prepared once per connection
    int foundVersion = 0;
    QString locationText;          // the location, as errors name it
    const Dialect *dialect = nullptr;
};

// Appends `record` to the file of this computer for `location`
// (localPath(): the location itself, or for a server the user's file, where
// the record waits to be sent) and closes it again.  Nothing here waits on
// a server.  The record's time, UUID, login and host are filled first; when
// the file cannot take it (damaged, read-only, locked past the wait, a full
// disk, a folder in its place) the record goes as a line of JSON into the
// side file next to it (sidePath(), flushed to the disk), the error's
// keptIn names that file, and the next successful open of the journal's
// file takes it in.
Error append(Record &record, const QString &location = defaultPath());

// The side file of the SQLite file `path`: "<path>.pending", one record a
// line as compact JSON.  Database::open() of that file takes its records in
// (a UUID already there is skipped; a line that is no record stays in the
// side file) and removes it.
QString sidePath(const QString &path);
// The record as one line of compact JSON (no line end), and back; false
// when the line is no record.
QByteArray recordLine(const Record &record);
bool recordFromLine(const QByteArray &line, Record *record);

// The records as CSV (comma-separated, RFC 4180 quoting, CR LF, UTF-8), with
// a header line.
QByteArray toCsv(const QVector<Record> &records);
// Writes toCsv() to `path`, replacing it only by a complete file.
Error writeCsv(const QVector<Record> &records, const QString &path);

} // namespace Journal

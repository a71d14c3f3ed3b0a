#include "journal.h"

#include "command.h"
#include "conversions.h"
#include "journalchain.h"
#include "journaldialect.h"
#include "journallocation.h"
#include "journalsync.h"
#include "paramtable.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUuid>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Journal {

namespace {

struct KindName {
    Kind kind;
    const char *key;
    const char *text;
};

const KindName kindNames[] = {
    {Kind::GasZero, "gas_zero", "gas zero"},
    {Kind::GasSpan, "gas_span", "gas span"},
    {Kind::Input4mA, "input_4ma", "current input, 4 mA point"},
    {Kind::Input20mA, "input_20ma", "current input, 20 mA point"},
    {Kind::Output4mA, "output_4ma", "current output fit, 4 mA point"},
    {Kind::Output20mA, "output_20ma", "current output fit, 20 mA point"},
    {Kind::FileLoad, "file_load", "parameter file loaded"},
    {Kind::FactoryStore, "factory_store", "factory settings stored"},
    {Kind::FactoryRestore, "factory_restore", "factory settings restored"},
    {Kind::Firmware, "firmware", "firmware update"},
    {Kind::AsFound, "as_found", "readings as found"},
    {Kind::AsLeft, "as_left", "readings as left"},
    {Kind::FunctionCheck, "function_check", "function check"},
};

// Columns of the records table after the id, in the order the statements use.
const char *const Columns = "time, device_type, serial, serial_text, firmware, address, level, kind, value, "
                            "before_text, after_text, outcome, reason, source, uuid, login, host, prev_hash, hash, server_id, "
                            "group_uuid, details";

// The columns of schema 3, which a migration to 4 reads.
const char *const OwnColumns = "time, device_type, serial, serial_text, firmware, address, level, kind, value, "
                               "before_text, after_text, outcome, reason, source, uuid, login, host";

// The outcome column's text for a record.
QString outcomeKey(const Record &r)
{
    return r.started ? QStringLiteral("started") : r.ok ? QStringLiteral("ok") : QStringLiteral("failed");
}

// A record from a row of "SELECT id, <Columns or OwnColumns> ...", its time
// in local time, or left in UTC as stored (a conversion to local time costs
// more than the rest of the row).
Record recordOf(const QSqlQuery &q, bool localTime = true)
{
    Record r;
    r.id = q.value(0).toLongLong();
    r.time = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
    if (localTime)
        r.time = r.time.toLocalTime();
    r.deviceType = q.value(2).toInt();
    r.serial = q.value(3).toLongLong();
    r.serialText = q.value(4).toString();
    r.firmware = q.value(5).toString();
    r.address = q.value(6).toInt();
    r.level = q.value(7).toString();
    r.kind = q.value(8).toString();
    r.value = q.value(9).toString();
    r.before = q.value(10).toString();
    r.after = q.value(11).toString();
    r.ok = q.value(12).toString() == QLatin1String("ok");
    r.started = q.value(12).toString() == QLatin1String("started");
    r.reason = q.value(13).toString();
    r.source = q.value(14).toString();
    r.uuid = q.value(15).toString();
    r.login = q.value(16).toString();
    r.host = q.value(17).toString();
    if (q.record().count() > 18) {
        r.prevHash = q.value(18).toString();
        r.hash = q.value(19).toString();
        r.serverId = q.value(20).toLongLong();
    }
    if (q.record().count() > 21) {
        r.group = q.value(21).toString();
        r.details = q.value(22).toString();
    }
    return r;
}

// A step of the schema that is no statement: every record without a UUID
// gets a new one of its own (Database::giveUuids), the same on both
// databases, before the column is made unique.
const char *const GiveUuidsStep = "-- give every record a UUID";
// The same for the chain: on a server every record is chained in the order
// of its id (Database::chainRecords); a file of this computer has no chain.
const char *const ChainStep = "-- chain the records";

// The schema, as the statements that take a database from one version to
// the next: schemaSteps(v) makes version v + 1 out of version v.  Plain SQL
// but for the column types $id (a counted id), $int64 and $text, which each
// dialect spells its own way.
QStringList plainSteps(int version)
{
    switch (version) {
    case 0:
        // IF NOT EXISTS as the first journals made it: a file of version 0
        // may be an empty database or one made by hand with records only.
        return {QStringLiteral("CREATE TABLE IF NOT EXISTS records ("
                               " id $id,"
                               " time $text NOT NULL,"           // UTC, ISO 8601 with ms
                               " device_type INTEGER NOT NULL,"
                               " serial $int64 NOT NULL,"
                               " serial_text $text NOT NULL,"
                               " firmware $text NOT NULL,"
                               " address INTEGER NOT NULL,"
                               " level $text NOT NULL,"
                               " kind $text NOT NULL,"
                               " value $text NOT NULL,"
                               " before_text $text NOT NULL,"
                               " after_text $text NOT NULL,"
                               " outcome $text NOT NULL,"       // "ok" or "failed"
                               " reason $text NOT NULL,"
                               " source $text NOT NULL)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS records_serial ON records(serial)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS records_time ON records(time)")};
    case 1:
        // The site register.  Times are UTC ISO texts as in records, an
        // empty text where there is none; blocks are the 140-byte parameter
        // image as upper-case hex.
        return {QStringLiteral("CREATE TABLE sites ("
                               " id $id,"
                               " name $text NOT NULL UNIQUE,"
                               " calibration_interval_days INTEGER NOT NULL DEFAULT 180,"
                               " created $text NOT NULL)"),
                QStringLiteral("CREATE TABLE detectors ("
                               " site_id $int64 NOT NULL REFERENCES sites(id),"
                               " serial $int64 NOT NULL,"
                               " serial_text $text NOT NULL,"
                               " tag $text NOT NULL DEFAULT '',"
                               " port $text NOT NULL,"
                               " address INTEGER NOT NULL,"
                               " device_type INTEGER NOT NULL,"
                               " write_count INTEGER NOT NULL,"
                               " firmware $text NOT NULL,"
                               " unit $text NOT NULL,"            // the values as last read, shown
                               " range_min $text NOT NULL,"
                               " range_max $text NOT NULL,"
                               " limit1 $text NOT NULL,"
                               " limit2 $text NOT NULL,"
                               " block $text NOT NULL,"           // the image as last read
                               " gas $text NOT NULL DEFAULT '',"  // gas-library entry applied
                               " first_seen $text NOT NULL,"
                               " last_read $text NOT NULL,"
                               " backup_path $text NOT NULL DEFAULT '',"
                               " backup_time $text NOT NULL DEFAULT '',"
                               " backup_block $text NOT NULL DEFAULT '',"
                               " PRIMARY KEY (site_id, serial))"),
                QStringLiteral("CREATE TABLE detector_moves ("
                               " id $id,"
                               " site_id $int64 NOT NULL REFERENCES sites(id),"
                               " serial $int64 NOT NULL,"
                               " time $text NOT NULL,"
                               " old_port $text NOT NULL,"
                               " old_address INTEGER NOT NULL,"
                               " new_port $text NOT NULL,"
                               " new_address INTEGER NOT NULL)"),
                QStringLiteral("CREATE INDEX detector_moves_serial ON detector_moves(serial)")};
    case 2:
        // Who wrote a record and where, and a UUID that names it in any
        // copy of the journal.  The UUID is NULL in a row added by hand
        // without one (both databases keep several NULLs in a unique
        // column); every record this code writes has one.
        return {QStringLiteral("ALTER TABLE records ADD COLUMN uuid $text"),
                QStringLiteral("ALTER TABLE records ADD COLUMN login $text NOT NULL DEFAULT ''"),
                QStringLiteral("ALTER TABLE records ADD COLUMN host $text NOT NULL DEFAULT ''"),
                QLatin1String(GiveUuidsStep),
                QStringLiteral("CREATE UNIQUE INDEX records_uuid ON records(uuid)")};
    case 3:
        // The chain and the sending state.  prev_hash and hash are empty
        // in a file of this computer until a server has taken the record
        // in; server_id is the server's id of it there (0: not yet sent;
        // always 0 on the server, where the id is the server's id).  The
        // register's changes are records of their own (register_records):
        // a field of a site or detector (field: "site", "interval", "read",
        // "tag", "gas", "backup", "move"; value: a JSON object), named by
        // the site's name and the serial number (0 for the site itself),
        // so that they mean the same in every copy.  register_state keeps
        // for each field the record that set it (the newest time wins, the
        // UUID breaking a tie).  journal_sync holds what a file of this
        // computer knows about its server (which one, how far it has read).
        return {QStringLiteral("ALTER TABLE records ADD COLUMN prev_hash $text NOT NULL DEFAULT ''"),
                QStringLiteral("ALTER TABLE records ADD COLUMN hash $text NOT NULL DEFAULT ''"),
                QStringLiteral("ALTER TABLE records ADD COLUMN server_id $int64 NOT NULL DEFAULT 0"),
                QLatin1String(ChainStep),
                QStringLiteral("CREATE INDEX records_server_id ON records(server_id)"),
                QStringLiteral("CREATE TABLE register_records ("
                               " id $id,"
                               " uuid $text NOT NULL UNIQUE,"
                               " time $text NOT NULL,"
                               " site $text NOT NULL,"
                               " serial $int64 NOT NULL,"
                               " field $text NOT NULL,"
                               " value $text NOT NULL,"
                               " login $text NOT NULL,"
                               " host $text NOT NULL,"
                               " server_id $int64 NOT NULL DEFAULT 0,"
                               " refused $text NOT NULL DEFAULT '')"),
                QStringLiteral("CREATE INDEX register_records_server_id ON register_records(server_id)"),
                QStringLiteral("CREATE TABLE register_state ("
                               " site $text NOT NULL,"
                               " serial $int64 NOT NULL,"
                               " field $text NOT NULL,"
                               " time $text NOT NULL,"
                               " uuid $text NOT NULL,"
                               " PRIMARY KEY (site, serial, field))"),
                QStringLiteral("CREATE TABLE journal_sync ("
                               " name $text PRIMARY KEY,"
                               " value $text NOT NULL)")};
    case 4:
        // A guided calibration or function check is a group of records (its
        // UUID in group_uuid), each with the session's figures as JSON in
        // details; outcome may also be "started".
        return {QStringLiteral("ALTER TABLE records ADD COLUMN group_uuid $text NOT NULL DEFAULT ''"),
                QStringLiteral("ALTER TABLE records ADD COLUMN details $text NOT NULL DEFAULT ''"),
                QStringLiteral("CREATE INDEX records_group ON records(group_uuid)")};
    default:
        return {};
    }
}

QStringList schemaSteps(int version, const Dialect &dialect)
{
    QStringList steps = plainSteps(version);
    for (QString &step : steps)
        step.replace(QLatin1String("$id"), dialect.autoId())
            .replace(QLatin1String("$int64"), dialect.int64())
            .replace(QLatin1String("$text"), dialect.text());
    return steps;
}

QString timeKey(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

// What append() fills in a record that does not say: the time now, a new
// UUID, who wrote it and where.
void fillIdentity(Record &r)
{
    if (!r.time.isValid())
        r.time = QDateTime::currentDateTime();
    if (r.uuid.isEmpty())
        r.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (r.login.isEmpty())
        r.login = loginName();
    if (r.host.isEmpty())
        r.host = QSysInfo::machineHostName();
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

int lockFile(int fd)
{
    int rc;
    do
        rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    return rc;
}

// Appends the record's line to the side file of `path` and flushes it to
// the disk.  The side file is locked (flock) while written, as while it is
// taken in: a file taken in and removed meanwhile is made anew.
bool keepAside(const Record &record, const QString &path, QString *why)
{
    const QByteArray line = recordLine(record) + '\n';
    const QByteArray name = QFile::encodeName(sidePath(path));
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *why = systemError(errno);
            return false;
        }
        struct stat st;
        if (lockFile(fd) != 0 || ::fstat(fd, &st) != 0) {
            *why = systemError(errno);
            ::close(fd);
            return false;
        }
        if (st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        const bool written = writeAll(fd, line) && ::fsync(fd) == 0;
        const int code = errno;
        ::close(fd);
        if (!written) {
            *why = systemError(code);
            return false;
        }
        // The file's name is only durable once its folder is.
        const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                               O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }
    *why = QStringLiteral("the side file kept disappearing");
    return false;
}

} // namespace

QString kindKey(Kind kind)
{
    for (const KindName &k : kindNames)
        if (k.kind == kind)
            return QLatin1String(k.key);
    return QString();
}

bool kindFromKey(const QString &key, Kind *kind)
{
    for (const KindName &k : kindNames) {
        if (key == QLatin1String(k.key)) {
            *kind = k.kind;
            return true;
        }
    }
    return false;
}

QString kindText(const QString &key)
{
    for (const KindName &k : kindNames)
        if (key == QLatin1String(k.key))
            return QLatin1String(k.text);
    return key;
}

Record fromDevice(const Command &link, Kind kind, const QString &source)
{
    return fromDevice(link, kind, source, link.DeviceParams);
}

Record fromDevice(const Command &link, Kind kind, const QString &source, const ParamBlock &block)
{
    Record r;
    r.time = QDateTime::currentDateTime();
    r.deviceType = link.DeviceType;
    r.address = link.SlaveAddress;
    r.level = link.UserName;
    r.kind = kindKey(kind);
    r.source = source;
    // The bootloader does not say which detector it belongs to; whatever
    // the block still holds may be another device's.
    if (Params::isDetector(link.DeviceType)) {
        const ParamBlock &p = block;
        r.serial = p.SerialNum;
        r.serialText = Conv::serialText(p.SerialNum, p.DeviceTypeReg);
        r.firmware = Conv::fieldText(p.IdFirmwareVersion, int(sizeof p.IdFirmwareVersion));
    }
    return r;
}

namespace {

QString shownText(const Params::ParamDef &def, const ParamBlock &block)
{
    const Params::Shown s = Params::show(def, block);
    return s.unit.isEmpty() ? s.text : s.text + QLatin1Char(' ') + s.unit;
}

} // namespace

QString fieldsText(const QStringList &names, const ParamBlock &block)
{
    QStringList parts;
    for (const QString &name : names)
        if (const Params::ParamDef *def = Params::findParameter(name))
            parts << name + QLatin1Char('=') + shownText(*def, block);
    return parts.join(QStringLiteral("; "));
}

QVector<FieldChange> changedFields(const ParamBlock &before, const ParamBlock &after, quint16 writeCount)
{
    QVector<FieldChange> changes;
    for (const Params::ParamDef &def : Params::parameters()) {
        if (!Params::inBlock(def, writeCount) || def.reg == Params::CommandRegister)
            continue;
        const QString a = shownText(def, before);
        const QString b = shownText(def, after);
        if (a != b)
            changes.append({QLatin1String(def.name), a, b});
    }
    return changes;
}

void differences(const ParamBlock &before, const ParamBlock &after, quint16 writeCount, QString *beforeText,
                 QString *afterText)
{
    QStringList was, now;
    for (const FieldChange &c : changedFields(before, after, writeCount)) {
        was << c.name + QLatin1Char('=') + c.before;
        now << c.name + QLatin1Char('=') + c.after;
    }
    *beforeText = was.join(QStringLiteral("; "));
    *afterText = now.join(QStringLiteral("; "));
}

QStringList calibrationFields(Kind kind)
{
    switch (kind) {
    case Kind::GasZero:
    case Kind::GasSpan:
    case Kind::Input4mA:
    case Kind::Input20mA:
        return {QStringLiteral("adc_4ma"), QStringLiteral("adc_20ma"), QStringLiteral("adc_calib"),
                QStringLiteral("conc_calib")};
    case Kind::Output4mA:
    case Kind::Output20mA:
        return {QStringLiteral("pwm_4ma"), QStringLiteral("pwm_20ma")};
    case Kind::FileLoad:
    case Kind::FactoryStore:
    case Kind::FactoryRestore:
    case Kind::Firmware:
    case Kind::AsFound:
    case Kind::AsLeft:
    case Kind::FunctionCheck:
        break;
    }
    return {QStringLiteral("adc_4ma"), QStringLiteral("adc_20ma"), QStringLiteral("adc_calib"),
            QStringLiteral("conc_calib"), QStringLiteral("pwm_4ma"), QStringLiteral("pwm_20ma")};
}

QString firmwareValue(const QString &path, qint64 size, const QString &sha256Hex)
{
    QString value = QStringLiteral("%1, %2 bytes").arg(path).arg(size);
    if (!sha256Hex.isEmpty())
        value += QStringLiteral(", SHA-256 ") + sha256Hex;
    return value;
}

namespace {
QString problemText(const Error &e)
{
    switch (e.problem) {
    case Problem::None:
        return QString();
    case Problem::CannotOpen:
        if (parseLocation(e.path).kind != Location::Kind::SqliteFile)
            return QStringLiteral("the journal %1 cannot be reached (%2); check the location, that the server "
                                  "runs and may be reached, and the login").arg(e.path, e.detail);
        return QStringLiteral("the journal %1 cannot be opened (%2); check that the folder exists and may be "
                              "written").arg(e.path, e.detail);
    case Problem::Locked:
        return QStringLiteral("the journal %1 is locked by another program (%2); close the other program or try "
                              "again").arg(e.path, e.detail);
    case Problem::Corrupt:
        return QStringLiteral("the journal %1 is damaged or is not a journal database (%2); move it aside, a new "
                              "one is then made").arg(e.path, e.detail);
    case Problem::NewerSchema:
        return QStringLiteral("the journal %1 was made by a newer version of the program (%2); use that version")
            .arg(e.path, e.detail);
    case Problem::Failed:
        return QStringLiteral("the journal %1 could not be used: %2").arg(e.path, e.detail);
    case Problem::FileWrite:
        return QStringLiteral("%1 could not be written: %2").arg(e.path, e.detail);
    }
    return QString();
}

// The note on a record kept in the side file.
QString keptNote(const Error &e)
{
    return e.keptIn.isEmpty() ? QString()
                              : QStringLiteral("; the record was kept in %1 and goes into the journal at its next "
                                               "successful open").arg(e.keptIn);
}
} // namespace

QString errorText(const Error &e)
{
    return problemText(e) + keptNote(e);
}

QString loginName()
{
    for (const char *name : {"USER", "LOGNAME"}) {
        const QString value = qEnvironmentVariable(name).trimmed();
        if (!value.isEmpty())
            return value;
    }
    if (const passwd *pw = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString();
}

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/tl-configuration/journal.sqlite");
}

// ---------------------------------------------------------------- database

int Database::busyTimeoutMs = 3000;

Database::Database()
{
    static QAtomicInteger<quint64> serial;
    connection = QStringLiteral("tl-journal-%1").arg(serial.fetchAndAddRelaxed(1));
}

Database::~Database()
{
    close();
}

bool Database::isServer() const
{
    return isOpen() && dialect && dialect->isServer();
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(connection) && QSqlDatabase::database(connection, false).isOpen();
}

void Database::close()
{
    insertRecord.reset();
    if (!QSqlDatabase::contains(connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

Error Database::fail(Problem fallback, const QSqlError &error) const
{
    Error e;
    e.path = locationText;
    e.detail = error.text().simplified();
    e.problem = dialect ? dialect->problemOf(error, fallback) : fallback;
    e.code = error.nativeErrorCode();
    return e;
}

Error Database::open(const QString &location)
{
    close();
    const Location place = parseLocation(location);
    locationText = place.text;
    dialect = nullptr;
    Error e;
    e.path = locationText;
    e.problem = Problem::CannotOpen;
    if (place.kind == Location::Kind::Invalid) {
        e.detail = place.problem;
        return e;
    }
    const Dialect &d = Dialect::of(place.kind);
    if (!QSqlDatabase::isDriverAvailable(d.driver())) {
        e.detail = QStringLiteral("no %1 driver (%2)").arg(d.driver(), d.driverPackage());
        return e;
    }
    if (place.kind == Location::Kind::SqliteFile && !QDir().mkpath(QFileInfo(place.path).absolutePath())) {
        e.detail = QStringLiteral("cannot make the folder %1").arg(QFileInfo(place.path).absolutePath());
        return e;
    }
    dialect = &d;

    QSqlDatabase db = QSqlDatabase::addDatabase(d.driver(), connection);
    d.configure(db, place, busyTimeoutMs);
    if (!db.open()) {
        const Error failed = fail(Problem::CannotOpen, db.lastError());
        db = QSqlDatabase();
        close();
        return failed;
    }

    Error result;
    {
        QSqlQuery q(db);
        result = settle(q);
    }
    if (!result.ok()) {
        db = QSqlDatabase();
        close();
    } else if (place.kind == Location::Kind::SqliteFile) {
        takeInSideFile(place.path);
    }
    return result;
}

void Database::takeInSideFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(sidePath(path));
    if (::access(name.constData(), F_OK) != 0)
        return;
    // The journal's write lock first, then the side file's: a writer of the
    // side file holds only that, and never waits for the journal.  A file
    // that cannot be written now (read-only, locked) keeps the side file
    // for a later open, without waiting for another program's lock.
    QSqlQuery pragma(handle());
    pragma.exec(QStringLiteral("PRAGMA busy_timeout = 0"));
    const bool began = begin().ok();
    pragma.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(busyTimeoutMs));
    if (!began)
        return;
    const int fd = ::open(name.constData(), O_RDWR | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || lockFile(fd) != 0 || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
        if (fd >= 0)
            ::close(fd);
        rollback();
        return;
    }
    QByteArray all;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            rollback();
            return;
        }
        if (n == 0)
            break;
        all.append(buffer, int(n));
    }
    QList<QByteArray> kept;
    bool failed = false;
    QSqlQuery known(handle());
    known.prepare(QStringLiteral("SELECT 1 FROM records WHERE uuid = ?"));
    for (const QByteArray &line : all.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        Record r;
        if (!recordFromLine(line, &r)) {
            kept << line;   // not ours to judge: it stays for a person to look at
            continue;
        }
        known.addBindValue(r.uuid);
        if (!known.exec()) {
            failed = true;
            break;
        }
        const bool there = known.next();
        known.finish();
        if (!there && !appendRow(r).ok()) {
            failed = true;
            break;
        }
    }
    if (failed || !commit().ok()) {
        if (failed)
            rollback();
        ::close(fd);
        return;
    }
    // Taken in: what is left is only the lines that are no record.  Should
    // this end before the file is rewritten, taking it in again skips the
    // UUIDs already there.
    if (kept.isEmpty()) {
        ::unlink(name.constData());
    } else {
        QByteArray rest;
        for (const QByteArray &line : kept)
            rest += line + '\n';
        if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && writeAll(fd, rest))
            ::fsync(fd);
    }
    ::close(fd);
}

Error Database::newerSchema(int version) const
{
    return Error{Problem::NewerSchema,
                 QStringLiteral("schema %1, this program knows %2").arg(version).arg(SchemaVersion), locationText};
}

Error Database::settle(QSqlQuery &q)
{
    for (const QString &statement : dialect->session(busyTimeoutMs))
        if (!q.exec(statement))
            return fail(Problem::Failed, q.lastError());
    if (!dialect->isServer()) {
        // A record is written while device work waits for it, and in the
        // default rollback-journal mode every commit syncs the journal, the
        // file and the folder to the disk (several fsyncs, each one to tens
        // of ms on a busy disk).  Write-ahead logging with synchronous=NORMAL
        // syncs only when the log is copied back into the file (a checkpoint,
        // at the last close or every 1000 pages), never on a commit: a
        // commit is then in the log, and a crash of the program loses
        // nothing; a power cut may lose the last commits, never the file's
        // consistency.  Readers also go on while another program writes.
        // The mode stays with the file; should it not be set now (another
        // program holds the file), a later open sets it.
        if (q.exec(QStringLiteral("PRAGMA journal_mode")) && q.next()
            && q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            q.finish();
            q.exec(QStringLiteral("PRAGMA journal_mode = WAL"));
        }
        q.finish();
        q.exec(QStringLiteral("PRAGMA synchronous = NORMAL"));
        q.finish();
    }
    // The first read is where a file that is no database shows.
    int version = 0;
    if (!dialect->readVersion(q, &version))
        return fail(Problem::Failed, q.lastError());
    foundVersion = version;
    if (version > SchemaVersion)
        return newerSchema(version);
    if (version < SchemaVersion)
        return migrate(q);
    return Error();
}

Error Database::migrate(QSqlQuery &q)
{
    // Every step and the new version in one transaction, so that a
    // half-migrated journal never remains.  The version is read again under
    // the write lock: another program may have migrated it meanwhile.
    Error result = begin();
    if (!result.ok())
        return result;
    int version = 0;
    if (!dialect->readVersion(q, &version)) {
        result = fail(Problem::Failed, q.lastError());
    } else if (version > SchemaVersion) {
        result = newerSchema(version);
    } else {
        QStringList steps;
        for (int v = version; v < SchemaVersion; ++v)
            steps << schemaSteps(v, *dialect);
        if (version < SchemaVersion)
            steps << dialect->writeVersion(SchemaVersion);
        steps << QStringLiteral("COMMIT");
        foundVersion = version;
        for (const QString &step : steps) {
            if (step == QLatin1String(GiveUuidsStep)) {
                result = giveUuids(q);
                if (!result.ok())
                    break;
            } else if (step == QLatin1String(ChainStep)) {
                result = chainRecords(q);
                if (!result.ok())
                    break;
            } else if (!q.exec(step)) {
                result = fail(Problem::Failed, q.lastError());
                break;
            }
        }
    }
    if (!result.ok())
        rollback();
    return result;
}

Error Database::giveUuids(QSqlQuery &q)
{
    // Read every id first, then update them one by one: both databases do
    // this alike, and it all stays in the migration's transaction.
    QVector<qint64> ids;
    if (!q.exec(QStringLiteral("SELECT id FROM records WHERE uuid IS NULL OR uuid = ''")))
        return fail(Problem::Failed, q.lastError());
    while (q.next())
        ids.append(q.value(0).toLongLong());
    q.finish();
    QSqlQuery update(handle());
    if (!update.prepare(QStringLiteral("UPDATE records SET uuid = ? WHERE id = ?")))
        return fail(Problem::Failed, update.lastError());
    for (const qint64 id : ids) {
        update.addBindValue(QUuid::createUuid().toString(QUuid::WithoutBraces));
        update.addBindValue(id);
        if (!update.exec())
            return fail(Problem::Failed, update.lastError());
    }
    return Error();
}

Error Database::chainRecords(QSqlQuery &q)
{
    if (!dialect->isServer())
        return Error();
    // Every record in the order of its id, each chained to the one before.
    QVector<Record> all;
    // The chain columns are not there yet: the record's own columns only.
    if (!q.exec(QStringLiteral("SELECT id, %1 FROM records ORDER BY id").arg(QLatin1String(OwnColumns))))
        return fail(Problem::Failed, q.lastError());
    while (q.next())
        all.append(recordOf(q, false));
    q.finish();
    QSqlQuery update(handle());
    if (!update.prepare(QStringLiteral("UPDATE records SET prev_hash = ?, hash = ? WHERE id = ?")))
        return fail(Problem::Failed, update.lastError());
    QString previous = QLatin1String(GenesisHash);
    for (const Record &r : all) {
        const QString hash = chainHash(previous, r);
        update.addBindValue(previous);
        update.addBindValue(hash);
        update.addBindValue(r.id);
        if (!update.exec())
            return fail(Problem::Failed, update.lastError());
        previous = hash;
    }
    return Error();
}

QSqlDatabase Database::handle() const
{
    return QSqlDatabase::database(connection, false);
}

Error Database::begin()
{
    if (!isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), locationText};
    QSqlQuery q(handle());
    for (const QString &statement : dialect->beginWriting()) {
        if (!q.exec(statement)) {
            const Error e = fail(Problem::Failed, q.lastError());
            rollback();
            return e;
        }
    }
    writing = true;
    chainTip.clear();
    return Error();
}

Error Database::commit()
{
    writing = false;
    chainTip.clear();
    QSqlQuery q(handle());
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const Error e = fail(Problem::Failed, q.lastError());
        rollback();
        return e;
    }
    return Error();
}

void Database::rollback()
{
    writing = false;
    chainTip.clear();
    QSqlQuery(handle()).exec(QStringLiteral("ROLLBACK"));
}

Error Database::append(Record &r)
{
    if (!isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), locationText};
    if (!dialect->isServer() || writing)
        return appendRow(r);
    // On a server the record is chained: its own transaction holds the
    // lock from reading the last hash to the insert.
    Error e = begin();
    if (!e.ok())
        return e;
    e = appendRow(r);
    if (!e.ok()) {
        rollback();
        return e;
    }
    e = commit();
    if (!e.ok())
        r.id = 0;
    return e;
}

Error Database::appendRow(Record &r)
{
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    // The insert is prepared once per connection: on a server each prepare
    // is a round trip of its own, which a sync of many records would pay.
    if (!insertRecord) {
        insertRecord.reset(new QSqlQuery(db));
        if (!insertRecord->prepare(dialect->returningId(
                QStringLiteral("INSERT INTO records (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                    .arg(QLatin1String(Columns))))) {
            const Error e = fail(Problem::Failed, insertRecord->lastError());
            insertRecord.reset();
            return e;
        }
    }
    QSqlQuery &q = *insertRecord;
    fillIdentity(r);
    if (dialect->isServer()) {
        // The chain goes on from the newest chained record; the caller
        // holds the write lock (begin()), so no other writer comes between.
        // Within one transaction the tip is read once and then followed.
        if (chainTip.isEmpty()) {
            QSqlQuery last(db);
            if (!last.exec(QStringLiteral("SELECT hash FROM records WHERE hash <> '' ORDER BY id DESC LIMIT 1")))
                return fail(Problem::Failed, last.lastError());
            chainTip = last.next() ? last.value(0).toString() : QLatin1String(GenesisHash);
        }
        r.prevHash = chainTip;
        r.hash = chainHash(r.prevHash, r);
    }
    // Texts never go in as NULL: an empty text is stored empty.
    auto text = [](const QString &s) { return QVariant(s.isNull() ? QStringLiteral("") : s); };
    const QVariantList values = {timeKey(r.time), r.deviceType, r.serial, text(r.serialText), text(r.firmware),
                                 r.address, text(r.level), text(r.kind), text(r.value), text(r.before),
                                 text(r.after), outcomeKey(r), text(r.reason), text(r.source), r.uuid,
                                 text(r.login), text(r.host), text(r.prevHash), text(r.hash),
                                 dialect->isServer() ? 0 : r.serverId, text(r.group), text(r.details)};
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        chainTip.clear();
        return fail(Problem::Failed, q.lastError());
    }
    r.id = dialect->insertedId(q);
    if (dialect->isServer()) {
        r.serverId = r.id;
        chainTip = r.hash;
    }
    return Error();
}

Error Database::query(const Filter &filter, QVector<Record> *records)
{
    records->clear();
    if (!isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), locationText};
    QStringList where;
    QVariantList values;
    const QString serial = filter.serial.trimmed();
    if (!serial.isEmpty()) {
        bool digits = false;
        const qint64 number = serial.toLongLong(&digits);
        if (digits) {
            where << QStringLiteral("serial = ?");
            values << number;
        } else {
            where << QStringLiteral("UPPER(serial_text) = UPPER(?)");
            values << serial;
        }
    }
    if (filter.from.isValid()) {
        where << QStringLiteral("time >= ?");
        values << timeKey(filter.from.startOfDay());
    }
    if (filter.to.isValid()) {
        where << QStringLiteral("time < ?");
        values << timeKey(filter.to.addDays(1).startOfDay());
    }
    QSqlQuery q(QSqlDatabase::database(connection, false));
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT id, %1 FROM records%2 ORDER BY time, id")
                       .arg(QLatin1String(Columns), where.isEmpty() ? QString()
                                                                    : QStringLiteral(" WHERE ")
                                                                          + where.join(QStringLiteral(" AND ")))))
        return fail(Problem::Failed, q.lastError());
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return fail(Problem::Failed, q.lastError());
    while (q.next()) {
        records->append(recordOf(q));
        if (dialect->isServer())
            records->last().serverId = records->last().id;
    }
    if (q.lastError().isValid())
        return fail(Problem::Failed, q.lastError());
    return Error();
}

Error Database::scan(const std::function<bool(const Record &)> &each)
{
    if (!isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), locationText};
    QSqlQuery q(QSqlDatabase::database(connection, false));
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT id, %1 FROM records ORDER BY id").arg(QLatin1String(Columns))))
        return fail(Problem::Failed, q.lastError());
    while (q.next()) {
        Record r = recordOf(q, false);
        if (dialect->isServer())
            r.serverId = r.id;
        if (!each(r))
            break;
    }
    if (q.lastError().isValid())
        return fail(Problem::Failed, q.lastError());
    return Error();
}

Error Database::select(const QString &where, const QVariantList &values, int limit, QVector<Record> *records)
{
    records->clear();
    if (!isOpen())
        return Error{Problem::Failed, QStringLiteral("not open"), locationText};
    QSqlQuery q(handle());
    q.setForwardOnly(true);
    QString statement = QStringLiteral("SELECT id, %1 FROM records").arg(QLatin1String(Columns));
    if (!where.isEmpty())
        statement += QStringLiteral(" WHERE ") + where;
    statement += QStringLiteral(" ORDER BY id");
    if (limit > 0)
        statement += QStringLiteral(" LIMIT %1").arg(limit);
    if (!q.prepare(statement))
        return fail(Problem::Failed, q.lastError());
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return fail(Problem::Failed, q.lastError());
    while (q.next()) {
        records->append(recordOf(q));
        if (dialect->isServer())
            records->last().serverId = records->last().id;
    }
    if (q.lastError().isValid())
        return fail(Problem::Failed, q.lastError());
    return Error();
}

Error append(Record &record, const QString &location)
{
    const QString path = localPath(location);
    fillIdentity(record);
    Error e;
    {
        Database db;
        e = db.open(path);
        if (e.ok())
            e = db.append(record);
    }
    if (e.ok())
        return e;
    // The record is not lost with the file: it waits beside it.
    record.id = 0;
    QString why;
    if (keepAside(record, path, &why))
        e.keptIn = sidePath(path);
    else
        e.detail += QStringLiteral("; the side file %1 could not be written either: %2").arg(sidePath(path), why);
    return e;
}

QStringList unfinished(const QVector<Record> &records)
{
    // Walking back, a started record is finished when a record of its group
    // and kind came after it.
    QSet<QPair<QString, QString>> ended;
    QStringList out;
    for (int i = records.size() - 1; i >= 0; --i) {
        const Record &r = records[i];
        const QPair<QString, QString> key(r.group.isEmpty() ? r.uuid : r.group, r.kind);
        if (!r.started)
            ended.insert(key);
        else if (!ended.contains(key))
            out.prepend(r.uuid);
    }
    return out;
}

QString sidePath(const QString &path)
{
    return path + QStringLiteral(".pending");
}

QByteArray recordLine(const Record &r)
{
    QJsonObject o;
    o.insert(QStringLiteral("time"), timeKey(r.time));
    o.insert(QStringLiteral("device_type"), r.deviceType);
    o.insert(QStringLiteral("serial"), r.serial);
    o.insert(QStringLiteral("serial_text"), r.serialText);
    o.insert(QStringLiteral("firmware"), r.firmware);
    o.insert(QStringLiteral("address"), r.address);
    o.insert(QStringLiteral("level"), r.level);
    o.insert(QStringLiteral("kind"), r.kind);
    o.insert(QStringLiteral("value"), r.value);
    o.insert(QStringLiteral("before"), r.before);
    o.insert(QStringLiteral("after"), r.after);
    o.insert(QStringLiteral("ok"), r.ok);
    o.insert(QStringLiteral("reason"), r.reason);
    o.insert(QStringLiteral("source"), r.source);
    o.insert(QStringLiteral("uuid"), r.uuid);
    o.insert(QStringLiteral("login"), r.login);
    o.insert(QStringLiteral("host"), r.host);
    o.insert(QStringLiteral("prev_hash"), r.prevHash);
    o.insert(QStringLiteral("hash"), r.hash);
    o.insert(QStringLiteral("server_id"), r.serverId);
    if (r.started)
        o.insert(QStringLiteral("started"), true);
    if (!r.group.isEmpty())
        o.insert(QStringLiteral("group"), r.group);
    if (!r.details.isEmpty())
        o.insert(QStringLiteral("details"), r.details);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool recordFromLine(const QByteArray &line, Record *record)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    Record r;
    r.time = QDateTime::fromString(o.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    r.uuid = o.value(QStringLiteral("uuid")).toString();
    r.kind = o.value(QStringLiteral("kind")).toString();
    if (!r.time.isValid() || QUuid::fromString(r.uuid).isNull() || r.kind.isEmpty()
        || !o.value(QStringLiteral("ok")).isBool())
        return false;
    r.time = r.time.toLocalTime();
    r.deviceType = o.value(QStringLiteral("device_type")).toInt();
    r.serial = qint64(o.value(QStringLiteral("serial")).toDouble());
    r.serialText = o.value(QStringLiteral("serial_text")).toString();
    r.firmware = o.value(QStringLiteral("firmware")).toString();
    r.address = o.value(QStringLiteral("address")).toInt();
    r.level = o.value(QStringLiteral("level")).toString();
    r.value = o.value(QStringLiteral("value")).toString();
    r.before = o.value(QStringLiteral("before")).toString();
    r.after = o.value(QStringLiteral("after")).toString();
    r.ok = o.value(QStringLiteral("ok")).toBool();
    r.reason = o.value(QStringLiteral("reason")).toString();
    r.source = o.value(QStringLiteral("source")).toString();
    r.login = o.value(QStringLiteral("login")).toString();
    r.host = o.value(QStringLiteral("host")).toString();
    r.prevHash = o.value(QStringLiteral("prev_hash")).toString();
    r.hash = o.value(QStringLiteral("hash")).toString();
    r.serverId = qint64(o.value(QStringLiteral("server_id")).toDouble());
    r.started = o.value(QStringLiteral("started")).toBool();
    r.group = o.value(QStringLiteral("group")).toString();
    r.details = o.value(QStringLiteral("details")).toString();
    *record = r;
    return true;
}

// --------------------------------------------------------------------- CSV

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QByteArray toCsv(const QVector<Record> &records)
{
    QString out = QStringLiteral("id,time,device_type,serial,serial_text,firmware,address,level,kind,value,"
                                 "before,after,outcome,reason,source,uuid,login,host,group,details\r\n");
    for (const Record &r : records) {
        const QStringList fields = {QString::number(r.id),
                                    r.time.toString(Qt::ISODate),
                                    QString::number(r.deviceType),
                                    QString::number(r.serial),
                                    r.serialText,
                                    r.firmware,
                                    QString::number(r.address),
                                    r.level,
                                    r.kind,
                                    r.value,
                                    r.before,
                                    r.after,
                                    outcomeKey(r),
                                    r.reason,
                                    r.source,
                                    r.uuid,
                                    r.login,
                                    r.host,
                                    r.group,
                                    r.details};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << csvField(f);
        out += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

Error writeCsv(const QVector<Record> &records, const QString &path)
{
    QSaveFile file(path);
    Error e;
    e.path = path;
    if (!file.open(QIODevice::WriteOnly)) {
        e.problem = Problem::FileWrite;
        e.detail = file.errorString();
        return e;
    }
    const QByteArray bytes = toCsv(records);
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        e.problem = Problem::FileWrite;
        e.detail = file.errorString();
    }
    return e;
}

} // namespace Journal

#include "siteregister.h"

#include "conversions.h"
#include "paramtable.h"
#include "paramtext_gui.h"
#include "registerrecords.h"

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstring>

namespace Site {

namespace {

// Columns of a detector row, in the order readDetector() takes them.
const char *const DetectorColumns =
    "d.site_id, d.serial, d.serial_text, d.tag, d.port, d.address, d.device_type, d.write_count, d.firmware, "
    "d.unit, d.range_min, d.range_max, d.limit1, d.limit2, d.block, d.gas, d.first_seen, d.last_read, "
    "d.backup_path, d.backup_time, d.backup_block";
constexpr int DetectorColumnCount = 21;

QString timeKey(const QDateTime &t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODateWithMs) : QString(QLatin1String(""));
}

QDateTime timeOf(const QVariant &v)
{
    const QString text = v.toString();
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODateWithMs).toLocalTime();
}

QString imageHex(const ParamBlock &block)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(&block), Params::StructSize).toHex().toUpper());
}

QString shown(const char *name, const ParamBlock &block)
{
    const Params::ParamDef *def = Params::findParameter(QLatin1String(name));
    return def ? Params::show(*def, block).text : QString();
}

Detector readDetector(const QSqlQuery &q, int first = 0)
{
    Detector d;
    int i = first;
    d.siteId = q.value(i++).toLongLong();
    d.serial = q.value(i++).toLongLong();
    d.serialText = q.value(i++).toString();
    d.tag = q.value(i++).toString();
    d.port = q.value(i++).toString();
    d.address = q.value(i++).toInt();
    d.deviceType = q.value(i++).toInt();
    d.writeCount = quint16(q.value(i++).toUInt());
    d.firmware = q.value(i++).toString();
    d.unit = q.value(i++).toString();
    d.rangeMin = q.value(i++).toString();
    d.rangeMax = q.value(i++).toString();
    d.limit1 = q.value(i++).toString();
    d.limit2 = q.value(i++).toString();
    d.block = QByteArray::fromHex(q.value(i++).toString().toLatin1());
    d.gas = q.value(i++).toString();
    d.firstSeen = timeOf(q.value(i++));
    d.lastRead = timeOf(q.value(i++));
    d.backupPath = q.value(i++).toString();
    d.backupTime = timeOf(q.value(i++));
    d.backupBlock = QByteArray::fromHex(q.value(i++).toString().toLatin1());
    return d;
}

// The name of the site `siteId` (empty when there is none).
Error siteName(Journal::Database &db, qint64 siteId, QString *name)
{
    name->clear();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT name FROM sites WHERE id = ?")))
        return db.fail(Journal::Problem::Failed, q.lastError());
    q.addBindValue(siteId);
    if (!q.exec())
        return db.fail(Journal::Problem::Failed, q.lastError());
    if (q.next())
        *name = q.value(0).toString();
    return Error();
}

// A change the user makes now: made later than the one it replaces, even
// when that one carries a later time (another computer's clock ahead, or
// the same millisecond), so that it shows at once as it did before the
// register's changes were records.
Error editTime(Journal::Database &db, const RegisterRecord &r, QDateTime *time)
{
    *time = QDateTime::currentDateTimeUtc();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT time FROM register_state WHERE site = ? AND serial = ? AND field = ?")))
        return db.fail(Journal::Problem::Failed, q.lastError());
    for (const QVariant &v : QVariantList{r.site, r.serial, r.field})
        q.addBindValue(v);
    if (!q.exec())
        return db.fail(Journal::Problem::Failed, q.lastError());
    if (q.next()) {
        const QDateTime before = QDateTime::fromString(q.value(0).toString(), Qt::ISODateWithMs);
        if (before.isValid() && before >= *time)
            *time = before.addMSecs(1);
    }
    return Error();
}

// Stores the records in one transaction: all or none.
Error storeAll(Journal::Database &db, QVector<RegisterRecord> records, bool edit)
{
    Error e = db.begin();
    for (RegisterRecord &r : records) {
        if (e.ok() && edit)
            e = editTime(db, r, &r.time);
        if (e.ok())
            e = store(db, r);
    }
    if (!e.ok()) {
        db.rollback();
        return e;
    }
    return db.commit();
}

Change changeOf(const Detector &d)
{
    Change c;
    c.serial = d.serial;
    c.serialText = d.serialText;
    c.port = d.port;
    c.address = d.address;
    c.firmware = d.firmware;
    return c;
}

} // namespace

ParamBlock blockOf(const QByteArray &image)
{
    ParamBlock b{};
    std::memcpy(&b, image.constData(), size_t(std::min<int>(image.size(), Params::StructSize)));
    return b;
}

SiteReport::Row reportRow(const Due &due)
{
    const Detector &d = due.detector;
    SiteReport::Row row;
    row.tag = d.tag;
    row.port = d.port;
    row.address = d.address;
    row.serialText = d.serialText;
    row.type = SiteReport::typeText(d.deviceType);
    row.firmware = d.firmware;
    row.gas = d.gas;
    row.unit = d.unit;
    row.range = d.rangeMin + QStringLiteral("–") + d.rangeMax;
    row.limit1 = d.limit1;
    row.limit2 = d.limit2;
    row.lastCalibration = due.lastCalibration.date();
    row.nextDue = due.nextDue;
    row.recordUuid = due.lastUuid;
    row.recordHash = due.lastHash;
    if (!d.backupBlock.isEmpty() && !d.block.isEmpty()) {
        for (const Journal::FieldChange &f :
             Journal::changedFields(blockOf(d.backupBlock), blockOf(d.block), d.writeCount)) {
            const Params::ParamDef *def = Params::findParameter(f.name);
            const QString name = def ? ParamText::label(*def) : f.name;
            row.drift << QStringLiteral("%1: %2 → %3").arg(name, f.before, f.after);
        }
    }
    return row;
}

Register::Register(Journal::Database &journal) : db(journal)
{
}

Error Register::failed(const QSqlQuery &q) const
{
    return db.fail(Journal::Problem::Failed, q.lastError());
}

// ------------------------------------------------------------------- sites

Error Register::createSite(const QString &name, int intervalDays, Info *site)
{
    Info there;
    Error e = findSite(name, &there);
    if (!e.ok())
        return e;
    if (there.id != 0)
        return Error{Journal::Problem::Failed, QStringLiteral("there is a site named %1 already").arg(name),
                     db.location()};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVector<RegisterRecord> records;
    RegisterRecord created;
    created.time = now;
    created.site = name;
    created.field = QStringLiteral("site");
    created.value = QJsonObject{{QStringLiteral("created"), timeKey(now)}};
    records << created;
    if (intervalDays != DefaultIntervalDays) {
        RegisterRecord interval = created;
        interval.field = QStringLiteral("interval");
        interval.value = QJsonObject{{QStringLiteral("days"), intervalDays}};
        records << interval;
    }
    e = storeAll(db, records, false);
    if (e.ok() && site)
        return findSite(name, site);
    return e;
}

Error Register::sites(QVector<Info> *sites)
{
    sites->clear();
    QSqlQuery q(db.handle());
    if (!q.exec(QStringLiteral("SELECT id, name, calibration_interval_days, created FROM sites ORDER BY name")))
        return failed(q);
    while (q.next())
        sites->append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(), timeOf(q.value(3))});
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::findSite(const QString &name, Info *site)
{
    *site = Info();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT id, name, calibration_interval_days, created FROM sites WHERE name = ?")))
        return failed(q);
    q.addBindValue(name);
    if (!q.exec())
        return failed(q);
    if (q.next())
        *site = {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(), timeOf(q.value(3))};
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::setInterval(qint64 siteId, int days)
{
    RegisterRecord r;
    const Error e = siteName(db, siteId, &r.site);
    if (!e.ok() || r.site.isEmpty())
        return e;
    r.field = QStringLiteral("interval");
    r.value = QJsonObject{{QStringLiteral("days"), days}};
    return storeAll(db, {r}, true);
}

// --------------------------------------------------------------- detectors

Error Register::detectors(qint64 siteId, QVector<Detector> *detectors)
{
    detectors->clear();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT %1 FROM detectors d WHERE d.site_id = ? ORDER BY d.port, d.address")
                       .arg(QLatin1String(DetectorColumns))))
        return failed(q);
    q.addBindValue(siteId);
    if (!q.exec())
        return failed(q);
    while (q.next())
        detectors->append(readDetector(q));
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::findDetector(qint64 siteId, const QString &serial, Detector *detector)
{
    *detector = Detector();
    bool digits = false;
    const qint64 number = serial.trimmed().toLongLong(&digits);
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT %1 FROM detectors d WHERE d.site_id = ? AND %2")
                       .arg(QLatin1String(DetectorColumns),
                            digits ? QStringLiteral("d.serial = ?") : QStringLiteral("UPPER(d.serial_text) = ?"))))
        return failed(q);
    q.addBindValue(siteId);
    q.addBindValue(digits ? QVariant(number) : QVariant(serial.trimmed().toUpper()));
    if (!q.exec())
        return failed(q);
    if (q.next())
        *detector = readDetector(q);
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::placeOf(qint64 serial, QString *tag, int *intervalDays)
{
    tag->clear();
    *intervalDays = 0;
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT d.tag, s.calibration_interval_days FROM detectors d "
                                  "JOIN sites s ON s.id = d.site_id WHERE d.serial = ? "
                                  "ORDER BY d.last_read DESC LIMIT 1")))
        return failed(q);
    q.addBindValue(serial);
    if (!q.exec())
        return failed(q);
    if (q.next()) {
        *tag = q.value(0).toString();
        *intervalDays = q.value(1).toInt();
    }
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::setTag(qint64 siteId, qint64 serial, const QString &tag)
{
    return setDetectorField(siteId, serial, QStringLiteral("tag"), tag);
}

Error Register::setGas(qint64 siteId, qint64 serial, const QString &gas)
{
    return setDetectorField(siteId, serial, QStringLiteral("gas"), gas);
}

Error Register::setDetectorField(qint64 siteId, qint64 serial, const QString &field, const QString &value)
{
    Detector there;
    Error e = findDetector(siteId, QString::number(serial), &there);
    if (!e.ok() || there.siteId == 0)
        return e;   // a detector not in the register has nothing to set
    RegisterRecord r;
    e = siteName(db, siteId, &r.site);
    if (!e.ok())
        return e;
    r.serial = serial;
    r.field = field;
    r.value = QJsonObject{{field, value.isNull() ? QStringLiteral("") : value}};
    return storeAll(db, {r}, true);
}

Error Register::moves(qint64 siteId, qint64 serial, QVector<Move> *moves)
{
    moves->clear();
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral("SELECT time, old_port, old_address, new_port, new_address FROM detector_moves "
                                  "WHERE site_id = ? AND serial = ? ORDER BY time, id")))
        return failed(q);
    q.addBindValue(siteId);
    q.addBindValue(serial);
    if (!q.exec())
        return failed(q);
    while (q.next()) {
        Move m;
        m.serial = serial;
        m.time = timeOf(q.value(0));
        m.oldPort = q.value(1).toString();
        m.oldAddress = q.value(2).toInt();
        m.newPort = q.value(3).toString();
        m.newAddress = q.value(4).toInt();
        moves->append(m);
    }
    return q.lastError().isValid() ? failed(q) : Error();
}

// ------------------------------------------------------------------ survey

Error Register::applySurvey(qint64 siteId, const QVector<LineWorker::DeviceRead> &reads, const QDateTime &time,
                            SurveyChanges *changes)
{
    *changes = SurveyChanges();
    // The register as it stands is read under the write lock, so that no
    // other program's survey comes in between.
    Error e = db.begin();
    if (!e.ok())
        return e;
    QVector<Detector> known;
    QString site;
    e = detectors(siteId, &known);
    if (e.ok())
        e = siteName(db, siteId, &site);
    if (!e.ok()) {
        db.rollback();
        return e;
    }
    QHash<qint64, Detector> bySerial;
    for (const Detector &d : known)
        bySerial.insert(d.serial, d);

    QSet<qint64> seen;
    for (const LineWorker::DeviceRead &read : reads) {
        if (!read.ok() || !Params::isDetector(read.deviceType)) {
            ++changes->failedReads;
            continue;
        }
        const ParamBlock &b = read.block;
        const qint64 serial = b.SerialNum;
        if (seen.contains(serial))
            continue;
        seen.insert(serial);

        Detector now;
        now.serial = serial;
        now.serialText = Conv::serialText(b.SerialNum, b.DeviceTypeReg);
        now.port = read.port;
        now.address = read.address;
        now.firmware = Conv::fieldText(b.IdFirmwareVersion, int(sizeof b.IdFirmwareVersion));
        Change change = changeOf(now);

        RegisterRecord r;
        r.time = time;
        r.site = site;
        r.serial = serial;
        const auto was = bySerial.constFind(serial);
        if (was == bySerial.constEnd()) {
            changes->added.append(change);
        } else {
            const Detector &old = was.value();
            if (old.port != now.port || old.address != now.address) {
                Change moved = change;
                moved.oldPort = old.port;
                moved.oldAddress = old.address;
                changes->moved.append(moved);
                RegisterRecord move = r;
                move.field = QStringLiteral("move");
                move.value = QJsonObject{{QStringLiteral("old_port"), old.port},
                                         {QStringLiteral("old_address"), old.address},
                                         {QStringLiteral("new_port"), now.port},
                                         {QStringLiteral("new_address"), now.address}};
                e = store(db, move);
                if (!e.ok())
                    break;
            }
            if (!old.firmware.isEmpty() && !now.firmware.isEmpty() && old.firmware != now.firmware) {
                Change fw = change;
                fw.oldFirmware = old.firmware;
                changes->firmware.append(fw);
            }
            if (!old.backupBlock.isEmpty()) {
                Change drift = change;
                drift.drift = Journal::changedFields(blockOf(old.backupBlock),
                                                     blockOf(QByteArray(reinterpret_cast<const char *>(&b),
                                                                        Params::StructSize)),
                                                     read.writeCount);
                if (!drift.drift.isEmpty())
                    changes->drifted.append(drift);
            }
            // A read without identification keeps the firmware known.
            if (now.firmware.isEmpty())
                now.firmware = old.firmware;
        }
        r.field = QStringLiteral("read");
        r.value = QJsonObject{{QStringLiteral("port"), now.port},
                              {QStringLiteral("address"), now.address},
                              {QStringLiteral("device_type"), int(read.deviceType)},
                              {QStringLiteral("write_count"), int(read.writeCount)},
                              {QStringLiteral("firmware"), now.firmware},
                              {QStringLiteral("serial_text"), now.serialText},
                              {QStringLiteral("unit"), shown("unit", b)},
                              {QStringLiteral("range_min"), shown("range_min", b)},
                              {QStringLiteral("range_max"), shown("range_max", b)},
                              {QStringLiteral("limit1"), shown("limit1", b)},
                              {QStringLiteral("limit2"), shown("limit2", b)},
                              {QStringLiteral("block"), imageHex(b)}};
        e = store(db, r);
        if (!e.ok())
            break;
    }
    if (!e.ok()) {
        db.rollback();
        return e;
    }
    for (const Detector &d : known)
        if (!seen.contains(d.serial))
            changes->missing.append(changeOf(d));
    return db.commit();
}

Error Register::recordBackup(qint64 siteId, qint64 serial, const QString &path, const ParamBlock &block,
                             const QDateTime &time)
{
    Detector there;
    Error e = findDetector(siteId, QString::number(serial), &there);
    if (!e.ok())
        return e;
    if (there.siteId == 0)
        return Error{Journal::Problem::Failed,
                     QStringLiteral("detector %1 is not in the site's register").arg(serial), QString()};
    RegisterRecord r;
    e = siteName(db, siteId, &r.site);
    if (!e.ok())
        return e;
    r.time = time;
    r.serial = serial;
    r.field = QStringLiteral("backup");
    r.value = QJsonObject{{QStringLiteral("path"), path.isNull() ? QStringLiteral("") : path},
                          {QStringLiteral("time"), timeKey(time)},
                          {QStringLiteral("block"), imageHex(block)}};
    return storeAll(db, {r}, false);
}

// ---------------------------------------------------------------- due dates

Error Register::dueOf(const QString &where, const QVariantList &values, const QDate &today, QVector<Due> *due)
{
    due->clear();
    // The newest successful gas zero or span of each serial number, and
    // that record's UUID and hash (the newer id of two at the same time);
    // the newest function check passed.
    QSqlQuery q(db.handle());
    if (!q.prepare(QStringLiteral(
            "SELECT %1, s.name, s.calibration_interval_days, c.last, r.uuid, r.hash, f.last FROM detectors d "
            "JOIN sites s ON s.id = d.site_id "
            "LEFT JOIN (SELECT serial, MAX(time) AS last FROM records WHERE outcome = 'ok' "
            "AND kind IN ('%2', '%3') GROUP BY serial) c ON c.serial = d.serial "
            "LEFT JOIN records r ON r.id = (SELECT id FROM records WHERE serial = d.serial AND outcome = 'ok' "
            "AND kind IN ('%2', '%3') ORDER BY time DESC, id DESC LIMIT 1) "
            "LEFT JOIN (SELECT serial, MAX(time) AS last FROM records WHERE outcome = 'ok' "
            "AND kind = '%5' GROUP BY serial) f ON f.serial = d.serial "
            "%4 ORDER BY s.name, d.port, d.address")
                       .arg(QLatin1String(DetectorColumns), Journal::kindKey(Journal::Kind::GasZero),
                            Journal::kindKey(Journal::Kind::GasSpan), where,
                            Journal::kindKey(Journal::Kind::FunctionCheck))))
        return failed(q);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec())
        return failed(q);
    while (q.next()) {
        Due d;
        d.detector = readDetector(q);
        d.site = q.value(DetectorColumnCount).toString();
        const int interval = q.value(DetectorColumnCount + 1).toInt();
        d.lastCalibration = timeOf(q.value(DetectorColumnCount + 2));
        d.lastUuid = q.value(DetectorColumnCount + 3).toString();
        d.lastHash = q.value(DetectorColumnCount + 4).toString();
        d.lastFunctionCheck = timeOf(q.value(DetectorColumnCount + 5));
        if (d.lastCalibration.isValid())
            d.nextDue = d.lastCalibration.date().addDays(interval);
        d.status = SiteReport::dueOn(d.nextDue, today);
        due->append(d);
    }
    return q.lastError().isValid() ? failed(q) : Error();
}

Error Register::calibration(qint64 siteId, const QDate &today, QVector<Due> *due)
{
    return dueOf(QStringLiteral("WHERE d.site_id = ?"), {siteId}, today, due);
}

Error Register::due(int days, const QDate &today, QVector<Due> *due)
{
    QVector<Due> all;
    const Error e = dueOf(QString(), {}, today, &all);
    due->clear();
    for (const Due &d : all)
        if (d.nextDue.isValid() && d.nextDue <= today.addDays(days))
            due->append(d);
    std::stable_sort(due->begin(), due->end(), [](const Due &a, const Due &b) { return a.nextDue < b.nextDue; });
    return e;
}

} // namespace Site

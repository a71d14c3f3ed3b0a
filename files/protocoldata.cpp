#include "protocoldata.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

namespace Protocol {

namespace {

using FunctionCheck::Reason;

const struct {
    Reason reason;
    const char *key;
} reasonKeys[] = {
    {Reason::NoReadings, "no_readings"},
    {Reason::NotStable, "not_stable"},
    {Reason::OutOfTolerance, "out_of_tolerance"},
    {Reason::Limit1NotCrossed, "limit1_not_crossed"},
    {Reason::Limit2NotCrossed, "limit2_not_crossed"},
    {Reason::NotReturned, "not_returned"},
    {Reason::AsLeftMissing, "as_left_missing"},
    {Reason::AsLeftOutOfTolerance, "as_left_out_of_tolerance"},
};

// A reading not taken (NaN) is null.
QJsonValue number(double v)
{
    return qIsNaN(v) ? QJsonValue() : QJsonValue(v);
}

double numberOf(const QJsonValue &v)
{
    return v.isDouble() ? v.toDouble() : qQNaN();
}

QJsonObject thresholdJson(const FunctionCheck::Threshold &t)
{
    return {{"value", t.value}, {"decreasing", t.decreasing}, {"enabled", t.enabled}};
}

FunctionCheck::Threshold thresholdOf(const QJsonObject &o)
{
    FunctionCheck::Threshold t;
    t.value = o.value(QLatin1String("value")).toDouble();
    t.decreasing = o.value(QLatin1String("decreasing")).toBool();
    t.enabled = o.value(QLatin1String("enabled")).toBool(true);
    return t;
}

QJsonObject limitsJson(const FunctionCheck::DeviceLimits &l)
{
    return {{"range_min", l.rangeMin},
            {"range_max", l.rangeMax},
            {"limit1", thresholdJson(l.limit1)},
            {"limit2", thresholdJson(l.limit2)},
            {"decimals", l.decimals}};
}

FunctionCheck::DeviceLimits limitsOf(const QJsonObject &o)
{
    FunctionCheck::DeviceLimits l;
    l.rangeMin = o.value(QLatin1String("range_min")).toDouble();
    l.rangeMax = o.value(QLatin1String("range_max")).toDouble();
    l.limit1 = thresholdOf(o.value(QLatin1String("limit1")).toObject());
    l.limit2 = thresholdOf(o.value(QLatin1String("limit2")).toObject());
    l.decimals = o.value(QLatin1String("decimals")).toInt();
    return l;
}

QJsonObject toleranceJson(const FunctionCheck::Tolerance &t)
{
    return {{"percent_of_gas", t.percentOfGas}, {"percent_of_range", t.percentOfRange}};
}

FunctionCheck::Tolerance toleranceOf(const QJsonObject &o)
{
    FunctionCheck::Tolerance t;
    t.percentOfGas = o.value(QLatin1String("percent_of_gas")).toDouble(t.percentOfGas);
    t.percentOfRange = o.value(QLatin1String("percent_of_range")).toDouble(t.percentOfRange);
    return t;
}

QJsonObject crossingJson(const FunctionCheck::Crossing &c)
{
    return {{"expected", c.expected}, {"crossed", c.crossed}, {"crossed_at", double(c.crossedAt)},
            {"returned", c.returned}, {"returned_at", double(c.returnedAt)}};
}

FunctionCheck::Crossing crossingOf(const QJsonObject &o)
{
    FunctionCheck::Crossing c;
    c.expected = o.value(QLatin1String("expected")).toBool();
    c.crossed = o.value(QLatin1String("crossed")).toBool();
    c.crossedAt = qint64(o.value(QLatin1String("crossed_at")).toDouble(-1));
    c.returned = o.value(QLatin1String("returned")).toBool();
    c.returnedAt = qint64(o.value(QLatin1String("returned_at")).toDouble(-1));
    return c;
}

QString blockHex(const ParamBlock &b)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(&b), sizeof b).toHex());
}

bool blockOf(const QJsonValue &v, ParamBlock *b)
{
    const QByteArray bytes = QByteArray::fromHex(v.toString().toLatin1());
    if (bytes.size() != int(sizeof *b))
        return false;
    memcpy(b, bytes.constData(), sizeof *b);
    return true;
}

QString dateText(const QDate &d)
{
    return d.isValid() ? d.toString(Qt::ISODate) : QString();
}

QString reading(double v, int decimals)
{
    return qIsNaN(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

} // namespace

QString detailsOf(const Data &d)
{
    QJsonObject o;
    o.insert("kind", d.kind == Kind::Calibration ? "calibration" : "function_check");
    o.insert("time", d.time.toUTC().toString(Qt::ISODateWithMs));
    o.insert("organisation", d.organisation);
    o.insert("technician", d.technician);
    o.insert("device", QJsonObject{{"type", d.device.type},
                                   {"serial_text", d.device.serialText},
                                   {"firmware", d.device.firmware},
                                   {"address", d.device.address},
                                   {"tag", d.device.tag}});
    o.insert("unit", d.unit);
    o.insert("gas", QJsonObject{{"name", d.gas.name},
                                {"concentration", d.gas.concentration},
                                {"unit", d.gas.unit},
                                {"cylinder", d.gas.cylinder},
                                {"expiry", dateText(d.gas.expiry)},
                                {"expired_confirmed", d.expiredConfirmed}});
    o.insert("next_due", dateText(d.nextDue));
    if (d.kind == Kind::Calibration) {
        const FunctionCheck::CalibrationSession &c = d.calibration;
        o.insert("limits", limitsJson(c.limits));
        o.insert("tolerance", toleranceJson(c.tolerance));
        o.insert("calibration", QJsonObject{{"zero_gas", c.zeroGas},
                                            {"span_gas", c.spanGas},
                                            {"found_zero", number(c.foundZero)},
                                            {"found_span", number(c.foundSpan)},
                                            {"left_zero", number(c.leftZero)},
                                            {"left_span", number(c.leftSpan)}});
        o.insert("before", blockHex(d.before));
        o.insert("after", blockHex(d.after));
    } else {
        const FunctionCheck::CheckSetup &s = d.check;
        const FunctionCheck::CheckResult &r = d.result;
        o.insert("limits", limitsJson(s.limits));
        o.insert("tolerance", toleranceJson(s.tolerance));
        o.insert("check", QJsonObject{{"gas", s.gas},
                                      {"gas_applied", double(s.gasApplied)},
                                      {"gas_removed", double(s.gasRemoved)},
                                      {"stable_within", double(s.stableWithinMs)}});
        QJsonArray reasons;
        for (Reason reason : r.reasons)
            for (const auto &k : reasonKeys)
                if (k.reason == reason)
                    reasons.append(QLatin1String(k.key));
        o.insert("result", QJsonObject{{"have_readings", r.haveReadings},
                                       {"baseline", r.baseline},
                                       {"peak", r.peak},
                                       {"peak_at", double(r.peakAt)},
                                       {"stable", r.stable},
                                       {"final", r.finalReading},
                                       {"stable_at", double(r.stableAt)},
                                       {"t90", double(r.t90)},
                                       {"allowed", r.allowed},
                                       {"in_tolerance", r.inTolerance},
                                       {"limit1", crossingJson(r.limit1)},
                                       {"limit2", crossingJson(r.limit2)},
                                       {"reasons", reasons}});
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

bool fromDetails(const QString &details, Data *out)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(details.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QString kind = o.value(QLatin1String("kind")).toString();
    if (kind != QLatin1String("calibration") && kind != QLatin1String("function_check"))
        return false;
    Data d;
    d.kind = kind == QLatin1String("calibration") ? Kind::Calibration : Kind::FunctionCheck;
    d.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), Qt::ISODateWithMs).toLocalTime();
    d.organisation = o.value(QLatin1String("organisation")).toString();
    d.technician = o.value(QLatin1String("technician")).toString();
    const QJsonObject dev = o.value(QLatin1String("device")).toObject();
    d.device.type = dev.value(QLatin1String("type")).toInt();
    d.device.serialText = dev.value(QLatin1String("serial_text")).toString();
    d.device.firmware = dev.value(QLatin1String("firmware")).toString();
    d.device.address = dev.value(QLatin1String("address")).toInt();
    d.device.tag = dev.value(QLatin1String("tag")).toString();
    d.unit = o.value(QLatin1String("unit")).toString();
    const QJsonObject gas = o.value(QLatin1String("gas")).toObject();
    d.gas.name = gas.value(QLatin1String("name")).toString();
    d.gas.concentration = gas.value(QLatin1String("concentration")).toDouble();
    d.gas.unit = gas.value(QLatin1String("unit")).toString();
    d.gas.cylinder = gas.value(QLatin1String("cylinder")).toString();
    d.gas.expiry = QDate::fromString(gas.value(QLatin1String("expiry")).toString(), Qt::ISODate);
    d.expiredConfirmed = gas.value(QLatin1String("expired_confirmed")).toBool();
    d.nextDue = QDate::fromString(o.value(QLatin1String("next_due")).toString(), Qt::ISODate);
    const FunctionCheck::DeviceLimits limits = limitsOf(o.value(QLatin1String("limits")).toObject());
    const FunctionCheck::Tolerance tolerance = toleranceOf(o.value(QLatin1String("tolerance")).toObject());
    if (d.kind == Kind::Calibration) {
        FunctionCheck::CalibrationSession &c = d.calibration;
        const QJsonObject co = o.value(QLatin1String("calibration")).toObject();
        c.limits = limits;
        c.tolerance = tolerance;
        c.zeroGas = co.value(QLatin1String("zero_gas")).toDouble();
        c.spanGas = co.value(QLatin1String("span_gas")).toDouble();
        c.foundZero = numberOf(co.value(QLatin1String("found_zero")));
        c.foundSpan = numberOf(co.value(QLatin1String("found_span")));
        c.leftZero = numberOf(co.value(QLatin1String("left_zero")));
        c.leftSpan = numberOf(co.value(QLatin1String("left_span")));
        if (!blockOf(o.value(QLatin1String("before")), &d.before) || !blockOf(o.value(QLatin1String("after")), &d.after))
            return false;
    } else {
        FunctionCheck::CheckSetup &s = d.check;
        const QJsonObject so = o.value(QLatin1String("check")).toObject();
        s.limits = limits;
        s.tolerance = tolerance;
        s.gas = so.value(QLatin1String("gas")).toDouble();
        s.gasApplied = qint64(so.value(QLatin1String("gas_applied")).toDouble());
        s.gasRemoved = qint64(so.value(QLatin1String("gas_removed")).toDouble(-1));
        s.stableWithinMs = qint64(so.value(QLatin1String("stable_within")).toDouble(s.stableWithinMs));
        FunctionCheck::CheckResult &r = d.result;
        const QJsonObject ro = o.value(QLatin1String("result")).toObject();
        r.haveReadings = ro.value(QLatin1String("have_readings")).toBool();
        r.baseline = ro.value(QLatin1String("baseline")).toDouble();
        r.peak = ro.value(QLatin1String("peak")).toDouble();
        r.peakAt = qint64(ro.value(QLatin1String("peak_at")).toDouble(-1));
        r.stable = ro.value(QLatin1String("stable")).toBool();
        r.finalReading = ro.value(QLatin1String("final")).toDouble();
        r.stableAt = qint64(ro.value(QLatin1String("stable_at")).toDouble(-1));
        r.t90 = qint64(ro.value(QLatin1String("t90")).toDouble(-1));
        r.allowed = ro.value(QLatin1String("allowed")).toDouble();
        r.inTolerance = ro.value(QLatin1String("in_tolerance")).toBool();
        r.limit1 = crossingOf(ro.value(QLatin1String("limit1")).toObject());
        r.limit2 = crossingOf(ro.value(QLatin1String("limit2")).toObject());
        for (const QJsonValue &v : ro.value(QLatin1String("reasons")).toArray()) {
            bool known = false;
            for (const auto &k : reasonKeys)
                if (v.toString() == QLatin1String(k.key)) {
                    r.reasons.append(k.reason);
                    known = true;
                }
            if (!known)   // a reason a newer program knows: still a failure
                r.reasons.append(Reason::NoReadings);
        }
    }
    *out = d;
    return true;
}

void describe(Journal::Record &r, const Data &d, const QString &group)
{
    r.group = group;
    r.details = detailsOf(d);
    QString gas = QStringLiteral("%1 %2 %3").arg(d.gas.name, QString::number(d.gas.concentration), d.gas.unit).trimmed();
    if (!d.gas.cylinder.isEmpty())
        gas += QStringLiteral(", cylinder %1").arg(d.gas.cylinder);
    if (d.gas.expiry.isValid())
        gas += QStringLiteral(", expires %1").arg(dateText(d.gas.expiry));
    r.value = gas;
    if (d.kind == Kind::Calibration) {
        const FunctionCheck::CalibrationSession &c = d.calibration;
        const int n = c.limits.decimals;
        r.before = QStringLiteral("zero=%1; span=%2").arg(reading(c.foundZero, n), reading(c.foundSpan, n));
        r.after = QStringLiteral("zero=%1; span=%2").arg(reading(c.leftZero, n), reading(c.leftSpan, n));
    } else {
        const FunctionCheck::CheckResult &res = d.result;
        const int n = d.check.limits.decimals;
        r.before = QStringLiteral("baseline=%1").arg(reading(res.baseline, n));
        r.after = QStringLiteral("peak=%1; final=%2; t90=%3")
                      .arg(reading(res.peak, n), reading(res.finalReading, n),
                           res.t90 < 0 ? QStringLiteral("-")
                                       : QString::number(double(res.t90) / 1000.0, 'f', 1) + QStringLiteral(" s"));
    }
}

Journal::Error sessionRecords(Journal::Database &db, const QString &id, QVector<Journal::Record> *records,
                              QString *why)
{
    records->clear();
    QVector<Journal::Record> found;
    bool number = false;
    const qint64 n = id.toLongLong(&number);
    Journal::Error e;
    if (number)
        e = db.select(QStringLiteral("id = ?"), {n}, 1, &found);
    else if (!QUuid::fromString(id.trimmed()).isNull())
        e = db.select(QStringLiteral("uuid = ?"), {id.trimmed().toLower()}, 1, &found);
    else {
        *why = QStringLiteral("%1 is neither a record's number nor its UUID").arg(id);
        return e;
    }
    if (!e.ok())
        return e;
    if (found.isEmpty()) {
        *why = QStringLiteral("there is no record %1").arg(id);
        return e;
    }
    if (found.first().group.isEmpty()) {
        *why = QStringLiteral("record %1 belongs to no calibration session or function check").arg(id);
        return e;
    }
    e = db.select(QStringLiteral("group_uuid = ?"), {found.first().group}, 0, records);
    if (e.ok() && !fromRecords(*records, nullptr)) {
        *why = QStringLiteral("record %1's session has no readings recorded (it did not get past its start)").arg(id);
        records->clear();
    }
    return e;
}

bool fromRecords(const QVector<Journal::Record> &records, Data *data)
{
    for (int i = records.size() - 1; i >= 0; --i) {
        Data d;
        if (records[i].details.isEmpty() || !fromDetails(records[i].details, &d))
            continue;
        if (!data)
            return true;
        for (const Journal::Record &r : records)
            if (!r.started)
                d.records.append({r.uuid, r.hash});
        *data = d;
        return true;
    }
    return false;
}

} // namespace Protocol

#include "siteapply.h"

#include "command.h"
#include "conversions.h"
#include "hexfile.h"
#include "journal.h"
#include "lineworker.h"
#include "paramtable.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>

#include <algorithm>

namespace SiteApply {

namespace {

QString withUnit(const Params::Shown &s)
{
    return s.unit.isEmpty() ? s.text : s.text + QLatin1Char(' ') + s.unit;
}

// Unit and discreteness first: the scaled values that follow are read in
// the detector's units as they will be.
int order(const QString &name)
{
    const Params::ParamDef *def = Params::findParameter(name);
    if (def && (def->kind == Params::Kind::Unit || def->kind == Params::Kind::Discreteness))
        return 0;
    return 1;
}

void mark(Outcome &o, Status status, Why why, const QString &reason)
{
    o.status = status;
    o.why = why;
    o.reason = reason;
}

} // namespace

Values valuesFrom(const ParamBlock &source, const QStringList &names)
{
    Values values;
    for (const Params::ParamDef &def : Params::parameters()) {
        const QString name = QLatin1String(def.name);
        const bool wanted = names.isEmpty()
            ? def.level != Params::SetLevel::ReadOnly && !Restore::isOwnField(def)
            : names.contains(name);
        if (wanted)
            values.append({name, Params::show(def, source).text});
    }
    return values;
}

ValuesFor sameValues(const Values &values)
{
    return [values](const ParamBlock &) { return values; };
}

ValuesFor gasValues(quint16 limit1Word, quint16 limit2Word)
{
    return [limit1Word, limit2Word](const ParamBlock &device) {
        ParamBlock b = device;
        b.Limit1 = limit1Word;
        b.Limit2 = limit2Word;
        return valuesFrom(b, {QStringLiteral("limit1"), QStringLiteral("limit1_direction"), QStringLiteral("limit2"),
                              QStringLiteral("limit2_direction")});
    };
}

Preview preview(const ParamBlock &device, qint16 deviceType, quint16 writeCount, const Values &values,
                const QString &level)
{
    Preview p;
    Values sorted = values;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto &a, const auto &b) { return order(a.first) < order(b.first); });
    ParamBlock wanted = device;
    QStringList asked;
    for (const auto &v : sorted) {
        const Params::ParamDef *def = Params::findParameter(v.first);
        if (!def) {
            p.refused.append({v.first, QStringLiteral("no such parameter")});
            continue;
        }
        const QString error = Params::apply(*def, v.second, wanted);
        if (!error.isEmpty())
            p.refused.append({v.first, error});
        else
            asked.append(v.first);
    }
    p.plan = Restore::plan(device, wanted, level, deviceType, writeCount, false);
    // As everywhere thresholds are written: none above the upper range value,
    // and nothing the discreteness cannot hold.
    for (const Params::ParamDef *def : p.plan.notConvertible)
        p.refused.append({QLatin1String(def->name), QStringLiteral("does not fit the discreteness")});
    const QString rule = Params::thresholdRuleText(p.plan.result);
    if (!rule.isEmpty())
        p.refused.append({QString(), rule});
    for (const Restore::Field &f : p.plan.fields) {
        const QString name = QLatin1String(f.def->name);
        if (f.changes)
            p.changes.append({name, withUnit(Params::show(*f.def, device)), withUnit(Params::show(*f.def, p.plan.result))});
        else if (f.fileDiffers && f.kept != Restore::Kept::No && asked.contains(name))
            p.kept.append({name, f.kept});
    }
    return p;
}

Runner::Runner(const QVector<Target> &targets, bool stopAtFirstFailure, Action action, QObject *parent)
    : QObject(parent), targets(targets), stopAtFirst(stopAtFirstFailure), action(std::move(action)),
      results(size_t(targets.size()))
{
    qRegisterMetaType<SiteApply::Outcome>();
    for (int i = 0; i < targets.size(); ++i)
        results[size_t(i)].target = targets[i];
}

Runner::Runner(const QVector<Target> &targets, const Values &values, const QString &level, bool stopAtFirstFailure,
               const QString &source, const QString &what, QObject *parent)
    : Runner(targets, sameValues(values), level, stopAtFirstFailure, source, what, parent)
{
}

Runner::Runner(const QVector<Target> &targets, const ValuesFor &values, const QString &level, bool stopAtFirstFailure,
               const QString &source, const QString &what, QObject *parent)
    : Runner(targets, stopAtFirstFailure, {}, parent)
{
    action = [this, values, level, source, what](Command &link, Outcome &o) {
        change(link, o, values, level, source, what);
    };
}

std::unique_ptr<Runner> Runner::backup(const QVector<Target> &targets, const QString &dir, QObject *parent)
{
    const QDate today = QDate::currentDate();
    Action save = [dir, today](Command &link, Outcome &o) {
        // A parameter file never carries the simulation switched on.
        ParamBlock image = link.DeviceParams;
        image.ImmitConcOn = 0;
        o.path = QDir(dir).filePath(
            backupFileName(Conv::serialText(image.SerialNum, image.DeviceTypeReg), today));
        o.block = image;
        if (saveHexFile(o.path, reinterpret_cast<const quint8 *>(&image), HexFile::BlockBytes) == SaveResult::Ok)
            mark(o, Status::Done, Why::None, QString());
        else
            mark(o, Status::Failed, Why::FileNotWritten, QStringLiteral("the file could not be written"));
    };
    return std::unique_ptr<Runner>(new Runner(targets, false, save, parent));
}

Runner::~Runner()
{
    for (auto &w : workers)
        w->cancel();
    workers.clear();
}

int Runner::count(Status status) const
{
    return int(std::count_if(results.begin(), results.end(), [status](const Outcome &o) { return o.status == status; }));
}

void Runner::start()
{
    // The detectors of each line, in the order given, on that line's worker.
    QStringList ports;
    QVector<QVector<int>> byLine;
    for (int i = 0; i < targets.size(); ++i) {
        int line = int(ports.indexOf(targets[i].port));
        if (line < 0) {
            line = ports.size();
            ports.append(targets[i].port);
            byLine.append(QVector<int>());
        }
        byLine[line].append(i);
    }
    running = ports.size();
    if (running == 0) {
        emit finished();
        return;
    }
    for (int line = 0; line < ports.size(); ++line) {
        workers.push_back(std::make_unique<LineWorker>(ports[line]));
        LineWorker *w = workers.back().get();
        connect(w, &LineWorker::idle, this, [this] {
            if (--running == 0)
                emit finished();
        });
        const QVector<int> indexes = byLine[line];
        w->post([this, w, indexes](Command &link) { runLine(link, w, indexes); });
    }
}

Runner &Runner::run()
{
    QEventLoop loop;
    connect(this, &Runner::finished, &loop, &QEventLoop::quit);
    start();
    if (running > 0)
        loop.exec();
    return *this;
}

void Runner::cancel()
{
    cancelled = true;
    stopLines();
}

void Runner::stopLines()
{
    for (auto &w : workers)
        w->cancel();
}

// On the line's own thread.  Each outcome is written by this line only.
void Runner::runLine(Command &link, LineWorker *worker, const QVector<int> &indexes)
{
    auto finish = [this](Outcome &o) {
        emit detectorDone(o);
        if (o.status == Status::Failed && stopAtFirst)
            stopLines();
    };
    const bool open = DeviceOps::open(link, worker->port());
    for (const int i : indexes) {
        Outcome &o = results[size_t(i)];
        if (!open) {
            mark(o, Status::Failed, Why::LineNotOpened,
                 QStringLiteral("the line could not be opened: %1").arg(link.errorString()));
        } else if (worker->cancelled()) {
            if (cancelled)
                mark(o, Status::Skipped, Why::Cancelled, QStringLiteral("cancelled"));
            else
                mark(o, Status::Skipped, Why::Stopped, QStringLiteral("stopped after a failure"));
        } else {
            link.SlaveAddress = quint16(o.target.address);
            o.op = DeviceOps::readDevice(link);
            if (!o.op.ok()) {
                mark(o, Status::Failed, Why::ReadFailed, QStringLiteral("reading it failed"));
            } else if (link.DeviceParams.SerialNum != o.target.serial) {
                mark(o, Status::Skipped, Why::OtherDetector,
                     QStringLiteral("another detector answers there (serial %1)").arg(link.DeviceParams.SerialNum));
            } else {
                o.block = link.DeviceParams;
                o.deviceType = link.DeviceType;
                o.writeCount = link.WriteCount;
                action(link, o);
            }
        }
        finish(o);
    }
    link.closePort();
}

void Runner::change(Command &link, Outcome &o, const ValuesFor &values, const QString &level, const QString &source,
                    const QString &what)
{
    link.UserName = level;   // the journal names it
    const ParamBlock before = link.DeviceParams;
    const Preview p = preview(before, link.DeviceType, link.WriteCount, values(before), level);
    o.changes = p.changes;
    if (!p.refused.isEmpty()) {
        mark(o, Status::Skipped, Why::Refused,
             p.refused[0].first.isEmpty()
                 ? p.refused[0].second
                 : QStringLiteral("%1 not accepted: %2").arg(p.refused[0].first, p.refused[0].second));
        return;
    }
    if (o.target.previewed) {
        const Values shownValues = values(o.target.shown);
        const Preview confirmed = preview(o.target.shown, link.DeviceType, link.WriteCount, shownValues, level);
        auto same = [](const QVector<Change> &a, const QVector<Change> &b) {
            return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Change &x, const Change &y) {
                return x.name == y.name && x.before == y.before && x.after == y.after;
            });
        };
        if (!same(confirmed.changes, p.changes)) {
            mark(o, Status::Skipped, Why::ChangedSincePreview,
                 QStringLiteral("its values changed since the preview; survey the site again"));
            return;
        }
    }
    if (p.changes.isEmpty()) {
        mark(o, Status::Skipped, Why::NothingToChange, QStringLiteral("nothing to change"));
        return;
    }
    Journal::Record record = Journal::fromDevice(link, Journal::Kind::FileLoad, source, before);
    record.value = what;
    Journal::differences(before, p.plan.result, link.WriteCount, &record.before, &record.after);
    link.DeviceParams = p.plan.result;
    o.op = DeviceOps::writeAndReadBack(link, [&link](const ParamBlock &sent) {
        return Params::registersNotTaken(sent, link.DeviceParams, link.WriteCount).isEmpty();
    });
    o.block = link.DeviceParams;
    record.time = QDateTime::currentDateTime();
    record.ok = o.op.ok();
    if (!record.ok)
        record.reason = o.op.unverified ? QStringLiteral("written, not verified") : QStringLiteral("not written");
    // A journal that cannot be written does not change the device's outcome.
    Journal::append(record, journal);
    if (o.op.ok())
        mark(o, Status::Done, Why::None, QString());
    else if (o.op.unverified)
        mark(o, Status::Failed, Why::NotVerified, QStringLiteral("written, not verified"));
    else
        mark(o, Status::Failed, Why::WriteFailed, QStringLiteral("the write failed"));
}

Journal::Error recordChange(Site::Register &reg, qint64 siteId, const std::vector<Outcome> &outcomes,
                            const QString &gas, const QDateTime &time)
{
    QVector<LineWorker::DeviceRead> reads;
    Journal::Error e;
    for (const Outcome &o : outcomes) {
        if (o.status != Status::Done)
            continue;
        LineWorker::DeviceRead read;
        read.port = o.target.port;
        read.address = o.target.address;
        read.deviceType = o.deviceType;
        read.writeCount = o.writeCount;
        read.block = o.block;
        reads.append(read);
        if (!gas.isEmpty() && e.ok())
            e = reg.setGas(siteId, o.target.serial, gas);
    }
    if (!reads.isEmpty() && e.ok()) {
        // As a survey of these detectors alone would take them; what it
        // would call missing or drifted is not this run's to say.
        Site::SurveyChanges ignored;
        e = reg.applySurvey(siteId, reads, time, &ignored);
    }
    return e;
}

Journal::Error recordBackups(Site::Register &reg, qint64 siteId, const std::vector<Outcome> &outcomes,
                             const QDateTime &time)
{
    Journal::Error e;
    for (const Outcome &o : outcomes)
        if (o.status == Status::Done && e.ok())
            e = reg.recordBackup(siteId, o.target.serial, o.path, o.block, time);
    return e;
}

} // namespace SiteApply

#include "commands.h"

#include "accesslevels.h"
#include "cli.h"
#include "command.h"
#include "conversions.h"
#include "deviceops.h"
#include "firmware.h"
#include "functioncheck.h"
#include "gaslibrary.h"
#include "hexfile.h"
#include "journal.h"
#include "journalchain.h"
#include "journallocation.h"
#include "journalserver.h"
#include "journalsync.h"
#include "lines.h"
#include "options.h"
#include "paramtable.h"
#include "protocol_gui.h"
#include "protocoldata.h"
#include "restoreplan.h"
#include "session.h"
#include "siteregister.h"
#include "siteapply.h"
#include "sitereport.h"
#include "sitereport_gui.h"
#include "sitesurvey.h"
#include "userfiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSerialPortInfo>
#include <QSet>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace Tlctl {

using namespace Params;

namespace {

void printJson(Io &io, const QJsonDocument &doc, bool compact = false)
{
    io.out << QString::fromUtf8(doc.toJson(compact ? QJsonDocument::Compact : QJsonDocument::Indented));
    if (compact)
        io.out << "\n";
    io.out.flush();
}

QString withUnit(const Shown &s)
{
    return s.unit.isEmpty() ? s.text : s.text + QLatin1Char(' ') + s.unit;
}

QJsonObject shownJson(const Shown &s, int reg, const char *space)
{
    QJsonObject o;
    o.insert(QStringLiteral("value"), s.value);
    o.insert(QStringLiteral("text"), s.text);
    o.insert(QStringLiteral("unit"), s.unit);
    o.insert(QStringLiteral("register"), reg);
    o.insert(QStringLiteral("space"), QLatin1String(space));
    o.insert(QStringLiteral("raw"), int(s.raw));
    return o;
}

QString identText(const Command &link, const IdentDef &d)
{
    const Params::IdField f = Params::identificationField(d.objectId);
    const char *base = reinterpret_cast<const char *>(&link.DeviceParams);
    return Conv::fieldText(base + f.offset, f.capacity);
}

QString serialText(const Command &link)
{
    return Conv::serialText(link.DeviceParams.SerialNum, link.DeviceParams.DeviceTypeReg);
}

QString firmwareText(const Command &link)
{
    return Conv::fieldText(link.DeviceParams.IdFirmwareVersion, int(sizeof link.DeviceParams.IdFirmwareVersion));
}

bool boardVersionRead(const Command &link)
{
    return Params::HoldingFirst + link.WriteCount > 0x101B;
}

// "detector type 1 at address 1 on /dev/pts/3"
QString deviceLine(Session &s)
{
    Command &link = s.link();
    return QStringLiteral("%1 at %2").arg(deviceKindText(link.DeviceType), s.where());
}

// The journal every command reads and writes: this computer's file, also
// when the journal is a team's server (then its copy, which sync() keeps in
// step with the server).
QString journalFile(const Options &o)
{
    return Journal::localPath(journalLocation(o));
}

bool journalOnServer(const Options &o)
{
    return Journal::parseLocation(journalLocation(o)).isServer();
}

// Journal::sync() on a thread of its own, so that Ctrl-C (or SIGTERM)
// stops it between batches.
Journal::SyncReport runSync(const QString &location)
{
    std::atomic_bool cancel{false};
    Journal::SyncReport report;
    std::atomic_bool done{false};
    std::thread sender([&] {
        report = Journal::sync(location, &cancel);
        done = true;
    });
    while (!done) {
        if (interrupted())
            cancel = true;
        QThread::msleep(20);
    }
    sender.join();
    return report;
}

// "3 records and 1 register change"
QString waitingText(const Journal::Waiting &w)
{
    return QStringLiteral("%1 %2 and %3 %4")
        .arg(w.records)
        .arg(w.records == 1 ? QStringLiteral("record") : QStringLiteral("records"))
        .arg(w.registerRecords)
        .arg(w.registerRecords == 1 ? QStringLiteral("register change") : QStringLiteral("register changes"));
}

void warn(Io &io, const QString &text)
{
    io.out.flush();
    io.err << "tlctl: warning: " << text << "\n";
    io.err.flush();
}

// Before a command reads the journal: what the team sent, into this
// computer's copy.  A server that cannot be reached is no failure.
void syncBeforeReading(const Options &o, Io &io)
{
    if (!journalOnServer(o))
        return;
    const Journal::SyncReport r = runSync(journalLocation(o));
    if (!r.error.ok())
        warn(io, QStringLiteral("working from this computer's copy of the journal: %1").arg(Journal::errorText(r.error)));
}

// After the device work: what it wrote goes to the server.  What cannot go
// now waits in this computer's file for the next sync, and is named.
void syncAfterWriting(const Options &o, Io &io)
{
    if (!journalOnServer(o))
        return;
    const Journal::SyncReport r = runSync(journalLocation(o));
    if (r.refused > 0)
        warn(io, QStringLiteral("the server %1 refused %2 register changes (this login may not make them); they "
                                "stay on this computer only").arg(r.server, QString::number(r.refused)));
    if (!r.error.ok() && r.left.total() > 0)
        warn(io, QStringLiteral("%1 wait on this computer to be sent (tlctl journal sync sends them): %2")
                     .arg(waitingText(r.left), Journal::errorText(r.error)));
}

// Writes a journal record after the device work it describes.  A journal
// that cannot be written is a warning: the device work keeps its outcome
// and its exit code.
void journalRecord(Io &io, const Options &o, Journal::Record &record)
{
    const Journal::Error e = Journal::append(record, journalLocation(o));
    if (e.ok()) {
        syncAfterWriting(o, io);
        return;
    }
    io.out.flush();
    io.err << "tlctl: warning: the journal record was not written: " << Journal::errorText(e)
           << "; the device operation itself is not affected\n";
    io.err.flush();
}

QString failedReason(int rc)
{
    return QStringLiteral("failed with exit code %1").arg(rc);
}

// ------------------------------------------------------------------- ports

int cmdPorts(Session &, const Options &o, Io &io)
{
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (o.json) {
        QJsonArray list;
        for (const QSerialPortInfo &p : ports) {
            QJsonObject e;
            e.insert(QStringLiteral("path"), p.systemLocation());
            e.insert(QStringLiteral("name"), p.portName());
            e.insert(QStringLiteral("description"), p.description());
            e.insert(QStringLiteral("manufacturer"), p.manufacturer());
            e.insert(QStringLiteral("serial_number"), p.serialNumber());
            list.append(e);
        }
        printJson(io, QJsonDocument(list));
        return ExitOk;
    }
    if (ports.isEmpty()) {
        io.out << "no serial ports found (pseudo-terminals and other virtual ports are not listed; "
                  "give them with --port)\n";
        return ExitOk;
    }
    for (const QSerialPortInfo &p : ports) {
        QStringList about;
        for (const QString &t : {p.description(), p.manufacturer(), p.serialNumber()})
            if (!t.isEmpty())
                about << t;
        io.out << QStringLiteral("%1  %2\n").arg(p.systemLocation(), -16).arg(about.join(QStringLiteral(", ")));
    }
    return ExitOk;
}

// ---------------------------------------------------------------- identify

int cmdIdentify(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    int rc = login(s.link(), o, io, false, QString());
    if (rc == ExitOk)
        rc = s.connect(false);
    if (rc != ExitOk)
        return rc;
    const bool detector = link.DeviceType != TypeBootloader;
    if (detector && (rc = s.fullRead()) != ExitOk)
        return rc;

    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("port"), s.portPath());
        root.insert(QStringLiteral("address"), int(link.SlaveAddress));
        root.insert(QStringLiteral("device_type"), int(link.DeviceType));
        root.insert(QStringLiteral("kind"), deviceKindText(link.DeviceType));
        if (detector) {
            QJsonObject ident;
            for (const IdentDef &d : identification())
                ident.insert(QLatin1String(d.name), identText(link, d));
            root.insert(QStringLiteral("identification"), ident);
            root.insert(QStringLiteral("board_version"),
                        boardVersionRead(link) ? QJsonValue(Conv::boardVersionText(link.DeviceParams.HWVersion))
                                           : QJsonValue());
            root.insert(QStringLiteral("serial_number"), int(link.DeviceParams.SerialNum));
            root.insert(QStringLiteral("serial_text"), serialText(link));
            root.insert(QStringLiteral("write_count"), int(link.WriteCount));
        }
        printJson(io, QJsonDocument(root));
        return ExitOk;
    }

    auto line = [&](const QString &name, const QString &value) {
        io.out << QStringLiteral("%1 %2\n").arg(name, -17).arg(value);
    };
    line(QStringLiteral("device"), deviceKindText(link.DeviceType));
    line(QStringLiteral("address"), QString::number(link.SlaveAddress));
    line(QStringLiteral("port"), s.portPath());
    if (detector) {
        for (const IdentDef &d : identification())
            line(QLatin1String(d.name), identText(link, d));
        line(QStringLiteral("board_version"), boardVersionRead(link)
                                                  ? Conv::boardVersionText(link.DeviceParams.HWVersion)
                                                  : QStringLiteral("not in the 27-register block of this firmware"));
        line(QStringLiteral("serial_number"),
             QStringLiteral("%1 (%2)").arg(serialText(link)).arg(link.DeviceParams.SerialNum));
    }
    return ExitOk;
}

// Reading commands need no login beyond what --user asks for: connect and
// make the program's full read.
int connectAndRead(Session &s, const Options &o, Io &io)
{
    int rc = login(s.link(), o, io, false, QString());
    if (rc == ExitOk)
        rc = s.connect(true);
    if (rc == ExitOk)
        rc = s.fullRead();
    return rc;
}

// -------------------------------------------------------------------- read

int cmdRead(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    if (const int rc = connectAndRead(s, o, io); rc != ExitOk)
        return rc;
    const ParamBlock &b = link.DeviceParams;

    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("port"), s.portPath());
        root.insert(QStringLiteral("address"), int(link.SlaveAddress));
        root.insert(QStringLiteral("device_type"), int(link.DeviceType));
        root.insert(QStringLiteral("kind"), deviceKindText(link.DeviceType));
        root.insert(QStringLiteral("write_count"), int(link.WriteCount));
        QJsonObject ident;
        for (const IdentDef &d : identification())
            ident.insert(QLatin1String(d.name), identText(link, d));
        root.insert(QStringLiteral("identification"), ident);
        QJsonObject params;
        for (const ParamDef &d : parameters())
            if (inBlock(d, link.WriteCount))
                params.insert(QLatin1String(d.name), shownJson(show(d, b), d.reg, "holding"));
        root.insert(QStringLiteral("parameters"), params);
        QJsonObject live;
        for (const LiveDef &d : liveValues())
            live.insert(QLatin1String(d.name), shownJson(showLive(d, b), d.reg, "input"));
        root.insert(QStringLiteral("live"), live);
        printJson(io, QJsonDocument(root));
        return ExitOk;
    }

    io.out << QStringLiteral("%1, firmware %2, %3 holding registers\n\n")
                  .arg(deviceLine(s), firmwareText(link))
                  .arg(link.WriteCount);
    io.out << QStringLiteral("%1 %2 %3 %4\n").arg(QStringLiteral("parameter"), -18)
                  .arg(QStringLiteral("value"), -20).arg(QStringLiteral("register"), -9).arg(QStringLiteral("raw"));
    for (const ParamDef &d : parameters()) {
        if (!inBlock(d, link.WriteCount))
            continue;
        const Shown v = show(d, b);
        io.out << QStringLiteral("%1 %2 %3 %4\n").arg(QLatin1String(d.name), -18).arg(withUnit(v), -20)
                      .arg(hex4(d.reg), -9).arg(v.raw);
    }
    io.out << QStringLiteral("\n%1 %2 %3 %4\n").arg(QStringLiteral("live value"), -18)
                  .arg(QStringLiteral("value"), -20).arg(QStringLiteral("register"), -9).arg(QStringLiteral("raw"));
    for (const LiveDef &d : liveValues()) {
        const Shown v = showLive(d, b);
        io.out << QStringLiteral("%1 %2 %3 %4\n").arg(QLatin1String(d.name), -18).arg(withUnit(v), -20)
                      .arg(QStringLiteral("input %1").arg(d.reg), -9).arg(v.raw);
    }
    return ExitOk;
}

// --------------------------------------------------------------------- set

int cmdSet(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    struct Item {
        const ParamDef *def;
        QString value;
    };
    QVector<Item> items;
    QStringList seen;
    for (const QString &word : o.args) {
        const int eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return s.fail(ExitUsage, QStringLiteral("\"%1\" is not NAME=VALUE").arg(word));
        const QString name = word.left(eq);
        const ParamDef *def = findParameter(name);
        if (!def)
            return s.fail(ExitUsage, QStringLiteral("unknown parameter \"%1\"; tlctl set --help lists the names").arg(name));
        if (def->level == SetLevel::ReadOnly)
            return s.fail(ExitUsage, QStringLiteral("%1 is read-only").arg(name));
        if (seen.contains(name))
            return s.fail(ExitUsage, QStringLiteral("%1 is given twice").arg(name));
        seen << name;
        items.append({def, word.mid(eq + 1)});
    }

    int rc = login(s.link(), o, io, true, QStringLiteral("set"));
    if (rc != ExitOk)
        return rc;
    for (const Item &it : items) {
        if (it.def->level != SetLevel::Production)
            continue;
        const bool allowed = it.def->kind == Kind::Serial ? Access::serialNumberEditable(link.UserName)
                                                          : Access::isProduction(link.UserName);
        if (!allowed)
            return s.fail(ExitAccess, QStringLiteral("%1 can only be changed at the production level (Velta); "
                                                     "logged in as %2").arg(QLatin1String(it.def->name), link.UserName));
    }

    if ((rc = s.connect(true)) != ExitOk || (rc = s.fullRead()) != ExitOk)
        return rc;
    const ParamBlock before = link.DeviceParams;

    // Unit and discreteness first: the other values are then taken in the
    // unit and with the decimals the device will show.
    QVector<Item> ordered;
    for (const Item &it : items)
        if (it.def->kind == Kind::Unit || it.def->kind == Kind::Discreteness)
            ordered << it;
    for (const Item &it : items)
        if (it.def->kind != Kind::Unit && it.def->kind != Kind::Discreteness)
            ordered << it;
    for (const Item &it : ordered) {
        if (it.def->reg == 0x1002 && link.DeviceType != TypeDetector2)
            return s.fail(ExitUsage, QStringLiteral("sensor_current is used by type 2 detectors only (the program "
                                                    "hides it for type %1); nothing was written").arg(link.DeviceType));
        const QString error = apply(*it.def, it.value, link.DeviceParams);
        if (!error.isEmpty())
            return s.fail(ExitUsage, error + QStringLiteral("; nothing was written"));
    }
    // The values together: a threshold, new or kept, above the upper range
    // value (also one left above a lowered range_max) is refused.
    const QString rule = thresholdRuleText(link.DeviceParams);
    if (!rule.isEmpty())
        return s.fail(ExitUsage, rule + QStringLiteral("; nothing was written"));

    if ((rc = s.writeBlockAndVerify()) != ExitOk)
        return rc;
    for (const Item &it : items) {
        io.out << QStringLiteral("%1: %2 -> %3\n")
                      .arg(QLatin1String(it.def->name), withUnit(show(*it.def, before)),
                           withUnit(show(*it.def, link.DeviceParams)));
    }
    io.out << QStringLiteral("written %1 holding registers to %2 and read them back: the device took every value\n")
                  .arg(link.WriteCount).arg(s.where());
    return ExitOk;
}

// ------------------------------------------------------------------- watch

int cmdWatch(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    if (const int rc = connectAndRead(s, o, io); rc != ExitOk)
        return rc;
    if (!o.json)
        io.out << QStringLiteral("%1: live values every %2 s\n").arg(deviceLine(s)).arg(o.interval);
    io.out.flush();

    const qint64 periodMs = qint64(o.interval * 1000.0 + 0.5);
    QElapsedTimer clock;
    clock.start();
    int polls = 0;
    int failures = 0;
    while (!interrupted()) {
        const qint64 due = polls * periodMs;
        while (!interrupted() && clock.elapsed() < due)
            QThread::msleep(quint32(qMin<qint64>(50, due - clock.elapsed())));
        if (interrupted())
            break;
        ++polls;
        const quint16 r = DeviceOps::read(link, DeviceOps::ReadMode::LiveOnly).linkResult;
        const QDateTime now = QDateTime::currentDateTime();
        if (r != ResultOk && interrupted()) {
            break;
        } else if (r != ResultOk) {
            ++failures;
            io.err << QStringLiteral("tlctl: poll %1 at %2: %3 from %4; %5\n")
                          .arg(polls).arg(now.toString(QStringLiteral("HH:mm:ss.zzz")), resultText(r), s.where(),
                               resultHint(r));
            io.err.flush();
        } else if (o.json) {
            QJsonObject live;
            for (const LiveDef &d : liveValues())
                live.insert(QLatin1String(d.name), showLive(d, link.DeviceParams).value);
            QJsonObject line;
            line.insert(QStringLiteral("poll"), polls);
            line.insert(QStringLiteral("time"), now.toString(Qt::ISODateWithMs));
            line.insert(QStringLiteral("live"), live);
            printJson(io, QJsonDocument(line), true);
        } else {
            // Short labels keep a poll within one terminal line.
            static const char *const labels[] = {"adc", "output", "conc", "pwm", "type",
                                                 "in5", "in6", "in7", "in8", "status"};
            QString text = now.toString(QStringLiteral("HH:mm:ss.zzz"));
            for (const LiveDef &d : liveValues()) {
                const Shown v = showLive(d, link.DeviceParams);
                text += QStringLiteral(" %1=%2%3").arg(QLatin1String(labels[d.reg]),
                                                       d.reg == 9 ? hex4(v.raw) : v.text, v.unit);
            }
            io.out << text << "\n";
            io.out.flush();
        }
        if (o.count > 0 && polls >= o.count)
            break;
    }
    return failures ? ExitExchange : ExitOk;
}

// ---------------------------------------------------------- backup/restore

// backup FILE, or backup DIR: DIR/SERIAL_DATE.hex (BackupNames).
int cmdBackup(Session &s, const Options &o, Io &io, const LinePlace *place)
{
    Command &link = s.link();
    const QString given = o.args.value(0);
    const bool intoFolder = QFileInfo(given).isDir();
    if (const int rc = connectAndRead(s, o, io); rc != ExitOk)
        return rc;
    // A parameter file never carries the concentration simulation switched on.
    ParamBlock image = link.DeviceParams;
    const bool simulating = image.ImmitConcOn != 0;
    image.ImmitConcOn = 0;
    QString path = given;
    if (intoFolder && place && place->backupNames) {
        QString clash;
        path = place->backupNames->take(place->index, given, serialText(link), &clash);
        if (!clash.isEmpty()) {
            io.out.flush();
            io.err << QStringLiteral("tlctl: note: %1 has the serial number %2, as the device on %3 has; saved as %4 "
                                     "so that neither file replaces the other\n")
                          .arg(deviceLine(s), serialText(link), clash, path);
            io.err.flush();
        }
    } else if (intoFolder) {
        path = QDir(given).filePath(BackupNames::fileName(serialText(link), QDate::currentDate()));
    }
    switch (saveHexFile(path, reinterpret_cast<const quint8 *>(&image), HexFile::BlockBytes)) {
    case SaveResult::Ok:
        break;
    case SaveResult::OpenFailed:
        return s.fail(ExitFile, QStringLiteral("cannot create %1; check that its folder exists and you may write "
                                               "there").arg(path));
    case SaveResult::WriteFailed:
        return s.fail(ExitFile, QStringLiteral("writing %1 failed (the old file, if any, is left as it was); "
                                               "check the free space").arg(path));
    }
    io.out << QStringLiteral("saved the parameters of %1 to %2 (%3 bytes)\n")
                  .arg(deviceLine(s), path).arg(HexFile::BlockBytes);
    if (simulating)
        io.out << QStringLiteral("note: the device is simulating a concentration; the file has the simulation off\n");
    return ExitOk;
}

// Why a value stays as the device has it: in restore (where --clone copies
// the detector's own fields) or in site apply (which never writes them).
QString keptReason(Restore::Kept kept, const QString &level, bool restore = true)
{
    switch (kept) {
    case Restore::Kept::OwnField:
        return restore ? QStringLiteral("the detector's own value (--clone copies it)")
                       : QStringLiteral("the detector's own value");
    case Restore::Kept::Level:
        return QStringLiteral("the level %1 may not change it").arg(level);
    case Restore::Kept::NotOnType:
        return QStringLiteral("not used by this detector type");
    case Restore::Kept::NeverWritten:
        return restore ? QStringLiteral("never taken from a file") : QStringLiteral("never written to many detectors");
    case Restore::Kept::Simulation:
        return restore ? QString() : QStringLiteral("the simulation always goes in switched off");
    case Restore::Kept::No:
        break;
    }
    return QString();
}

// Reads a parameter file whole into `image`; prints why it is refused.
int readParameterFile(Session &s, const QString &path, quint8 *image)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return s.fail(ExitFile, QStringLiteral("cannot read %1: %2; check the path").arg(path, file.errorString()));
    const BlockDecode decoded = decodeBlockFile(&file, image, HexFile::BlockBytes);
    file.close();
    if (decoded.problem != FileProblem::None)
        return s.fail(ExitFile, QStringLiteral("%1 is not a parameter file: %2; nothing was written")
                                    .arg(path, describeProblem(decoded)));
    if (!decoded.complete)
        return s.fail(ExitFile, QStringLiteral("%1 holds %2 of the %3 bytes of a parameter file; nothing was written; "
                                               "check that it is a whole file saved by the program or tlctl backup")
                                    .arg(path).arg(decoded.stored).arg(HexFile::BlockBytes));
    return ExitOk;
}

// Reads a parameter file whole and checks that it holds values a TL-02 can
// have; prints why it is refused.
int loadParameterFile(Session &s, const QString &path, ParamBlock *block)
{
    ParamBlock &file = *block;
    std::memset(&file, 0, sizeof file);
    if (const int rc = readParameterFile(s, path, reinterpret_cast<quint8 *>(&file)); rc != ExitOk)
        return rc;
    const QVector<Restore::Implausible> implausible = Restore::checkPlausible(file);
    if (implausible.isEmpty())
        return ExitOk;
    QStringList list;
    for (const Restore::Implausible &bad : implausible) {
        const Shown v = show(*bad.def, file);
        if (bad.why == Restore::Implausible::AboveRangeMax)
            continue;   // in the rule's own words below
        const QString why = bad.why == Restore::Implausible::UnknownCode
                                ? QStringLiteral("unknown code %1").arg(v.text)
                                : QStringLiteral("allowed %1").arg(allowedValues(*bad.def, file));
        list << QStringLiteral("%1 = %2 (%3)").arg(QLatin1String(bad.def->name), withUnit(v), why);
    }
    QStringList parts;
    if (!list.isEmpty())
        parts << list.join(QStringLiteral(", "));
    const QString rule = thresholdRuleText(file);
    if (!rule.isEmpty())
        parts << rule;
    return s.fail(ExitFile, QStringLiteral("%1 holds values no TL-02 detector has: %2; nothing was written")
                                .arg(path, parts.join(QStringLiteral("; "))));
}

int cmdRestore(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    const QString path = o.args.value(0);
    // Asking comes before anything else, so that a script without --yes
    // learns it at once rather than after a login and a read.
    if (!o.yes && !o.dryRun && !io.confirm)
        return s.fail(ExitUsage, QStringLiteral("restore shows what it would change and asks before it writes; "
                                                "without a terminal to ask on, add --yes (or --dry-run to see the "
                                                "changes only)"));
    int rc = login(s.link(), o, io, true, QStringLiteral("restore"));
    if (rc != ExitOk)
        return rc;

    // The file is read whole and checked before anything goes to the device.
    ParamBlock file;
    if ((rc = loadParameterFile(s, path, &file)) != ExitOk)
        return rc;

    if ((rc = s.connect(true)) != ExitOk || (rc = s.fullRead()) != ExitOk)
        return rc;
    const ParamBlock device = link.DeviceParams;
    const Restore::Plan plan = Restore::plan(device, file, link.UserName, link.DeviceType,
                                             link.WriteCount, o.clone);
    if (!plan.notConvertible.isEmpty()) {
        QStringList names;
        for (const ParamDef *def : plan.notConvertible)
            names << QLatin1String(def->name);
        return s.fail(ExitFile, QStringLiteral("the file's discreteness %1 cannot hold the device's %2 (kept from "
                                               "the device, it would not fit); nothing was written")
                                    .arg(show(*findParameter(QStringLiteral("discreteness")), file).text,
                                         names.join(QStringLiteral(", "))));
    }

    io.out << QStringLiteral("%1 into %2:\n").arg(path, deviceLine(s));
    const QVector<Restore::Field> changes = plan.changes();
    if (changes.isEmpty())
        io.out << QStringLiteral("  nothing changes: the device holds the file's values\n");
    for (const Restore::Field &f : changes)
        io.out << QStringLiteral("  %1 %2 -> %3\n").arg(QLatin1String(f.def->name), -18)
                      .arg(withUnit(show(*f.def, device)), withUnit(show(*f.def, plan.result)));
    const QVector<Restore::Field> kept = plan.keptDifferent();
    if (!kept.isEmpty()) {
        io.out << QStringLiteral("kept as the device has them:\n");
        for (const Restore::Field &f : kept)
            io.out << QStringLiteral("  %1 %2 (file: %3): %4\n").arg(QLatin1String(f.def->name), -18)
                          .arg(withUnit(show(*f.def, device)), withUnit(show(*f.def, file)),
                               keptReason(f.kept, link.UserName));
    }
    if (plan.simulationInFile)
        io.out << QStringLiteral("the file has the concentration simulation on: it is written as off\n");
    io.out.flush();

    if (o.dryRun) {
        io.out << QStringLiteral("dry run: nothing was written\n");
        return ExitOk;
    }
    if (!plan.anyChange()) {
        io.out << QStringLiteral("nothing was written\n");
        return ExitOk;
    }
    if (!o.yes && !io.confirm(QStringLiteral("Write %1 %2 into %3?")
                                  .arg(changes.size())
                                  .arg(changes.size() == 1 ? QStringLiteral("value") : QStringLiteral("values"))
                                  .arg(deviceLine(s)))) {
        io.out << QStringLiteral("nothing was written\n");
        return ExitOk;
    }
    Journal::Record record = Journal::fromDevice(s.link(), Journal::Kind::FileLoad, QStringLiteral("tlctl"), device);
    record.value = QFileInfo(path).absoluteFilePath();
    Journal::differences(device, plan.result, link.WriteCount, &record.before, &record.after);
    link.DeviceParams = plan.result;
    rc = s.writeBlockAndVerify();
    record.time = QDateTime::currentDateTime();
    record.ok = rc == ExitOk;
    if (rc != ExitOk)
        record.reason = failedReason(rc);
    journalRecord(io, o, record);
    if (rc != ExitOk)
        return rc;
    io.out << QStringLiteral("restored %1 into %2: %3 holding registers written and read back\n")
                  .arg(path, deviceLine(s)).arg(link.WriteCount);
    return ExitOk;
}

// ----------------------------------------------------------------- factory

int cmdFactory(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    const bool store = o.args.value(0) == QLatin1String("store");
    int rc = login(s.link(), o, io, true, QStringLiteral("factory %1").arg(o.args.value(0)));
    if (rc != ExitOk)
        return rc;
    if (store) {
        // The device keeps what it holds: the parameters are written first,
        // as the program does.
        if ((rc = s.connect(true)) != ExitOk || (rc = s.fullRead()) != ExitOk)
            return rc;
        // Factory settings never keep the concentration simulation on.
        if (link.DeviceParams.ImmitConcOn != 0)
            io.out << QStringLiteral("the device is simulating a concentration: the simulation is switched off "
                                     "before the settings are stored\n");
        rc = s.storeFactory();
        Journal::Record record = Journal::fromDevice(s.link(), Journal::Kind::FactoryStore, QStringLiteral("tlctl"));
        record.after = Journal::fieldsText(Journal::calibrationFields(Journal::Kind::FactoryStore),
                                           link.DeviceParams);
        record.ok = rc == ExitOk;
        if (rc != ExitOk)
            record.reason = failedReason(rc);
        journalRecord(io, o, record);
        if (rc != ExitOk)
            return rc;
        io.out << QStringLiteral("factory settings stored at %1: the device keeps the parameters it holds now\n")
                      .arg(s.where());
        return ExitOk;
    }
    if ((rc = factoryPassword(s.link(), io)) != ExitOk)
        return rc;
    if ((rc = s.connect(true)) != ExitOk)
        return rc;
    link.FactoryAccess = 0;   // one grant, one action
    rc = s.restoreFactory();
    // The block was not read before: the record keeps the calibration the
    // device has taken up.
    Journal::Record record = Journal::fromDevice(s.link(), Journal::Kind::FactoryRestore, QStringLiteral("tlctl"));
    record.ok = rc == ExitOk;
    if (rc == ExitOk)
        record.after = Journal::fieldsText(Journal::calibrationFields(Journal::Kind::FactoryRestore),
                                           link.DeviceParams);
    else
        record.reason = failedReason(rc);
    journalRecord(io, o, record);
    if (rc != ExitOk)
        return rc;
    io.out << QStringLiteral("factory settings restored at %1 and read back (tlctl read shows them)\n").arg(s.where());
    return ExitOk;
}

// ------------------------------------------------------------------- flash

int cmdFlash(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    const QString path = o.args.value(0);
    int rc = login(s.link(), o, io, true, QStringLiteral("flash"));
    if (rc != ExitOk)
        return rc;
    // Read whole before anything else: what is shown and judged is exactly
    // what goes out.
    const Firmware::Image image = Firmware::readImage(path);
    const qint64 size = image.size;
    switch (image.status) {
    case Firmware::Result::OpenFailed:
        return s.fail(ExitFile, QStringLiteral("cannot read %1: %2; check the path").arg(path, image.errorText));
    case Firmware::Result::EmptyFile:
        return s.fail(ExitFile, QStringLiteral("%1 is empty; nothing was sent; check that it is the firmware image")
                                    .arg(path));
    case Firmware::Result::TooLarge:
        return s.fail(ExitFile, QStringLiteral("%1 is %2 bytes, more than the %3 bytes of application flash the "
                                               "bootloader can fill; nothing was sent; check that it is the "
                                               "firmware image of a TL-02 detector")
                                    .arg(path).arg(size).arg(Firmware::MaxImageBytes));
    case Firmware::Result::Ok:
        break;
    default:
        return s.fail(ExitFile, QStringLiteral("reading %1 failed: %2; nothing was sent").arg(path, image.errorText));
    }

    // Nothing goes to the device, not even a read, before the user has seen
    // what will be written and agreed to it.
    const qint64 blocks = (size + Firmware::BlockBytes - 1) / Firmware::BlockBytes;
    io.out << QStringLiteral("%1: %2 bytes in %3 blocks of up to %4 bytes, written from 0x%5 (at most %6 bytes fit)\n")
                  .arg(path).arg(size).arg(blocks).arg(Firmware::BlockBytes)
                  .arg(QStringLiteral("%1").arg(Firmware::LoadAddress, 8, 16, QLatin1Char('0')).toUpper())
                  .arg(Firmware::MaxImageBytes);
    io.out << QStringLiteral("SHA-256 %1\n").arg(image.sha256Hex());
    const bool application = image.vectors.looksLikeApplication();
    if (!application)
        io.out << QStringLiteral("%1 does not look like an application image for 0x08001C00: %2\n")
                      .arg(path, Firmware::vectorProblemText(image.vectors));
    io.out.flush();
    if (!o.yes && !io.confirm)
        return s.fail(ExitUsage, QStringLiteral("flash replaces the device's firmware and asks before it starts, "
                                                "but there is no terminal to ask on; nothing was sent; add --yes "
                                                "to go ahead without asking"));
    // An image that does not look like an application needs a second,
    // separate consent: --any-image, or "yes" to a second question.
    if (!application && !o.anyImage && !io.confirm)
        return s.fail(ExitFile, QStringLiteral("%1 does not look like an application image (%2); nothing was sent; "
                                               "if it is the image you mean to write, add --any-image as well as "
                                               "--yes")
                                    .arg(path, Firmware::vectorProblemText(image.vectors)));
    // Opening the port sends nothing; it lets the question name the port.
    if ((rc = s.open()) != ExitOk)
        return rc;
    if (!o.yes) {
        const bool agreed = io.confirm(QStringLiteral("Write this image into the %1 at address %2 on %3 and "
                                                      "restart it?")
                                           .arg(o.simulate ? QStringLiteral("simulated detector")
                                                           : QStringLiteral("device"))
                                           .arg(o.address)
                                           .arg(s.portPath()));
        if (interrupted())
            return s.fail(interruptExitCode(), QStringLiteral("flash interrupted at the question; nothing was sent"));
        if (!agreed) {
            io.out << "flash: not confirmed; nothing was sent\n";
            io.out.flush();
            return ExitOk;
        }
    }
    if (!application && !o.anyImage) {
        const bool agreed = io.confirm(QStringLiteral("%1 does not look like firmware for this detector; a detector "
                                                      "flashed with it may not start. Write it anyway?")
                                           .arg(path));
        if (interrupted())
            return s.fail(interruptExitCode(), QStringLiteral("flash interrupted at the question; nothing was sent"));
        if (!agreed) {
            io.out << "flash: not confirmed for an image that does not look like an application; nothing was "
                      "sent\n";
            io.out.flush();
            return ExitOk;
        }
    }
    // A signal, or an output nobody reads any more (the size line could not
    // be written), stops the run here, before the device is touched, rather
    // than after the start command between two blocks.
    if (interrupted())
        return s.fail(interruptExitCode(), QStringLiteral("flash interrupted before it started; nothing was sent"));

    if ((rc = s.connect(false)) != ExitOk)
        return rc;
    if (link.DeviceType != TypeBootloader) {
        io.out << QStringLiteral("switching %1 to its bootloader\n").arg(deviceLine(s));
        io.out.flush();
        const DeviceOps::Outcome switched = DeviceOps::enterBootloader(link);
        if (switched.failed == DeviceOps::Step::Command)
            return s.failed(switched, QStringLiteral("switching to the bootloader"), Params::CmdBootloader);
        if (!switched.ok())
            return s.fail(ExitExchange, QStringLiteral("the detector did not come back as its bootloader on %1 (%2); "
                                                       "check the device and try again")
                                            .arg(s.portPath(), switched.failed == DeviceOps::Step::NotBootloader
                                                 ? QStringLiteral("type %1").arg(link.DeviceParams.DeviceTypeReg)
                                                 : resultText(switched.linkResult)));
    }
    // The bootloader is driven at address 0, as the program does: the two
    // commands go out as broadcasts, the blocks wait for their replies.
    link.SlaveAddress = 0;

    const bool bar = io.outIsTerminal;
    QElapsedTimer clock;
    int lastTenth = -1;
    Firmware::Hooks hooks;
    hooks.transferStarting = [&](qint64 total) {
        io.out << QStringLiteral("writing %1 (%2 bytes, %3 blocks) from 0x08001C00\n")
                      .arg(path).arg(total).arg((total + Firmware::BlockBytes - 1) / Firmware::BlockBytes);
        io.out.flush();
        clock.start();
    };
    hooks.beforeStep = [&](int) { return !interrupted(); };
    hooks.afterStep = [&](int, qint64 position, qint64 total) {
        const qint64 done = position == 0 ? total : position;
        const int percent = int(done * 100 / total);
        if (bar) {
            const double elapsed = clock.elapsed() / 1000.0;
            const double left = done > 0 ? elapsed * double(total - done) / double(done) : 0.0;
            io.out << "\r" << progressBar(percent, done, total, 30, done < total ? left : 0.0) << "\033[K";
            io.out.flush();
        } else if (percent / 10 != lastTenth) {
            lastTenth = percent / 10;
            io.out << QStringLiteral("flash: %1 % (%2 of %3 bytes)\n").arg(percent).arg(done).arg(total);
            io.out.flush();
        }
    };

    // The bootloader does not say whose it is: the record has the type and
    // address, and the image.
    Journal::Record record = Journal::fromDevice(s.link(), Journal::Kind::Firmware, QStringLiteral("tlctl"));
    record.value = Journal::firmwareValue(QFileInfo(path).absoluteFilePath(), size, image.sha256Hex());

    QElapsedTimer total;
    total.start();
    Firmware::Report report;
    const Firmware::Result result = Firmware::update(s.link(), image, hooks, &report,
                                                     application ? Firmware::Images::ApplicationOnly
                                                                 : Firmware::Images::Any);
    if (bar && report.blocksSent > 0)
        io.out << "\n";
    io.out.flush();
    const QString sent = QStringLiteral("%1 of %2 bytes").arg(report.bytesSent).arg(size);
    record.time = QDateTime::currentDateTime();
    record.ok = result == Firmware::Result::Ok;
    record.after = QStringLiteral("%1 written").arg(sent);
    if (!record.ok)
        record.reason = interrupted() || result == Firmware::Result::Cancelled
                            ? QStringLiteral("interrupted")
                            : QStringLiteral("stopped: %1").arg(resultText(report.linkResult));
    journalRecord(io, o, record);
    if (result != Firmware::Result::Ok && interrupted()) {
        // Ctrl-C also reaches a simulated detector, so a block in flight may
        // fail first: it is still the user's stop.
        return s.fail(interruptExitCode(), QStringLiteral("flash interrupted after %1; the device stays in its "
                                                      "bootloader: run tlctl flash again").arg(sent));
    }
    switch (result) {
    case Firmware::Result::Ok:
        io.out << QStringLiteral("flash: done: %1 bytes in %2 blocks written, device restarted (%3 s)\n")
                      .arg(report.bytesSent).arg(report.blocksSent)
                      .arg(QString::number(total.elapsed() / 1000.0, 'f', 1));
        return ExitOk;
    case Firmware::Result::OpenFailed:
    case Firmware::Result::EmptyFile:
    case Firmware::Result::TooLarge:
    case Firmware::Result::NotApplication:
        return s.fail(ExitFile, QStringLiteral("cannot use %1 (%2 bytes); the firmware load was not started")
                                    .arg(path).arg(report.size));
    case Firmware::Result::ReadFailed:
        return s.fail(ExitFile, QStringLiteral("reading %1 failed after %2; the device stays in its bootloader: "
                                               "check the file and run tlctl flash again").arg(path, sent));
    case Firmware::Result::StartFailed:
        return s.exchangeFailed(QStringLiteral("starting the firmware load (command 0x5555)"), report.linkResult);
    case Firmware::Result::BlockFailed:
        return s.fail(ExitExchange, QStringLiteral("flash failed: block %1 at 0x%2: %3 after its attempts; %4 were "
                                                   "written, the device stays in its bootloader: %5, then run "
                                                   "tlctl flash again")
                                        .arg(report.blocksSent + 1)
                                        .arg(report.lastAddress, 8, 16, QLatin1Char('0'))
                                        .arg(resultText(report.linkResult), sent, resultHint(report.linkResult)));
    case Firmware::Result::Cancelled:
        return s.fail(interruptExitCode(), QStringLiteral("flash interrupted after %1; the device stays in its "
                                                      "bootloader: run tlctl flash again").arg(sent));
    case Firmware::Result::RestartFailed:
        return s.exchangeFailed(QStringLiteral("all %1 bytes written, but restarting the device (command 0x6060)")
                                    .arg(report.bytesSent), report.linkResult);
    }
    return ExitExchange;
}

// -------------------------------------------------------------------- scan

int cmdScan(Session &s, const Options &o, Io &io)
{
    int rc = login(s.link(), o, io, false, QString());
    if (rc == ExitOk)
        rc = s.open();
    if (rc != ExitOk)
        return rc;
    const int addresses = o.to - o.from + 1;
    if (!o.json) {
        io.out << QStringLiteral("scanning addresses %1-%2 on %3: one request, one attempt each\n")
                      .arg(o.from).arg(o.to).arg(s.portPath());
        io.out.flush();
    }

    QJsonArray found;
    QJsonArray others;
    QElapsedTimer clock;
    clock.start();
    DeviceOps::ScanHooks hooks;
    hooks.cancelled = [] { return interrupted(); };
    hooks.beforeAddress = [&](int a) {
        if (io.errIsTerminal) {
            io.err << QStringLiteral("\rscanning address %1 (%2 of %3)").arg(a).arg(a - o.from + 1).arg(addresses);
            io.err.flush();
        }
    };
    hooks.answered = [&](const DeviceOps::ScanHit &hit) {
        if (io.errIsTerminal) {
            io.err << "\r\033[K";
            io.err.flush();
        }
        QJsonObject e;
        e.insert(QStringLiteral("address"), hit.address);
        if (!hit.answered()) {
            e.insert(QStringLiteral("result"), resultText(hit.result));
            others.append(e);
            if (!o.json)
                io.out << QStringLiteral("%1  something answered: %2\n").arg(hit.address, 3).arg(resultText(hit.result));
            return;
        }
        e.insert(QStringLiteral("device_type"), int(hit.type));
        e.insert(QStringLiteral("kind"), deviceKindText(hit.type));
        QString serial;
        if (hit.detector()) {
            if (hit.serialResult == ResultOk) {
                e.insert(QStringLiteral("serial_number"), int(hit.serialNumber));
                e.insert(QStringLiteral("serial_text"), hit.serialText);
                serial = QStringLiteral("%1 (%2)").arg(hit.serialText).arg(hit.serialNumber);
            } else {
                e.insert(QStringLiteral("serial_number"), QJsonValue());
                serial = QStringLiteral("serial number not read: ") + resultText(hit.serialResult);
            }
        }
        found.append(e);
        if (!o.json) {
            io.out << QStringLiteral("%1  %2  %3\n").arg(hit.address, 3).arg(deviceKindText(hit.type), -16).arg(serial);
            io.out.flush();
        }
    };
    const DeviceOps::ScanReport report = DeviceOps::scan(s.link(), o.from, o.to, hooks);
    const int scanned = report.scanned;
    if (io.errIsTerminal) {
        io.err << "\r\033[K";
        io.err.flush();
    }
    if (report.stoppedBy == ResultNoSilence)
        return s.exchangeFailed(QStringLiteral("scanning address %1").arg(o.from + scanned), ResultNoSilence);
    const double seconds = clock.elapsed() / 1000.0;
    const bool stopped = scanned < addresses;

    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("port"), s.portPath());
        root.insert(QStringLiteral("from"), o.from);
        root.insert(QStringLiteral("to"), o.to);
        root.insert(QStringLiteral("scanned"), scanned);
        root.insert(QStringLiteral("seconds"), seconds);
        root.insert(QStringLiteral("devices"), found);
        root.insert(QStringLiteral("other_replies"), others);
        printJson(io, QJsonDocument(root));
    } else {
        io.out << QStringLiteral("%1 %2 found at %3 addresses in %4 s%5\n")
                      .arg(found.size())
                      .arg(found.size() == 1 ? QStringLiteral("device") : QStringLiteral("devices"))
                      .arg(scanned)
                      .arg(QString::number(seconds, 'f', 1), stopped ? QStringLiteral(" (interrupted)") : QString());
    }
    io.out.flush();
    return stopped ? interruptExitCode() : int(ExitOk);
}

// ------------------------------------------------------------------- check

// The reasons a function check failed, in tlctl's words.
QString checkReasonText(FunctionCheck::Reason reason)
{
    using FunctionCheck::Reason;
    switch (reason) {
    case Reason::NoReadings:
        return QStringLiteral("no reading while the gas was applied");
    case Reason::NotStable:
        return QStringLiteral("the reading did not settle in time");
    case Reason::OutOfTolerance:
        return QStringLiteral("the settled reading is out of tolerance");
    case Reason::Limit1NotCrossed:
        return QStringLiteral("limit1 was not crossed");
    case Reason::Limit2NotCrossed:
        return QStringLiteral("limit2 was not crossed");
    case Reason::NotReturned:
        return QStringLiteral("a threshold crossed was not left after the gas was removed");
    case Reason::AsLeftMissing:
        return QStringLiteral("a reading after the adjustment is missing");
    case Reason::AsLeftOutOfTolerance:
        return QStringLiteral("a reading after the adjustment is out of tolerance");
    }
    return QString();
}

// "12.5 s"; "-" for a moment that never came.
QString secondsText(qint64 ms)
{
    return ms < 0 ? QStringLiteral("-") : QStringLiteral("%1 s").arg(QString::number(double(ms) / 1000.0, 'f', 1));
}

QString thresholdLine(const FunctionCheck::Threshold &t, const QString &unit, int decimals)
{
    if (!t.enabled)
        return QStringLiteral("not set");
    return QStringLiteral("%1 %2 (%3)").arg(QString::number(t.value, 'f', decimals), unit,
                                            t.decreasing ? QStringLiteral("decreasing") : QStringLiteral("increasing"));
}

QString crossingLine(const FunctionCheck::Threshold &t, const FunctionCheck::Crossing &c)
{
    if (!t.enabled)
        return QStringLiteral("not set");
    QString text;
    if (c.crossed)
        text = QStringLiteral("crossed %1 after the gas was applied").arg(secondsText(c.crossedAt));
    else if (c.expected)
        text = QStringLiteral("NOT crossed");
    else
        text = QStringLiteral("not crossed (the test gas does not reach it)");
    if (c.crossed)
        text += c.returned ? QStringLiteral(", left again %1 after the gas was removed").arg(secondsText(c.returnedAt))
                           : QStringLiteral(", NOT left again after the gas was removed");
    return text;
}

// Where the site register has the detector: its tag and the site's
// calibration interval (0 when it is not registered).  A register that
// cannot be read leaves both unknown.
void registeredPlace(const Options &o, const QString &serial, QString *tag, int *intervalDays)
{
    *intervalDays = 0;
    Journal::Database db;
    if (!db.open(journalFile(o)).ok())
        return;
    Site::Register reg(db);
    QVector<Site::Info> sites;
    if (!reg.sites(&sites).ok())
        return;
    for (const Site::Info &site : qAsConst(sites)) {
        Site::Detector d;
        if (reg.findDetector(site.id, serial, &d).ok() && d.siteId != 0) {
            *tag = d.tag;
            *intervalDays = site.intervalDays;
            return;
        }
    }
}

int cmdCheck(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    const QDate today = QDate::currentDate();
    FunctionCheck::TestGas gas;
    gas.name = o.gas;
    gas.concentration = o.conc;
    gas.cylinder = o.cylinder;
    gas.expiry = QDate::fromString(o.expires, Qt::ISODate);

    // An expired cylinder is confirmed before anything goes to the device.
    bool expiredConfirmed = false;
    if (gas.expired(today)) {
        const QString cylinder = gas.cylinder.isEmpty() ? QStringLiteral("the cylinder")
                                                        : QStringLiteral("cylinder %1").arg(gas.cylinder);
        warn(io, QStringLiteral("%1 expired on %2: its concentration is no longer certain")
                     .arg(cylinder, gas.expiry.toString(Qt::ISODate)));
        if (o.acceptExpired) {
            expiredConfirmed = true;
        } else if (!io.confirm) {
            return s.fail(ExitUsage, QStringLiteral("an expired cylinder needs a confirmation: without a terminal to "
                                                    "ask on, add --accept-expired; no check was made"));
        } else {
            expiredConfirmed = io.confirm(QStringLiteral("continue with an expired cylinder?"));
            if (interrupted())
                return s.fail(interruptExitCode(), QStringLiteral("check interrupted at the question; nothing was "
                                                                  "recorded"));
            if (!expiredConfirmed)
                return s.fail(ExitUsage, QStringLiteral("not confirmed; no check was made"));
        }
    }

    int rc = login(s.link(), o, io, true, QStringLiteral("check"));
    if (rc == ExitOk)
        rc = s.connect(true);
    if (rc == ExitOk)
        rc = s.fullRead();
    if (rc != ExitOk)
        return rc;
    const ParamBlock block = link.DeviceParams;
    const FunctionCheck::DeviceLimits limits = FunctionCheck::limitsOf(block);
    const QString unit = UnitNames.value(Conv::unitIndex(block.Config));
    const int n = limits.decimals;
    gas.unit = unit;
    auto number = [n](double v) { return QString::number(v, 'f', n); };

    QString tag;
    int intervalDays = 0;
    registeredPlace(o, serialText(link), &tag, &intervalDays);

    io.out << QStringLiteral("%1, serial number %2, firmware %3%4\n")
                  .arg(deviceLine(s), serialText(link), firmwareText(link),
                       tag.isEmpty() ? QString() : QStringLiteral(", tag %1").arg(tag));
    io.out << QStringLiteral("range %1 to %2 %3; limit1 %4; limit2 %5\n")
                  .arg(number(limits.rangeMin), number(limits.rangeMax), unit,
                       thresholdLine(limits.limit1, unit, n), thresholdLine(limits.limit2, unit, n));
    QString gasLine = QStringLiteral("test gas %1, %2 %3").arg(gas.name, number(gas.concentration), unit);
    if (!gas.cylinder.isEmpty())
        gasLine += QStringLiteral(", cylinder %1").arg(gas.cylinder);
    if (gas.expiry.isValid())
        gasLine += QStringLiteral(", expires %1").arg(gas.expiry.toString(Qt::ISODate));
    io.out << gasLine << "\n";

    FunctionCheck::CheckSetup setup;
    setup.gas = gas.concentration;
    setup.limits = limits;
    setup.stableWithinMs = qint64(o.timeout) * 1000;
    FunctionCheck::CheckRun run(setup, qint64(o.timeout) * 1000);

    const LiveDef &concentration = liveValues().at(2);
    QElapsedTimer clock;
    clock.start();
    // One reading of the concentration; false with the exit code in `rc`.
    double value = 0;
    auto readLive = [&]() {
        const DeviceOps::Outcome r = DeviceOps::read(link, DeviceOps::ReadMode::LiveOnly);
        if (!r.ok()) {
            rc = interrupted() ? interruptExitCode() : s.failed(r);
            return false;
        }
        value = showLive(concentration, link.DeviceParams).value.toDouble();
        return true;
    };
    const QString stopped = QStringLiteral("check interrupted by %1; nothing was recorded");
    if (!readLive())
        return rc;
    run.add(clock.elapsed(), value);
    io.out << QStringLiteral("reading before the gas: %1 %2\n").arg(number(value), unit);
    io.out << "apply the test gas now\n";
    io.out.flush();
    run.start(clock.elapsed());

    const qint64 periodMs = 500;
    qint64 polls = 0;
    qint64 lastTold = -1;   // the second of the last progress line
    while (run.phase() != FunctionCheck::CheckRun::Phase::Done) {
        ++polls;
        const qint64 due = polls * periodMs;
        while (!interrupted() && clock.elapsed() < due)
            QThread::msleep(quint32(qMin<qint64>(50, due - clock.elapsed())));
        if (interrupted())
            return s.fail(interruptExitCode(), stopped.arg(interruptCause()));
        if (!readLive())
            return rc == interruptExitCode() ? s.fail(rc, stopped.arg(interruptCause())) : rc;
        const qint64 now = clock.elapsed();
        run.add(now, value);
        const qint64 second = now / 1000;
        if (run.phase() == FunctionCheck::CheckRun::Phase::Settling && second != lastTold) {
            lastTold = second;
            io.err << QStringLiteral("settling: %1 s (reading %2 %3)\n").arg(run.secondsLeft()).arg(number(value), unit);
            io.err.flush();
        } else if (run.phase() == FunctionCheck::CheckRun::Phase::RemoveGas) {
            if (run.result().stable)
                io.out << QStringLiteral("reading settled at %1 %2\n").arg(number(value), unit);
            else
                io.out << QStringLiteral("the reading did not settle within %1 s (now %2 %3)\n")
                              .arg(o.timeout).arg(number(value), unit);
            io.out << "remove the test gas now\n";
            io.out.flush();
            run.gasRemoved(now);
            lastTold = second;
        } else if (run.phase() == FunctionCheck::CheckRun::Phase::Returning && second != lastTold) {
            lastTold = second;
            io.err << QStringLiteral("returning: reading %1 %2\n").arg(number(value), unit);
            io.err.flush();
        }
    }

    const FunctionCheck::CheckResult result = run.result();
    const bool passed = result.passed();
    auto figure = [&](const QString &name, const QString &text) {
        io.out << QStringLiteral("%1 %2\n").arg(name, -18).arg(text);
    };
    io.out << "\n";
    figure(QStringLiteral("baseline"), QStringLiteral("%1 %2").arg(number(result.baseline), unit));
    figure(QStringLiteral("peak"), QStringLiteral("%1 %2 after %3").arg(number(result.peak), unit,
                                                                       secondsText(result.peakAt)));
    figure(QStringLiteral("settled"), result.stable ? QStringLiteral("%1 %2 after %3").arg(number(result.finalReading),
                                                                                          unit,
                                                                                          secondsText(result.stableAt))
                                                    : QStringLiteral("%1 %2 (did not settle)")
                                                          .arg(number(result.finalReading), unit));
    figure(QStringLiteral("t90"), secondsText(result.t90));
    figure(QStringLiteral("tolerance"), QStringLiteral("+/-%1 %2 of %3 %2: %4")
                                            .arg(number(result.allowed), unit, number(gas.concentration),
                                                 result.inTolerance ? QStringLiteral("within")
                                                                    : QStringLiteral("OUT of tolerance")));
    figure(QStringLiteral("limit1"), crossingLine(limits.limit1, result.limit1));
    figure(QStringLiteral("limit2"), crossingLine(limits.limit2, result.limit2));
    QStringList reasons;
    for (FunctionCheck::Reason reason : result.reasons)
        reasons << checkReasonText(reason);
    io.out << (passed ? QStringLiteral("PASSED: the detector works\n")
                      : QStringLiteral("FAILED: %1\n").arg(reasons.join(QStringLiteral("; "))));
    io.out.flush();

    Protocol::Data data;
    data.kind = Protocol::Kind::FunctionCheck;
    data.time = QDateTime::currentDateTime();
    data.organisation = o.organisation;
    const QString login = Journal::loginName();
    data.technician = login.isEmpty() ? link.UserName : QStringLiteral("%1 (%2)").arg(login, link.UserName);
    data.device.type = link.DeviceType;
    data.device.serialText = serialText(link);
    data.device.firmware = firmwareText(link);
    data.device.address = link.SlaveAddress;
    data.device.tag = tag;
    data.unit = unit;
    data.gas = gas;
    data.expiredConfirmed = expiredConfirmed;
    data.check = run.setup();
    data.result = result;
    data.nextDue = FunctionCheck::nextDue(today, intervalDays);

    Journal::Record record = Journal::fromDevice(link, Journal::Kind::FunctionCheck, QStringLiteral("tlctl"), block);
    record.time = data.time;
    record.ok = passed;
    record.reason = reasons.join(QStringLiteral("; "));
    Protocol::describe(record, data, QUuid::createUuid().toString(QUuid::WithoutBraces));
    const Journal::Error e = Journal::append(record, journalLocation(o));
    if (!e.ok()) {
        const QString kept = e.keptIn.isEmpty()
                                 ? QStringLiteral("it is lost: run the check again once the journal can be written")
                                 : QStringLiteral("it was kept in %1 and goes into the journal when it next opens")
                                       .arg(e.keptIn);
        return s.fail(ExitFile, QStringLiteral("the function check was not recorded in the journal: %1; %2")
                                    .arg(Journal::errorText(e), kept));
    }
    io.out << QStringLiteral("recorded as %1 (tlctl journal protocol %1 FILE.pdf makes its protocol)\n")
                  .arg(record.uuid);
    io.out.flush();
    syncAfterWriting(o, io);
    return passed ? ExitOk : ExitExchange;
}

// ----------------------------------------------------------------- journal

// journal init: the journal made or brought up to date, and on a server the
// roles, their privileges and the records' guard.
int journalInit(Session &s, const Options &o, Io &io)
{
    Journal::Database db;
    Journal::Error e = db.open(journalLocation(o));
    if (!e.ok())
        return s.fail(ExitFile, Journal::errorText(e));
    const int found = db.versionFound();
    if (found == 0)
        io.out << QStringLiteral("the journal %1 was made (schema version %2)\n")
                      .arg(db.location()).arg(Journal::SchemaVersion);
    else if (found < Journal::SchemaVersion)
        io.out << QStringLiteral("the journal %1 was brought from schema version %2 to %3\n")
                      .arg(db.location()).arg(found).arg(Journal::SchemaVersion);
    else
        io.out << QStringLiteral("the journal %1 is up to date (schema version %2)\n")
                      .arg(db.location()).arg(Journal::SchemaVersion);
    QStringList report;
    e = Journal::initServer(db, &report);
    if (!e.ok())
        return s.fail(ExitFile, Journal::errorText(e));
    for (const QString &line : report)
        io.out << line << "\n";
    return ExitOk;
}

// journal verify: the server's chain recomputed, and the first record
// where it breaks named.
int journalVerify(Session &s, const Options &o, Io &io)
{
    Journal::Database db;
    Journal::Error e = db.open(journalLocation(o));
    Journal::ChainCheck check;
    if (e.ok())
        e = Journal::verify(db, &check);
    if (!e.ok())
        return s.fail(ExitFile, Journal::errorText(e));
    if (check.finding == Journal::ChainCheck::Finding::Intact) {
        io.out << QStringLiteral("%1: %2\n").arg(db.location(), check.text);
        return ExitOk;
    }
    io.out << QStringLiteral("%1: the chain breaks after %2 records checked\n").arg(db.location()).arg(check.records);
    io.out << check.text << "\n";
    return ExitExchange;
}

// journal sync: what waits goes to the server, what the team sent comes back.
int journalSync(Session &s, const Options &o, Io &io)
{
    const QString location = journalLocation(o);
    if (!journalOnServer(o)) {
        io.out << QStringLiteral("the journal %1 is a file of this computer: nothing to send\n")
                      .arg(Journal::parseLocation(location).text);
        return ExitOk;
    }
    const Journal::SyncReport r = runSync(location);
    QString done = QStringLiteral("sent %1 %2 and %3 %4 to %5")
                       .arg(r.sent)
                       .arg(r.sent == 1 ? QStringLiteral("record") : QStringLiteral("records"))
                       .arg(r.registerSent)
                       .arg(r.registerSent == 1 ? QStringLiteral("register change") : QStringLiteral("register changes"))
                       .arg(r.server);
    done += QStringLiteral("; %1 were there already; received %2 %3 and %4 %5")
                .arg(r.alreadyThere)
                .arg(r.received)
                .arg(r.received == 1 ? QStringLiteral("record") : QStringLiteral("records"))
                .arg(r.registerReceived)
                .arg(r.registerReceived == 1 ? QStringLiteral("register change")
                                             : QStringLiteral("register changes"));
    if (r.refused > 0)
        done += QStringLiteral("; %1 register changes refused by the server (this login may not make them; kept "
                               "here, not sent again)").arg(r.refused);
    io.out << done << QStringLiteral("; %1 wait\n").arg(r.left.total());
    io.out.flush();
    if (r.error.ok())
        return ExitOk;
    const QString left = QStringLiteral("%1 wait in %2 for the next sync").arg(waitingText(r.left), journalFile(o));
    if (interrupted())
        return s.fail(interruptExitCode(), QStringLiteral("journal sync interrupted by %1; %2")
                                               .arg(interruptCause(), left));
    return s.fail(ExitFile, QStringLiteral("%1; %2").arg(Journal::errorText(r.error), left));
}

// journal protocol ID FILE.pdf: the protocol of the work a record belongs
// to, from the journal alone.
int journalProtocol(Session &s, const Options &o, Io &io)
{
    const QString id = o.args.value(1);
    const QString path = o.args.value(2);
    syncBeforeReading(o, io);
    QVector<Journal::Record> records;
    QString why;
    {
        Journal::Database db;
        Journal::Error e = db.open(journalFile(o));
        if (e.ok())
            e = Protocol::sessionRecords(db, id, &records, &why);
        if (!e.ok())
            return s.fail(ExitFile, Journal::errorText(e));
    }
    Protocol::Data data;
    if (records.isEmpty() || !Protocol::fromRecords(records, &data))
        return s.fail(ExitFile, why.isEmpty() ? QStringLiteral("record %1 belongs to no calibration or function "
                                                               "check").arg(id)
                                              : why);
    QString error;
    if (!Protocol::writePdf(data, path, &error))
        return s.fail(ExitFile, QStringLiteral("cannot write %1: %2 (a file there before is left as it was)")
                                    .arg(path, error));
    io.out << QStringLiteral("wrote the protocol of the %1 of %2 on %3 (%4) to %5\n")
                  .arg(data.kind == Protocol::Kind::Calibration ? QStringLiteral("calibration")
                                                                : QStringLiteral("function check"),
                       data.device.serialText.isEmpty() ? QStringLiteral("a detector") : data.device.serialText,
                       data.time.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                  .arg(records.size() == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(records.size()),
                       path);
    return ExitOk;
}

int cmdJournal(Session &s, const Options &o, Io &io)
{
    if (o.args.value(0) == QLatin1String("protocol"))
        return journalProtocol(s, o, io);
    if (o.args.value(0) == QLatin1String("init"))
        return journalInit(s, o, io);
    if (o.args.value(0) == QLatin1String("verify"))
        return journalVerify(s, o, io);
    if (o.args.value(0) == QLatin1String("sync"))
        return journalSync(s, o, io);
    syncBeforeReading(o, io);
    Journal::Database db;
    Journal::Error e = db.open(journalFile(o));
    QVector<Journal::Record> records;
    if (e.ok())
        e = db.query(Journal::Filter{o.serial, {}, {}}, &records);
    if (!e.ok())
        return s.fail(ExitFile, Journal::errorText(e));
    if (o.csv) {
        io.out << QString::fromUtf8(Journal::toCsv(records));
        return ExitOk;
    }
    if (records.isEmpty()) {
        io.out << (o.serial.isEmpty() ? QStringLiteral("the journal %1 has no records\n").arg(db.location())
                                      : QStringLiteral("no records for serial number %1\n").arg(o.serial));
        return ExitOk;
    }
    const QStringList unfinished = Journal::unfinished(records);
    for (const Journal::Record &r : records) {
        QStringList device{deviceKindText(qint16(r.deviceType))};
        if (!r.firmware.isEmpty())
            device << QStringLiteral("firmware ") + r.firmware;
        device << QStringLiteral("address %1").arg(r.address) << r.level << r.source;
        io.out << QStringLiteral("#%1 %2  %3  (%4)\n")
                      .arg(r.id)
                      .arg(r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                           r.serialText.isEmpty() ? QStringLiteral("serial number not known") : r.serialText,
                           device.join(QStringLiteral(", ")));
        io.out << QStringLiteral("    %1%2: %3\n")
                      .arg(Journal::kindText(r.kind), r.value.isEmpty() ? QString() : QStringLiteral(", ") + r.value,
                           r.started ? (unfinished.contains(r.uuid) ? QStringLiteral("NOT COMPLETED")
                                                                    : QStringLiteral("started"))
                           : r.ok    ? QStringLiteral("ok")
                                     : QStringLiteral("FAILED, ") + r.reason);
        if (!r.before.isEmpty())
            io.out << QStringLiteral("    before: %1\n").arg(r.before);
        if (!r.after.isEmpty())
            io.out << QStringLiteral("    after:  %1\n").arg(r.after);
        io.out << QStringLiteral("    record %1%2\n")
                      .arg(r.uuid, r.login.isEmpty() && r.host.isEmpty()
                                       ? QString()
                                       : QStringLiteral(", by %1 on %2").arg(r.login, r.host));
    }
    io.out << QStringLiteral("%1 %2\n").arg(records.size()).arg(records.size() == 1 ? QStringLiteral("record")
                                                                                    : QStringLiteral("records"));
    return ExitOk;
}

// --------------------------------------------------------------------- gas

QString libraryPath(const Options &o, Io &io)
{
    if (!o.library.isEmpty())
        return o.library;
    QString error;
    const QString path = UserFiles::gasLibraryPath(&error);
    if (!error.isEmpty()) {
        io.err << QStringLiteral("tlctl: note: %1\n").arg(error);
        io.err.flush();
    }
    return path;
}

QString unitText(int unit, int decimals)
{
    return QStringLiteral("%1 %2").arg(UnitNames.value(unit), DiscretenessNames.value(decimals));
}

// "20.0 %LEL decreasing"
QString thresholdShown(quint16 word, int unit, int decimals)
{
    return QStringLiteral("%1 %2 %3").arg(GasLibrary::thresholdText(word, decimals), UnitNames.value(unit),
                                          Conv::limitDecreasing(word) ? QStringLiteral("decreasing")
                                                                      : QStringLiteral("increasing"));
}

// Loads every entry; reports a library that cannot be used.
int loadLibrary(Session &s, const QString &path, QVector<GasLibrary::Entry> *all)
{
    QString error;
    if (GasLibrary::search(path, QString(), all, &error) != GasLibrary::Status::Ok)
        return s.fail(ExitFile, QStringLiteral("cannot read the gas library %1: %2; check the path (--library)")
                                    .arg(path, error));
    return ExitOk;
}

QJsonValue wordJson(const QVariant &cell)
{
    quint16 word = 0;
    return GasLibrary::cellWord(cell, &word) ? QJsonValue(int(word)) : QJsonValue();
}

QJsonObject entryJson(const GasLibrary::Entry &e)
{
    QJsonObject o;
    o.insert(QStringLiteral("row"), e.row);
    o.insert(QStringLiteral("name"), e.name);
    o.insert(QStringLiteral("limit1"), wordJson(e.limit1));
    o.insert(QStringLiteral("limit2"), wordJson(e.limit2));
    o.insert(QStringLiteral("limit1_cell"), e.limit1.toString());
    o.insert(QStringLiteral("limit2_cell"), e.limit2.toString());
    return o;
}

int gasFind(Session &s, const Options &o, Io &io, bool all)
{
    const QString path = libraryPath(o, io);
    const QString text = all ? QString() : o.args.value(1);
    QVector<GasLibrary::Entry> found;
    QString error;
    if (GasLibrary::search(path, text, &found, &error) != GasLibrary::Status::Ok)
        return s.fail(ExitFile, QStringLiteral("cannot read the gas library %1: %2; check the path (--library)")
                                    .arg(path, error));
    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("library"), path);
        if (!all)
            root.insert(QStringLiteral("search"), text);
        QJsonArray entries;
        for (const GasLibrary::Entry &e : qAsConst(found))
            entries.append(entryJson(e));
        root.insert(QStringLiteral("entries"), entries);
        printJson(io, QJsonDocument(root));
        return ExitOk;
    }
    if (found.isEmpty()) {
        io.out << (all ? QStringLiteral("%1 holds no entries\n").arg(path)
                       : QStringLiteral("no name in %1 contains \"%2\"\n").arg(path, text));
        return ExitOk;
    }
    io.out << QStringLiteral("%1  %2\n").arg(QStringLiteral("row"), 6)
                  .arg(GasLibrary::composeLine(QStringLiteral("name"), QStringLiteral("| word 1"),
                                               QStringLiteral("| word 2")));
    for (const GasLibrary::Entry &e : qAsConst(found))
        io.out << QStringLiteral("%1  %2\n").arg(e.row, 6).arg(GasLibrary::displayLine(e));
    io.out << QStringLiteral("%1 %2 in %3\n").arg(found.size())
                  .arg(found.size() == 1 ? QStringLiteral("entry") : QStringLiteral("entries"), path);
    return ExitOk;
}

int gasAdd(Session &s, const Options &o, Io &io)
{
    const QString name = o.args.value(1);
    const int unit = o.unit < 0 ? 0 : o.unit;
    const int decimals = o.discreteness < 0 ? 0 : o.discreteness;
    if (name.trimmed().isEmpty())
        return s.fail(ExitUsage, QStringLiteral("the gas name is empty; nothing was added"));
    if (name.size() > GasLibrary::MaxNameLength)
        return s.fail(ExitUsage, QStringLiteral("the gas name \"%1\" has %2 characters, more than the %3 the "
                                                "library keeps; nothing was added")
                                     .arg(name).arg(name.size()).arg(GasLibrary::MaxNameLength));
    quint16 words[2] = {0, 0};
    const bool decreasing[2] = {o.decreasing1, o.decreasing2};
    for (int i = 0; i < 2; ++i) {
        const QString text = o.args.value(2 + i);
        const QString what = QStringLiteral("LIMIT%1 \"%2\"").arg(i + 1).arg(text);
        switch (GasLibrary::thresholdWord(text, decimals, decreasing[i], &words[i])) {
        case GasLibrary::ValueProblem::None:
            break;
        case GasLibrary::ValueProblem::NotANumber:
            return s.fail(ExitUsage, QStringLiteral("%1 is not a number; nothing was added").arg(what));
        case GasLibrary::ValueProblem::OutOfRange:
            return s.fail(ExitUsage, QStringLiteral("%1 is out of range (0 to %2 %3 at the discreteness %4); "
                                                    "nothing was added")
                                         .arg(what, QString::number(GasLibrary::maxThreshold(decimals), 'f', decimals),
                                              UnitNames.value(unit), DiscretenessNames.value(decimals)));
        case GasLibrary::ValueProblem::TooManyDecimals:
            return s.fail(ExitUsage, QStringLiteral("%1 has more decimals than the discreteness %2 shows (%3); "
                                                    "nothing was added")
                                         .arg(what, DiscretenessNames.value(decimals)).arg(decimals));
        }
    }

    const QString path = libraryPath(o, io);
    QVector<GasLibrary::Entry> all;
    if (const int rc = loadLibrary(s, path, &all); rc != ExitOk)
        return rc;
    QStringList sameName;
    for (const GasLibrary::Entry &e : qAsConst(all))
        if (e.name.compare(name, Qt::CaseInsensitive) == 0)
            sameName << QString::number(e.row);

    int row = 0;
    QString error;
    switch (GasLibrary::append(path, name, words[0], words[1], &row, &error)) {
    case GasLibrary::Status::Ok:
        break;
    case GasLibrary::Status::OpenFailed:
        return s.fail(ExitFile, QStringLiteral("cannot read the gas library %1: %2; nothing was added").arg(path, error));
    case GasLibrary::Status::SaveFailed:
        return s.fail(ExitFile, QStringLiteral("saving the gas library %1 failed: %2; the file is as it was, "
                                               "nothing was added; check the free space and your permission")
                                    .arg(path, error));
    }
    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("library"), path);
        root.insert(QStringLiteral("row"), row);
        root.insert(QStringLiteral("name"), name);
        root.insert(QStringLiteral("limit1"), int(words[0]));
        root.insert(QStringLiteral("limit2"), int(words[1]));
        root.insert(QStringLiteral("unit"), UnitNames.value(unit));
        root.insert(QStringLiteral("discreteness"), DiscretenessNames.value(decimals));
        printJson(io, QJsonDocument(root));
    } else {
        io.out << QStringLiteral("added %1 to %2, row %3: threshold 1 %4 (word %5), threshold 2 %6 (word %7)\n")
                      .arg(name, path).arg(row)
                      .arg(thresholdShown(words[0], unit, decimals)).arg(words[0])
                      .arg(thresholdShown(words[1], unit, decimals)).arg(words[1]);
        io.out << QStringLiteral("the library keeps the words only: apply it with --unit %1 --discreteness %2\n")
                      .arg(UnitNames.value(unit), DiscretenessNames.value(decimals));
    }
    if (!sameName.isEmpty()) {
        io.err << QStringLiteral("tlctl: note: %1 already had \"%2\" in row %3; gas apply needs --row for it now\n")
                      .arg(path, name, sameName.join(QStringLiteral(", ")));
        io.err.flush();
    }
    return ExitOk;
}

// The entry `name` of the library (--library), as gas apply finds it: the
// whole name, ignoring case; --row picks one of several.  Its words go into
// `limit1` and `limit2`.  Prints why it cannot be used.
int findGasEntry(Session &s, const Options &o, Io &io, const QString &name, QString *libraryFile,
                 GasLibrary::Entry *found, quint16 *limit1, quint16 *limit2)
{
    const QString path = libraryPath(o, io);
    *libraryFile = path;
    QVector<GasLibrary::Entry> all;
    if (const int rc = loadLibrary(s, path, &all); rc != ExitOk)
        return rc;

    // The whole name, ignoring case; --row picks one of several.
    QVector<GasLibrary::Entry> named;
    QStringList containing;
    for (const GasLibrary::Entry &e : qAsConst(all)) {
        if (e.name.compare(name, Qt::CaseInsensitive) == 0 && (o.row == 0 || e.row == o.row))
            named << e;
        else if (e.name.contains(name, Qt::CaseInsensitive))
            containing << QStringLiteral("\"%1\" (row %2)").arg(e.name).arg(e.row);
    }
    if (named.isEmpty()) {
        QString message = o.row ? QStringLiteral("row %1 of %2 is not an entry named \"%3\"").arg(o.row).arg(path, name)
                                : QStringLiteral("%1 has no entry named \"%2\"").arg(path, name);
        if (!containing.isEmpty())
            message += QStringLiteral(" (names containing it: %1)").arg(containing.join(QStringLiteral(", ")));
        return s.fail(ExitUsage, message + QStringLiteral("; nothing was written"));
    }
    if (named.size() > 1) {
        QStringList rows;
        for (const GasLibrary::Entry &e : qAsConst(named))
            rows << QString::number(e.row);
        return s.fail(ExitUsage, QStringLiteral("%1 has %2 entries named \"%3\" (rows %4); pick one with --row; "
                                                "nothing was written")
                                     .arg(path).arg(named.size()).arg(name, rows.join(QStringLiteral(", "))));
    }
    const GasLibrary::Entry &entry = named.first();
    *found = entry;
    if (!GasLibrary::entryWords(entry, limit1, limit2))
        return s.fail(ExitFile, QStringLiteral("row %1 of %2 (\"%3\") holds thresholds \"%4\" and \"%5\", not words "
                                               "0 to 65535; nothing was written")
                                    .arg(entry.row).arg(path, entry.name, entry.limit1.toString(),
                                                        entry.limit2.toString()));
    return ExitOk;
}

int gasApply(Session &s, const Options &o, Io &io)
{
    Command &link = s.link();
    QString path;
    GasLibrary::Entry entry;
    quint16 limit1 = 0, limit2 = 0;
    int rc = findGasEntry(s, o, io, o.args.value(1), &path, &entry, &limit1, &limit2);
    if (rc != ExitOk)
        return rc;

    // As the program asks before it opens the library: a login, and at the
    // level User the factory password, used up by this one action.
    if ((rc = login(s.link(), o, io, true, QStringLiteral("gas apply"))) != ExitOk || (rc = factoryPassword(s.link(), io)) != ExitOk)
        return rc;
    link.FactoryAccess = 0;
    if ((rc = s.connect(true)) != ExitOk || (rc = s.fullRead()) != ExitOk)
        return rc;

    const ParamBlock before = link.DeviceParams;
    // Without --unit and --discreteness the words mean what they mean in the
    // device's own setting, as the library dialog takes them.
    const bool unitGiven = o.unit >= 0 && o.discreteness >= 0;
    const quint16 entryConfig = unitGiven ? Conv::withDecimals(Conv::withUnit(0, o.unit), o.discreteness)
                                          : before.Config;
    const GasLibrary::Fit fit = GasLibrary::fit(limit1, limit2, entryConfig, before.Config, before.ValueMax);
    const int deviceUnit = Conv::unitIndex(before.Config);
    const int deviceDecimals = Conv::decimals(before.Config);
    if (fit.unitDiffers || fit.discretenessDiffers)
        return s.fail(ExitUsage, QStringLiteral("\"%1\" is given in %2, but %3 is set to %4: its words would mean "
                                                "other thresholds there; nothing was written")
                                     .arg(entry.name, unitText(o.unit, o.discreteness), deviceLine(s),
                                          unitText(deviceUnit, deviceDecimals)));
    ParamBlock candidate = before;
    candidate.Limit1 = limit1;
    candidate.Limit2 = limit2;
    const QString rule = thresholdRuleText(candidate);
    if (!rule.isEmpty())
        return s.fail(ExitUsage, QStringLiteral("\"%1\" on %2: %3; nothing was written")
                                     .arg(entry.name, deviceLine(s), rule));

    if (!unitGiven) {
        io.err << QStringLiteral("tlctl: note: the words of \"%1\" are taken in the unit and discreteness %2 is set "
                                 "to (%3), as the program's library dialog takes them; give --unit and "
                                 "--discreteness to have them checked\n")
                      .arg(entry.name, deviceLine(s), unitText(Conv::unitIndex(before.Config),
                                                              Conv::decimals(before.Config)));
        io.err.flush();
    }
    link.DeviceParams.Limit1 = limit1;
    link.DeviceParams.Limit2 = limit2;
    const DeviceOps::Outcome written = DeviceOps::writeThresholds(link);
    if (!written.ok())
        return s.failed(written, QString(), 0, QStringLiteral("writing limit1 and limit2 (0x1005-0x1006)"));
    DeviceOps::Outcome back = DeviceOps::read(link, DeviceOps::ReadMode::Full);
    if (!back.ok()) {
        // The thresholds went out and were answered; what the device holds
        // now is not known.
        back.unverified = true;
        return s.failed(back);
    }
    const ParamBlock &after = link.DeviceParams;
    if (after.Limit1 != limit1 || after.Limit2 != limit2)
        return s.fail(ExitExchange, QStringLiteral("the device at %1 did not take the thresholds of \"%2\": sent "
                                                   "words %3 and %4, it holds %5 and %6")
                                        .arg(s.where(), entry.name).arg(limit1).arg(limit2)
                                        .arg(after.Limit1).arg(after.Limit2));
    if (o.json) {
        QJsonObject root;
        root.insert(QStringLiteral("library"), path);
        root.insert(QStringLiteral("row"), entry.row);
        root.insert(QStringLiteral("name"), entry.name);
        root.insert(QStringLiteral("limit1"), int(limit1));
        root.insert(QStringLiteral("limit2"), int(limit2));
        root.insert(QStringLiteral("limit1_before"), int(before.Limit1));
        root.insert(QStringLiteral("limit2_before"), int(before.Limit2));
        root.insert(QStringLiteral("port"), s.portPath());
        root.insert(QStringLiteral("address"), int(link.SlaveAddress));
        printJson(io, QJsonDocument(root));
        return ExitOk;
    }
    io.out << QStringLiteral("limit1: %1 -> %2\n").arg(thresholdShown(before.Limit1, deviceUnit, deviceDecimals),
                                                      thresholdShown(limit1, deviceUnit, deviceDecimals));
    io.out << QStringLiteral("limit2: %1 -> %2\n").arg(thresholdShown(before.Limit2, deviceUnit, deviceDecimals),
                                                      thresholdShown(limit2, deviceUnit, deviceDecimals));
    io.out << QStringLiteral("wrote the thresholds of \"%1\" (row %2 of %3) to %4 and read them back: the device "
                             "took them\n").arg(entry.name).arg(entry.row).arg(path, deviceLine(s));
    return ExitOk;
}

int cmdGas(Session &s, const Options &o, Io &io)
{
    const QString sub = o.args.value(0);
    if (sub == QLatin1String("list"))
        return gasFind(s, o, io, true);
    if (sub == QLatin1String("search"))
        return gasFind(s, o, io, false);
    if (sub == QLatin1String("add"))
        return gasAdd(s, o, io);
    return gasApply(s, o, io);
}

// One command on one line: the session, the command, and an exchange a
// signal cut short reported as the interrupt it was.
int runOne(const Options &o, Io &io, Command *link, const LinePlace *place)
{
    int rc = ExitUsage;
    {
        Session s(o, io, link);
        const QString &c = o.command;
        if (c == QLatin1String("ports"))
            rc = cmdPorts(s, o, io);
        else if (c == QLatin1String("identify"))
            rc = cmdIdentify(s, o, io);
        else if (c == QLatin1String("read"))
            rc = cmdRead(s, o, io);
        else if (c == QLatin1String("set"))
            rc = cmdSet(s, o, io);
        else if (c == QLatin1String("watch"))
            rc = cmdWatch(s, o, io);
        else if (c == QLatin1String("backup"))
            rc = cmdBackup(s, o, io, place);
        else if (c == QLatin1String("restore"))
            rc = cmdRestore(s, o, io);
        else if (c == QLatin1String("factory"))
            rc = cmdFactory(s, o, io);
        else if (c == QLatin1String("flash"))
            rc = cmdFlash(s, o, io);
        else if (c == QLatin1String("scan"))
            rc = cmdScan(s, o, io);
        else if (c == QLatin1String("journal"))
            rc = cmdJournal(s, o, io);
        else if (c == QLatin1String("check"))
            rc = cmdCheck(s, o, io);
        else if (c == QLatin1String("gas"))
            rc = cmdGas(s, o, io);
    }
    // An exchange a signal cut short fails like any other on its way up;
    // the run still ends with the signal's code.
    if (rc == ExitExchange && interrupted())
        rc = interruptExitCode();
    io.out.flush();
    io.err.flush();
    return rc;
}

} // namespace

// -------------------------------------------------------------------- site

namespace {

QString placeText(const QString &port, int address)
{
    return QStringLiteral("%1 address %2").arg(port).arg(address);
}

QString dueWords(const QDate &nextDue, const QDate &today)
{
    switch (SiteReport::dueOn(nextDue, today)) {
    case SiteReport::Due::Unknown:
        return QStringLiteral("never calibrated");
    case SiteReport::Due::Overdue:
        return QStringLiteral("OVERDUE by %1 days").arg(nextDue.daysTo(today));
    case SiteReport::Due::Soon:
        return QStringLiteral("due in %1 days").arg(today.daysTo(nextDue));
    case SiteReport::Due::Ok:
        break;
    }
    return QStringLiteral("due %1").arg(nextDue.toString(Qt::ISODate));
}

int siteSurvey(Site::Register &reg, const Options &o, const QStringList &givenPorts, Io &io)
{
    auto fail = [&io](int code, const QString &message) {
        io.out.flush();
        io.err << "tlctl: " << message << "\n";
        io.err.flush();
        return code;
    };
    QStringList ports;
    for (const QString &p : givenPorts)
        ports << resolvePortPath(p);
    if (ports.isEmpty())
        return fail(ExitUsage, QStringLiteral("site survey needs the lines: --port PATH (several times) or --ports "
                                              "FILE"));
    const QString name = o.args.value(1);
    Site::Info site;
    Journal::Error e = reg.findSite(name, &site);
    if (e.ok() && site.id == 0)
        e = reg.createSite(name, Site::DefaultIntervalDays, &site);
    if (!e.ok())
        return fail(ExitFile, Journal::errorText(e));

    SiteSurvey survey(ports, o.from, o.to);
    const SiteSurvey::Result r = survey.run();
    Site::SurveyChanges changes;
    e = reg.applySurvey(site.id, r.reads, QDateTime::currentDateTime(), &changes);
    if (!e.ok())
        return fail(ExitFile, Journal::errorText(e));

    int opened = 0;
    int failedReads = 0;
    for (const SiteSurvey::Line &line : r.lines) {
        if (line.error.isEmpty())
            ++opened;
        failedReads += line.detectors - line.read;
    }
    if (o.json) {
        auto list = [](const QVector<Site::Change> &changes) {
            QJsonArray a;
            for (const Site::Change &c : changes) {
                QJsonObject j{{QStringLiteral("serial"), c.serialText}, {QStringLiteral("port"), c.port},
                              {QStringLiteral("address"), c.address}};
                if (!c.oldPort.isEmpty())
                    j.insert(QStringLiteral("old_port"), c.oldPort), j.insert(QStringLiteral("old_address"), c.oldAddress);
                if (!c.oldFirmware.isEmpty())
                    j.insert(QStringLiteral("old_firmware"), c.oldFirmware), j.insert(QStringLiteral("firmware"), c.firmware);
                QJsonArray drift;
                for (const Journal::FieldChange &f : c.drift)
                    drift.append(QJsonObject{{QStringLiteral("name"), f.name}, {QStringLiteral("backup"), f.before},
                                             {QStringLiteral("now"), f.after}});
                if (!drift.isEmpty())
                    j.insert(QStringLiteral("drift"), drift);
                a.append(j);
            }
            return a;
        };
        QJsonArray lines;
        for (const SiteSurvey::Line &line : r.lines)
            lines.append(QJsonObject{{QStringLiteral("port"), line.port}, {QStringLiteral("error"), line.error},
                                     {QStringLiteral("detectors"), line.detectors}, {QStringLiteral("read"), line.read}});
        printJson(io, QJsonDocument(QJsonObject{{QStringLiteral("site"), name}, {QStringLiteral("lines"), lines},
                                                {QStringLiteral("new"), list(changes.added)},
                                                {QStringLiteral("missing"), list(changes.missing)},
                                                {QStringLiteral("moved"), list(changes.moved)},
                                                {QStringLiteral("firmware"), list(changes.firmware)},
                                                {QStringLiteral("drift"), list(changes.drifted)}}));
    } else {
        for (const SiteSurvey::Line &line : r.lines)
            io.out << (line.error.isEmpty()
                           ? QStringLiteral("%1: %2 detectors found, %3 read\n").arg(line.port).arg(line.detectors).arg(line.read)
                           : QStringLiteral("%1: cannot open the line: %2\n").arg(line.port, line.error));
        for (const Site::Change &c : changes.added)
            io.out << QStringLiteral("new      %1 at %2\n").arg(c.serialText, placeText(c.port, c.address));
        for (const Site::Change &c : changes.missing)
            io.out << QStringLiteral("missing  %1, last at %2\n").arg(c.serialText, placeText(c.port, c.address));
        for (const Site::Change &c : changes.moved)
            io.out << QStringLiteral("moved    %1 from %2 to %3\n")
                          .arg(c.serialText, placeText(c.oldPort, c.oldAddress), placeText(c.port, c.address));
        for (const Site::Change &c : changes.firmware)
            io.out << QStringLiteral("firmware %1: %2 -> %3\n").arg(c.serialText, c.oldFirmware, c.firmware);
        for (const Site::Change &c : changes.drifted)
            for (const Journal::FieldChange &f : c.drift)
                io.out << QStringLiteral("drift    %1 %2: %3 (backup) -> %4\n").arg(c.serialText, f.name, f.before, f.after);
        io.out << QStringLiteral("site %1: %2 detectors read\n").arg(name).arg(r.reads.size() - failedReads);
    }
    if (opened == 0)
        return fail(ExitPort, QStringLiteral("no line of site %1 could be opened").arg(name));
    return failedReads > 0 ? ExitExchange : ExitOk;
}


// Runs the work on a site's detectors to its end.  A signal (Ctrl-C,
// SIGTERM, SIGHUP) cancels it: a write under way is finished, so that its
// outcome is known, and no further detector is started.
void runOnSite(SiteApply::Runner &runner)
{
    QEventLoop loop;
    bool ended = false;
    QObject::connect(&runner, &SiteApply::Runner::finished, &loop, [&] {
        ended = true;
        loop.quit();
    });
    QTimer watch;
    bool cancelled = false;
    QObject::connect(&watch, &QTimer::timeout, &runner, [&] {
        if (interrupted() && !cancelled) {
            cancelled = true;
            runner.cancel();
        }
    });
    watch.start(100);
    runner.start();
    if (!ended)
        loop.exec();
}

QString statusWord(SiteApply::Status status)
{
    switch (status) {
    case SiteApply::Status::Done:
        return QStringLiteral("done");
    case SiteApply::Status::Failed:
        return QStringLiteral("failed");
    case SiteApply::Status::Skipped:
        break;
    }
    return QStringLiteral("skipped");
}

// Why a detector failed or was skipped, with the exchange that failed.
QString outcomeReason(const SiteApply::Outcome &out)
{
    // The runner stops the detectors not yet started in one way, after a
    // failure (--stop-at-first) or on a signal: name the signal.
    if (out.status == SiteApply::Status::Skipped && interrupted()
        && (out.why == SiteApply::Why::Stopped || out.why == SiteApply::Why::Cancelled))
        return QStringLiteral("not started: %1").arg(interruptCause());
    if (out.status == SiteApply::Status::Failed && out.op.linkResult != ResultOk)
        return QStringLiteral("%1 (%2)").arg(out.reason, resultText(out.op.linkResult));
    return out.reason;
}

QJsonObject detectorJson(const Site::Detector &d)
{
    return QJsonObject{{QStringLiteral("serial"), d.serialText}, {QStringLiteral("port"), d.port},
                       {QStringLiteral("address"), d.address}};
}

QJsonObject outcomeJson(const Site::Detector &d, const SiteApply::Outcome &out)
{
    QJsonObject j = detectorJson(d);
    j.insert(QStringLiteral("status"), statusWord(out.status));
    j.insert(QStringLiteral("reason"), out.status == SiteApply::Status::Done ? QJsonValue() : outcomeReason(out));
    return j;
}

// "TL02ID0100002 at /dev/pts/4 address 2: FAILED: reading it failed (no reply)"
QString outcomeLine(const Site::Detector &d, const SiteApply::Outcome &out, const QString &done)
{
    const QString head = QStringLiteral("%1 at %2: ").arg(d.serialText, placeText(d.port, d.address));
    switch (out.status) {
    case SiteApply::Status::Done:
        return head + done;
    case SiteApply::Status::Failed:
        return head + QStringLiteral("FAILED: ") + outcomeReason(out);
    case SiteApply::Status::Skipped:
        break;
    }
    return head + QStringLiteral("skipped: ") + outcomeReason(out);
}

// The end of a run on a site's detectors: a signal's exit code when one cut
// it short, else `code`.
int siteEnd(Session &s, int code, const SiteApply::Runner &runner)
{
    if (!interrupted())
        return code;
    return s.fail(interruptExitCode(), QStringLiteral("interrupted by %1; %2 detectors were not started")
                                           .arg(interruptCause())
                                           .arg(int(std::count_if(runner.outcomes().begin(), runner.outcomes().end(),
                                                                  [](const SiteApply::Outcome &out) {
                                                                      return outcomeReason(out).startsWith(
                                                                          QLatin1String("not started"));
                                                                  }))));
}

int siteBackup(Session &s, Site::Register &reg, const Site::Info &site, const QVector<Site::Detector> &detectors,
               const Options &o, Io &io)
{
    const QString dir = QFileInfo(o.args.value(2)).absoluteFilePath();
    if (!QDir().mkpath(dir))
        return s.fail(ExitFile, QStringLiteral("cannot create the folder %1; check the path and that you may write "
                                               "there; no detector was read").arg(dir));
    {
        QTemporaryFile probe(QDir(dir).filePath(QStringLiteral(".tlctl-XXXXXX")));
        if (!probe.open())
            return s.fail(ExitFile, QStringLiteral("cannot write into the folder %1: %2; no detector was read")
                                        .arg(dir, probe.errorString()));
    }
    QVector<SiteApply::Target> targets;
    for (const Site::Detector &d : detectors)
        targets.append({d.port, d.address, qint32(d.serial), false, {}});
    const std::unique_ptr<SiteApply::Runner> runner = SiteApply::Runner::backup(targets, dir);
    runOnSite(*runner);

    const Journal::Error e = SiteApply::recordBackups(reg, site.id, runner->outcomes(), QDateTime::currentDateTime());
    QJsonArray list;
    for (int i = 0; i < detectors.size(); ++i) {
        const SiteApply::Outcome &out = runner->outcomes()[size_t(i)];
        const Site::Detector &d = detectors[i];
        QJsonObject j = outcomeJson(d, out);
        j.insert(QStringLiteral("file"), out.status == SiteApply::Status::Done ? QJsonValue(out.path) : QJsonValue());
        list.append(j);
        if (!o.json)
            io.out << outcomeLine(d, out, QStringLiteral("saved ") + out.path) << "\n";
    }
    const int done = runner->count(SiteApply::Status::Done);
    const int failed = runner->count(SiteApply::Status::Failed);
    const int skipped = runner->count(SiteApply::Status::Skipped);
    if (o.json)
        printJson(io, QJsonDocument(QJsonObject{{QStringLiteral("site"), site.name}, {QStringLiteral("folder"), dir},
                                                {QStringLiteral("detectors"), list},
                                                {QStringLiteral("backed_up"), done}, {QStringLiteral("failed"), failed},
                                                {QStringLiteral("skipped"), skipped}}));
    else
        io.out << QStringLiteral("%1 backed up, %2 failed, %3 skipped\n").arg(done).arg(failed).arg(skipped);
    if (!e.ok())
        return s.fail(ExitFile, QStringLiteral("the register did not keep the backups: %1; the files are in %2")
                                    .arg(Journal::errorText(e), dir));
    return siteEnd(s, done == detectors.size() ? ExitOk : ExitExchange, *runner);
}

// What site apply writes: the values of --set, --file or --gas, checked as
// tlctl set, restore and gas apply check them.
struct SiteChange {
    SiteApply::ValuesFor values;
    QString what;                // the journal's words: the file, "gas NAME", "values"
    QString gas;                 // the entry's name for --gas
    QVector<const ParamDef *> named;   // --set: the parameters named
};

int siteChange(Session &s, const Options &o, Io &io, SiteChange *change)
{
    if (!o.sets.isEmpty()) {
        SiteApply::Values values;
        for (const QString &word : o.sets) {
            const int eq = word.indexOf(QLatin1Char('='));
            if (eq <= 0)
                return s.fail(ExitUsage, QStringLiteral("\"%1\" is not NAME=VALUE").arg(word));
            const QString name = word.left(eq);
            const ParamDef *def = findParameter(name);
            if (!def)
                return s.fail(ExitUsage, QStringLiteral("unknown parameter \"%1\"; tlctl set --help lists the "
                                                        "names").arg(name));
            if (def->level == SetLevel::ReadOnly)
                return s.fail(ExitUsage, QStringLiteral("%1 is read-only").arg(name));
            // Written into many detectors, an address or a serial number
            // would make them all one.
            if (Restore::isOwnField(*def))
                return s.fail(ExitUsage, QStringLiteral("%1 is each detector's own value: site apply never writes it "
                                                        "(tlctl set does, on one detector)").arg(name));
            if (change->named.contains(def))
                return s.fail(ExitUsage, QStringLiteral("%1 is given twice").arg(name));
            change->named << def;
            values.append({name, word.mid(eq + 1)});
        }
        change->values = SiteApply::sameValues(values);
        change->what = QStringLiteral("values");
        return ExitOk;
    }
    if (!o.file.isEmpty()) {
        ParamBlock file;
        if (const int rc = loadParameterFile(s, o.file, &file); rc != ExitOk)
            return rc;
        change->values = SiteApply::sameValues(SiteApply::valuesFrom(file));
        change->what = QFileInfo(o.file).absoluteFilePath();
        return ExitOk;
    }
    QString library;
    GasLibrary::Entry entry;
    quint16 limit1 = 0, limit2 = 0;
    if (const int rc = findGasEntry(s, o, io, o.gas, &library, &entry, &limit1, &limit2); rc != ExitOk)
        return rc;
    change->values = SiteApply::gasValues(limit1, limit2);
    change->gas = entry.name;
    change->what = QStringLiteral("gas ") + entry.name;
    return ExitOk;
}

int siteApply(Session &s, Site::Register &reg, const Site::Info &site, const QVector<Site::Detector> &detectors,
              const Options &o, Io &io)
{
    SiteChange change;
    int rc = siteChange(s, o, io, &change);
    if (rc != ExitOk)
        return rc;
    // The login of tlctl set and restore.  The session's link is never
    // opened: it only holds the level (and, for a gas entry at the level
    // User, the factory password's grant, as gas apply asks for it); the
    // detectors are reached through the line workers of the runner.
    Command &access = s.link();
    if ((rc = login(access, o, io, true, QStringLiteral("site apply"))) != ExitOk)
        return rc;
    if (!change.gas.isEmpty() && (rc = factoryPassword(access, io)) != ExitOk)
        return rc;
    access.FactoryAccess = 0;
    for (const ParamDef *def : change.named) {
        if (def->level == SetLevel::Production && !Access::isProduction(access.UserName))
            return s.fail(ExitAccess, QStringLiteral("%1 can only be changed at the production level (Velta); "
                                                     "logged in as %2").arg(QLatin1String(def->name), access.UserName));
    }

    // The preview, from the register's last read of each detector.
    QString text;
    QJsonArray preview;
    QVector<SiteApply::Target> targets;
    int changing = 0;
    int refusing = 0;
    int values = 0;
    for (const Site::Detector &d : detectors) {
        const ParamBlock shown = Site::blockOf(d.block);
        const SiteApply::Preview p = SiteApply::preview(shown, qint16(d.deviceType), d.writeCount,
                                                        change.values(shown), access.UserName);
        targets.append({d.port, d.address, qint32(d.serial), true, shown});
        text += QStringLiteral("%1 at %2 (as read %3):\n")
                    .arg(d.serialText, placeText(d.port, d.address),
                         d.lastRead.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        QJsonArray changes, kept, refused;
        for (const SiteApply::Change &c : p.changes) {
            text += QStringLiteral("  %1 %2 -> %3\n").arg(c.name, -18).arg(c.before, c.after);
            changes.append(QJsonObject{{QStringLiteral("name"), c.name}, {QStringLiteral("before"), c.before},
                                       {QStringLiteral("after"), c.after}});
        }
        for (const SiteApply::KeptField &k : p.kept) {
            const QString why = keptReason(k.why, access.UserName, false);
            text += QStringLiteral("  kept %1: %2\n").arg(k.name, why);
            kept.append(QJsonObject{{QStringLiteral("name"), k.name}, {QStringLiteral("reason"), why}});
        }
        for (const auto &r : p.refused) {
            text += QStringLiteral("  refused %1\n").arg(r.first.isEmpty() ? r.second : r.first + QStringLiteral(": ") + r.second);
            refused.append(QJsonObject{{QStringLiteral("name"), r.first.isEmpty() ? QJsonValue() : QJsonValue(r.first)},
                                       {QStringLiteral("reason"), r.second}});
        }
        if (!p.refused.isEmpty()) {
            text += QStringLiteral("  nothing is written into it\n");
            ++refusing;
        } else if (p.changes.isEmpty()) {
            text += QStringLiteral("  nothing changes\n");
        } else {
            ++changing;
            values += p.changes.size();
        }
        QJsonObject j = detectorJson(d);
        j.insert(QStringLiteral("changes"), changes);
        j.insert(QStringLiteral("kept"), kept);
        j.insert(QStringLiteral("refused"), refused);
        preview.append(j);
    }
    text += QStringLiteral("%1 of %2 detectors of site %3 change (%4 %5)\n")
                .arg(changing).arg(detectors.size()).arg(site.name).arg(values)
                .arg(values == 1 ? QStringLiteral("value") : QStringLiteral("values"));
    QJsonObject root{{QStringLiteral("site"), site.name}, {QStringLiteral("what"), change.what},
                     {QStringLiteral("level"), access.UserName}, {QStringLiteral("dry_run"), o.dryRun},
                     {QStringLiteral("preview"), preview}, {QStringLiteral("outcomes"), QJsonArray()},
                     {QStringLiteral("done"), 0}, {QStringLiteral("failed"), 0}, {QStringLiteral("skipped"), 0}};
    auto finish = [&](const QString &line, int code) {
        if (o.json) {
            printJson(io, QJsonDocument(root));
        } else {
            io.out << text << line;
            io.out.flush();
        }
        return code;
    };
    if (o.dryRun)
        return finish(QStringLiteral("dry run: nothing was written\n"), ExitOk);
    // Nothing to ask about: a detector refused counts as one skipped.
    if (changing == 0)
        return finish(QStringLiteral("nothing was written\n"), refusing > 0 ? ExitExchange : ExitOk);
    if (!o.yes) {
        if (!io.confirm) {
            finish(QString(), ExitUsage);
            return s.fail(ExitUsage, QStringLiteral("site apply shows what it would change and asks before it "
                                                    "writes; without a terminal to ask on, add --yes (or --dry-run "
                                                    "to see the changes only); nothing was written"));
        }
        // The question goes to the terminal; with --json the preview is
        // shown there too, before it.
        (o.json ? io.err : io.out) << text;
        (o.json ? io.err : io.out).flush();
        const bool agreed = io.confirm(QStringLiteral("Write into %1 detectors of site %2?").arg(changing).arg(site.name));
        text.clear();
        if (interrupted())
            return s.fail(interruptExitCode(), QStringLiteral("site apply interrupted at the question; nothing was "
                                                              "written"));
        if (!agreed)
            return finish(QStringLiteral("nothing was written\n"), ExitOk);
    }
    if (!o.json) {
        io.out << text;
        io.out.flush();
        text.clear();
    }

    SiteApply::Runner runner(targets, change.values, access.UserName, o.stopAtFirst, QStringLiteral("tlctl"),
                             change.what);
    runner.setJournal(journalLocation(o));
    runOnSite(runner);

    // The register takes what each detector done holds now: its block as
    // read back after the write, and the gas entry it was set to.
    const Journal::Error e =
        SiteApply::recordChange(reg, site.id, runner.outcomes(), change.gas, QDateTime::currentDateTime());
    QJsonArray outcomes;
    int failures = 0;
    int unchanged = 0;
    for (int i = 0; i < detectors.size(); ++i) {
        const SiteApply::Outcome &out = runner.outcomes()[size_t(i)];
        const Site::Detector &d = detectors[i];
        if (out.status == SiteApply::Status::Skipped && out.why == SiteApply::Why::NothingToChange)
            ++unchanged;
        else if (out.status != SiteApply::Status::Done)
            ++failures;
        outcomes.append(outcomeJson(d, out));
        if (!o.json)
            io.out << outcomeLine(d, out, QStringLiteral("written and read back")) << "\n";
    }
    const int done = runner.count(SiteApply::Status::Done);
    const int failed = runner.count(SiteApply::Status::Failed);
    const int skipped = runner.count(SiteApply::Status::Skipped);
    root.insert(QStringLiteral("outcomes"), outcomes);
    root.insert(QStringLiteral("done"), done);
    root.insert(QStringLiteral("failed"), failed);
    root.insert(QStringLiteral("skipped"), skipped);
    finish(QStringLiteral("%1 done, %2 failed, %3 skipped (%4 with nothing to change)\n")
               .arg(done).arg(failed).arg(skipped).arg(unchanged), ExitOk);
    if (!e.ok()) {
        io.err << "tlctl: warning: the site register was not updated: " << Journal::errorText(e)
               << "; the detectors are as reported above; survey the site again\n";
        io.err.flush();
    }
    return siteEnd(s, failures > 0 ? ExitExchange : ExitOk, runner);
}

int siteReport(Session &s, Site::Register &reg, const Site::Info &site, const Options &o, Io &io)
{
    const QString path = o.args.value(2);
    const QDate today = QDate::currentDate();
    QVector<Site::Due> due;
    const Journal::Error e = reg.calibration(site.id, today, &due);
    if (!e.ok())
        return s.fail(ExitFile, Journal::errorText(e));
    QVector<SiteReport::Row> rows;
    for (const Site::Due &d : due)
        rows.append(Site::reportRow(d));
    QString technician = o.user;
    for (const char *name : {"USER", "LOGNAME"})
        if (technician.isEmpty())
            technician = qEnvironmentVariable(name);
    const SiteReport::Header header{site.name, today, technician};

    QString error;
    if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive)) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(SiteReport::toCsv(header, rows));
        if (!file.commit())
            error = file.errorString();
    } else {
        SiteReport::writePdf(header, rows, path, &error);
    }
    if (!error.isEmpty())
        return s.fail(ExitFile, QStringLiteral("cannot write %1: %2 (a file there before is left as it was)")
                                    .arg(path, error));
    if (o.json)
        printJson(io, QJsonDocument(QJsonObject{{QStringLiteral("site"), site.name},
                                                {QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                                                {QStringLiteral("date"), today.toString(Qt::ISODate)},
                                                {QStringLiteral("technician"), technician},
                                                {QStringLiteral("detectors"), rows.size()}}));
    else
        io.out << QStringLiteral("wrote the report of site %1 (%2 detectors) to %3\n")
                      .arg(site.name).arg(rows.size()).arg(path);
    return ExitOk;
}

int siteCommand(Journal::Database &db, const Options &o, const QStringList &ports, Io &io);

} // namespace

// The register of this computer's copy, brought up to date with the server
// first; what a survey, backup or apply wrote goes to the server after.
int cmdSite(const Options &o, const QStringList &ports, Io &io)
{
    syncBeforeReading(o, io);
    int rc = ExitOk;
    {
        Journal::Database db;
        const Journal::Error e = db.open(journalFile(o));
        if (!e.ok()) {
            io.err << "tlctl: " << Journal::errorText(e) << "\n";
            io.err.flush();
            return ExitFile;
        }
        rc = siteCommand(db, o, ports, io);
    }
    const QString sub = o.args.value(0);
    if (sub == QLatin1String("survey") || sub == QLatin1String("backup") || sub == QLatin1String("apply"))
        syncAfterWriting(o, io);
    return rc;
}

namespace {

int siteCommand(Journal::Database &db, const Options &o, const QStringList &ports, Io &io)
{
    Journal::Error e;
    Site::Register reg(db);
    const QString sub = o.args.value(0);
    if (sub == QLatin1String("survey"))
        return siteSurvey(reg, o, ports, io);
    if (sub == QLatin1String("backup") || sub == QLatin1String("apply") || sub == QLatin1String("report")) {
        // The session gives the messages (and site apply the login's access
        // state); it opens no line.
        Session s(o, io);
        Site::Info site;
        e = reg.findSite(o.args.value(1), &site);
        if (!e.ok())
            return s.fail(ExitFile, Journal::errorText(e));
        if (site.id == 0)
            return s.fail(ExitUsage, QStringLiteral("there is no site \"%1\"; tlctl site list shows them")
                                         .arg(o.args.value(1)));
        if (sub == QLatin1String("report"))
            return siteReport(s, reg, site, o, io);
        QVector<Site::Detector> detectors;
        e = reg.detectors(site.id, &detectors);
        if (!e.ok())
            return s.fail(ExitFile, Journal::errorText(e));
        if (!o.only.isEmpty()) {
            QSet<qint64> chosen;
            for (const QString &serial : o.only) {
                Site::Detector d;
                e = reg.findDetector(site.id, serial, &d);
                if (!e.ok())
                    return s.fail(ExitFile, Journal::errorText(e));
                if (d.siteId == 0)
                    return s.fail(ExitUsage, QStringLiteral("site %1 has no detector with the serial number %2 "
                                                            "(--only); tlctl site show %1 lists them")
                                                 .arg(site.name, serial));
                chosen.insert(d.serial);
            }
            detectors.erase(std::remove_if(detectors.begin(), detectors.end(),
                                           [&](const Site::Detector &d) { return !chosen.contains(d.serial); }),
                            detectors.end());
        }
        return sub == QLatin1String("backup") ? siteBackup(s, reg, site, detectors, o, io)
                                              : siteApply(s, reg, site, detectors, o, io);
    }
    const QDate today = QDate::currentDate();
    QVector<Site::Info> sites;
    if (sub == QLatin1String("list")) {
        e = reg.sites(&sites);
        QJsonArray a;
        for (const Site::Info &site : sites) {
            QVector<Site::Detector> detectors;
            if (e.ok())
                e = reg.detectors(site.id, &detectors);
            a.append(QJsonObject{{QStringLiteral("name"), site.name},
                                 {QStringLiteral("interval_days"), site.intervalDays},
                                 {QStringLiteral("detectors"), detectors.size()}});
            if (!o.json)
                io.out << QStringLiteral("%1  (%2 detectors, calibration every %3 days)\n")
                              .arg(site.name).arg(detectors.size()).arg(site.intervalDays);
        }
        if (e.ok() && o.json)
            printJson(io, QJsonDocument(a));
    } else {
        QVector<Site::Due> due;
        Site::Info site;
        if (sub == QLatin1String("show")) {
            e = reg.findSite(o.args.value(1), &site);
            if (e.ok() && site.id == 0) {
                io.err << "tlctl: there is no site \"" << o.args.value(1) << "\"; tlctl site list shows them\n";
                io.err.flush();
                return ExitUsage;
            }
            if (e.ok())
                e = reg.calibration(site.id, today, &due);
        } else {
            e = reg.due(o.days, today, &due);
        }
        QJsonArray a;
        for (const Site::Due &d : due) {
            const Site::Detector &t = d.detector;
            a.append(QJsonObject{{QStringLiteral("site"), d.site}, {QStringLiteral("serial"), t.serialText},
                                 {QStringLiteral("tag"), t.tag}, {QStringLiteral("port"), t.port},
                                 {QStringLiteral("address"), t.address}, {QStringLiteral("type"), t.deviceType},
                                 {QStringLiteral("firmware"), t.firmware}, {QStringLiteral("unit"), t.unit},
                                 {QStringLiteral("range"), t.rangeMin + QStringLiteral("-") + t.rangeMax},
                                 {QStringLiteral("limit1"), t.limit1}, {QStringLiteral("limit2"), t.limit2},
                                 {QStringLiteral("next_calibration"), d.nextDue.toString(Qt::ISODate)},
                                 {QStringLiteral("due"), dueWords(d.nextDue, today)},
                                 {QStringLiteral("gas"), t.gas.isEmpty() ? QJsonValue() : QJsonValue(t.gas)},
                                 {QStringLiteral("backup"), t.backupPath.isEmpty() ? QJsonValue() : QJsonValue(t.backupPath)},
                                 {QStringLiteral("backup_time"), t.backupTime.isValid()
                                                                     ? QJsonValue(t.backupTime.toString(Qt::ISODate))
                                                                     : QJsonValue()}});
            if (!o.json)
                io.out << QStringList{sub == QLatin1String("due") ? d.site : t.tag.isEmpty() ? QStringLiteral("-") : t.tag,
                                      placeText(t.port, t.address), t.serialText,
                                      deviceKindText(qint16(t.deviceType)) + QStringLiteral(", firmware ") + t.firmware,
                                      QStringLiteral("%1-%2 %3").arg(t.rangeMin, t.rangeMax, t.unit),
                                      QStringLiteral("limits %1 / %2").arg(t.limit1, t.limit2),
                                      dueWords(d.nextDue, today)}
                              .join(QStringLiteral("  "))
                       << "\n";
        }
        if (e.ok() && o.json)
            printJson(io, QJsonDocument(a));
        else if (e.ok() && due.isEmpty())
            io.out << (sub == QLatin1String("due") ? QStringLiteral("no detector is due within %1 days\n").arg(o.days)
                                                   : QStringLiteral("site %1 has no detectors yet\n").arg(site.name));
    }
    if (!e.ok()) {
        io.err << "tlctl: " << Journal::errorText(e) << "\n";
        io.err.flush();
        return ExitFile;
    }
    return ExitOk;
}

} // namespace

int run(const QStringList &words, Io &io, Command *link)
{
    const Parsed parsed = parseArguments(words);
    const Options &o = parsed.options;
    if (o.help) {
        io.out << helpText(o.command);
        io.out.flush();
        return ExitOk;
    }
    if (o.version) {
        io.out << "tlctl (" << ProgramName << ") " << ProgramVersion << '\n';
        io.out.flush();
        return ExitOk;
    }
    if (!parsed.error.isEmpty()) {
        io.err << "tlctl: " << parsed.error << "; tlctl --help shows the usage\n";
        io.err.flush();
        return ExitUsage;
    }

    // A journal's location that is none (a password in it, say) stops the
    // command before any device work: given on the command line always, from
    // the environment when the command uses the journal.
    if (!o.journal.isEmpty() || usesJournal(o.command)) {
        const Journal::Location place = Journal::parseLocation(journalLocation(o));
        if (place.kind == Journal::Location::Kind::Invalid) {
            io.err << "tlctl: the journal's location " << place.text << " is not usable: " << place.problem << "\n";
            io.err.flush();
            return ExitUsage;
        }
    }

    QStringList ports = o.ports;
    if (!o.portsFile.isEmpty()) {
        QString error;
        if (!readPortsFile(o.portsFile, &ports, &error)) {
            io.err << "tlctl: cannot read the list of ports " << o.portsFile << ": " << error
                   << "; check the path (--ports)\n";
            io.err.flush();
            return ExitFile;
        }
        if (ports.isEmpty()) {
            io.err << "tlctl: " << o.portsFile << " names no port; write one port a line (blank lines and lines "
                      "starting with # are skipped)\n";
            io.err.flush();
            return ExitFile;
        }
    }
    if (o.command == QLatin1String("site"))
        return cmdSite(o, ports, io);
    if (ports.size() > 1)
        return runOnLines(o, ports, io, runOne);
    Options single = o;
    if (!ports.isEmpty())
        single.port = ports.first();
    return runOne(single, io, link, nullptr);
}

} // namespace Tlctl

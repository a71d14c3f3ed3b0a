// One change to many detectors: the same values written into each chosen
// detector, each on its own line's worker, under the rules of loading a
// parameter file (Restore::plan): a detector's own fields are never
// copied, nothing the access level may not change is written, the line
// speed and the command register never, and the concentration simulation
// always goes in switched off.
//
// Per detector, in turn on its line: a full read (whatever answers must be
// the detector chosen, by its serial number), the plan, the write of the
// block (DeviceOps::writeAndReadBack: the identity check first, then the
// read-back, which must bring back every register written) and a journal
// record.  A failure is reported and the others go on, unless the run was
// asked to stop at the first one: then every line stops before its next
// detector (one being written is finished, so that its outcome is known).
#pragma once

#include "deviceops.h"
#include "deviceparams.h"
#include "restoreplan.h"
#include "siteregister.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QVector>
#include <functional>
#include <atomic>
#include <memory>
#include <vector>

class Command;
class LineWorker;

namespace SiteApply {

// A detector chosen: where it hangs and which it must be.
struct Target {
    QString port;
    int address = 0;
    qint32 serial = 0;
    // The block the preview shown to the technician was made from (the
    // register's last read): when set, a detector whose changes would now
    // differ from the ones shown is skipped, not written.
    bool previewed = false;
    ParamBlock shown{};
};

// Values by parameter name, as texts in the detector's own units (as
// `tlctl set` takes them).  A parameter file or a gas-library entry is
// turned into these first (valuesFrom).
using Values = QVector<QPair<QString, QString>>;

// The named parameters of `source` as texts, in its own units; all the
// ordinary settings a parameter file brings in when `names` is empty.
Values valuesFrom(const ParamBlock &source, const QStringList &names = {});

// The values for one detector, from the block read from it.  Typed values
// and a parameter file's are the same for every detector; a gas-library
// entry's threshold words mean thresholds in each detector's own unit and
// discreteness (as the library dialog takes them), so its texts differ.
using ValuesFor = std::function<Values(const ParamBlock &device)>;
ValuesFor sameValues(const Values &values);
// Limit1 and Limit2 (value and direction) of a library entry's words.
ValuesFor gasValues(quint16 limit1Word, quint16 limit2Word);

struct Change {
    QString name;
    QString before;   // with the unit
    QString after;
};
struct KeptField {
    QString name;
    Restore::Kept why;
};

// What writing `values` into a detector that holds `device` would do.
struct Preview {
    Restore::Plan plan;
    QVector<Change> changes;
    QVector<KeptField> kept;          // values asked for that stay as the device has them
    // Name, what is wrong with the value; a threshold above the upper range
    // value and a value the discreteness cannot hold refuse the whole change
    // (name "limit1", ... or empty for the rule of the thresholds).
    QVector<QPair<QString, QString>> refused;
};
Preview preview(const ParamBlock &device, qint16 deviceType, quint16 writeCount, const Values &values,
                const QString &level);

enum class Status { Done, Failed, Skipped };
// Why a detector failed or was skipped, for the program's own words.
enum class Why {
    None,
    LineNotOpened,
    ReadFailed,
    OtherDetector,      // another serial number answers at the place
    Refused,            // a value not accepted (refused in `reason`)
    ChangedSincePreview,
    NothingToChange,
    WriteFailed,
    NotVerified,        // written, the read-back did not confirm it
    FileNotWritten,
    Stopped,            // stopped after another detector failed
    Cancelled,
};
struct Outcome {
    Target target;
    Status status = Status::Skipped;
    // Why it failed or was skipped, in plain English words for tlctl and
    // the journal: "no reply when read", "another detector answers there
    // (serial N)", "nothing to change", "stopped after a failure".
    QString reason;
    Why why = Why::None;
    DeviceOps::Outcome op;            // the device operation that failed
    QVector<Change> changes;          // what was (or was to be) written
    QString path;                     // a backup: the file written
    ParamBlock block{};               // the detector's block as read (as written, once done)
    qint16 deviceType = 0;            // as read
    quint16 writeCount = 0;
};

// What a finished run leaves in the site's register.  A change: each
// detector done has the block read back as its last read (the next preview
// starts from it) and, when a gas-library entry was written (`gas` not
// empty), that gas.  A backup: each file written is the detector's last
// backup, which drift is measured against.  The first failure is returned;
// the devices are as the outcomes say either way.
Journal::Error recordChange(Site::Register &reg, qint64 siteId, const std::vector<Outcome> &outcomes,
                            const QString &gas, const QDateTime &time);
Journal::Error recordBackups(Site::Register &reg, qint64 siteId, const std::vector<Outcome> &outcomes,
                             const QDateTime &time);

// Work on each of a list of detectors, on their lines' workers.  Each
// detector is read in full first and must be the one chosen; then the
// runner's action does its part and sets the outcome.
class Runner : public QObject
{
    Q_OBJECT
public:
    // The change of values: `source` names the origin for the journal
    // ("program" or "tlctl"), `what` the change (a file path, "gas NAME",
    // "values").
    Runner(const QVector<Target> &targets, const Values &values, const QString &level, bool stopAtFirstFailure,
           const QString &source, const QString &what, QObject *parent = nullptr);
    // The same with values made for each detector from its block as read.
    Runner(const QVector<Target> &targets, const ValuesFor &values, const QString &level, bool stopAtFirstFailure,
           const QString &source, const QString &what, QObject *parent = nullptr);
    // A backup of each detector into `dir`, as backupFileName() names it,
    // with the concentration simulation off in the file.  A file already
    // there is replaced.
    static std::unique_ptr<Runner> backup(const QVector<Target> &targets, const QString &dir,
                                          QObject *parent = nullptr);
    ~Runner() override;

    // The journal the change's records go to (default: the user's file);
    // set before start().
    void setJournal(const QString &location) { journal = location; }

    void start();
    Runner &run();   // start(), then waits for the end
    // The technician's Cancel: every line stops before its next detector
    // (one being written is finished); those not reached are skipped as
    // "cancelled".
    void cancel();
    // In the order of the targets given.
    const std::vector<Outcome> &outcomes() const { return results; }
    int count(Status status) const;

signals:
    void detectorDone(const SiteApply::Outcome &outcome);
    void finished();

private:
    // Does the work on a detector read and found to be the one chosen
    // (link.DeviceParams holds its block), setting the outcome's status.
    using Action = std::function<void(Command &link, Outcome &o)>;
    Runner(const QVector<Target> &targets, bool stopAtFirstFailure, Action action, QObject *parent);
    void runLine(Command &link, LineWorker *worker, const QVector<int> &indexes);
    void stopLines();
    void change(Command &link, Outcome &o, const ValuesFor &values, const QString &level, const QString &source,
                const QString &what);

    const QVector<Target> targets;
    const bool stopAtFirst;
    QString journal = Journal::defaultPath();
    Action action;
    std::vector<std::unique_ptr<LineWorker>> workers;
    std::vector<Outcome> results;   // one per target, each written by its line only
    int running = 0;
    std::atomic<bool> cancelled{false};
};

} // namespace SiteApply

Q_DECLARE_METATYPE(SiteApply::Outcome)

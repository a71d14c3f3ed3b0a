// Sends the journal to a team's server in the background: a worker thread
// of its own runs Journal::sync() at start, by a timer while the program
// runs and soon after a record is written (nudge()), one sync at a time and
// never on the caller's thread, so that no window and no device work waits
// on the network.  A location that names a file has nothing to send: then
// it does nothing at all.
//
// No widgets: the program shows the reports it emits.
#pragma once

#include "journalsync.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Journal {

// The program's journal setting: empty for this computer's file
// (defaultPath()), else a location.  Why a text may not be kept as the
// setting; the detail in parseLocation()'s words.
struct SettingCheck {
    enum class Verdict {
        Accepted,
        Password,    // a password in a server's location
        Relative,    // a file not given by its full path
        Invalid,     // anything else parseLocation() refuses
    };
    Verdict verdict = Verdict::Accepted;
    QString detail;
    bool accepted() const { return verdict == Verdict::Accepted; }
};
SettingCheck checkSetting(const QString &text);
// The location the setting names (defaultPath() for an empty one).
QString settingLocation(const QString &setting);

} // namespace Journal

class JournalSender : public QObject
{
    Q_OBJECT
public:
    using SyncFunction = std::function<Journal::SyncReport(const QString &location, const std::atomic_bool *cancel)>;

    // `sync` is what sends (Journal::sync unless a test gives another).
    explicit JournalSender(QObject *parent = nullptr, SyncFunction sync = Journal::sync);
    // stop().
    ~JournalSender() override;

    // The journal's location (journallocation.h; empty: this computer's
    // file).  A change cancels a sync of the old one and, for a server,
    // starts one of the new.
    void setLocation(const QString &location);
    QString location() const { return place; }
    bool isServer() const;

    // The period of the timer (default 60 s) and the delay of a nudge
    // (default 2 s: records written one after another go in one sync).
    void setPeriod(int ms);
    void setNudgeDelay(int ms);

    // Starts the worker: a sync at once, then by the timer.
    void start();
    // A record was written: a sync soon.
    void nudge();
    // Cancels a running sync (checked between its batches) and joins the
    // worker.  A sync held in a connect ends within libpq's connect_timeout
    // (journallocation.h); stop() waits for it that long and some more, and
    // after that lets the thread end on its own rather than hold the
    // program's exit.  Nothing is emitted afterwards.
    void stop();

    // A sync runs now.
    bool busy() const;
    // The report of the last sync of this location (none yet: hasReport() false).
    bool hasReport() const { return reported; }
    const Journal::SyncReport &lastReport() const { return last; }

signals:
    void syncStarted();
    void syncEnded(const Journal::SyncReport &report);

private:
    struct Shared;
    static void work(std::shared_ptr<Shared> shared, SyncFunction sync);
    void request();
    void ended(const Journal::SyncReport &report, quint64 generation);

    SyncFunction syncFunction;
    std::shared_ptr<Shared> shared;
    std::thread worker;
    QTimer periodTimer;
    QTimer nudgeTimer;
    QString place;
    bool started = false;
    bool reported = false;
    Journal::SyncReport last;
};

Q_DECLARE_METATYPE(Journal::SyncReport)

#include "journalsender.h"

#include "journallocation.h"

#include <QDir>
#include <QMetaObject>

#include <chrono>
#include <cstdio>

namespace Journal {

SettingCheck checkSetting(const QString &text)
{
    SettingCheck check;
    const QString t = text.trimmed();
    if (t.isEmpty())
        return check;
    for (const QChar c : t) {
        if (c.category() == QChar::Other_Control) {
            check.verdict = SettingCheck::Verdict::Invalid;
            check.detail = QStringLiteral("a control character in the location");
            return check;
        }
    }
    const Location place = parseLocation(t);
    if (place.kind == Location::Kind::Invalid) {
        check.detail = place.problem;
        check.verdict = place.problem.contains(QLatin1String("password")) ? SettingCheck::Verdict::Password
                                                                          : SettingCheck::Verdict::Invalid;
    } else if (place.kind == Location::Kind::SqliteFile && QDir::isRelativePath(place.path)) {
        // The program's working folder is no place to look for a journal.
        check.verdict = SettingCheck::Verdict::Relative;
        check.detail = place.path;
    }
    return check;
}

QString settingLocation(const QString &setting)
{
    const QString t = setting.trimmed();
    return t.isEmpty() ? defaultPath() : t;
}

} // namespace Journal

struct JournalSender::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    bool stopping = false;
    bool wanted = false;
    bool running = false;
    QString location;
    quint64 generation = 0;        // counts the changes of location
    std::atomic_bool cancel{false};
    JournalSender *owner = nullptr;   // null once stopped
};

JournalSender::JournalSender(QObject *parent, SyncFunction sync)
    : QObject(parent), syncFunction(std::move(sync)), shared(std::make_shared<Shared>())
{
    qRegisterMetaType<Journal::SyncReport>();
    shared->owner = this;
    periodTimer.setInterval(60 * 1000);
    nudgeTimer.setSingleShot(true);
    nudgeTimer.setInterval(2000);
    connect(&periodTimer, &QTimer::timeout, this, &JournalSender::request);
    connect(&nudgeTimer, &QTimer::timeout, this, &JournalSender::request);
}

JournalSender::~JournalSender()
{
    stop();
}

bool JournalSender::isServer() const
{
    return Journal::parseLocation(place).isServer();
}

void JournalSender::setPeriod(int ms)
{
    periodTimer.setInterval(ms);
}

void JournalSender::setNudgeDelay(int ms)
{
    nudgeTimer.setInterval(ms);
}

void JournalSender::setLocation(const QString &location)
{
    if (location == place)
        return;
    place = location;
    reported = false;
    last = Journal::SyncReport();
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->location = location;
        ++shared->generation;
        // A sync of the old place has nothing more to do.
        shared->cancel = true;
        shared->wanted = false;
    }
    if (!started)
        return;
    if (isServer()) {
        periodTimer.start();
        request();
    } else {
        periodTimer.stop();
        nudgeTimer.stop();
    }
}

void JournalSender::start()
{
    if (started || !shared->owner)
        return;
    started = true;
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->location = place;
    }
    worker = std::thread(&JournalSender::work, shared, syncFunction);
    if (isServer()) {
        periodTimer.start();
        request();
    }
}

void JournalSender::nudge()
{
    if (started && isServer() && !nudgeTimer.isActive())
        nudgeTimer.start();
}

void JournalSender::request()
{
    if (!started || !isServer())
        return;
    std::lock_guard<std::mutex> lock(shared->mutex);
    if (shared->stopping)
        return;
    shared->wanted = true;
    shared->wake.notify_one();
}

bool JournalSender::busy() const
{
    std::lock_guard<std::mutex> lock(shared->mutex);
    return shared->running || shared->wanted;
}

void JournalSender::stop()
{
    periodTimer.stop();
    nudgeTimer.stop();
    if (!worker.joinable()) {
        std::lock_guard<std::mutex> lock(shared->mutex);
        shared->owner = nullptr;
        return;
    }
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->stopping = true;
    shared->owner = nullptr;
    shared->cancel = true;
    shared->wake.notify_one();
    // A sync ends at its next batch once cancelled; one in a connect ends
    // within the connect time-out.
    const auto limit = std::chrono::seconds(Journal::ConnectTimeoutSeconds + 5);
    const bool ended = shared->idle.wait_for(lock, limit, [this] { return !shared->running; });
    lock.unlock();
    if (ended) {
        worker.join();
    } else {
        // It holds nothing of this object (only the shared state): it may
        // end on its own, after the program.
        std::fprintf(stderr, "tl-configuration: the journal's sending did not end in %d s; not waiting for it\n",
                     int(limit.count()));
        worker.detach();
    }
}

void JournalSender::work(std::shared_ptr<Shared> s, SyncFunction sync)
{
    std::unique_lock<std::mutex> lock(s->mutex);
    for (;;) {
        s->wake.wait(lock, [&s] { return s->stopping || s->wanted; });
        if (s->stopping)
            break;
        s->wanted = false;
        s->running = true;
        s->cancel = false;
        const QString location = s->location;
        const quint64 generation = s->generation;
        if (JournalSender *owner = s->owner)
            QMetaObject::invokeMethod(owner, &JournalSender::syncStarted, Qt::QueuedConnection);
        lock.unlock();
        const Journal::SyncReport report = sync(location, &s->cancel);
        lock.lock();
        s->running = false;
        s->idle.notify_all();
        // Posted under the lock: stop() clears the owner under it before
        // the owner goes, and its posted calls go with it.
        if (JournalSender *owner = s->owner)
            QMetaObject::invokeMethod(owner, [owner, report, generation] { owner->ended(report, generation); },
                                      Qt::QueuedConnection);
    }
    s->running = false;
    s->idle.notify_all();
}

void JournalSender::ended(const Journal::SyncReport &report, quint64 generation)
{
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        // A report of a location no longer set says nothing about this one.
        if (generation != shared->generation)
            return;
    }
    last = report;
    reported = true;
    emit syncEnded(report);
}

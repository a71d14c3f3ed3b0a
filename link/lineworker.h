// One line's worker: a thread of its own with a link of its own on that
// line.  Several lines are served at once by one worker each; nothing of one
// worker's exchanges waits on another's, nor on the thread that posts the
// work (a window stays responsive, a command-line tool runs its lines in
// parallel).
//
// Work goes to the worker as jobs, run one after another on its thread with
// its link.  The link (and the serial port or socket under it) is made,
// used and destroyed on that thread only.  Results come back as signals,
// which reach receivers on other threads queued, in the order emitted.
#pragma once

#include "deviceops.h"
#include "deviceparams.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class Command;
class LinkClock;
class QThread;
class Transport;

class LineWorker : public QObject
{
    Q_OBJECT
public:
    // `port` is the port text of the line (a serial port, tcp://, modbus-tcp://).
    explicit LineWorker(const QString &port, QObject *parent = nullptr);
    // Cancels what runs and what waits, and returns once the thread has ended.
    ~LineWorker() override;

    QString port() const { return portText; }

    // How a job's exchanges end on cancel(): a job that only reads may have
    // its exchange cut short at once; one that writes finishes the
    // exchange under way (so that its outcome is known) and stops before
    // the next.
    enum class Cut { BetweenExchanges, AtOnce };
    // Runs `job` on the worker's thread with its link, after the jobs
    // posted before it.  The job asks cancelled() between its steps.
    using Job = std::function<void(Command &link)>;
    void post(Job job, Cut cut = Cut::BetweenExchanges);

    // Ready-made jobs.  Each opens the line, does its work and closes it
    // again; an open that fails is told by lineFailed() and ends the job.
    //
    // Asks addresses `from` to `to` (DeviceOps::scan): addressAsked() before
    // each, found() for each hit, scanned() at the end.
    void scan(int from, int to);
    // Reads each device in full (DeviceOps::read): deviceRead() for each,
    // readsDone() at the end.  A cancel skips the devices not yet read.
    void readDevices(const QVector<int> &addresses);

    // Stops the job that runs (see Cut) and drops the jobs posted before
    // this call that have not started.  Jobs posted afterwards run.  Safe
    // from any thread.
    void cancel();
    // For a job: whether it has been cancelled.  Asked from the worker's thread.
    bool cancelled() const;

    // Makes the ready-made jobs open a line made by `make` instead of the
    // port text, paced by `clock` (null: real time): a test's fake line.
    // Set before the first job is posted.
    using LineMaker = std::function<std::unique_ptr<Transport>()>;
    void useLine(LineMaker make, LinkClock *clock = nullptr);

    // Blocks until every job posted so far has ended, at most `timeoutMs`
    // (-1: no limit).  True when they have.
    bool waitIdle(int timeoutMs = -1);

    // What a full read of one device brought.
    struct DeviceRead {
        QString port;
        int address = 0;
        DeviceOps::Outcome outcome;
        qint16 deviceType = 0;
        quint16 writeCount = 0;
        ParamBlock block{};
        bool ok() const { return outcome.ok(); }
    };

signals:
    void lineFailed(const QString &port, const QString &error);
    void addressAsked(int address);
    void found(const DeviceOps::ScanHit &hit);
    void scanned(const DeviceOps::ScanReport &report);
    void deviceRead(const LineWorker::DeviceRead &read);
    void readsDone(int read, int failed);
    // Every job posted so far has ended.
    void idle();

private:
    struct Queued;
    void runJob(quint64 seq, const Job &job, Cut cut);
    bool openLine(Command &link);
    static bool keepWaiting(qint64 elapsedMs, void *context);

    const QString portText;
    QThread *thread = nullptr;
    QObject *runner = nullptr;          // lives in `thread`; jobs are queued to it
    std::unique_ptr<Command> link;      // made and destroyed on `thread`
    LineMaker lineMaker;
    LinkClock *lineClock = nullptr;
    std::atomic<quint64> posted{0};     // sequence number of the last job posted
    std::atomic<quint64> cancelledUpTo{0};
    std::atomic<quint64> running{0};    // the job that runs (0: none)
    std::atomic<bool> cutAtOnce{false};
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    quint64 done = 0;                   // jobs ended (run or dropped), under doneMutex
};

Q_DECLARE_METATYPE(LineWorker::DeviceRead)
Q_DECLARE_METATYPE(DeviceOps::ScanHit)
Q_DECLARE_METATYPE(DeviceOps::ScanReport)

#include "lineworker.h"

#include "command.h"

#include <QMetaObject>
#include <QThread>

#include <chrono>

LineWorker::LineWorker(const QString &port, QObject *parent)
    : QObject(parent), portText(port)
{
    static const bool registered = [] {
        qRegisterMetaType<LineWorker::DeviceRead>();
        qRegisterMetaType<DeviceOps::ScanHit>();
        qRegisterMetaType<DeviceOps::ScanReport>();
        return true;
    }();
    Q_UNUSED(registered);

    thread = new QThread;
    thread->setObjectName(QStringLiteral("line ") + port);
    runner = new QObject;
    runner->moveToThread(thread);
    QObject::connect(thread, &QThread::finished, runner, &QObject::deleteLater);
    thread->start();
    // The link is born on the worker's thread, so that the port it opens
    // belongs to that thread.
    QMetaObject::invokeMethod(runner, [this] {
        link.reset(new Command);
    }, Qt::BlockingQueuedConnection);
}

LineWorker::~LineWorker()
{
    cancel();
    QMetaObject::invokeMethod(runner, [this] {
        link->setWaitHook(nullptr, nullptr);
        link->closePort();
        link.reset();
    }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    delete thread;
}

void LineWorker::post(Job job, Cut cut)
{
    const quint64 seq = ++posted;
    QMetaObject::invokeMethod(runner, [this, seq, job = std::move(job), cut] { runJob(seq, job, cut); },
                              Qt::QueuedConnection);
}

void LineWorker::runJob(quint64 seq, const Job &job, Cut cut)
{
    if (seq > cancelledUpTo) {
        cutAtOnce = cut == Cut::AtOnce;
        running = seq;
        // Set for every job: a job may have put a hook of its own in.
        link->setWaitHook(keepWaiting, this);
        job(*link);
        running = 0;
        cutAtOnce = false;
    }
    bool all;
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done = seq;
        all = done == posted;
    }
    doneChanged.notify_all();
    if (all)
        emit idle();
}

void LineWorker::cancel()
{
    cancelledUpTo = posted.load();
}

bool LineWorker::cancelled() const
{
    const quint64 seq = running;
    return seq != 0 && seq <= cancelledUpTo;
}

bool LineWorker::keepWaiting(qint64 elapsedMs, void *context)
{
    auto *worker = static_cast<LineWorker *>(context);
    return elapsedMs < 0 || !worker->cutAtOnce || !worker->cancelled();
}

bool LineWorker::waitIdle(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(doneMutex);
    auto allDone = [this] { return done >= posted; };
    if (timeoutMs < 0) {
        doneChanged.wait(lock, allDone);
        return true;
    }
    return doneChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), allDone);
}

void LineWorker::useLine(LineMaker make, LinkClock *clock)
{
    lineMaker = std::move(make);
    lineClock = clock;
}

bool LineWorker::openLine(Command &link)
{
    link.setClock(lineClock);
    link.PortName = portText;
    if (lineMaker ? link.openTransport(lineMaker()) : DeviceOps::open(link, portText))
        return true;
    emit lineFailed(portText, link.errorString());
    return false;
}

void LineWorker::scan(int from, int to)
{
    post([this, from, to](Command &link) {
        if (!openLine(link))
            return;
        DeviceOps::ScanHooks hooks;
        hooks.cancelled = [this] { return cancelled(); };
        hooks.beforeAddress = [this](int address) { emit addressAsked(address); };
        hooks.answered = [this](const DeviceOps::ScanHit &hit) { emit found(hit); };
        const DeviceOps::ScanReport report = DeviceOps::scan(link, from, to, hooks);
        link.closePort();
        emit scanned(report);
    }, Cut::AtOnce);
}

void LineWorker::readDevices(const QVector<int> &addresses)
{
    post([this, addresses](Command &link) {
        if (!openLine(link))
            return;
        int read = 0;
        int failed = 0;
        for (const int address : addresses) {
            if (cancelled())
                break;
            link.SlaveAddress = quint16(address);
            DeviceRead r;
            r.port = portText;
            r.address = address;
            r.outcome = DeviceOps::readDevice(link);
            r.deviceType = link.DeviceType;
            r.writeCount = link.WriteCount;
            r.block = link.DeviceParams;
            ++(r.ok() ? read : failed);
            emit deviceRead(r);
        }
        link.closePort();
        emit readsDone(read, failed);
    }, Cut::AtOnce);
}

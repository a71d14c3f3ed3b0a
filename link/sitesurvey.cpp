#include "sitesurvey.h"

#include <QEventLoop>

#include <algorithm>

SiteSurvey::SiteSurvey(const QStringList &ports, int from, int to, QObject *parent)
    : QObject(parent), ports(ports), first(from), last(to)
{
    for (int i = 0; i < ports.size(); ++i) {
        workers.push_back(std::make_unique<LineWorker>(ports[i]));
        Line line;
        line.port = ports[i];
        outcome.lines.append(line);
    }
}

SiteSurvey::~SiteSurvey()
{
    for (auto &w : workers)
        w->cancel();
}

void SiteSurvey::start()
{
    running = int(workers.size());
    if (running == 0) {
        emit finished();
        return;
    }
    for (int i = 0; i < int(workers.size()); ++i) {
        LineWorker *w = workers[size_t(i)].get();
        // The reads follow the scan on the line's own thread, without a
        // round trip through this one.
        connect(w, &LineWorker::scanned, w, [w](const DeviceOps::ScanReport &report) {
            QVector<int> detectors;
            for (const DeviceOps::ScanHit &hit : report.hits)
                if (hit.detector())
                    detectors.append(hit.address);
            if (!w->cancelled())
                w->readDevices(detectors);
        }, Qt::DirectConnection);
        connect(w, &LineWorker::scanned, this, [this, i](const DeviceOps::ScanReport &report) {
            Line &line = outcome.lines[i];
            line.scan = report;
            line.detectors = int(std::count_if(report.hits.begin(), report.hits.end(),
                                               [](const DeviceOps::ScanHit &h) { return h.detector(); }));
        });
        connect(w, &LineWorker::addressAsked, this, [this, i](int address) { emit asking(ports[i], address); });
        connect(w, &LineWorker::deviceRead, this, [this, i](const LineWorker::DeviceRead &read) {
            if (read.ok())
                ++outcome.lines[i].read;
            outcome.reads.append(read);
            emit deviceRead(read);
        });
        connect(w, &LineWorker::lineFailed, this, [this, i](const QString &, const QString &error) {
            outcome.lines[i].error = error;
        });
        connect(w, &LineWorker::idle, this, [this, i] { lineEnded(i); });
        w->scan(first, last);
    }
}

void SiteSurvey::lineEnded(int line)
{
    Line &l = outcome.lines[line];
    if (l.done)
        return;
    l.done = true;
    if (--running > 0)
        return;
    // Line by line in the order given, each in address order.
    std::stable_sort(outcome.reads.begin(), outcome.reads.end(),
                     [this](const LineWorker::DeviceRead &a, const LineWorker::DeviceRead &b) {
                         const int la = int(ports.indexOf(a.port));
                         const int lb = int(ports.indexOf(b.port));
                         return la != lb ? la < lb : a.address < b.address;
                     });
    emit finished();
}

void SiteSurvey::cancel()
{
    outcome.cancelled = true;
    for (auto &w : workers)
        w->cancel();
}

SiteSurvey::Result SiteSurvey::run()
{
    QEventLoop loop;
    connect(this, &SiteSurvey::finished, &loop, &QEventLoop::quit);
    start();
    if (running > 0)
        loop.exec();
    return outcome;
}

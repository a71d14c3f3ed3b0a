// Several lines at once: N simulated multi-drop lines (paced at 9600 baud),
// each with 8 detectors spread over addresses 1-247.  On each line: a scan
// of 1-247, then a full read of every detector found, on the line's worker.
// Printed: each line alone, the lines one after another, all lines at once;
// the ratio of all at once to the slowest line alone (goal <= 1.15), and
// per line the ratio to its floor (goal <= 1.10).
//
// The floor of a line: every byte of the answered exchanges on the wire,
// the gap before each request, the simulator's turnaround per answered
// exchange, and per silent address the first-reply time-out, which the
// master must wait out before it may ask the next one (its request goes
// out meanwhile).
//
//   bench_lines [--sim PATH] [--lines N] [--to ADDRESS]
#include "benchfloor.h"
#include "benchsim.h"
#include "command.h"
#include "lineworker.h"
#include "sitesurvey.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Counted on the line's thread, read once its work has ended.
struct Tally {
    std::atomic<qint64> bytes{0};          // of answered exchanges
    std::atomic<int> answered{0};
    std::atomic<int> silent{0};
    qint64 attemptBytes = 0;
    void reset()
    {
        bytes = 0;
        answered = 0;
        silent = 0;
        attemptBytes = 0;
    }
};

void countBytes(bool, const QByteArray &bytes, void *context)
{
    static_cast<Tally *>(context)->attemptBytes += bytes.size();
}

// A request nobody answers goes out while its time-out runs: its bytes
// are no cost of their own.
void countAttempt(quint16 result, void *context)
{
    auto *t = static_cast<Tally *>(context);
    if (result == ResultNoReply) {
        ++t->silent;
    } else {
        ++t->answered;
        t->bytes += t->attemptBytes;
    }
    t->attemptBytes = 0;
}

struct Line {
    BenchSim sim;
    QVector<int> addresses;
    std::unique_ptr<LineWorker> worker;
    Tally tally;
    int found = 0;
    int read = 0;
    std::atomic<bool> finished{false};
    qint64 ms = 0;   // the last run of its work
};

// Scans the line and reads what answered; returns when posted (the work
// ends with the worker's idle()).
void startWork(Line &line, int to)
{
    LineWorker *w = line.worker.get();
    line.finished = false;
    w->disconnect();
    QObject::connect(w, &LineWorker::scanned, w, [w, &line](const DeviceOps::ScanReport &report) {
        QVector<int> found;
        for (const DeviceOps::ScanHit &hit : report.hits)
            if (hit.detector())
                found.append(hit.address);
        line.found = found.size();
        w->readDevices(found);
    }, Qt::DirectConnection);
    QObject::connect(w, &LineWorker::readsDone, w, [&line](int read, int) {
        line.read = read;
        line.finished = true;
    }, Qt::DirectConnection);
    w->scan(1, to);
}

double floorMs(const Tally &t, double turnaroundMs)
{
    return BenchFloor::physicalMs(t.bytes, t.answered, turnaroundMs)
           + t.silent * (BenchFloor::GapMs + Command::RegisterLoop.firstReplyTimeout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString simPath = QCoreApplication::applicationDirPath() + QStringLiteral("/tl02-sim");
    int lineCount = 4;
    int to = 247;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--sim") && i + 1 < args.size())
            simPath = args[++i];
        else if (args[i] == QLatin1String("--lines") && i + 1 < args.size())
            lineCount = qBound(1, args[++i].toInt(), 16);
        else if (args[i] == QLatin1String("--to") && i + 1 < args.size())
            to = qBound(1, args[++i].toInt(), 247);
    }
    if (!QFileInfo(simPath).isExecutable()) {
        std::fprintf(stderr, "bench_lines: simulator not found at %s (use --sim PATH)\n", qPrintable(simPath));
        return 2;
    }
    Command probe;
    const double turnaround = BenchFloor::measureTurnaround(probe, simPath);
    if (turnaround < 0)
        return 2;

    std::vector<std::unique_ptr<Line>> lines;
    for (int i = 0; i < lineCount; ++i) {
        auto line = std::make_unique<Line>();
        // 8 detectors spread over the line, at other addresses on each line.
        QStringList list;
        for (int k = 0; k < 8; ++k) {
            const int a = qMin(to, 1 + i + k * 30);
            if (!line->addresses.contains(a))
                line->addresses.append(a);
        }
        for (int a : line->addresses)
            list << QString::number(a);
        if (!line->sim.start(simPath, {QStringLiteral("--pace"), QStringLiteral("--devices"), list.join(',')}))
            return 2;
        line->worker = std::make_unique<LineWorker>(line->sim.port);
        Tally *t = &line->tally;
        line->worker->post([t](Command &link) { link.setTrafficHook(countBytes, t, countAttempt); });
        lines.push_back(std::move(line));
    }
    std::printf("%d lines of tl02-sim paced at 9600 baud, 8 detectors each; scan 1-%d, then a full read of each "
                "detector found; unpaced turnaround %.2f ms per exchange\n", lineCount, to, turnaround);

    // Each line alone, one after another.
    qint64 sequentialMs = 0;
    qint64 slowestMs = 0;
    for (auto &line : lines) {
        line->tally.reset();
        QElapsedTimer w;
        w.start();
        startWork(*line, to);
        // Waits for the scan, then for the reads it posts.
        while (!line->finished)
            line->worker->waitIdle(20);
        line->ms = w.elapsed();
        sequentialMs += line->ms;
        slowestMs = qMax(slowestMs, line->ms);
        const double f = floorMs(line->tally, turnaround);
        std::printf("line %s alone: %lld ms, %d found, %d read; %d answered exchanges with %lld bytes, %d silent; "
                    "floor %.1f ms, ratio %.3f\n",
                    qPrintable(line->sim.port), static_cast<long long>(line->ms), line->found, line->read,
                    line->tally.answered.load(), static_cast<long long>(line->tally.bytes.load()),
                    line->tally.silent.load(), f, line->ms / f);
    }

    // All at once.
    for (auto &line : lines) {
        line->tally.reset();
        line->found = line->read = 0;
    }
    QElapsedTimer all;
    all.start();
    for (auto &line : lines)
        startWork(*line, to);
    std::vector<qint64> endMs(lines.size(), -1);
    for (bool busy = true; busy;) {
        busy = false;
        for (size_t i = 0; i < lines.size(); ++i) {
            Line &line = *lines[i];
            if (endMs[i] >= 0)
                continue;
            if (line.finished)
                endMs[i] = all.elapsed();
            else
                busy = true;
        }
        QThread::msleep(2);
    }
    const qint64 parallelMs = all.elapsed();
    double worstRatio = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line &line = *lines[i];
        const double f = floorMs(line.tally, turnaround);
        worstRatio = qMax(worstRatio, endMs[i] / f);
        std::printf("line %s together: %lld ms, %d found, %d read; floor %.1f ms, ratio %.3f\n",
                    qPrintable(line.sim.port), static_cast<long long>(endMs[i]), line.found, line.read, f,
                    endMs[i] / f);
    }
    std::printf("all %d lines at once: %lld ms; slowest line alone %lld ms, ratio %.3f (goal <= 1.15); "
                "line after line %lld ms, ratio %.3f\n"
                "worst line's ratio to its floor while together %.3f (goal <= 1.10)\n",
                lineCount, static_cast<long long>(parallelMs), static_cast<long long>(slowestMs),
                double(parallelMs) / slowestMs, static_cast<long long>(sequentialMs),
                double(parallelMs) / sequentialMs, worstRatio);

    // A site survey (SiteSurvey, as the register's survey runs it) of the
    // first two lines.
    if (lines.size() >= 2) {
        QStringList ports{lines[0]->sim.port, lines[1]->sim.port};
        for (auto &line : lines)
            line->worker.reset();   // their lines are closed; the survey's workers take them
        std::printf("site survey of the first 2 lines (scan 1-%d and full reads, SiteSurvey):\n", to);
        std::vector<Tally> tallies(2);
        SiteSurvey survey(ports, 1, to);
        for (int i = 0; i < 2; ++i) {
            Tally *t = &tallies[size_t(i)];
            survey.worker(i)->post([t](Command &link) { link.setTrafficHook(countBytes, t, countAttempt); });
        }
        QElapsedTimer w;
        w.start();
        const SiteSurvey::Result r = survey.run();
        const qint64 ms = w.elapsed();
        double worst = 0;
        for (int i = 0; i < 2; ++i)
            worst = qMax(worst, floorMs(tallies[size_t(i)], turnaround));
        std::printf("    %lld ms for %d detectors read; the slower line's floor %.1f ms, ratio %.3f\n",
                    static_cast<long long>(ms), int(r.reads.size()), worst, ms / worst);
    }
    return 0;
}

// tlctl benchmark: the built binary against the simulated detector paced at
// 9600 baud.
//
//   bench_tlctl [--sim PATH] [--tlctl PATH] [--kib N] [--no-flash]
//
// (a) tlctl read (connect, 43, 43, 3 x 48, 4);
// (b) tlctl scan 1-247 with one detector present (at address 1);
// (c) tlctl flash of N KiB (default 64) into the bootloader.
// Each run is timed from process start to exit.  tlctl --frames prints every
// frame, from which the physical floor is counted as bench_link counts it
// (benchfloor.h): the bytes of each answered exchange on the wire x 10 bits /
// 9600, and the 4 ms gap before its request plus the simulator's turnaround.
// A request that gets no answer (a silent address of the scan, the flash's
// two broadcasts) costs the 150 ms first-reply time-out instead; its wire
// time lies inside that wait.  The flash adds its 1500 ms start pause.  Beside
// it the old floor, with 50 ms of silence ending every reply in place of the
// gap, as a reference figure only.
// The fixed cost of starting tlctl is measured apart (tlctl --help).
#include "benchfloor.h"
#include "benchsim.h"
#include "firmware.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

struct Traffic {
    qint64 bytes = 0;
    int requests = 0;
    int replies = 0;
    qint64 silentBytes = 0;   // requests that got no reply (their wire time lies inside the time-out)
};

struct Run {
    qint64 ms = 0;
    int code = -1;
    Traffic t;
    QString err;
};

Traffic countFrames(const QString &frames)
{
    Traffic t;
    qint64 pending = 0;   // bytes of the last request while no reply has come
    for (const QString &line : frames.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.startsWith(QLatin1String("> ")) && !line.startsWith(QLatin1String("< ")))
            continue;
        const qint64 n = (line.size() - 2 + 1) / 3;
        t.bytes += n;
        if (line[0] == QLatin1Char('>')) {
            t.silentBytes += pending;
            pending = n;
            ++t.requests;
        } else {
            pending = 0;
            ++t.replies;
        }
    }
    t.silentBytes += pending;
    return t;
}

Run runTlctl(const QString &tlctl, const QStringList &args, const QString &password = QString())
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!password.isEmpty())
        env.insert(QStringLiteral("TLCTL_PASSWORD"), password);
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    Run r;
    QElapsedTimer w;
    w.start();
    p.start(tlctl, args);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    r.ms = w.elapsed();
    r.code = p.exitCode();
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.t = countFrames(r.err);
    return r;
}

constexpr double NoReplyMs = Command::RegisterLoop.firstReplyTimeout;

// Floors of a run: physical, and the old one for reference.  pausesMs are
// waits of the procedure itself (the flash's start pause).
struct Floors {
    double physical = 0;
    double old = 0;
    double wire = 0;       // of the answered exchanges
    int answered = 0;
    int unanswered = 0;
};

Floors floorsOf(const Traffic &t, double turnaroundMs, double pausesMs)
{
    Floors f;
    const qint64 answeredBytes = t.bytes - t.silentBytes;
    f.answered = t.replies;
    f.unanswered = t.requests - t.replies;
    f.wire = BenchFloor::wireMs(answeredBytes);
    const double fixed = NoReplyMs * f.unanswered + pausesMs;
    f.physical = BenchFloor::physicalMs(answeredBytes, f.answered, turnaroundMs) + fixed;
    f.old = BenchFloor::oldMs(answeredBytes, f.answered, turnaroundMs) + fixed;
    return f;
}

void report(const char *what, const Run &r, const Floors &f, const QString &extra, double startMs)
{
    const double ms = r.ms - startMs;
    std::printf("%s\n"
                "    wall %9.1f ms, %.1f without the process start\n"
                "    physical floor %9.1f ms (wire %.1f ms for %lld bytes, %d answered x (%.0f ms gap + turnaround)%s)"
                "   ratio %.3f\n"
                "    old floor      %9.1f ms (the same with %d x %.0f ms silence instead of the gap)   ratio %.3f\n",
                what, double(r.ms), ms, f.physical, f.wire, static_cast<long long>(r.t.bytes - r.t.silentBytes),
                f.answered, BenchFloor::GapMs, qPrintable(extra), ms / f.physical, f.old, f.answered,
                BenchFloor::OldSilenceMs, ms / f.old);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString here = QCoreApplication::applicationDirPath();
    QString simPath = here + QStringLiteral("/tl02-sim");
    QString tlctl = here + QStringLiteral("/tlctl");
    int kib = 64;
    bool flash = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--sim") && i + 1 < args.size())
            simPath = args[++i];
        else if (args[i] == QLatin1String("--tlctl") && i + 1 < args.size())
            tlctl = args[++i];
        else if (args[i] == QLatin1String("--kib") && i + 1 < args.size())
            kib = args[++i].toInt();
        else if (args[i] == QLatin1String("--no-flash"))
            flash = false;
    }
    for (const QString &p : {simPath, tlctl}) {
        if (!QFileInfo(p).isExecutable()) {
            std::fprintf(stderr, "bench_tlctl: %s not found (use --sim / --tlctl)\n", qPrintable(p));
            return 2;
        }
    }

    // The fixed cost of a tlctl process (start, no device): the fastest
    // run, as the read is the best of three.  A mean would take in the
    // stalls of a busy machine and make the read look faster than the line.
    double startMs = 0;
    {
        const int n = 5;
        for (int i = 0; i < n; ++i) {
            const double ms = double(runTlctl(tlctl, {QStringLiteral("--help")}).ms);
            startMs = i == 0 ? ms : qMin(startMs, ms);
        }
        std::printf("tlctl process start (tlctl --help, best of %d): %.1f ms\n", n, startMs);
    }

    Command link;
    const double turnaround = BenchFloor::measureTurnaround(link, simPath);
    if (turnaround < 0)
        return 3;
    std::printf("unpaced turnaround %.2f ms per exchange\n", turnaround);

    {
        BenchSim sim;
        if (!sim.start(simPath, {QStringLiteral("--pace")}))
            return 2;
        std::printf("tl02-sim paced at 9600 baud on %s\n", qPrintable(sim.port));

        // (a) read, best of three.
        Run best;
        for (int i = 0; i < 3; ++i) {
            const Run r = runTlctl(tlctl, {QStringLiteral("--port"), sim.port, QStringLiteral("--frames"),
                                           QStringLiteral("read")});
            if (r.code != 0) {
                std::fprintf(stderr, "tlctl read failed: %s\n", qPrintable(r.err));
                return 3;
            }
            if (i == 0 || r.ms < best.ms)
                best = r;
        }
        const Floors readFloors = floorsOf(best.t, turnaround, 0);
        report("read (best of 3)", best, readFloors,
               readFloors.unanswered ? QStringLiteral(", %1 unanswered x %2 ms").arg(readFloors.unanswered).arg(NoReplyMs)
                                     : QString(),
               startMs);

        // (b) scan 1-247, the detector at address 1.
        const Run scan = runTlctl(tlctl, {QStringLiteral("--port"), sim.port, QStringLiteral("--frames"),
                                          QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                          QStringLiteral("--to"), QStringLiteral("247")});
        if (scan.code != 0) {
            std::fprintf(stderr, "tlctl scan failed: %s\n", qPrintable(scan.err));
            return 3;
        }
        const Floors scanFloors = floorsOf(scan.t, turnaround, 0);
        report("scan 1-247, one device", scan, scanFloors,
               QStringLiteral(", %1 silent addresses x %2 ms reply time-out").arg(scanFloors.unanswered).arg(NoReplyMs),
               startMs);
        std::printf("    (with the ten attempts of an ordinary exchange the silent addresses alone would take "
                    "%.0f s)\n", scanFloors.unanswered * 10 * 0.2);
    }

    if (flash) {
        BenchSim sim;
        if (!sim.start(simPath, {QStringLiteral("--pace"), QStringLiteral("--bootloader")}))
            return 2;
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("bench.bin"));
        {
            QFile f(image);
            if (!f.open(QIODevice::WriteOnly))
                return 2;
            QByteArray bytes(kib * 1024, '\0');
            for (int i = 0; i < bytes.size(); ++i)
                bytes[i] = char((i * 31 + 7) & 0xFF);
            f.write(bytes);
        }
        const Run r = runTlctl(tlctl, {QStringLiteral("--port"), sim.port, QStringLiteral("--frames"),
                                       QStringLiteral("--user"), QStringLiteral("Velta"), QStringLiteral("flash"), image,
                                       QStringLiteral("--yes"), QStringLiteral("--any-image")},
                               QStringLiteral("8350"));
        if (r.code != 0) {
            std::fprintf(stderr, "tlctl flash failed: %s\n", qPrintable(r.err.right(400)));
            return 3;
        }
        const Floors flashFloors = floorsOf(r.t, turnaround, Firmware::StartPauseMs);
        const QByteArray label = QStringLiteral("flash %1 KiB").arg(kib).toLatin1();
        report(label.constData(), r, flashFloors,
               QStringLiteral(", %1 ms start pause, %2 broadcasts x %3 ms")
                   .arg(Firmware::StartPauseMs).arg(flashFloors.unanswered).arg(NoReplyMs),
               startMs);
    }
    return 0;
}

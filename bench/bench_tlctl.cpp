// tlctl benchmark: the built binary against the simulated detector paced at
// 9600 baud.
//
//   bench_tlctl [--sim PATH] [--tlctl PATH] [--kib N] [--no-flash]
//
// (a) tlctl read (connect, 43, 43, 3 x 48, 4);
// (b) tlctl scan 1-247 with one detector present (at address 1);
// (c) tlctl flash of N KiB (default 64) into the bootloader.
// Each run is timed from process start to exit.  tlctl --frames prints every
// frame, from which the floor is counted: bytes on the wire x 10 bits / 9600
// + the 50 ms end-of-reply silence per reply; for the scan the 150 ms reply
// time-out that every silent address must be given (its request's wire time
// lies inside it), for the flash the 1500 ms start pause and the 150 ms wait
// after each of the two broadcasts.
// The fixed cost of starting tlctl is measured apart (tlctl --help).
#include "benchsim.h"

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


double wireMs(const Traffic &t) { return t.bytes * 10.0 / 9600.0 * 1000.0; }

void report(const char *what, const Run &r, double floorMs, const QString &floorText, double startMs)
{
    std::printf("%-30s wall %9.1f ms (%.1f without the process start)  floor %9.1f ms (%s)  ratio %.3f\n", what,
                double(r.ms), r.ms - startMs, floorMs, qPrintable(floorText), (r.ms - startMs) / floorMs);
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

    // The fixed cost of a tlctl process (start, no device).
    double startMs = 0;
    {
        const int n = 5;
        for (int i = 0; i < n; ++i)
            startMs += runTlctl(tlctl, {QStringLiteral("--help")}).ms;
        startMs /= n;
        std::printf("tlctl process start (tlctl --help, mean of %d): %.1f ms\n", n, startMs);
    }

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
        const double readFloor = wireMs(best.t) + 50.0 * best.t.replies;
        report("read (best of 3)", best, readFloor,
               QStringLiteral("wire %1 ms for %2 bytes, %3 x 50 ms silence")
                   .arg(wireMs(best.t), 0, 'f', 1).arg(best.t.bytes).arg(best.t.replies),
               startMs);

        // (b) scan 1-247, the detector at address 1.
        const Run scan = runTlctl(tlctl, {QStringLiteral("--port"), sim.port, QStringLiteral("--frames"),
                                          QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                          QStringLiteral("--to"), QStringLiteral("247")});
        if (scan.code != 0) {
            std::fprintf(stderr, "tlctl scan failed: %s\n", qPrintable(scan.err));
            return 3;
        }
        // A silent address costs its reply time-out; its request's wire time
        // runs inside that wait.
        const int silent = scan.t.requests - scan.t.replies;
        Traffic answered = scan.t;
        answered.bytes -= scan.t.silentBytes;
        const double scanWire = wireMs(scan.t) + 50.0 * scan.t.replies;
        const double scanFloor = wireMs(answered) + 50.0 * scan.t.replies + 150.0 * silent;
        report("scan 1-247, one device", scan, scanFloor,
               QStringLiteral("%1 silent addresses x 150 ms reply time-out + %2 answered exchanges: wire %3 ms and "
                              "%2 x 50 ms silence; pure wire floor of all %4 requests and replies %5 ms")
                   .arg(silent).arg(scan.t.replies).arg(wireMs(answered), 0, 'f', 1).arg(scan.t.requests)
                   .arg(scanWire, 0, 'f', 1),
               startMs);
        std::printf("%-30s (with the ten attempts of an ordinary exchange the silent addresses alone would take "
                    "%.0f s)\n", "", silent * 10 * 0.2);
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
        const double floorMs = wireMs(r.t) + 50.0 * r.t.replies + 1500.0 + 2 * 150.0;
        const QByteArray label = QStringLiteral("flash %1 KiB").arg(kib).toLatin1();
        report(label.constData(), r, floorMs,
               QStringLiteral("wire %1 ms for %2 bytes, %3 x 50 ms silence, 1500 ms start pause, 2 x 150 ms broadcast")
                   .arg(wireMs(r.t), 0, 'f', 1).arg(r.t.bytes).arg(r.t.replies),
               startMs);
    }
    return 0;
}

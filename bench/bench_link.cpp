// Link benchmark against the simulated detector paced at 9600 baud.
//
//   bench_link [--sim PATH] [--kib N]
//
// (a) a full read cycle: 43 code 1, 43 code 2, 3 with 48 registers, 4 with 10;
// (b) the holding block written to the detector it was read from: the
//     identity read before it (3 for the serial number, 4 for the type), then
//     16 with 48 registers; beside it the bare function-16 write, so that the
//     difference is what the identity check costs a write;
// (c) N KiB (default 64) written with function 14 in 200-byte blocks.
// For each it prints the wall time and two floors: the physical one (bytes on
// the wire x 10 bits / 9600 + the 4 ms of silence kept before each request +
// the simulator's own turnaround) and the old one, with the 50 ms of silence
// that used to end every reply in place of the 4 ms; the ratios of the wall
// time to both, and the CPU time the master used.
#include "command.h"
#include "deviceops.h"

#include "benchfloor.h"
#include "benchsim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Tally {
    qint64 bytes = 0;
    int exchanges = 0;
};

Tally *tally = nullptr;

// The link the bench measures.
Command link;

void countTraffic(bool, const QByteArray &bytes, void *)
{
    if (tally)
        tally->bytes += bytes.size();
}

using BenchFloor::GapMs;
using BenchFloor::OldSilenceMs;

void report(const char *what, qint64 wallMs, const Tally &t, double turnaroundMs, double cpu)
{
    const double wire = BenchFloor::wireMs(t.bytes);
    const double floorMs = BenchFloor::physicalMs(t.bytes, t.exchanges, turnaroundMs);
    const double oldFloorMs = BenchFloor::oldMs(t.bytes, t.exchanges, turnaroundMs);
    std::printf("%s\n"
                "    wall %9.1f ms   cpu %.1f ms (%.2f %% of wall)\n"
                "    physical floor %9.1f ms (wire %.1f for %lld bytes, %d x %.0f ms gap, turnaround %.2f ms each)"
                "   ratio %.3f\n"
                "    old floor      %9.1f ms (the same with %d x %.0f ms silence)   ratio %.3f\n",
                what, double(wallMs), cpu * 1000.0, 100.0 * cpu * 1000.0 / wallMs, floorMs, wire,
                static_cast<long long>(t.bytes), t.exchanges, GapMs, turnaroundMs, wallMs / floorMs, oldFloorMs,
                t.exchanges, OldSilenceMs, wallMs / oldFloorMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString simPath = QCoreApplication::applicationDirPath() + QStringLiteral("/tl02-sim");
    int kib = 64;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--sim") && i + 1 < args.size())
            simPath = args[++i];
        else if (args[i] == QLatin1String("--kib") && i + 1 < args.size())
            kib = args[++i].toInt();
    }
    if (!QFileInfo(simPath).isExecutable()) {
        std::fprintf(stderr, "bench_link: simulator not found at %s (use --sim PATH)\n", qPrintable(simPath));
        return 2;
    }

    Tally t;
    tally = &t;
    link.setTrafficHook(countTraffic, nullptr);

    const double turnaround = BenchFloor::measureTurnaround(link, simPath);
    if (turnaround < 0)
        return 3;

    BenchSim sim;
    if (!sim.start(simPath, {QStringLiteral("--pace")}))
        return 2;
    link.PortName = sim.port;
    link.SlaveAddress = 1;
    if (!link.openPort())
        return 2;

    std::printf("tl02-sim paced at 9600 baud on %s; unpaced turnaround %.2f ms per exchange; "
                "goal: at most 1.10 x the physical floor\n",
                qPrintable(sim.port), turnaround);

    // (a) full read cycle, repeated to smooth out noise.
    {
        const int rounds = 5;
        t = Tally();
        const double c0 = cpuSeconds();
        QElapsedTimer w;
        w.start();
        for (int r = 0; r < rounds; ++r) {
            const quint16 results[4] = {link.transact(Modbus::FnReadDeviceId, 0, 1, 0), link.transact(Modbus::FnReadDeviceId, 0, 2, 0),
                                        link.transact(Modbus::FnReadHolding, 0, Params::HoldingFirst, Params::HoldingCount), link.transact(Modbus::FnReadInput, 0, 0, Params::InputCount)};
            for (quint16 res : results)
                if (res != ResultOk) {
                    std::fprintf(stderr, "read cycle failed: %u\n", res);
                    return 3;
                }
            t.exchanges += 4;
        }
        report("read cycle (x5: 43,43,3x48,4x10)", w.elapsed(), t, turnaround, cpuSeconds() - c0);
    }

    // (b) the block to its origin, and the bare write.
    {
        link.DeviceType = Params::TypeDetector1;
        if (!DeviceOps::read(link, DeviceOps::ReadMode::Full).ok()) {
            std::fprintf(stderr, "full read failed\n");
            return 3;
        }
        const int rounds = 5;
        double checkedMs = 0, bareMs = 0;
        for (int pass = 0; pass < 2; ++pass) {
            t = Tally();
            const double c0 = cpuSeconds();
            QElapsedTimer w;
            w.start();
            for (int r = 0; r < rounds; ++r) {
                const bool ok = pass == 0 ? DeviceOps::writeBlock(link).ok()
                                          : link.transact(Modbus::FnWriteMultiple, 0, Params::HoldingFirst,
                                                             link.WriteCount) == ResultOk;
                if (!ok) {
                    std::fprintf(stderr, "block write failed\n");
                    return 3;
                }
                t.exchanges += pass == 0 ? 3 : 1;
            }
            (pass == 0 ? checkedMs : bareMs) = w.elapsed() / double(rounds);
            report(pass == 0 ? "block write to its origin (x5: 3x2, 4x1, 16x48)" : "bare block write (x5: 16x48)",
                   w.elapsed(), t, turnaround, cpuSeconds() - c0);
        }
        std::printf("    identity check: %.1f ms per block write (%.1f ms checked, %.1f ms bare)\n",
                    checkedMs - bareMs, checkedMs, bareMs);
    }

    // (c) memory blocks.
    {
        if (link.transact(Modbus::FnWriteMultiple, Params::CmdBootloader, Params::CommandRegister, 1) != ResultOk)
            return 3;
        QThread::msleep(200);
        link.SlaveAddress = 0;
        QByteArray image(kib * 1024, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char((i * 31 + 7) & 0xFF);
        t = Tally();
        const double c0 = cpuSeconds();
        QElapsedTimer w;
        w.start();
        quint32 address = 0x08001C00;
        for (int off = 0; off < image.size(); off += 200) {
            const int len = qMin(200, image.size() - off);
            if (link.transactBlock(14, address, reinterpret_cast<const quint8 *>(image.constData()) + off,
                                      quint16(len)) != ResultOk) {
                std::fprintf(stderr, "block at 0x%08X failed\n", address);
                return 3;
            }
            address += quint32(len);
            ++t.exchanges;
        }
        const QByteArray label = QStringLiteral("function 14, %1 KiB in 200-byte blocks").arg(kib).toLatin1();
        report(label.constData(), w.elapsed(), t, turnaround, cpuSeconds() - c0);
    }

    // (d) a line that never falls silent: a byte every 10 ms.  Each attempt
    // ends at its reply deadline; the exchange fails after its attempts and
    // the one pause.
    {
        link.closePort();
        BenchSim babbling;
        if (!babbling.start(simPath, {}) || !babbling.launcher.writeLine(QStringLiteral("fault babble 10")))
            return 2;
        link.resetState();
        link.PortName = babbling.port;
        link.SlaveAddress = 1;
        if (!link.openPort())
            return 2;
        QThread::msleep(100);
        std::printf("babbling line (a byte every 10 ms):\n");
        const struct {
            const char *what;
            quint8 function;
            quint16 value, start, count;
        } cases[] = {{"input registers 0-9 (function 4)", Modbus::FnReadInput, 0, 0, Params::InputCount},
                     {"identification (function 43)", Modbus::FnReadDeviceId, 1, 0, 0}};
        for (const auto &c : cases) {
            QElapsedTimer w;
            w.start();
            const quint16 r = link.transact(c.function, c.value, c.start, c.count);
            const double ms = w.nsecsElapsed() / 1e6;
            const double bound = Command::RegisterLoop.attempts * (Command::replyDeadlineUs(Command::RegisterLoop,
                                                                                            link.request) / 1000.0)
                                 + Command::RegisterLoop.corruptPause;
            std::printf("    %s: result %u after %.0f ms (10 x deadline %.1f ms + pause = %.0f ms)\n", c.what, r, ms,
                        Command::replyDeadlineUs(Command::RegisterLoop, link.request) / 1000.0, bound);
        }
        link.closePort();
    }
    return 0;
}

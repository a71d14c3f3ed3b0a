// The floor the link benchmarks hold their wall times against: what the line
// itself needs at 9600 baud.  Every byte on the wire (ten bits each), the
// silence kept before each request (Command::FrameGapUs), and per answered
// exchange the simulator's own turnaround, measured against the unpaced
// simulator (which also takes in our own overhead per exchange, so the floor
// is a little generous to us).
//
// The old floor, in which 50 ms of silence ended every reply in place of the
// gap, is kept only as a reference figure: replies now end as soon as they
// are whole.
#pragma once

#include "benchsim.h"
#include "command.h"
#include "deviceparams.h"

#include <QElapsedTimer>

namespace BenchFloor {

constexpr double GapMs = Command::FrameGapUs / 1000.0;
constexpr double OldSilenceMs = 50.0;

inline double wireMs(qint64 bytes) { return bytes * Command::ByteUs / 1000.0; }

// `exchanges` answered exchanges that put `bytes` (requests and replies) on the wire.
inline double physicalMs(qint64 bytes, int exchanges, double turnaroundMs)
{
    return wireMs(bytes) + (GapMs + turnaroundMs) * exchanges;
}

inline double oldMs(qint64 bytes, int exchanges, double turnaroundMs)
{
    return wireMs(bytes) + (OldSilenceMs + turnaroundMs) * exchanges;
}

// The simulator's turnaround in ms: the mean time of an input register read
// against the unpaced simulator, less the gap kept before it.  -1 when the
// simulator did not start or a read failed.  Uses and closes `link`.
inline double measureTurnaround(Command &link, const QString &simPath, int reads = 50)
{
    BenchSim sim;
    if (!sim.start(simPath, {}))
        return -1;
    link.PortName = sim.port;
    link.SlaveAddress = 1;
    if (!link.openPort())
        return -1;
    QElapsedTimer w;
    w.start();
    for (int i = 0; i < reads; ++i) {
        if (link.transact(Modbus::FnReadInput, 0, 0, Params::InputCount) != ResultOk) {
            link.closePort();
            return -1;
        }
    }
    const double ms = w.nsecsElapsed() / 1e6 / reads - GapMs;
    link.closePort();
    return ms > 0 ? ms : 0.0;
}

} // namespace BenchFloor

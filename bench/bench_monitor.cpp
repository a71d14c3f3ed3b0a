// Memory of the traffic monitor: the process's resident size (VmRSS) with
// the monitor closed, open and empty, with its ring full (10,000 frames),
// after 50,000 frames, after closing it, and after a second open, fill and
// close, each against its goal.  The frames go through the recorder's own
// hooks (what the link calls) with the window shown (offscreen), so the
// model and the table view are in the figures: read cycles of several
// detectors, holding reads of up to 125 registers with their replies, input
// reads, block writes, unanswered requests and exception replies.
//
//   QT_QPA_PLATFORM=offscreen bench_monitor
#include "modbus.h"
#include "programlink.h"
#include "trafficmonitor.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <cstdio>

namespace {

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

QByteArray withCrc(QByteArray frame)
{
    const quint16 crc = Modbus::crc16(reinterpret_cast<const quint8 *>(frame.constData()), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

QByteArray head(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

QByteArray words(QByteArray b, int count, int seed)
{
    for (int i = 0; i < count; ++i) {
        const int v = (seed * 31 + i * 7) & 0x7FFF;
        b.append(char(v >> 8));
        b.append(char(v & 0xFF));
    }
    return b;
}

// One exchange: its request, its reply (empty: none came) and the result.
struct Exchange {
    QByteArray request;
    QByteArray reply;
    quint16 result;
};

// The n-th exchange of a busy line: eight detectors polled in turn.
Exchange exchange(int n)
{
    const int address = 1 + n % 8;
    const int round = n / 8;
    switch (round % 6) {
    case 0: {
        const int count = 48 + (n % 78);   // 48..125 registers
        return {withCrc(head({address, 3, 0x10, 0x00, 0, count})),
                withCrc(words(head({address, 3, count * 2}), count, n)), ResultOk};
    }
    case 1:
        return {withCrc(head({address, 4, 0, 0, 0, 10})), withCrc(words(head({address, 4, 20}), 10, n)), ResultOk};
    case 2:
        return {withCrc(words(head({address, 16, 0x10, 0x00, 0, 48, 96}), 48, n)),
                withCrc(head({address, 16, 0x10, 0x00, 0, 48})), ResultOk};
    case 3:
        if (address == 8)
            return {withCrc(head({address, 3, 0x10, 0x05, 0, 2})), QByteArray(), ResultNoReply};
        return {withCrc(head({address, 3, 0x10, 0x05, 0, 2})), withCrc(words(head({address, 3, 4}), 2, n)), ResultOk};
    case 4:
        if (address == 7)
            return {withCrc(head({address, 3, 0x20, 0x00, 0, 1})), withCrc(head({address, 0x83, 2})),
                    ResultIllegalAddress};
        return {withCrc(head({address, 4, 0, 2, 0, 1})), withCrc(words(head({address, 4, 2}), 1, n)), ResultOk};
    default:
        return {withCrc(head({address, 43, 0x0E, 1, 0})),
                withCrc(head({address, 43, 0x0E, 1, 1, 0, 0, 1, 0, 5, 'V', 'e', 'l', 't', 'a'})), ResultOk};
    }
}

// Feeds `frames` frames (requests and replies) from exchange `from` on, and
// lets the window work (and paint) after every few exchanges, as the
// program's event loop does on a busy line.  Returns the next exchange's
// number.
int feed(TrafficRecorder &rec, int from, int frames)
{
    int n = from;
    for (int fed = 0; fed < frames; ++n) {
        const Exchange e = exchange(n);
        rec.onBytes(true, e.request);
        ++fed;
        if (!e.reply.isEmpty() && fed < frames) {
            rec.onBytes(false, e.reply);
            ++fed;
        }
        rec.onAttemptEnded(e.result);
        if (n % 8 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    return n;
}

TrafficMonitor *open()
{
    auto *m = new TrafficMonitor;
    m->show();
    QCoreApplication::processEvents();
    return m;
}

void close(TrafficMonitor *m)
{
    QPointer<TrafficMonitor> gone(m);
    m->close();   // deletes itself (later)
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    if (!gone.isNull())
        std::printf("the monitor did not go when closed\n");
}

bool report(const char *what, double mb, double base, double allowed, const char *goal)
{
    const bool met = mb - base <= allowed;
    std::printf("%-40s %7.1f MB  (%+6.1f MB; goal: %s) %s\n", what, mb, mb - base, goal,
                met ? "goal met" : "GOAL MISSED");
    return met;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The program's main window has its fonts and style loaded before the
    // monitor is ever opened: one monitor opened and closed empty brings
    // them in here, so that "closed" is the program's state without it.
    close(open());
    const double closed = rssMb();
    std::printf("%-40s %7.1f MB\n", "monitor closed", closed);

    TrafficMonitor *m = open();
    const double empty = rssMb();
    bool ok = report("open, empty", empty, closed, 10, "<= 10 MB over closed");

    int n = feed(m->recorder(), 0, 10000);
    const double full = rssMb();
    ok = report("full ring (10,000 frames)", full, empty, 20, "<= 20 MB over open and empty") && ok;

    n = feed(m->recorder(), n, 40000);
    const double after50 = rssMb();
    ok = report("after 50,000 frames", after50, full, 2, "flat: <= 2 MB over the full ring") && ok;

    close(m);
    const double afterClose = rssMb();
    ok = report("closed again", afterClose, closed, 5, "<= 5 MB over closed") && ok;

    m = open();
    feed(m->recorder(), n, 10000);
    const double refilled = rssMb();
    ok = report("reopened, ring full again", refilled, full, 2, "<= 2 MB over the first full ring") && ok;
    close(m);
    const double closedTwice = rssMb();
    ok = report("closed a second time", closedTwice, closed, 5, "<= 5 MB over closed") && ok;

    std::printf("%s\n", ok ? "all goals met" : "SOME GOALS MISSED");
    return 0;
}

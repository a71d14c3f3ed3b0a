// What a journal record costs the device work it follows: the time of
// Journal::append(record, location) on the caller's thread, which is all the
// program and tlctl wait for, for a file location and for a team's server
// that is up, down (a port nothing listens on) or unreachable (an address
// nobody answers), each with the background sender syncing that location
// at the same time, the file held open as the program holds it.  Prints
// median, p99 and max against the goal of 5 ms, and apart from that the
// cost of opening the file alone and of a record without the hold (tlctl).
//
//   bench_journalpath [--records N] [--dir DIR]
//
// DIR (default: a folder under the working directory, on its disk, not a
// tmpfs) holds the journals; the server is a throw-away one (pgcluster.h).
#include "journal.h"
#include "journalsender.h"
#include "journalsync.h"
#include "pgcluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStorageInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const double GoalMs = 5.0;

struct Figures {
    double median = 0, p99 = 0, max = 0;
};

Figures figures(std::vector<double> ms)
{
    Figures f;
    if (ms.empty())
        return f;
    std::sort(ms.begin(), ms.end());
    f.median = ms[ms.size() / 2];
    f.p99 = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    f.max = ms.back();
    return f;
}

void print(const char *what, const Figures &f, const QString &note = QString())
{
    std::printf("%-34s median %7.3f ms   p99 %7.3f ms   max %8.3f ms   %s%s\n", what, f.median, f.p99, f.max,
                f.p99 <= GoalMs ? "goal met" : "GOAL MISSED", note.isEmpty() ? "" : qPrintable(QStringLiteral("   ") + note));
    std::fflush(stdout);
}

Journal::Record sample(int i)
{
    Journal::Record r;
    r.deviceType = 1;
    r.serial = 4711;
    r.serialText = QStringLiteral("TL02ID0004711");
    r.firmware = QStringLiteral("1.07");
    r.address = 1;
    r.level = QStringLiteral("Velta");
    r.kind = QStringLiteral("gas_span");
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_4ma=8000; adc_20ma=40000; adc_calib=%1").arg(20000 + i);
    r.after = QStringLiteral("adc_4ma=8100; adc_20ma=40100; adc_calib=%1").arg(20100 + i);
    r.ok = true;
    r.source = QStringLiteral("program");
    return r;
}

// Records written one after another to `location` with its sender running;
// between two records 10 ms of "device work" in which the event loop runs.
Figures run(const QString &location, int count, int *syncs, int *failed)
{
    // As the program does: its file held open while it runs (mainwindow.h).
    Journal::Database hold;
    hold.open(Journal::localPath(location));
    JournalSender sender;
    sender.setLocation(location);
    sender.setPeriod(200);    // syncs much more often than the program's 60 s
    sender.setNudgeDelay(0);
    *syncs = 0;
    QObject::connect(&sender, &JournalSender::syncEnded, [syncs](const Journal::SyncReport &) { ++*syncs; });
    sender.start();
    std::vector<double> ms;
    *failed = 0;
    for (int i = 0; i < count; ++i) {
        Journal::Record r = sample(i);
        QElapsedTimer t;
        t.start();
        const Journal::Error e = Journal::append(r, location);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
        if (!e.ok())
            ++*failed;
        sender.nudge();
        QElapsedTimer gap;
        gap.start();
        while (gap.elapsed() < 10)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    sender.stop();
    return figures(ms);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int count = 300;
    QString base = QDir::currentPath();
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records"))
            count = std::max(10, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--dir"))
            base = args[i + 1];
    }
    QTemporaryDir dir(base + QStringLiteral("/bench_journalpath-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_journalpath: cannot make a folder in %s\n", qPrintable(base));
        return 1;
    }
    const QStorageInfo storage(dir.path());
    std::printf("journals in %s (%s), %d records per case, goal: p99 <= %.0f ms per record\n", qPrintable(dir.path()),
                storage.fileSystemType().constData(), count, GoalMs);

    // Opening the file alone (what every append does first).
    {
        const QString file = dir.filePath(QStringLiteral("open.sqlite"));
        Journal::Record r = sample(0);
        Journal::append(r, file);
        std::vector<double> ms;
        for (int i = 0; i < count; ++i) {
            QElapsedTimer t;
            t.start();
            Journal::Database db;
            db.open(file);
            db.close();
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        print("open and close the file", figures(ms));
    }

    auto caseOf = [&](const char *name, const QString &location) {
        // Each case with a file of this computer of its own.
        const QString home = dir.filePath(QString::fromLatin1(name).replace(QLatin1Char(' '), QLatin1Char('-')));
        QDir().mkpath(home);
        qputenv("XDG_DATA_HOME", home.toUtf8());
        int syncs = 0, failed = 0;
        const Figures f = run(location.isEmpty() ? Journal::defaultPath() : location, count, &syncs, &failed);
        print(name, f, QStringLiteral("(%1 syncs meanwhile%2)").arg(syncs).arg(
                           failed ? QStringLiteral(", %1 appends FAILED").arg(failed) : QString()));
    };

    caseOf("file", QString());
    {
        // Without the hold (as tlctl writes): the last close syncs the file.
        const QString file = dir.filePath(QStringLiteral("unheld.sqlite"));
        std::vector<double> ms;
        for (int i = 0; i < count; ++i) {
            Journal::Record r = sample(i);
            QElapsedTimer t;
            t.start();
            Journal::append(r, file);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        print("file, not held open", figures(ms));
    }

    PgCluster pg;
    if (pg.start() && pg.createDatabase(QStringLiteral("bench"))) {
        const QString url = pg.url(QStringLiteral("bench"));
        Journal::Database db;   // the team's journal made, as "tlctl journal init" would
        const Journal::Error e = db.open(url);
        if (!e.ok())
            std::printf("server up: %s\n", qPrintable(Journal::errorText(e)));
        db.close();
        caseOf("server up", url);
    } else {
        std::printf("server up: not measured: %s\n", qPrintable(pg.why()));
    }

    // A port that was free a moment ago: nothing listens there.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 freePort = probe.serverPort();
    probe.close();
    caseOf("server down", QStringLiteral("postgresql://tl@127.0.0.1:%1/team").arg(freePort));
    caseOf("server unreachable", QStringLiteral("postgresql://tl@10.255.255.1:5432/team?connect_timeout=10"));
    return 0;
}

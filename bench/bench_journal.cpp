// Journal benchmark on a throw-away PostgreSQL server of its own (the tests'
// fixture, tests/common/pgcluster.*: a temporary cluster on 127.0.0.1 with
// fsync off, so the figures are the journal's and the server's work, not a
// disk's):
//
//   bench_journal [--records N] [--outbox N]
//
// (a) records per second appended to the server, chained, by 1 writer and
//     by 8 writers at once (threads, a connection each, each record its own
//     transaction under the journal's write lock, as the program and tlctl
//     add them);
// (b) the time Journal::sync() takes to send an outbox of N records (default
//     10,000) from this computer's file and read the server back, then the
//     time of a second sync with nothing to send.
#include "journal.h"
#include "journalsync.h"
#include "pgcluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

Journal::Record sample(int i)
{
    Journal::Record r;
    r.kind = QStringLiteral("gas_span");
    r.serial = 4700 + i % 50;
    r.serialText = QStringLiteral("TL02ID%1").arg(r.serial, 7, 10, QLatin1Char('0'));
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_4ma=8000; adc_20ma=40000");
    r.after = QStringLiteral("adc_4ma=8100; adc_20ma=40100");
    r.ok = true;
    r.source = QStringLiteral("bench");
    return r;
}

// `writers` threads append `total` records between them; records a second.
double appendRate(const QString &location, int writers, int total)
{
    std::atomic_int failed{0};
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            Journal::Database db;
            if (!db.open(location).ok()) {
                ++failed;
                return;
            }
            for (int i = w; i < total; i += writers) {
                Journal::Record r = sample(i);
                if (!db.append(r).ok())
                    ++failed;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (failed > 0)
        std::printf("  (%d appends failed)\n", failed.load());
    return total / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int records = 4000;
    int outbox = 10000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--records"))
            records = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--outbox"))
            outbox = args[i + 1].toInt();
    }

    PgCluster pg;
    if (!pg.start() || !pg.createDatabase(QStringLiteral("bench")) || !pg.createDatabase(QStringLiteral("outbox"))) {
        std::fprintf(stderr, "bench_journal: %s\n", qPrintable(pg.why()));
        return 1;
    }
    std::printf("throw-away server started in %lld ms\n", pg.startMs());
    const QString server = pg.url(QStringLiteral("bench"));
    {
        Journal::Database db;
        const Journal::Error e = db.open(server);
        if (!e.ok()) {
            std::fprintf(stderr, "bench_journal: %s\n", qPrintable(Journal::errorText(e)));
            return 1;
        }
    }

    std::printf("(a) chained appends to the server, %d records each run\n", records);
    std::printf("  1 writer:  %8.0f records/s\n", appendRate(server, 1, records));
    std::printf("  8 writers: %8.0f records/s (all writers together)\n", appendRate(server, 8, records));

    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    {
        Journal::Database db;
        Journal::Error e = db.open(Journal::defaultPath());
        if (e.ok())
            e = db.begin();
        for (int i = 0; e.ok() && i < outbox; ++i) {
            Journal::Record r = sample(i);
            e = db.append(r);
        }
        if (e.ok())
            e = db.commit();
        if (!e.ok()) {
            std::fprintf(stderr, "bench_journal: %s\n", qPrintable(Journal::errorText(e)));
            return 1;
        }
    }
    const QString target = pg.url(QStringLiteral("outbox"));
    QElapsedTimer clock;
    clock.start();
    Journal::SyncReport r = Journal::sync(target);
    const double first = clock.nsecsElapsed() / 1e9;
    if (!r.error.ok() || r.sent != outbox) {
        std::fprintf(stderr, "bench_journal: sync sent %lld of %d: %s\n", r.sent, outbox,
                     qPrintable(Journal::errorText(r.error)));
        return 1;
    }
    clock.restart();
    r = Journal::sync(target);
    const double second = clock.nsecsElapsed() / 1e9;
    std::printf("(b) sync of an outbox of %d records: %.2f s (%.0f records/s, sent and read back)\n", outbox, first,
                outbox / first);
    std::printf("    a second sync, nothing to send: %.3f s\n", second);
    return 0;
}

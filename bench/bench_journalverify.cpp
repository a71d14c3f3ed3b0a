// The time `tlctl journal verify` needs for a team server's chain of
// 100,000 records (Journal::verify over a throw-away PostgreSQL cluster,
// the same code), and what filling it cost.  Prints its figures.
//
//   bench_journalverify [RECORDS]     (default 100000)
#include "journal.h"
#include "journalchain.h"
#include "pgcluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

Journal::Record make(int n)
{
    Journal::Record r;
    r.time = QDateTime::currentDateTime().addSecs(n);
    r.deviceType = 1;
    r.serial = 100000 + n % 500;
    r.serialText = QStringLiteral("TL02ID%1").arg(r.serial, 7, 10, QLatin1Char('0'));
    r.firmware = QStringLiteral("1.07");
    r.address = 1 + n % 247;
    r.level = QStringLiteral("Velta");
    r.kind = n % 2 ? QStringLiteral("gas_span") : QStringLiteral("gas_zero");
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_4ma=8000; adc_20ma=40000; adc_calib=1200; conc_calib=500");
    r.after = QStringLiteral("adc_4ma=8000; adc_20ma=40000; adc_calib=1300; conc_calib=500");
    r.ok = true;
    r.source = QStringLiteral("program");
    return r;
}

long peakRssKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    PgCluster pg;
    if (!pg.start() || !pg.createDatabase(QStringLiteral("bench"))) {
        std::fprintf(stderr, "bench_journalverify: no test server: %s\n", qPrintable(pg.why()));
        return 1;
    }
    Journal::Database db;
    Journal::Error e = db.open(pg.url(QStringLiteral("bench")));
    if (!e.ok()) {
        std::fprintf(stderr, "bench_journalverify: %s\n", qPrintable(Journal::errorText(e)));
        return 1;
    }

    // Filled as a sync sends: chained appends, 500 to a transaction.
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < count && e.ok();) {
        e = db.begin();
        for (int i = 0; i < 500 && n < count && e.ok(); ++i, ++n) {
            Journal::Record r = make(n);
            e = db.append(r);
        }
        if (e.ok())
            e = db.commit();
    }
    if (!e.ok()) {
        std::fprintf(stderr, "bench_journalverify: %s\n", qPrintable(Journal::errorText(e)));
        return 1;
    }
    const qint64 fillMs = clock.elapsed();
    std::printf("filled %d chained records in %.1f s (%.0f records/s, one writer, 500 a transaction)\n", count,
                fillMs / 1000.0, count * 1000.0 / qMax<qint64>(1, fillMs));

    const long rssBefore = peakRssKb();
    clock.restart();
    Journal::ChainCheck check;
    e = Journal::verify(db, &check);
    const qint64 verifyMs = clock.elapsed();
    if (!e.ok() || check.finding != Journal::ChainCheck::Finding::Intact || check.records != count) {
        std::fprintf(stderr, "bench_journalverify: verify failed: %s %s\n", qPrintable(Journal::errorText(e)),
                     qPrintable(check.text));
        return 1;
    }
    std::printf("verify of %lld records: %.2f s (%.0f records/s); peak RSS %ld KB (before verify %ld KB)\n",
                check.records, verifyMs / 1000.0, check.records * 1000.0 / qMax<qint64>(1, verifyMs),
                peakRssKb(), rssBefore);
    return 0;
}

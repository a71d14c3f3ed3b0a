// tlctl and the calibration journal: restore, factory and flash leave their
// records (and the device what they wrote), `tlctl journal` lists and
// exports them, and a locked or damaged journal is a warning that leaves the
// device work and its exit code alone.
#include "hexfile.h"
#include "journal.h"
#include "simprocess.h"
#include "tlctlrun.h"

#include <QCryptographicHash>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

class TlctlJournalTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { sim.stop(); }

    void restoreFactoryAndFlashRecordedAndListed();
    void brokenJournalWarnsDeviceWorkDone_data();
    void brokenJournalWarnsDeviceWorkDone();
    void usage();

private:
    // tlctl with the journal in this case's data folder.
    TlctlRun tlctl(const QStringList &args, bool asVelta = false)
    {
        QMap<QString, QString> env{{QStringLiteral("XDG_DATA_HOME"), home->path()}};
        if (asVelta)
            env.insert(QStringLiteral("TLCTL_PASSWORD"), QStringLiteral("8350"));
        return runTlctl(args, env, 120000);
    }
    QStringList on(const QStringList &args) const
    {
        return QStringList{QStringLiteral("--port"), sim.portPath()} + args
               + QStringList{QStringLiteral("--user"), QStringLiteral("Velta")};
    }
    QString journalPath() const { return home->filePath(QStringLiteral("tl-configuration/journal.sqlite")); }

    std::unique_ptr<QTemporaryDir> home;
    SimProcess sim;
};

void TlctlJournalTest::init()
{
    home.reset(new QTemporaryDir);
    QVERIFY(home->isValid());
    QVERIFY(sim.start());
}

void TlctlJournalTest::restoreFactoryAndFlashRecordedAndListed()
{
    // A file with threshold 1 at 30.0 made from the device's own block.
    const QString file = home->filePath(QStringLiteral("limit.txt"));
    TlctlRun r = tlctl({QStringLiteral("--port"), sim.portPath(), QStringLiteral("backup"), file});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    ParamBlock block{};
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(decodeBlockFile(&f, reinterpret_cast<quint8 *>(&block), HexFile::BlockBytes).complete);
    }
    const int limitBefore = sim.holding(0x1005);
    block.Limit1 = quint16(300 | (block.Limit1 & 0x8000));
    QCOMPARE(saveHexFile(file, reinterpret_cast<const quint8 *>(&block), HexFile::BlockBytes, HexFile::LineBytes),
             SaveResult::Ok);

    r = tlctl(on({QStringLiteral("restore"), file, QStringLiteral("--yes")}), true);
    QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
    QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    QCOMPARE(sim.holding(0x1005) & 0x7FFF, 300);

    sim.clearLog();
    r = tlctl(on({QStringLiteral("factory"), QStringLiteral("store")}), true);
    QVERIFY2(r.code == 0 && r.err.isEmpty(), qPrintable(r.err + r.out));
    QVERIFY(sim.commands().contains(quint16(0x3003)));

    // Nothing listed for another serial number, both for this one.
    r = tlctl({QStringLiteral("journal"), QStringLiteral("--serial"), QStringLiteral("4712")});
    QCOMPARE(r.code, 0);
    QCOMPARE(r.out, QStringLiteral("no records for serial number 4712\n"));
    r = tlctl({QStringLiteral("journal"), QStringLiteral("--serial"), QStringLiteral("TL02ID0004711")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    QVERIFY2(r.out.contains(QStringLiteral("parameter file loaded, %1: ok").arg(QFileInfo(file).absoluteFilePath())),
             qPrintable(r.out));
    QVERIFY2(r.out.contains(QStringLiteral("before: limit1=%1").arg((limitBefore & 0x7FFF) / 10.0, 0, 'f', 1)),
             qPrintable(r.out));
    QVERIFY(r.out.contains(QStringLiteral("after:  limit1=30.0")));
    QVERIFY(r.out.contains(QStringLiteral("factory settings stored: ok")));
    QVERIFY(r.out.endsWith(QStringLiteral("2 records\n")));

    // A small image through the bootloader: the record says what was
    // written, with its size and SHA-256.
    const QString image = home->filePath(QStringLiteral("fw.bin"));
    const QByteArray bytes(450, '\x5A');
    {
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    sim.clearLog();
    r = tlctl(on({QStringLiteral("flash"), image, QStringLiteral("--yes"), QStringLiteral("--any-image")}), true);
    QVERIFY2(r.code == 0 && r.err.isEmpty(), qPrintable(r.err + r.out));
    QCOMPARE(sim.commands().last(), quint16(0x6060));

    r = tlctl({QStringLiteral("journal"), QStringLiteral("--csv")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    const QStringList lines = r.out.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5);   // header, three records, the empty rest
    QVERIFY(lines[0].startsWith(QLatin1String("id,time,device_type,serial,serial_text,")));
    QVERIFY(lines[0].endsWith(QLatin1String(",source,uuid,login,host,group,details")));
    QVERIFY2(lines[1].contains(QLatin1String(",1,4711,TL02ID0004711,")) && lines[1].contains(QLatin1String(",Velta,file_load,"))
                 && lines[1].contains(QLatin1String(",ok,,tlctl,")),
             qPrintable(lines[1]));
    // Each record with a UUID of its own and who wrote it where.
    QSet<QString> uuids;
    for (int i = 1; i <= 3; ++i) {
        const QStringList fields = lines[i].split(QLatin1Char(','));
        // ..., uuid, login, host, group, details (none here).
        const QString uuid = fields.value(fields.size() - 5);
        QVERIFY2(!QUuid::fromString(uuid).isNull(), qPrintable(lines[i]));
        uuids.insert(uuid);
        QCOMPARE(fields.value(fields.size() - 3), QSysInfo::machineHostName());
        QCOMPARE(fields.value(fields.size() - 4), Journal::loginName());
    }
    QCOMPARE(uuids.size(), 3);
    // The listing names each record's UUID.
    r = tlctl({QStringLiteral("journal")});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    for (const QString &uuid : uuids)
        QVERIFY2(r.out.contains(QStringLiteral("    record %1, by ").arg(uuid)), qPrintable(r.out));
    QVERIFY2(lines[2].contains(QLatin1String(",factory_store,")) && lines[2].contains(QLatin1String("adc_4ma=8000")),
             qPrintable(lines[2]));
    // The bootloader does not say whose it is: no serial number.
    QVERIFY2(lines[3].startsWith(QLatin1String("3,")) && lines[3].contains(QLatin1String(",999,0,,,0,Velta,firmware,"))
                 && lines[3].contains(QStringLiteral("fw.bin, 450 bytes, SHA-256 %1")
                                          .arg(QString::fromLatin1(QCryptographicHash::hash(
                                              bytes, QCryptographicHash::Sha256).toHex())))
                 && lines[3].contains(QLatin1String("450 of 450 bytes written,ok,")),
             qPrintable(lines[3]));
}

void TlctlJournalTest::brokenJournalWarnsDeviceWorkDone_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("says");
    QTest::newRow("locked") << true << QStringLiteral("is locked by another program");
    QTest::newRow("damaged") << false << QStringLiteral("is damaged or is not a journal database");
}

void TlctlJournalTest::brokenJournalWarnsDeviceWorkDone()
{
    QFETCH(bool, locked);
    QFETCH(QString, says);
    QVERIFY(QDir().mkpath(QFileInfo(journalPath()).absolutePath()));
    const QString holder = QStringLiteral("holder");
    if (locked) {
        Journal::Record first;
        first.kind = QStringLiteral("gas_zero");
        QVERIFY(Journal::append(first, journalPath()).ok());
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
        other.setDatabaseName(journalPath());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    } else {
        QFile junk(journalPath());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'j'));
    }

    sim.clearLog();
    TlctlRun r = tlctl(on({QStringLiteral("factory"), QStringLiteral("store")}), true);
    // The device stored its settings and tlctl says so, with exit 0.
    QVERIFY2(r.code == 0, qPrintable(r.err + r.out));
    QVERIFY(sim.commands().contains(quint16(0x3003)));
    QVERIFY(r.out.contains(QStringLiteral("factory settings stored at")));
    const QStringList warning = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(warning.size(), 1);
    QVERIFY2(warning[0].startsWith(QStringLiteral("tlctl: warning: the journal record was not written: the journal %1 ")
                                       .arg(journalPath()))
                 && warning[0].contains(QStringLiteral("the record was kept in %1").arg(Journal::sidePath(journalPath())))
                 && warning[0].contains(says) && warning[0].endsWith(QLatin1String("not affected")),
             qPrintable(warning[0]));

    // Listing a damaged journal fails clearly; one another program writes
    // is read (the journal logs ahead), without the record still aside.
    r = tlctl({QStringLiteral("journal")});
    if (locked) {
        QCOMPARE(r.code, 0);
        QVERIFY2(r.out.endsWith(QStringLiteral("1 record\n")), qPrintable(r.out));
    } else {
        QCOMPARE(r.code, 6);
        QVERIFY2(r.oneErrorLine() && r.err.contains(says), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
    }

    if (locked) {
        {
            QSqlDatabase other = QSqlDatabase::database(holder, false);
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(holder);
        r = tlctl({QStringLiteral("journal")});
        QCOMPARE(r.code, 0);
        // The one made before the lock, and the one kept beside the locked
        // journal, taken in now.
        QVERIFY2(r.out.endsWith(QStringLiteral("2 records\n")), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("factory settings stored")));
        QVERIFY(!QFile::exists(Journal::sidePath(journalPath())));
    }
}

void TlctlJournalTest::usage()
{
    const QList<QStringList> bad = {{QStringLiteral("journal"), QStringLiteral("extra")},
                                    {QStringLiteral("journal"), QStringLiteral("--serial")},
                                    {QStringLiteral("journal"), QStringLiteral("--yes")},
                                    {QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--csv")},
                                    {QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("again")},
                                    {QStringLiteral("journal"), QStringLiteral("--journal")},
                                    {QStringLiteral("read"), QStringLiteral("--csv")}};
    for (const QStringList &args : bad) {
        const TlctlRun r = tlctl(args);
        QVERIFY2(r.code == 2 && r.oneErrorLine(), qPrintable(args.join(QLatin1Char(' ')) + QStringLiteral(": ") + r.err));
    }
    const TlctlRun empty = tlctl({QStringLiteral("journal")});
    QCOMPARE(empty.code, 0);
    QCOMPARE(empty.out, QStringLiteral("the journal %1 has no records\n").arg(journalPath()));

    // init on a file: made, or found up to date, and no roles.
    const QString other = home->filePath(QStringLiteral("other/journal.sqlite"));
    TlctlRun init = tlctl({QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--journal"), other});
    QVERIFY2(init.code == 0 && init.err.isEmpty(), qPrintable(init.err));
    QCOMPARE(init.out, QStringLiteral("the journal %1 was made (schema version %2)\n%1 is a file of this computer: "
                                      "no roles to set up (they are a server's)\n").arg(other).arg(Journal::SchemaVersion));
    QVERIFY(QFile::exists(other));
    init = tlctl({QStringLiteral("journal"), QStringLiteral("init"), QStringLiteral("--journal"), other});
    QVERIFY2(init.code == 0 && init.out.startsWith(QStringLiteral("the journal %1 is up to date").arg(other)),
             qPrintable(init.err + init.out));
}

QTEST_GUILESS_MAIN(TlctlJournalTest)
#include "test_tlctl_journal.moc"

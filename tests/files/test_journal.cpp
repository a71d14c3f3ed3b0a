// The calibration journal's database on its own: schema, records in and out,
// filters, CSV, and the clear answers for a locked, damaged or newer file.
#include "command.h"
#include "journal.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace Journal;

namespace {

// The link this test works through.
Command link;

Record make(qint64 serial, const QString &kind, const QDateTime &time, bool ok = true)
{
    Record r;
    r.time = time;
    r.deviceType = 1;
    r.serial = serial;
    r.serialText = QStringLiteral("TL02ID%1").arg(serial, 7, 10, QLatin1Char('0'));
    r.firmware = QStringLiteral("1.07");
    r.address = 1;
    r.level = QStringLiteral("Velta");
    r.kind = kind;
    r.value = QStringLiteral("50.0 %LEL");
    r.before = QStringLiteral("adc_4ma=8000; adc_20ma=40000");
    r.after = QStringLiteral("adc_4ma=8100; adc_20ma=40100");
    r.ok = ok;
    r.reason = ok ? QString() : QStringLiteral("no reply, \"timeout\"");
    r.source = QStringLiteral("program");
    return r;
}

} // namespace

class JournalTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir.isValid()); Database::busyTimeoutMs = 3000; }
    void recordsFiltersAndSchema();
    void csvQuotesAndHeader();
    void defaultPathFollowsDataHome();
    void lockedFileAnsweredInTime();
    void damagedOrForeignFileNamed_data();
    void damagedOrForeignFileNamed();
    void newerSchemaRefused();
    void recordFromDeviceAndFieldTexts();

private:
    QTemporaryDir dir;
};

void JournalTest::recordsFiltersAndSchema()
{
    const QString path = dir.filePath(QStringLiteral("a/b/journal.sqlite"));   // folders made on open
    const QDate today = QDate::currentDate();
    Record r1 = make(1234, QStringLiteral("gas_zero"), QDateTime(today.addDays(-10), QTime(9, 0)));
    Record r2 = make(1234, QStringLiteral("gas_span"), QDateTime(today, QTime(10, 30)), false);
    Record r3 = make(777, QStringLiteral("file_load"), QDateTime(today.addDays(-1), QTime(23, 59, 59)));
    QVERIFY(append(r1, path).ok());
    QVERIFY(append(r2, path).ok());
    QVERIFY(append(r3, path).ok());
    QVERIFY(r1.id > 0 && r2.id > r1.id && r3.id > r2.id);

    Database db;
    QVERIFY(db.open(path).ok());
    QVector<Record> all;
    QVERIFY(db.query(Filter(), &all).ok());
    QCOMPARE(all.size(), 3);
    // Oldest first, every field back as written.
    QCOMPARE(all[0].id, r1.id);
    QCOMPARE(all[1].id, r3.id);
    QCOMPARE(all[2].id, r2.id);
    const Record &back = all[2];
    QCOMPARE(back.time, r2.time);
    QCOMPARE(back.serial, qint64(1234));
    QCOMPARE(back.serialText, QStringLiteral("TL02ID0001234"));
    QCOMPARE(back.kind, QStringLiteral("gas_span"));
    QCOMPARE(back.after, r2.after);
    QCOMPARE(back.ok, false);
    QCOMPARE(back.reason, r2.reason);
    QCOMPARE(all[0].reason, QString(QLatin1String("")));

    QVector<Record> found;
    QVERIFY(db.query(Filter{QStringLiteral("1234"), {}, {}}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QStringLiteral("tl02id0000777"), {}, {}}, &found).ok());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].id, r3.id);
    // The day bounds are whole local days, both included.
    QVERIFY(db.query(Filter{QString(), today.addDays(-1), today}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QString(), {}, today.addDays(-1)}, &found).ok());
    QCOMPARE(found.size(), 2);
    QVERIFY(db.query(Filter{QStringLiteral("1234"), today.addDays(-1), {}}, &found).ok());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].id, r2.id);
    db.close();

    // The schema carries its version.
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        raw.setDatabaseName(path);
        QVERIFY(raw.open());
        QSqlQuery q(raw);
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
        QCOMPARE(q.value(0).toInt(), SchemaVersion);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void JournalTest::csvQuotesAndHeader()
{
    Record r = make(42, QStringLiteral("input_4ma"), QDateTime(QDate(2026, 3, 1), QTime(8, 5, 0)), false);
    r.id = 7;
    r.value = QStringLiteral("4,000 mA");
    const QString path = dir.filePath(QStringLiteral("out.csv"));
    QVERIFY(writeCsv({r}, path).ok());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);   // header, one record, the empty rest after the last CR LF
    QVERIFY(lines[0].startsWith(QLatin1String("id,time,device_type,serial,")));
    QCOMPARE(lines[2], QString());
    QCOMPARE(lines[1], QStringLiteral("7,2026-03-01T08:05:00,1,42,TL02ID0000042,1.07,1,Velta,input_4ma,"
                                      "\"4,000 mA\",adc_4ma=8000; adc_20ma=40000,adc_4ma=8100; adc_20ma=40100,"
                                      "failed,\"no reply, \"\"timeout\"\"\",program"));
    // A file that cannot be made is an error, not an empty success.
    QCOMPARE(writeCsv({r}, dir.filePath(QStringLiteral("none/x.csv"))).problem, Problem::FileWrite);
}

void JournalTest::defaultPathFollowsDataHome()
{
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    const QString path = defaultPath();
    qputenv("XDG_DATA_HOME", old);
    QCOMPARE(path, dir.filePath(QStringLiteral("data/tl-configuration/journal.sqlite")));
}

void JournalTest::lockedFileAnsweredInTime()
{
    const QString path = dir.filePath(QStringLiteral("locked.sqlite"));
    Record first = make(1, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    QVERIFY(append(first, path).ok());
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery hold(other);
        QVERIFY(hold.exec(QStringLiteral("BEGIN EXCLUSIVE")));

        Database::busyTimeoutMs = 300;
        QElapsedTimer clock;
        clock.start();
        Record r = make(2, QStringLiteral("gas_span"), QDateTime::currentDateTime());
        const Error e = append(r, path);
        const qint64 ms = clock.elapsed();
        QCOMPARE(e.problem, Problem::Locked);
        QCOMPARE(e.path, path);
        QVERIFY2(errorText(e).contains(QLatin1String("locked by another program")), qPrintable(errorText(e)));
        // It waited for the lock, and then gave up (wide bounds: a busy machine).
        QVERIFY2(ms >= 200 && ms < 30000, qPrintable(QString::number(ms)));

        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    // Once the lock is gone the journal takes records again.
    Record later = make(3, QStringLiteral("gas_span"), QDateTime::currentDateTime());
    QVERIFY(append(later, path).ok());
}

void JournalTest::damagedOrForeignFileNamed_data()
{
    QTest::addColumn<bool>("foreign");
    QTest::newRow("not a database") << true;
    QTest::newRow("damaged journal") << false;
}

void JournalTest::damagedOrForeignFileNamed()
{
    QFETCH(bool, foreign);
    const QString path = dir.filePath(foreign ? QStringLiteral("foreign.sqlite") : QStringLiteral("damaged.sqlite"));
    if (foreign) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
    } else {
        for (int i = 0; i < 50; ++i) {
            Record r = make(i, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
            QVERIFY(append(r, path).ok());
        }
        // Scramble every page after the header page.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const qint64 size = f.size();
        QVERIFY(size > 4096);
        f.seek(100);
        f.write(QByteArray(int(size - 100), '\xA5'));
    }
    Database db;
    Error e = db.open(path);
    if (e.ok()) {   // a damaged body may only show when it is read or written
        QVector<Record> records;
        e = db.query(Filter(), &records);
    }
    QVERIFY2(e.problem == Problem::Corrupt, qPrintable(QStringLiteral("%1: %2").arg(int(e.problem)).arg(errorText(e))));
    QVERIFY2(errorText(e).contains(QLatin1String("damaged or is not a journal")), qPrintable(errorText(e)));
    QVERIFY(!db.isOpen() || !e.ok());
}

void JournalTest::newerSchemaRefused()
{
    const QString path = dir.filePath(QStringLiteral("newer.sqlite"));
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        raw.setDatabaseName(path);
        QVERIFY(raw.open());
        QSqlQuery q(raw);
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = %1").arg(SchemaVersion + 1)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    Record r = make(5, QStringLiteral("gas_zero"), QDateTime::currentDateTime());
    const Error e = append(r, path);
    QCOMPARE(e.problem, Problem::NewerSchema);
    QCOMPARE(r.id, qint64(0));
}

void JournalTest::recordFromDeviceAndFieldTexts()
{
    link.resetState();
    link.DeviceType = 1;
    link.SlaveAddress = 17;
    link.UserName = QStringLiteral("Admin");
    link.DeviceParams.SerialNum = 4321;
    link.DeviceParams.DeviceTypeReg = 1;
    qstrncpy(link.DeviceParams.IdFirmwareVersion, "1.07", sizeof link.DeviceParams.IdFirmwareVersion);
    Record r = fromDevice(link, Kind::GasSpan, QStringLiteral("program"));
    QCOMPARE(r.kind, QStringLiteral("gas_span"));
    QCOMPARE(r.serial, qint64(4321));
    QCOMPARE(r.serialText, QStringLiteral("TL02ID0004321"));
    QCOMPARE(r.firmware, QStringLiteral("1.07"));
    QCOMPARE(r.address, 17);
    QCOMPARE(r.level, QStringLiteral("Admin"));
    // The bootloader's block may be another detector's: nothing of it is kept.
    link.DeviceType = 999;
    r = fromDevice(link, Kind::Firmware, QStringLiteral("tlctl"));
    QCOMPARE(r.serial, qint64(0));
    QVERIFY(r.serialText.isEmpty() && r.firmware.isEmpty());
    QCOMPARE(r.deviceType, 999);

    ParamBlock a{}, b{};
    a.ADCCode4m = 8000;
    b = a;
    b.ADCCode4m = 8123;
    b.PWMCode20m = 5000;
    QCOMPARE(fieldsText(calibrationFields(Kind::GasZero), b),
             QStringLiteral("adc_4ma=8123; adc_20ma=0; adc_calib=0; conc_calib=0 PPM"));
    QString was, now;
    differences(a, b, 48, &was, &now);
    QCOMPARE(was, QStringLiteral("adc_4ma=8000; pwm_20ma=0"));
    QCOMPARE(now, QStringLiteral("adc_4ma=8123; pwm_20ma=5000"));
    link.resetState();
}

QTEST_GUILESS_MAIN(JournalTest)
#include "test_journal.moc"

// The site report: due states in words, the CSV as a spreadsheet reads it,
// the PDF as a reader extracts its text.
#include "sitereport_gui.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace SiteReport;

class TestSiteReport : public QObject
{
    Q_OBJECT
private slots:
    void dueStatesAndBothFiles()
    {
        const QDate today(2026, 12, 8);
        QCOMPARE(int(dueOn(today.addDays(-1), today)), int(Due::Overdue));
        QCOMPARE(int(dueOn(today, today)), int(Due::Soon));
        QCOMPARE(int(dueOn(today.addDays(DueSoonDays), today)), int(Due::Soon));
        QCOMPARE(int(dueOn(today.addDays(DueSoonDays + 1), today)), int(Due::Ok));
        QCOMPARE(int(dueOn(QDate(), today)), int(Due::Unknown));

        Row late;
        late.tag = QStringLiteral("Котельная; у входа");
        late.port = QStringLiteral("/dev/ttyUSB0");
        late.address = 5;
        late.serialText = QStringLiteral("TL02ID0100005");
        late.lastCalibration = today.addDays(-192);
        late.nextDue = today.addDays(-12);
        late.drift = QStringList{QStringLiteral("limit1: 20.0 → 25.0 PPM")};
        Row fresh = late;
        fresh.tag = QStringLiteral("Насосная");
        fresh.serialText = QStringLiteral("TL02ID0100009");
        fresh.nextDue = today.addDays(100);
        fresh.drift.clear();
        // The last calibration's record: one chained by a server, one not yet.
        late.recordUuid = QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
        late.recordHash = QStringLiteral("9c56cc51b374c3ba189210d5b6d4bf57790d351c96c47c02190ecf1e430635ab");
        fresh.recordUuid = QStringLiteral("7d444840-9dc0-11d1-b245-5ffdce74fad2");
        const Header header{QStringLiteral("Котельная №2"), today, QStringLiteral("Иванов И. И.")};
        QCOMPARE(dueText(late, today), QStringLiteral("просрочена на 12 дн."));

        QTemporaryDir dir;
        const QString csv = dir.filePath(QStringLiteral("site.csv"));
        QFile f(csv);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(toCsv(header, {late, fresh}));
        f.close();
        // Read back by Python's csv module: the tag with ";" is one field.
        QProcess py;
        py.start(QStringLiteral(TL_PYTHON), {QStringLiteral("-c"),
            QStringLiteral("import csv,sys; r=list(csv.reader(open(sys.argv[1],encoding='utf-8-sig'),delimiter=';'));"
                           "print(len(r)); print(r[0][1]); print(r[5][0]); print(r[5][13]); print(r[6][14]);"
                           "print(r[5][15]); print(r[5][16]); print(r[6][16])"), csv});
        QVERIFY(py.waitForFinished(30000));
        const QStringList lines = QString::fromUtf8(py.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 8), (QStringList{QStringLiteral("7"), header.site, late.tag,
                                              QStringLiteral("просрочена на 12 дн."), QStringLiteral("нет"),
                                              late.recordUuid, late.recordHash,
                                              QStringLiteral("будет присвоен сервером")}));

        const QString pdf = dir.filePath(QStringLiteral("site.pdf"));
        QString error;
        QVERIFY2(writePdf(header, {late, fresh}, pdf, &error), qPrintable(error));
        QProcess text;
        text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(30000));
        const QString out = QString::fromUtf8(text.readAllStandardOutput());
        for (const QString &s : {QStringLiteral("Отчёт по объекту"), header.site, header.technician,
                                 QStringLiteral("TL02ID0100009"), QStringLiteral("просрочена на"),
                                 QStringLiteral("просроченной калибровкой: 1"), late.recordUuid, late.recordHash,
                                 fresh.recordUuid, QStringLiteral("хеш 9c56cc51b374")})
            QVERIFY2(out.contains(s), qPrintable(s + QStringLiteral(" not in:\n") + out));
    }
};

QTEST_MAIN(TestSiteReport)
#include "test_sitereport.moc"

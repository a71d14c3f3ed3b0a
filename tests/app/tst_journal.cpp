// The calibration journal from the program: a calibration against the
// simulated detector leaves its record (and the device its codes), the
// journal window lists, filters and exports it and prints the certificate,
// file loads and factory stores are recorded, and a locked or damaged
// journal is reported while the device work still completes.
#include "calibration.h"
#include "certificate_gui.h"
#include "programlink.h"
#include "filechoice_gui.h"
#include "hexfile.h"
#include "journal.h"
#include "journalwindow.h"
#include "mainwindow.h"
#include "restoretestutil.h"
#include "shelltest.h"
#include "windowsim.h"

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using ShellTest::child;
using TestWidgets::choose;

class JournalGuiTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void calibrationRecordedListedAndCertified();
    void fileLoadAndFactoryStoreRecorded();
    void failedCalibrationRecordedAsFailed();
    void certificateNamesRecordForServerCheck();
    void brokenJournalReportedDeviceWorkDone_data();
    void brokenJournalReportedDeviceWorkDone();

private:
    // Runs a gas calibration (0 zero, 1 span with `gas`) with the sensor at `adc`.
    void calibrateGas(SimProcess &sim, int point, int adc, double gas = 0);
    QVector<Journal::Record> records();

    QTemporaryDir dir;
    std::unique_ptr<QTemporaryDir> dataHome;
    std::unique_ptr<MainWindow> window;
};

void JournalGuiTest::initTestCase()
{
    ShellTest::prepare(dir);
}

void JournalGuiTest::init()
{
    ShellTest::resetLink();
    theMainWindow = nullptr;
    // Every case starts with no journal, in a data folder of its own.
    dataHome.reset(new QTemporaryDir);
    QVERIFY(dataHome->isValid());
    qputenv("XDG_DATA_HOME", dataHome->path().toUtf8());
    QCOMPARE(Journal::defaultPath(), dataHome->filePath(QStringLiteral("tl-configuration/journal.sqlite")));
    Journal::Database::busyTimeoutMs = 3000;
}

void JournalGuiTest::cleanup()
{
    window.reset();
    theMainWindow = nullptr;
    FileChoice::openHook = nullptr;
    FileChoice::saveHook = nullptr;
    ShellTest::resetLink();
}

void JournalGuiTest::calibrateGas(SimProcess &sim, int point, int adc, double gas)
{
    child<QTabWidget>(window.get(), "tabWidget")->setCurrentIndex(1);
    QVERIFY(currentCalibration);
    choose(child<QComboBox>(currentCalibration, "comboBox_CalibSens"), point);
    if (point == 1)
        child<QDoubleSpinBox>(currentCalibration, "doubleSpinBox_CalibConc")->setValue(gas);
    bool ok = false;
    sim.send(QStringLiteral("set input 0 %1").arg(adc), &ok);
    QVERIFY(ok);
    auto *button = child<QPushButton>(currentCalibration, "Buttoncalibrate");
    button->click();                       // gas supplied ...
    QCOMPARE(button->text(), QStringLiteral("Подтвердить калибровку"));
    button->click();                       // ... and confirmed
}

QVector<Journal::Record> JournalGuiTest::records()
{
    Journal::Database db;
    QVector<Journal::Record> list;
    const Journal::Error opened = db.open();
    if (opened.ok())
        db.query(Journal::Filter(), &list);
    return list;
}

void JournalGuiTest::calibrationRecordedListedAndCertified()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    ModalCloser closer;

    calibrateGas(sim, 0, 8123);
    calibrateGas(sim, 1, 30000, 50.0);
    // The device got the codes.
    QCOMPARE(sim.holding(0x1000), 8123);
    QCOMPARE(sim.holding(0x1015), 30000);
    const int span20 = sim.holding(0x1001);
    QVERIFY(span20 != 40000);
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));

    const QVector<Journal::Record> all = records();
    // Each step's write announced by a started record of its group, then
    // the step's own record.
    QCOMPARE(all.size(), 4);
    QVector<Journal::Record> list;
    for (int i = 0; i < all.size(); i += 2) {
        QVERIFY(all[i].started && !all[i + 1].started);
        QCOMPARE(all[i].kind, all[i + 1].kind);
        QCOMPARE(all[i].group, all[i + 1].group);
        QVERIFY(!all[i].group.isEmpty() && all[i].uuid != all[i + 1].uuid);
        list << all[i + 1];
    }
    QVERIFY(all[0].group != all[2].group);
    QVERIFY(Journal::unfinished(all).isEmpty());
    const Journal::Record &zero = list[0];
    QCOMPARE(zero.kind, QStringLiteral("gas_zero"));
    QVERIFY(zero.ok);
    QVERIFY(zero.reason.isEmpty());
    QCOMPARE(zero.serial, qint64(4711));
    QCOMPARE(zero.serialText, QStringLiteral("TL02ID0004711"));
    QVERIFY(!zero.firmware.isEmpty());
    QCOMPARE(zero.address, 1);
    QCOMPARE(zero.deviceType, 1);
    QCOMPARE(zero.level, QStringLiteral("Velta"));
    QCOMPARE(zero.source, QStringLiteral("program"));
    QVERIFY2(zero.before.startsWith(QLatin1String("adc_4ma=8000; adc_20ma=40000;")), qPrintable(zero.before));
    QVERIFY2(zero.after.startsWith(QLatin1String("adc_4ma=8123; ")), qPrintable(zero.after));
    QVERIFY(qAbs(zero.time.secsTo(QDateTime::currentDateTime())) < 600);

    const Journal::Record &span = list[1];
    QCOMPARE(span.kind, QStringLiteral("gas_span"));
    QVERIFY(span.ok);
    QCOMPARE(span.value, QStringLiteral("50.0 PPM"));
    QVERIFY2(span.before.startsWith(QLatin1String("adc_4ma=8123; adc_20ma=")), qPrintable(span.before));
    QVERIFY2(span.after.startsWith(QStringLiteral("adc_4ma=8123; adc_20ma=%1; adc_calib=30000; conc_calib=50.0 PPM")
                                       .arg(span20)),
             qPrintable(span.after));

    // The window, from the menu: newest first, filtered, exported.
    QAction *action = child<QAction>(w, "action_journal");
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+J")));
    action->trigger();
    auto *journal = w->findChild<JournalWindow *>();
    QVERIFY(journal);
    QVERIFY(journal->isVisible());
    QVERIFY(!journal->isModal());
    QCOMPARE(journal->windowTitle(), QStringLiteral("Журнал калибровок"));
    QVERIFY(journal->problem().isEmpty());
    auto *table = child<QTableView>(journal, "tableView");
    QCOMPARE(table->model()->rowCount(), 4);
    QCOMPARE(journal->records().first().kind, QStringLiteral("gas_span"));
    QCOMPARE(table->model()->index(0, 2).data().toString(), QStringLiteral("Калибровка диапазона"));
    QCOMPARE(table->model()->index(1, 4).data().toString(), QStringLiteral("Начата"));
    auto *serial = child<QLineEdit>(journal, "lineEdit_Serial");
    serial->setText(QStringLiteral("4712"));
    QCOMPARE(table->model()->rowCount(), 0);
    serial->setText(QStringLiteral("TL02ID0004711"));
    QCOMPARE(table->model()->rowCount(), 4);
    child<QCheckBox>(journal, "checkBox_Period")->setChecked(true);   // the last 30 days
    QCOMPARE(table->model()->rowCount(), 4);
    child<QDateEdit>(journal, "dateEdit_To")->setDate(QDate::currentDate().addDays(-1));
    QCOMPARE(table->model()->rowCount(), 0);
    child<QCheckBox>(journal, "checkBox_Period")->setChecked(false);

    const QString csv = dir.filePath(QStringLiteral("journal.csv"));
    FileChoice::saveHook = [&](QWidget *, const QString &, const QString &, const QString &) { return csv; };
    child<QPushButton>(journal, "pushButton_ExportCsv")->click();
    QFile csvFile(csv);
    QVERIFY(csvFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = csvFile.readAll().split('\n');
    QCOMPARE(lines.size(), 6);   // header, four records, nothing after the last line end
    QVERIFY(lines[1].contains(",gas_zero,") && lines[1].contains(",started,") && lines[4].contains(",gas_span,"));

    // The certificate of the selected record.
    auto *certify = child<QPushButton>(journal, "pushButton_Certificate");
    QVERIFY(!certify->isEnabled());
    table->selectRow(0);
    QVERIFY(certify->isEnabled());
    const QString pdf = dir.filePath(QStringLiteral("protocol.pdf"));
    FileChoice::saveHook = [&](QWidget *, const QString &, const QString &, const QString &) { return pdf; };
    certify->click();
    QVERIFY2(closer.seen.isEmpty(), qPrintable(closer.seen.value(0).text));
    QFile pdfFile(pdf);
    QVERIFY(pdfFile.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdfFile.readAll();
    QVERIFY(bytes.startsWith("%PDF-"));
    QVERIFY(bytes.size() > 2000);
    const QString html = Certificate::html(span);
    for (const QString &part : {QStringLiteral("Протокол калибровки"), QStringLiteral("TL02ID0004711"),
                                QStringLiteral("Калибровку выполнил"), QStringLiteral("Проверил"),
                                QStringLiteral("50.0 PPM"), QString::number(span20)})
        QVERIFY2(html.contains(part), qPrintable(part));

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed: the PDF's text is not checked");
    QProcess p;
    p.start(pdftotext, {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(p.waitForFinished(60000));
    const QString text = QString::fromUtf8(p.readAllStandardOutput());
    for (const QString &part : {QStringLiteral("Протокол калибровки"), QStringLiteral("TL02ID0004711"),
                                QStringLiteral("Калибровка диапазона"), QStringLiteral("Калибровку выполнил"),
                                QString::number(span20)})
        QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" not in:\n") + text));
}

void JournalGuiTest::fileLoadAndFactoryStoreRecorded()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    ModalCloser closer;

    // A file with threshold 1 at 30.0 instead of the device's value.
    ParamBlock file = command.DeviceParams;
    const int limitBefore = sim.holding(0x1005);
    file.Limit1 = quint16(300 | (file.Limit1 & 0x8000));
    const QString path = dir.filePath(QStringLiteral("limit.txt"));
    QCOMPARE(saveHexFile(path, reinterpret_cast<const quint8 *>(&file), HexFile::BlockBytes, HexFile::LineBytes),
             SaveResult::Ok);
    FileChoice::openHook = [&](QWidget *, const QString &, const QString &, const QString &) { return path; };
    RestoreSeen seen;
    closer.pushHandler(answerRestore(&seen, true));
    w->on_pushButtonLoadConfigDevice_clicked();
    QVERIFY(seen.shown);
    QCOMPARE(sim.holding(0x1005) & 0x7FFF, 300);

    sim.clearLog();
    w->on_pushButtonSaveFactorySettings_clicked();
    QVERIFY(sim.commands().contains(quint16(0x3003)));

    const QVector<Journal::Record> list = records();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0].kind, QStringLiteral("file_load"));
    QVERIFY(list[0].ok);
    QCOMPARE(list[0].value, path);
    QVERIFY2(list[0].before.startsWith(QStringLiteral("limit1=%1").arg((limitBefore & 0x7FFF) / 10.0, 0, 'f', 1)),
             qPrintable(list[0].before));
    QVERIFY2(list[0].after.startsWith(QLatin1String("limit1=30.0")), qPrintable(list[0].after));
    QCOMPARE(list[1].kind, QStringLiteral("factory_store"));
    QVERIFY(list[1].ok);
    QVERIFY2(list[1].after.contains(QLatin1String("adc_4ma=8000")), qPrintable(list[1].after));
}

void JournalGuiTest::failedCalibrationRecordedAsFailed()
{
    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    ModalCloser closer;
    bool ok = false;
    sim.send(QStringLiteral("fault noreply 100"), &ok);
    QVERIFY(ok);
    calibrateGas(sim, 0, 9000);
    QVERIFY(!closer.seen.isEmpty());
    QCOMPARE(closer.seen.first().text, QStringLiteral("Ошибка обмена данными"));
    sim.send(QStringLiteral("fault clear"), &ok);
    QCOMPARE(sim.holding(0x1000), 8000);

    const QVector<Journal::Record> list = records();
    QCOMPARE(list.size(), 1);
    QCOMPARE(list[0].kind, QStringLiteral("gas_zero"));
    QVERIFY(!list[0].ok);
    QCOMPARE(list[0].reason, QStringLiteral("Ошибка обмена данными"));
    QCOMPARE(list[0].after, list[0].before);
}

void JournalGuiTest::certificateNamesRecordForServerCheck()
{
    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (pdftotext.isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed: the PDF's text is not checked");
    Journal::Record r;
    r.id = 17;
    r.time = QDateTime::currentDateTime();
    r.kind = QStringLiteral("gas_zero");
    r.serialText = QStringLiteral("TL02ID0004711");
    r.ok = true;
    r.uuid = QStringLiteral("3f2504e0-4f89-41d3-9a0c-0305e82c3301");
    auto text = [&](const QString &name) {
        const QString pdf = dir.filePath(name);
        QString why;
        if (!Certificate::writePdf(r, pdf, &why))
            return why;
        QProcess p;
        p.start(pdftotext, {pdf, QStringLiteral("-")});
        p.waitForFinished(60000);
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    // Not on a server yet: the UUID, and no hash but words saying why.
    QString out = text(QStringLiteral("waiting.pdf"));
    QVERIFY2(out.contains(r.uuid) && out.contains(QStringLiteral("хеш будет присвоен сервером")), qPrintable(out));
    // Chained by the server: its hash, whole.
    r.hash = QStringLiteral("9c56cc51b374c3ba189210d5b6d4bf57790d351c96c47c02190ecf1e430635ab");
    out = text(QStringLiteral("chained.pdf"));
    // In groups of eight digits, as one reads it out.
    QVERIFY2(out.contains(r.uuid) && !out.contains(QStringLiteral("присвоен"))
                 && out.simplified().contains(QStringLiteral("9c56cc51 b374c3ba 189210d5 b6d4bf57 790d351c 96c47c02 "
                                                             "190ecf1e 430635ab")),
             qPrintable(out));
}

void JournalGuiTest::brokenJournalReportedDeviceWorkDone_data()
{
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QString>("says");
    QTest::newRow("locked") << true << QStringLiteral("занят другой программой");
    QTest::newRow("damaged") << false << QStringLiteral("поврежден или не является базой журнала");
}

void JournalGuiTest::brokenJournalReportedDeviceWorkDone()
{
    QFETCH(bool, locked);
    QFETCH(QString, says);
    const QString path = Journal::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QString holder = QStringLiteral("holder");
    if (locked) {
        Journal::Record first = Journal::fromDevice(command, Journal::Kind::GasZero, QStringLiteral("test"));
        QVERIFY(Journal::append(first).ok());
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), holder);
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        Journal::Database::busyTimeoutMs = 300;
    } else {
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(8192, 'j'));
    }

    SimProcess sim;
    MainWindow *w = WindowSim::openWindow(window, sim);
    QVERIFY(w);
    ModalCloser closer;
    calibrateGas(sim, 0, 8222);
    // The device has its code; the journal's failure was said, once.
    QCOMPARE(sim.holding(0x1000), 8222);
    QCOMPARE(command.DeviceParams.ADCCode4m, quint16(8222));
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Журнал калибровок"));
    // The record itself waits beside the journal, and the box says where.
    for (const QString &part : {says, path, QStringLiteral("Работа с прибором этим не затронута"),
                                QStringLiteral("Запись сохранена в файле %1").arg(Journal::sidePath(path))})
        QVERIFY2(closer.seen[0].text.contains(part), qPrintable(part + QStringLiteral(" not in ") + closer.seen[0].text));
    QCOMPARE(child<QPushButton>(currentCalibration, "Buttoncalibrate")->text(), QStringLiteral("Калибровать ноль"));

    // A damaged journal: the window says the same instead of a table.  One
    // that another program writes (the journal logs ahead) is still read.
    w->findChild<QAction *>(QStringLiteral("action_journal"))->trigger();
    auto *journal = w->findChild<JournalWindow *>();
    QVERIFY(journal);
    QVERIFY2(journal->problem().contains(locked ? QString() : says), qPrintable(journal->problem()));
    QCOMPARE(child<QTableView>(journal, "tableView")->model()->rowCount(), locked ? 1 : 0);
    journal->close();

    if (locked) {
        {
            QSqlDatabase other = QSqlDatabase::database(holder, false);
            QVERIFY(QSqlQuery(other).exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(holder);
        // With the lock gone the next step is recorded again.
        closer.clear();
        calibrateGas(sim, 0, 8333);
        QVERIFY(closer.seen.isEmpty());
        // The step made while it was locked was taken in from the side file.
        // (each after its started record)
        const QVector<Journal::Record> list = records();
        QCOMPARE(list.size(), 5);
        QVERIFY(list[1].started && list[3].started);
        QVERIFY(list[2].after.startsWith(QLatin1String("adc_4ma=8222")));
        QVERIFY(list[4].after.startsWith(QLatin1String("adc_4ma=8333")));
        QVERIFY(!QFile::exists(Journal::sidePath(path)));
    }
}

QTEST_MAIN(JournalGuiTest)
#include "tst_journal.moc"

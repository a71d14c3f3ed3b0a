// The traffic monitor opened from the main window's menu, on the simulated
// detector: what it shows after a read cycle, pause, filters, the line's
// statistics, saving, the table keeping to its newest rows, the columns at
// the window's size, and that closing it gives the link's hook back.
//
// With TL_MONITOR_SHOTS set to a folder, the window is saved there as
// monitor-ru.png and monitor-en.png for a look at it.
#include "shelltest.h"

#include "programlink.h"
#include "mainwindow.h"
#include "trafficmonitor.h"
#include "windowsim.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QFile>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

using namespace ShellTest;

namespace {

void click(const QWidget &w, const char *button)
{
    QTest::mouseClick(child<QAbstractButton>(w, button), Qt::LeftButton);
}

QTableView *view(TrafficMonitor *m)
{
    return child<QTableView>(m, "tableView");
}

TrafficMonitor *openMonitor(MainWindow &w)
{
    child<QAction>(w, "action_monitor")->trigger();
    return w.findChild<TrafficMonitor *>();
}

// Column `col` of every row the monitor's table shows.
QStringList column(TrafficMonitor &m, int col)
{
    QStringList out;
    for (const QStringList &row : m.model().shownRows())
        out << row.value(col);
    return out;
}

// The file's text; a CSV file starts with the UTF-8 byte order mark, which
// is checked and taken off.
QString readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = f.readAll();
    if (path.endsWith(QLatin1String(".csv"))) {
        if (!bytes.startsWith("\xEF\xBB\xBF"))
            return QStringLiteral("no byte order mark");
        bytes.remove(0, 3);
    }
    return QString::fromUtf8(bytes);
}

// A request and its reply as the link hands them to the recorder, and the
// attempt's result.
void exchange(TrafficRecorder &rec, const QByteArray &request, const QByteArray &reply, quint16 result)
{
    rec.onBytes(true, TestFrames::withCrc(request));
    if (!reply.isEmpty())
        rec.onBytes(false, TestFrames::withCrc(reply));
    rec.onAttemptEnded(result);
}

// `n` exchanges of a read of input register 0 at address 1.
void readCycles(TrafficRecorder &rec, int n)
{
    for (int i = 0; i < n; ++i)
        exchange(rec, QByteArray::fromHex("010400000001"), QByteArray::fromHex("01040200") + char(i), ResultOk);
    QCoreApplication::processEvents();
}

void saveShot(QWidget &w, const char *name)
{
    const QString dir = qEnvironmentVariable("TL_MONITOR_SHOTS");
    if (!dir.isEmpty())
        w.grab().save(QDir(dir).filePath(QLatin1String(name)));
}

// The seq of the row at the top of the table's view.
quint64 topSeq(TrafficMonitor &m)
{
    auto *view = child<QTableView>(m, "tableView");
    const TrafficEntry *e = m.model().entryAt(view->rowAt(0));
    return e ? e->seq : 0;
}

bool atEnd(TrafficMonitor &m)
{
    const QScrollBar *bar = child<QTableView>(m, "tableView")->verticalScrollBar();
    return bar->maximum() > 0 && bar->value() == bar->maximum();
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(tmp); }
    void init() { resetLink(); }
    void cleanup()
    {
        TrafficMonitor::saveChooser = nullptr;
        resetLink();
    }

    void menuOpensMonitorThatShowsTheReadCycle();
    void pauseFilterAndSave();
    void failuresAndLineStatistics();
    void tableKeepsToTheNewestRows();
    void columnsAndContentsAtTheWindowsSize();
    void englishTexts();

private:
    QTemporaryDir tmp;
};

void TestMonitor::menuOpensMonitorThatShowsTheReadCycle()
{
    SimProcess sim;
    QVERIFY(sim.start());
    MainWindow w;
    QVERIFY(WindowSim::showDetector(w, sim));

    // In "Меню" after its original entries, with its shortcut.
    auto *menu = child<QMenu>(w, "menu");
    auto *action = child<QAction>(w, "action_monitor");
    QVERIFY(menu->actions().indexOf(action) > menu->actions().indexOf(child<QAction>(w, "action_reference")));
    QCOMPARE(action->text(), QStringLiteral("Монитор обмена"));
    QCOMPARE(action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+M")));

    QVERIFY(!command.trafficObserved());
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    QVERIFY(m->isVisible() && m->isWindow() && !m->isModal());
    QCOMPARE(m->windowTitle(), QStringLiteral("Монитор обмена"));
    QVERIFY(command.trafficObserved());
    // Opened again, it is the same window.
    QCOMPARE(openMonitor(w), m);
    QCOMPARE(w.findChildren<TrafficMonitor *>().size(), 1);

    sim.clearLog();
    click(w, "pushButton_Read_Param");
    const QList<QByteArray> rx = sim.rxFrames();
    QCOMPARE(functions(rx), (QList<int>{43, 43, 3, 4}));
    // Every request and reply, in order; the requests are the very frames the
    // device received (the monitor sent nothing of its own).
    QCOMPARE(column(*m, TrafficModel::ColDirection),
             (QStringList{"запрос", "ответ", "запрос", "ответ", "запрос", "ответ", "запрос", "ответ"}));
    QStringList requestHex;
    for (const QByteArray &f : rx)
        requestHex << QString::fromLatin1(f.toHex(' ').toUpper());
    QStringList shownRequests;
    for (const QStringList &row : m->model().shownRows())
        if (row[TrafficModel::ColDirection] == QStringLiteral("запрос"))
            shownRequests << row[TrafficModel::ColBytes];
    QCOMPARE(shownRequests, requestHex);
    QCOMPARE(column(*m, TrafficModel::ColFunction).at(4), QStringLiteral("3 чтение регистров хранения"));
    QCOMPARE(column(*m, TrafficModel::ColAddress), QStringList(QVector<QString>(8, QStringLiteral("1")).toList()));
    QCOMPARE(column(*m, TrafficModel::ColResult), QStringList(QVector<QString>(8, QStringLiteral("ок")).toList()));
    const QString holding = column(*m, TrafficModel::ColContent).at(5);
    // The parameters by the pages' names, in the window's language.
    QVERIFY2(holding.contains(QStringLiteral("Порог 1 = 20.0 PPM; Порог 1, направление = возрастание")),
             qPrintable(holding));
    QVERIFY2(holding.contains(QStringLiteral("Задержка сраб. порогов = 2 с")), qPrintable(holding));
    const QString live = column(*m, TrafficModel::ColContent).at(7);
    QVERIFY2(live.contains(QStringLiteral("Выходной ток = ")) && live.contains(QStringLiteral(" мА;")),
             qPrintable(live));
    QCOMPARE(column(*m, TrafficModel::ColContent).at(4), QStringLiteral("регистры 0x1000–0x102F (48)"));
    QVERIFY(m->model().rowTexts(0).at(TrafficModel::ColTime).contains(QRegularExpression(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"))));

    // A silent attempt and a command by meaning.
    m->recorder().clear();
    QCOMPARE(m->model().rowCount(), 0);
    sim.clearLog();
    SIM("fault noreply 1");
    click(w, "pushButtonResetDevice");
    // The device carried out the unanswered request as well as the repeat.
    QCOMPARE(sim.commands(), (QList<quint16>{0x6060, 0x6060}));
    QCOMPARE(column(*m, TrafficModel::ColResult), (QStringList{"нет ответа", "ок", "ок"}));
    QCOMPARE(column(*m, TrafficModel::ColContent).at(0), QStringLiteral("команда 0x6060: перезапуск"));

    // Closed, the monitor gives the hook back and goes; the link goes on.
    QPointer<TrafficMonitor> gone(m);
    m->close();
    QVERIFY(!command.trafficObserved());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(gone.isNull());
    sim.clearLog();
    click(w, "pushButton_Read_Param");
    QCOMPARE(sim.rxFrames().size(), 4);

    // A new one starts empty and records again.
    TrafficMonitor *again = openMonitor(w);
    QVERIFY(again && command.trafficObserved());
    QCOMPARE(again->model().rowCount(), 0);
    click(w, "pushButton_Read_Param");
    QCOMPARE(again->model().rowCount(), 8);
}

void TestMonitor::pauseFilterAndSave()
{
    SimProcess sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--address"), QStringLiteral("3")}));
    MainWindow w;
    command.PortName = sim.portPath();
    QVERIFY(command.openPort());
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    command.SlaveAddress = 3;
    QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
    command.SlaveAddress = 4;   // nobody there
    command.attemptLimit = 1;
    QCOMPARE(command.transact(3, 0, 0x1000, 2), quint16(ResultNoReply));
    QCOMPARE(m->model().rowCount(), 3);

    // Pause: the frames are recorded but not shown until the pause ends.
    click(*m, "pushButton_Pause");
    command.SlaveAddress = 3;
    QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
    QCOMPARE(m->model().rowCount(), 3);
    QCOMPARE(m->recorder().ring().size(), 5);
    click(*m, "pushButton_Pause");
    QCOMPARE(m->model().rowCount(), 5);

    // Filters.
    auto *address = child<QSpinBox>(m, "spinBox_Address");
    auto *function = child<QComboBox>(m, "comboBox_Function");
    address->setValue(4);
    QCOMPARE(column(*m, TrafficModel::ColResult), QStringList{"нет ответа"});
    address->setValue(3);
    QCOMPARE(m->model().rowCount(), 4);
    function->setCurrentIndex(function->findData(3));
    QCOMPARE(m->model().rowCount(), 0);
    address->setValue(-1);
    QCOMPARE(column(*m, TrafficModel::ColFunction), QStringList{"3 чтение регистров хранения"});
    function->setCurrentIndex(0);
    QCOMPARE(m->model().rowCount(), 5);

    // Saving writes what the table shows.
    QString chosen;
    QString askedFilter;
    TrafficMonitor::saveChooser = [&](QWidget *, const QString &, const QString &filter) {
        askedFilter = filter;
        return chosen;
    };
    chosen = tmp.filePath(QStringLiteral("traffic.csv"));
    click(*m, "pushButton_SaveCsv");
    QCOMPARE(askedFilter, QStringLiteral("Файлы CSV (*.csv)"));
    const QString csv = readFile(chosen);
    QVERIFY2(csv.startsWith(QStringLiteral("Время,Направление,Адрес,Функция,Результат,Содержимое,Байты\r\n")),
             qPrintable(csv.left(80)));
    QCOMPARE(csv.count(QStringLiteral("\r\n")), 6);
    const QString unanswered = QString::fromLatin1(
        TestFrames::withCrc(QByteArray::fromHex("040310000002")).toHex(' ').toUpper());
    QVERIFY2(csv.contains(QStringLiteral(",4,3 чтение регистров хранения,нет ответа,регистры 0x1000–0x1001 (2),")
                          + unanswered + QStringLiteral("\r\n")), qPrintable(csv));
    // The times carry the date.
    const QRegularExpression dated(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}"));
    const QStringList csvLines = csv.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (int i = 1; i < csvLines.size(); ++i)
        QVERIFY2(csvLines[i].contains(dated), qPrintable(csvLines[i]));
    // A name typed without a suffix gets the kind's; one with a suffix keeps it.
    chosen = tmp.filePath(QStringLiteral("bare"));
    click(*m, "pushButton_SaveCsv");
    QVERIFY(!QFile::exists(chosen));
    QCOMPARE(readFile(chosen + QStringLiteral(".csv")), csv);
    chosen = tmp.filePath(QStringLiteral("bare"));
    click(*m, "pushButton_SaveText");
    QVERIFY(readFile(chosen + QStringLiteral(".txt")).startsWith(QStringLiteral("Время")));
    chosen = tmp.filePath(QStringLiteral("traffic.log"));
    click(*m, "pushButton_SaveText");
    QVERIFY(QFile::exists(chosen));
    chosen = tmp.filePath(QStringLiteral("traffic.txt"));
    address->setValue(4);
    click(*m, "pushButton_SaveText");
    const QStringList lines = readFile(chosen).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].endsWith(QStringLiteral("нет ответа  регистры 0x1000–0x1001 (2)  ") + unanswered),
             qPrintable(lines[1]));
    QVERIFY2(lines[1].contains(dated), qPrintable(lines[1]));
    for (const QString &line : lines)
        QVERIFY2(!line.endsWith(QLatin1Char(' ')), qPrintable(line));

    // Cancelled: nothing written; a file that cannot be written is reported.
    chosen.clear();
    click(*m, "pushButton_SaveText");
    chosen = tmp.filePath(QStringLiteral("no/such/dir/traffic.txt"));
    ModalCloser closer;
    click(*m, "pushButton_SaveText");
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Ошибка"));
    QVERIFY2(closer.seen[0].text.startsWith(QStringLiteral("Ошибка записи файла ")), qPrintable(closer.seen[0].text));
    QVERIFY(!QFile::exists(chosen));

    // Clear empties the record and the table.
    click(*m, "pushButton_Clear");
    QCOMPARE(m->recorder().ring().size(), 0);
    QCOMPARE(m->model().rowCount(), 0);
}

void TestMonitor::failuresAndLineStatistics()
{
    SimProcess sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--address"), QStringLiteral("3")}));
    MainWindow w;
    command.PortName = sim.portPath();
    QVERIFY(command.openPort());
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    command.attemptLimit = 1;
    command.SlaveAddress = 3;
    QCOMPARE(command.transact(4, 0, 0, 10), quint16(ResultOk));
    command.SlaveAddress = 4;   // nobody there
    QCOMPARE(command.transact(3, 0, 0x1000, 2), quint16(ResultNoReply));
    command.SlaveAddress = 3;
    QCOMPARE(command.transact(3, 0, 0x1000, 2), quint16(ResultOk));

    // "только ошибки": the frames of the attempts that failed, with the other
    // filters; a failure coming in while it is on is shown.
    auto *failures = child<QCheckBox>(m, "checkBox_Failures");
    QCOMPARE(failures->text(), QStringLiteral("только ошибки"));
    failures->setChecked(true);
    QCOMPARE(column(*m, TrafficModel::ColResult), QStringList{"нет ответа"});
    command.SlaveAddress = 5;
    QCOMPARE(command.transact(4, 0, 0, 1), quint16(ResultNoReply));
    QCOMPARE(column(*m, TrafficModel::ColAddress), (QStringList{"4", "5"}));
    child<QSpinBox>(m, "spinBox_Address")->setValue(5);
    QCOMPARE(column(*m, TrafficModel::ColAddress), QStringList{"5"});
    child<QSpinBox>(m, "spinBox_Address")->setValue(-1);
    // An exception reply is a failure, and named as one whatever the
    // function (here identification, function 43).
    exchange(m->recorder(), QByteArray::fromHex("032B0E0100"), QByteArray::fromHex("03AB01"), ResultUnsupported);
    QCOMPARE(column(*m, TrafficModel::ColResult),
             (QStringList{"нет ответа", "нет ответа", "исключение 1: недопустимая функция",
                          "исключение 1: недопустимая функция"}));
    failures->setChecked(false);
    QCOMPARE(m->model().rowCount(), 8);

    // The line's statistics by address.
    const TrafficStatsModel &stats = m->statsModel();
    QCOMPARE(stats.headers().mid(0, 4), (QStringList{"Адрес", "Запросов", "Ответов", "Нет ответа"}));
    QCOMPARE(stats.rowCount(), 3);
    QCOMPARE(stats.rowTexts(0).mid(0, 6), (QStringList{"3", "3", "3", "0", "0", "1"}));
    QCOMPARE(stats.rowTexts(1).mid(0, 6), (QStringList{"4", "1", "0", "1", "0", "0"}));
    QCOMPARE(stats.rowTexts(2).mid(0, 6), (QStringList{"5", "1", "0", "1", "0", "0"}));
    QVERIFY2(stats.rowTexts(0).at(TrafficStatsModel::ColTimes)
                 .contains(QRegularExpression(QStringLiteral("^\\d+ / \\d+ / \\d+$"))),
             qPrintable(stats.rowTexts(0).join('|')));
    QCOMPARE(stats.rowTexts(1).at(TrafficStatsModel::ColTimes), QStringLiteral("–"));
    QCOMPARE(child<QTableView>(m, "tableView_Stats")->model(), &stats);

    // Cleared with the table.
    click(*m, "pushButton_Clear");
    QCOMPARE(stats.rowCount(), 0);
    QCOMPARE(m->model().rowCount(), 0);
}

void TestMonitor::tableKeepsToTheNewestRows()
{
    MainWindow w;
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    QVERIFY(QTest::qWaitForWindowExposed(m));
    auto *view = child<QTableView>(m, "tableView");
    QScrollBar *bar = view->verticalScrollBar();
    TrafficRecorder &rec = m->recorder();
    readCycles(rec, 100);
    QVERIFY(atEnd(*m));

    // After a filter change (the table is made again) it goes on at the end.
    auto *function = child<QComboBox>(m, "comboBox_Function");
    function->setCurrentIndex(function->findData(4));
    QCoreApplication::processEvents();
    readCycles(rec, 5);
    QVERIFY(atEnd(*m));
    QCOMPARE(m->model().rowCount(), 210);

    // Minimized and restored, it still keeps to the end.
    m->showMinimized();
    QCoreApplication::processEvents();
    readCycles(rec, 20);
    m->showNormal();
    QCoreApplication::processEvents();
    readCycles(rec, 1);
    QVERIFY(atEnd(*m));
    QVERIFY(view->rowAt(view->viewport()->height() - 1) < 0
            || view->rowAt(view->viewport()->height() - 1) == m->model().rowCount() - 1);

    // Scrolled up by the user, it stays where the user is: new rows, a
    // filter change and a restore move nothing.
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    QVERIFY(!m->followsEnd());
    const quint64 top = topSeq(*m);
    QVERIFY(top > 0);
    readCycles(rec, 30);
    QCOMPARE(topSeq(*m), top);
    m->showMinimized();
    QCoreApplication::processEvents();
    m->showNormal();
    QCoreApplication::processEvents();
    readCycles(rec, 1);
    QCOMPARE(topSeq(*m), top);
    QVERIFY(!atEnd(*m));

    // Back at the end, it follows again.
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(m->followsEnd());
    readCycles(rec, 30);
    QVERIFY(atEnd(*m));
}

void TestMonitor::columnsAndContentsAtTheWindowsSize()
{
    MainWindow w;
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    QVERIFY(QTest::qWaitForWindowExposed(m));
    command.Origin = Command::BlockOrigin();
    TrafficRecorder &rec = m->recorder();
    // Device 2, never read in full: its threshold comes unscaled.
    exchange(rec, QByteArray::fromHex("020310050001"), QByteArray::fromHex("0203020096"), ResultOk);
    exchange(rec, QByteArray::fromHex("020310000030"), QByteArray(), ResultNoReply);
    exchange(rec, QByteArray::fromHex("020400000001"), QByteArray::fromHex("028402"), ResultIllegalAddress);
    QCOMPARE(m->model().rowTexts(1).at(TrafficModel::ColContent),
             QStringLiteral("Порог 1 = 150 (масштаб неизвестен); Порог 1, направление = возрастание"));
    // Not put on the line.
    Modbus::buildRequest(command.request, 2, 4, 0, 0, 10, {&command.DeviceParams, &command.ScratchWord});
    rec.onAttemptEnded(ResultWriteTimeout);
    readCycles(rec, 1);

    // At the window's size every column starts in sight, the bytes with
    // room for a request, and the direction texts are whole.
    // (The window is fitted to the screen it opens on; the offscreen
    // screen is smaller than the 1280 pixels the default size is for.)
    m->resize(1272, 560);
    QCoreApplication::processEvents();
    saveShot(*m, "monitor-ru.png");
    QHeaderView *h = view(m)->horizontalHeader();
    const int viewport = view(m)->viewport()->width();
    const QFontMetrics fm = view(m)->fontMetrics();
    const int bytesStart = h->sectionViewportPosition(TrafficModel::ColBytes);
    QVERIFY2(bytesStart + fm.horizontalAdvance(QStringLiteral("01 03 10 00 00 30 40 DE")) < viewport,
             qPrintable(QStringLiteral("%1 of %2").arg(bytesStart).arg(viewport)));
    QCOMPARE(view(m)->horizontalScrollBar()->maximum(), 0);
    for (const QString &d : TrafficModel::directionTexts())
        QVERIFY2(fm.horizontalAdvance(d) < h->sectionSize(TrafficModel::ColDirection), qPrintable(d));
    QVERIFY(column(*m, TrafficModel::ColDirection).contains(QStringLiteral("запрос (не отправлен)")));
    // The statistics strip has room for its headers.
    auto *stats = child<QTableView>(m, "tableView_Stats");
    for (int c = 0; c + 1 < TrafficStatsModel::ColumnCount; ++c)
        QVERIFY(QFontMetrics(stats->font()).horizontalAdvance(m->statsModel().headers()[c])
                < stats->horizontalHeader()->sectionSize(c));
}

void TestMonitor::englishTexts()
{
    SimProcess sim;
    QVERIFY(sim.start());
    MainWindow w;
    QTest::mouseClick(child<QRadioButton>(w, "radioButtonLanguageEn"), Qt::LeftButton);
    QVERIFY(WindowSim::showDetector(w, sim));
    QCOMPARE(child<QAction>(w, "action_monitor")->text(), QStringLiteral("Traffic monitor"));
    TrafficMonitor *m = openMonitor(w);
    QVERIFY(m);
    QCOMPARE(m->windowTitle(), QStringLiteral("Traffic monitor"));
    QCOMPARE(m->model().headers(), (QStringList{"Time", "Direction", "Address", "Function", "Result", "Contents",
                                                "Bytes"}));
    QCOMPARE(child<QPushButton>(m, "pushButton_Pause")->text(), QStringLiteral("Pause"));
    click(w, "pushButton_Read_Param");
    QCOMPARE(m->model().rowTexts(4).mid(1, 3),
             (QStringList{"request", "1", "3 read holding registers"}));
    QCOMPARE(m->model().rowTexts(4).at(TrafficModel::ColContent), QStringLiteral("registers 0x1000–0x102F (48)"));
    QCOMPARE(m->model().rowTexts(5).at(TrafficModel::ColResult), QStringLiteral("ok"));
    // The parameters by the English pages' names, with English units.
    const QString holding = m->model().rowTexts(5).at(TrafficModel::ColContent);
    QVERIFY2(holding.contains(QStringLiteral("Threshold 1 = 20.0 PPM; Threshold 1, direction = increasing")),
             qPrintable(holding));
    QVERIFY2(holding.contains(QStringLiteral("Threshold trip delay = 2 s")), qPrintable(holding));
    QCOMPARE(child<QCheckBox>(m, "checkBox_Failures")->text(), QStringLiteral("failures only"));
    QCOMPARE(m->statsModel().headers().at(TrafficStatsModel::ColRequests), QStringLiteral("Requests"));
    QCOMPARE(m->model().rowTexts(4).at(TrafficModel::ColTime).size(), 12);
    saveShot(*m, "monitor-en.png");

    // Switched back while open, the window speaks Russian again.
    QTest::mouseClick(child<QRadioButton>(w, "radioButtonLanguageRus"), Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(m->windowTitle(), QStringLiteral("Монитор обмена"));
    QCOMPARE(child<QComboBox>(m, "comboBox_Function")->itemText(0), QStringLiteral("все"));
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"

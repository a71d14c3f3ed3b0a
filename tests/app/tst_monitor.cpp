// The traffic monitor opened from the main window's menu, on the simulated
// detector: what it shows after a read cycle, pause, filter, saving, and
// that closing it gives the link's hook back.
#include "shelltest.h"

#include "programlink.h"
#include "mainwindow.h"
#include "trafficmonitor.h"
#include "windowsim.h"

#include <QAction>
#include <QComboBox>
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
    QVERIFY2(holding.contains(QStringLiteral("limit1 = 20.0 PPM; limit1_direction = increasing")), qPrintable(holding));
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
    chosen = tmp.filePath(QStringLiteral("traffic.txt"));
    address->setValue(4);
    click(*m, "pushButton_SaveText");
    const QStringList lines = readFile(chosen).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].endsWith(QStringLiteral("нет ответа  регистры 0x1000–0x1001 (2)  ") + unanswered),
             qPrintable(lines[1]));

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

    // Switched back while open, the window speaks Russian again.
    QTest::mouseClick(child<QRadioButton>(w, "radioButtonLanguageRus"), Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(m->windowTitle(), QStringLiteral("Монитор обмена"));
    QCOMPARE(child<QComboBox>(m, "comboBox_Function")->itemText(0), QStringLiteral("все"));
}

QTEST_MAIN(TestMonitor)
#include "tst_monitor.moc"

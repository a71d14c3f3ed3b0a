// "Объект" against two simulated lines: a survey fills the table, overdue
// detectors are marked in words and counted for the status bar, the filters
// and the tag work, a change to the selected detectors reaches exactly
// those, and the backup and the report are written.
#include "filechoice_gui.h"
#include "mainwindow.h"
#include "shelltest.h"
#include "journal.h"
#include "modalcloser.h"
#include "siteapplydialog.h"
#include "siteregister.h"
#include "sitewindow.h"
#include "simprocess.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>

namespace {

class FakeHost : public SiteHost
{
public:
    bool releaseLines(const QStringList &ports) override { released = ports; return true; }
    void linesReturned() override { ++returned; }
    QString accessLevel() const override { return QStringLiteral("Admin"); }
    QString currentPort() const override { return QString(); }
    void siteShown(const QString &s, int n) override { site = s, overdue = n; }
    QStringList released;
    int returned = 0;
    QString site;
    int overdue = -1;
};

} // namespace

class SiteWindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        ShellTest::prepare(dir);
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
    }
    void siteWorkFromTheWindow();
    void programLendsItsLineAndCountsOverdue();

private:
    QTemporaryDir dir;
    QTemporaryDir home;
};

void SiteWindowTest::siteWorkFromTheWindow()
{
    SimProcess a, b;
    QVERIFY(a.start({QStringLiteral("--devices"), QStringLiteral("1-3")}));
    QVERIFY(b.start({QStringLiteral("--devices"), QStringLiteral("4,5")}));
    {
        Journal::Database db;
        QVERIFY(db.open().ok());
        Site::Register reg(db);
        QVERIFY(reg.createSite(QStringLiteral("Цех 1")).ok());
    }
    FakeHost host;
    ModalCloser closer;
    SiteWindow w(&host);
    QSignalSpy ended(&w, &SiteWindow::actionEnded);
    QVERIFY(w.showSite(QStringLiteral("Цех 1")));
    w.findChild<QLineEdit *>(QStringLiteral("lineEditLines"))->setText(a.portPath() + QStringLiteral("; ") + b.portPath());
    w.setScanRange(1, 6);
    w.findChild<QPushButton *>(QStringLiteral("pushButtonSurvey"))->click();
    QVERIFY(w.busy());
    QVERIFY(ended.wait(60000));
    QCOMPARE(host.released, (QStringList{a.portPath(), b.portPath()}));
    QCOMPARE(host.returned, 1);
    QVERIFY2(w.resultText().contains(QStringLiteral("Новый: TL02ID0100005")), qPrintable(w.resultText()));
    QCOMPARE(w.shownSerials().size(), 5);
    for (SimProcess *sim : {&a, &b})
        for (const QByteArray &f : sim->allRequests())
            QVERIFY(f[1] == 3 || f[1] == 4 || f[1] == 43);

    // 100001 calibrated 200 days ago: overdue, in words, counted; the due
    // filter and the search narrow the table.
    Journal::Record cal;
    cal.time = QDateTime::currentDateTime().addDays(-200);
    cal.serial = 100001;
    cal.kind = Journal::kindKey(Journal::Kind::GasSpan);
    cal.ok = true;
    QVERIFY(Journal::append(cal).ok());
    w.refresh();
    QCOMPARE(host.site, QStringLiteral("Цех 1"));
    QCOMPARE(host.overdue, 1);
    auto *table = w.findChild<QTableView *>(QStringLiteral("tableView"));
    w.findChild<QComboBox *>(QStringLiteral("comboBoxDue"))->setCurrentIndex(2);
    QCOMPARE(w.shownSerials(), QVector<qint64>{100001});
    QVERIFY(table->model()->index(0, 13).data().toString().contains(QStringLiteral("просрочена на 20")));
    w.findChild<QComboBox *>(QStringLiteral("comboBoxDue"))->setCurrentIndex(0);
    w.findChild<QLineEdit *>(QStringLiteral("lineEditFilter"))->setText(QStringLiteral("0100004"));
    QCOMPARE(w.shownSerials(), QVector<qint64>{100004});
    table->model()->setData(table->model()->index(0, 0), QStringLiteral("Котельная, у входа"));
    w.findChild<QLineEdit *>(QStringLiteral("lineEditFilter"))->clear();

    // The change to the two selected detectors, one on each line.
    const int before = a.holding(0x1005, 1);
    a.clearLog();
    b.clearLog();
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        const qint64 serial = table->model()->index(row, 0).data(Qt::UserRole).toLongLong();
        if (serial == 100002 || serial == 100005)
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString notes;
    closer.pushHandler([&](QWidget *modal) {
        auto *dialog = qobject_cast<SiteApplyDialog *>(modal);
        if (!dialog)
            return false;
        dialog->setTypedValue(QStringLiteral("limit1"), QStringLiteral("33"));
        notes = dialog->findChild<QLabel *>(QStringLiteral("labelNotes"))->text();
        closer.answerNext(QMessageBox::Yes);
        // Out of the closer's own timer, so that it answers the question.
        QTimer::singleShot(0, dialog->findChild<QPushButton *>(QStringLiteral("pushButtonWrite")), &QPushButton::click);
        return true;
    });
    w.findChild<QPushButton *>(QStringLiteral("pushButtonApply"))->click();
    QVERIFY(ended.wait(60000));
    QVERIFY2(notes.contains(QStringLiteral("2 из 2")), qPrintable(notes));
    QVERIFY2(w.resultText().contains(QStringLiteral("выполнено 2, ошибок 0")), qPrintable(w.resultText()));
    QVERIFY(a.holding(0x1005, 2) != before);
    QCOMPARE(b.holding(0x1005, 5), a.holding(0x1005, 2));
    QCOMPARE(a.holding(0x1005, 1), before);
    QCOMPARE(b.holding(0x1005, 4), before);
    QList<int> written;
    for (SimProcess *sim : {&a, &b})
        for (const QByteArray &f : sim->allRequests())
            if (f[1] == 16 || f[1] == 6)
                written << quint8(f[0]);
    QCOMPARE(written, (QList<int>{2, 5}));
    {
        // The register holds what was read back, for the next preview.
        Journal::Database db;
        QVERIFY(db.open().ok());
        Site::Register reg(db);
        Site::Info info;
        Site::Detector d;
        QVERIFY(reg.findSite(QStringLiteral("Цех 1"), &info).ok());
        QVERIFY(reg.findDetector(info.id, QStringLiteral("100005"), &d).ok());
        QCOMPARE(d.limit1, QStringLiteral("33.0"));
    }

    // Backup of all, then the report as CSV with the tag and the overdue words.
    QTemporaryDir out;
    FileChoice::directoryHook = [&out](QWidget *, const QString &, const QString &, const QString &) {
        return out.path();
    };
    FileChoice::saveHook = [&out](QWidget *, const QString &, const QString &, const QString &) {
        return out.filePath(QStringLiteral("site.csv"));
    };
    table->clearSelection();
    w.findChild<QPushButton *>(QStringLiteral("pushButtonBackup"))->click();
    QVERIFY(ended.wait(60000));
    QCOMPARE(QDir(out.path()).entryList({QStringLiteral("*.hex")}).size(), 5);
    w.findChild<QPushButton *>(QStringLiteral("pushButtonReport"))->click();
    QFile csv(out.filePath(QStringLiteral("site.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(csv.readAll());
    QCOMPARE(text.count(QStringLiteral("TL02ID01000")), 5);
    QVERIFY(text.contains(QStringLiteral("Котельная, у входа")));
    QVERIFY(text.contains(QStringLiteral("просрочена на 20")));
    FileChoice::directoryHook = nullptr;
    FileChoice::saveHook = nullptr;
}

// From the program: its own line is handed to the survey and taken back,
// and the status bar names the overdue detectors of the site shown.
void SiteWindowTest::programLendsItsLineAndCountsOverdue()
{
    QTemporaryDir ownHome;   // a journal without the first case's records
    qputenv("XDG_DATA_HOME", ownHome.path().toUtf8());
    SimProcess sim;
    QVERIFY(ShellTest::openSim(sim, {QStringLiteral("--devices"), QStringLiteral("1,2")}));
    {
        Journal::Database db;
        QVERIFY(db.open().ok());
        Site::Register reg(db);
        QVERIFY(reg.createSite(QStringLiteral("Склад")).ok());
        Journal::Record cal;
        cal.time = QDateTime::currentDateTime().addDays(-300);
        cal.serial = 100002;
        cal.kind = Journal::kindKey(Journal::Kind::GasZero);
        cal.ok = true;
        QVERIFY(db.append(cal).ok());
    }
    MainWindow main;
    theMainWindow = &main;
    main.findChild<QAction *>(QStringLiteral("action_site"))->trigger();
    auto *site = main.findChild<SiteWindow *>();
    QVERIFY(site && site->isVisible());
    QVERIFY(site->showSite(QStringLiteral("Склад")));
    QCOMPARE(site->findChild<QLineEdit *>(QStringLiteral("lineEditLines"))->text(), command.PortName);
    site->setScanRange(1, 3);
    QSignalSpy ended(site, &SiteWindow::actionEnded);
    site->findChild<QPushButton *>(QStringLiteral("pushButtonSurvey"))->click();
    QVERIFY(!command.isOpen());
    QVERIFY(ended.wait(60000));
    QVERIFY(command.isOpen());
    QCOMPARE(site->shownSerials().size(), 2);
    QStringList labels;
    for (QLabel *l : main.statusBar()->findChildren<QLabel *>())
        labels << l->text();
    QVERIFY2(labels.contains(QStringLiteral("Объект «Склад»: просрочена калибровка приборов: 1")),
             qPrintable(labels.join(QLatin1Char('|'))));
    site->close();
    for (QLabel *l : main.statusBar()->findChildren<QLabel *>())
        QVERIFY(!l->text().startsWith(QStringLiteral("Объект")));
    theMainWindow = nullptr;
    ShellTest::resetLink();
}

QTEST_MAIN(SiteWindowTest)
#include "tst_site.moc"

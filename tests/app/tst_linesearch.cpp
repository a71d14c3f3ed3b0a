// The line search of the connection dialog against the simulated detector:
// what it finds, what it sends, Cancel, and picking an address from it.
#include "shelltest.h"

#include "programlink.h"
#include "connect_com_port.h"

#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

using namespace ShellTest;

namespace {

// Watches the search's progress window while the search runs (its event
// processing serves the timer) and presses its Cancel once the bar has
// reached `cancelAt`.
struct ProgressWatch {
    ProgressWatch(Connect_com_port &dialog, int cancelAt)
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, &dialog, cancelAt] {
            auto *p = dialog.findChild<QProgressDialog *>();
            if (!p || !p->isVisible() || cancelledAt >= 0)
                return;
            title = p->windowTitle();
            label = p->labelText();
            progressCentre = p->geometry().center();
            dialogCentre = dialog.geometry().center();
            controlsLocked = !child<QPushButton>(dialog, "Button_connect")->isEnabled();
            if (p->value() >= cancelAt) {
                cancelledAt = p->value();
                auto *cancel = p->findChild<QPushButton *>();
                cancelText = cancel ? cancel->text() : QString();
                if (cancel)
                    cancel->click();
            }
        });
        timer.start();
    }
    QTimer timer;
    int cancelledAt = -1;   // the bar's value when Cancel was pressed
    QString title;
    QString label;
    QString cancelText;
    bool controlsLocked = false;
    QPoint progressCentre;
    QPoint dialogCentre;
};

} // namespace

// The last address of "1–N" in a search's summary.
int lastAddress(const QString &summary)
{
    return QRegularExpression(QStringLiteral("1–(\\d+)")).match(summary).captured(1).toInt();
}

class TestLineSearch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(tmp); }
    void init() { resetLink(); }
    void cleanup() { resetLink(); }

    void findsPicksAndConnects();
    void nothingFoundAndPortFailure();

private:
    QTemporaryDir tmp;
};

void TestLineSearch::findsPicksAndConnects()
{
    SimProcess sim;
    QVERIFY(sim.start({"--address", "5", "--version", "2.17"}));
    command.SlaveAddress = 1;
    Connect_com_port::portLister = [&sim] { return QStringList{sim.portPath()}; };
    Connect_com_port d;
    d.show();
    auto *address = child<QSpinBox>(d, "spinBox_Address");
    auto *table = child<QTableWidget>(d, "tableFound");
    QCOMPARE(address->value(), 1);
    QVERIFY(!child(d, "groupBox_Found")->isVisible());
    sim.clearLog();

    // Addresses 5 and 6 asked, then Cancel.
    ProgressWatch watch(d, 6);
    ModalCloser closer;
    child<QPushButton>(d, "Button_Search")->click();
    QVERIFY(closer.seen.isEmpty());
    QVERIFY(watch.cancelledAt >= 6);
    QCOMPARE(watch.title, QStringLiteral("Поиск приборов"));
    QCOMPARE(watch.cancelText, QStringLiteral("Отмена"));
    QVERIFY2(watch.label.contains(QStringLiteral("из 247")), qPrintable(watch.label));
    QVERIFY(watch.controlsLocked);
    // Over the dialog it belongs to (a title bar's allowance apart).
    const QPoint off = watch.progressCentre - watch.dialogCentre;
    QVERIFY2(std::abs(off.x()) <= 4 && std::abs(off.y()) <= 20,
             qPrintable(QStringLiteral("%1,%2").arg(off.x()).arg(off.y())));

    // Each address asked once, up to the one in progress at Cancel (whose
    // request may have been cut before it went out), and only read
    // requests: the type, then the detector's serial number and version.
    const QList<QPair<int, int>> requests = sim.requestHeads();
    const int lastSent = requests.isEmpty() ? 0 : requests.last().first;
    QVERIFY(lastSent >= watch.cancelledAt);
    QList<QPair<int, int>> expected;
    for (int a = 1; a <= lastSent; ++a) {
        expected.append({a, 4});
        if (a == 5)
            expected << qMakePair(5, 3) << qMakePair(5, 43);
    }
    QCOMPARE(requests, expected);
    QVERIFY(!sim.log().join(QLatin1Char('\n')).contains(QLatin1String("RAW")));
    QVERIFY(sim.commands().isEmpty());

    // The link as it was: closed, at the address it had.
    QVERIFY(!command.isOpen());
    QCOMPARE(command.SlaveAddress, quint16(1));
    QCOMPARE(command.attemptLimit, 0);

    QVERIFY(child(d, "groupBox_Found")->isVisible());
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, 0)->text(), QStringLiteral("5"));
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("TL-02, тип 1"));
    QCOMPARE(table->item(0, 2)->text(), QStringLiteral("2.17"));
    QCOMPARE(table->item(0, 3)->text(), QStringLiteral("TL02ID0004711"));
    const QString summary = child<QLabel>(d, "label_Found")->text();
    const int lastAsked = lastAddress(summary);
    QVERIFY2(lastAsked == lastSent || lastAsked == lastSent - 1, qPrintable(summary));
    QCOMPARE(summary, QStringLiteral("Найдено приборов: 1 на адресах 1–%1. Поиск прерван.").arg(lastAsked));

    // Searching again finds the same and leaves the dialog its size.
    const QSize after = d.size();
    ProgressWatch again(d, 6);
    child<QPushButton>(d, "Button_Search")->click();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(d.size(), after);
    ProgressWatch third(d, 6);
    child<QPushButton>(d, "Button_Search")->click();
    QCOMPARE(d.size(), after);
    QVERIFY(!command.isOpen());

    // Picking it sets the address; Connect then finds the detector there.
    child<QPushButton>(d, "Button_Pick")->click();
    QCOMPARE(address->value(), 5);
    QCOMPARE(command.SlaveAddress, quint16(5));
    sim.clearLog();
    child<QPushButton>(d, "Button_connect")->click();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(command.DeviceType, qint16(1));
    QVERIFY(command.isOpen());
    QCOMPARE(sim.requestHeads(), (QList<QPair<int, int>>{{5, 4}}));
    // While connected the address and the search stay as they are.
    QVERIFY(!address->isEnabled());
    QVERIFY(!child<QPushButton>(d, "Button_Search")->isEnabled());
    table->selectRow(0);
    emit table->cellDoubleClicked(0, 0);
    QCOMPARE(command.SlaveAddress, quint16(5));
}

void TestLineSearch::nothingFoundAndPortFailure()
{
    // A port that cannot be opened: the box Connect shows, nothing else.
    const QString missing = QStringLiteral("/dev/tl-test-no-such-port");
    Connect_com_port::portLister = [&missing] { return QStringList{missing}; };
    {
        Connect_com_port d;
        d.show();
        ModalCloser closer;
        child<QPushButton>(d, "Button_Search")->click();
        QCOMPARE(closer.seen.size(), 1);
        QCOMPARE(closer.seen[0].title, QStringLiteral("Подключение"));
        QCOMPARE(closer.seen[0].text, Connect_com_port::openFailureText(missing, command.errorString()));
        QVERIFY(closer.seen[0].text.startsWith(QStringLiteral("Не открывает COM port")));
        QVERIFY(!command.isOpen());
    }

    // No one at the addresses asked: said so in a box, no table.
    SimProcess sim;
    QVERIFY(sim.start({"--address", "200"}));
    Connect_com_port::portLister = [&sim] { return QStringList{sim.portPath()}; };
    command.SlaveAddress = 7;
    Connect_com_port d;
    d.show();
    QCOMPARE(child<QSpinBox>(d, "spinBox_Address")->value(), 7);
    sim.clearLog();
    ProgressWatch watch(d, 2);
    ModalCloser closer;
    child<QPushButton>(d, "Button_Search")->click();
    QVERIFY(watch.cancelledAt >= 2);
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Поиск приборов"));
    const int lastSent = sim.requestHeads().size();
    const int lastAsked = lastAddress(closer.seen[0].text);
    QVERIFY(lastSent >= watch.cancelledAt && (lastAsked == lastSent || lastAsked == lastSent - 1));
    QCOMPARE(closer.seen[0].text, QStringLiteral("На адресах 1–%1 приборы не найдены; поиск прерван.").arg(lastAsked));
    QVERIFY(!child(d, "groupBox_Found")->isVisible());
    QVERIFY(!command.isOpen());
    QCOMPARE(command.SlaveAddress, quint16(7));
    QVERIFY(sim.rxFrames().isEmpty());   // nothing reached address 200

    // The dialog's address field is the link's address, for Connect too.
    child<QSpinBox>(d, "spinBox_Address")->setValue(200);
    QCOMPARE(command.SlaveAddress, quint16(200));
    child<QPushButton>(d, "Button_connect")->click();
    QCOMPARE(command.DeviceType, qint16(1));
    QCOMPARE(closer.seen.size(), 1);
}

QTEST_MAIN(TestLineSearch)
#include "tst_linesearch.moc"

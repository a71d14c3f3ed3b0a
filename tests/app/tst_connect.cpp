// The connect action (login, connection dialog, page set-up) and the
// connection dialog itself, against the simulated detector.
#include "shelltest.h"

#include "programlink.h"
#include "connect_com_port.h"
#include "mainwindow.h"

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QtTest>

using namespace ShellTest;

namespace {
struct DialogWidgets {
    QPushButton *connect;
    QPushButton *rescan;
    QComboBox *ports;
    QPushButton *close;
    QComboBox *baud;
};

DialogWidgets widgets(Connect_com_port &d)
{
    return {d.findChild<QPushButton *>(QStringLiteral("Button_connect")),
            d.findChild<QPushButton *>(QStringLiteral("Button_Rescan")),
            d.findChild<QComboBox *>(QStringLiteral("cb_Com")),
            d.findChild<QPushButton *>(QStringLiteral("Button_Close")),
            d.findChild<QComboBox *>(QStringLiteral("cb_Bautrate"))};
}

// Types a port into the port field and confirms it with Enter.
void typePort(QComboBox *ports, const QString &path)
{
    ports->lineEdit()->clear();
    QTest::keyClicks(ports->lineEdit(), path);
    QTest::keyClick(ports->lineEdit(), Qt::Key_Return);
}

QStringList classes(const QList<SeenBox> &seen)
{
    QStringList out;
    for (const SeenBox &b : seen)
        out.append(b.className);
    return out;
}
} // namespace

class TestConnect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(tmp); }
    void init() { resetLink(); }
    void cleanup() { resetLink(); }

    // The connect action of the main window.
    void loginRefusedThenClosed();
    void loginCancelled();
    void loginAcceptedConnectsOnce();
    void connectToBootloader();
    void connectOverTheNetwork_data();
    void connectOverTheNetwork();

    // The connection dialog.
    void connectAndDisconnect();
    void noPorts();
    void unrecognisedDeviceIsDeactivated();
    void readFailureClosesPort();
    void reopenWhileConnected();
    void rescanKeepsChosenPort();
    void extraPortsFromEnvironment();
    void networkAddressTakenAsTyped();

private:
    QTemporaryDir tmp;
};

// ------------------------------------------------------------ connect action

void TestConnect::loginRefusedThenClosed()
{
    MainWindow w;
    w.show();
    ModalCloser closer;
    closer.pushHandler(login(QStringLiteral("User"), QStringLiteral("9641")));
    // The warning box, then the dialog that stays open is closed.
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();

    QCOMPARE(classes(closer.seen),
             QStringList({"AuthorizationWindow", "QMessageBox", "AuthorizationWindow"}));
    QCOMPARE(closer.seen[1].title, QStringLiteral("Авторизация"));
    QCOMPARE(closer.seen[1].text, QStringLiteral("Вы не успешно авторизовались"));
    QCOMPARE(command.LoggedIn, quint8(0));
    QCOMPARE(command.UserName, QStringLiteral("Noname"));
    QCOMPARE(command.DeviceType, qint16(0));
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8"));
    QVERIFY(!w.findChild<QAction *>(QStringLiteral("action_config"))->isVisible());
}

void TestConnect::loginCancelled()
{
    MainWindow w;
    w.show();
    w.findChild<QCheckBox *>(QStringLiteral("checkBoxAutoupdate"))->setChecked(true);
    w.findChild<QStatusBar *>()->showMessage(QStringLiteral("before"));
    ModalCloser closer;
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();
    QCOMPARE(classes(closer.seen), QStringList({"AuthorizationWindow"}));
    QCOMPARE(closer.seen[0].title, QStringLiteral("Авторизация"));
    QCOMPARE(command.LoggedIn, quint8(0));
    QVERIFY(status(w).isEmpty());
    QVERIFY(!w.findChild<QCheckBox *>(QStringLiteral("checkBoxAutoupdate"))->isChecked());
}

void TestConnect::loginAcceptedConnectsOnce()
{
    SimProcess sim;
    QVERIFY(sim.start({"--address", "3"}));
    MainWindow w;
    theMainWindow = &w;
    w.show();
    w.findChild<QSpinBox *>(QStringLiteral("spinBox"))->setValue(3);

    ModalCloser closer;
    DialogState first;
    closer.pushHandler(login(QStringLiteral("Velta"), QStringLiteral("8350")));
    closer.pushHandler(passThrough());   // "Вы успешно авторизовались"
    closer.pushHandler(connectDialog(sim.portPath(), &first));
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();

    QCOMPARE(classes(closer.seen),
             QStringList({"AuthorizationWindow", "QMessageBox", "Connect_com_port", "Connect_com_port"}));
    QCOMPARE(closer.seen[1].title, QStringLiteral("Авторизация"));
    QCOMPARE(closer.seen[1].text, QStringLiteral("Вы успешно авторизовались"));
    QCOMPARE(closer.seen[2].title, QStringLiteral("Подключение устройства"));
    QVERIFY(first.seen);
    QCOMPARE(first.button, QStringLiteral("Connect"));

    QCOMPARE(command.LoggedIn, quint8(1));
    QCOMPARE(command.UserName, QStringLiteral("Velta"));
    QCOMPARE(command.PortName, sim.portPath());
    QVERIFY(command.isOpen());
    QCOMPARE(command.DeviceType, qint16(1));
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , устройство TL-02"));
    QVERIFY(w.findChild<QTabWidget *>()->isVisible());
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("stackedWidget_3"))->isVisible());
    QVERIFY(w.findChild<QAction *>(QStringLiteral("action_config"))->isVisible());
    QCOMPARE(w.findChild<QSpinBox *>(QStringLiteral("spinBox"))->value(), 3);
    // The dialog's probe, then the first read of page set-up.
    const QList<QByteArray> frames = sim.rxFrames();
    QCOMPARE(functions(frames), QList<int>({0x04, 0x2B, 0x2B, 0x03, 0x04}));
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));
    QCOMPARE(QString::fromUtf8(command.DeviceParams.IdModelName), QStringLiteral("TL-02"));

    // Later connects do not ask for the login again; the dialog opens in
    // its connected form and does not probe the device.
    closer.clear();
    sim.clearLog();
    DialogState second;
    closer.pushHandler(connectDialog(QString(), &second));
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();
    QCOMPARE(classes(closer.seen), QStringList({"Connect_com_port"}));
    QCOMPARE(second.button, QStringLiteral("Disconnect"));
    QVERIFY(!second.rescanEnabled);
    QCOMPARE(second.portText, sim.portPath());
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x2B, 0x2B, 0x03, 0x04}));
    QCOMPARE(command.UserName, QStringLiteral("Velta"));
}

void TestConnect::connectToBootloader()
{
    SimProcess sim;
    QVERIFY(sim.start({"--bootloader"}));
    MainWindow w;
    w.show();
    command.LoggedIn = 1;
    command.UserName = QStringLiteral("Admin");
    ModalCloser closer;
    closer.pushHandler(connectDialog(sim.portPath()));
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();
    QCOMPARE(classes(closer.seen), QStringList({"Connect_com_port", "Connect_com_port"}));
    QCOMPARE(command.DeviceType, qint16(999));
    QCOMPARE(w.windowTitle(), QStringLiteral("TL Configuration v1.8 , устройство Bootloader"));
    QVERIFY(w.findChild<QWidget *>(QStringLiteral("pushButtonBootloader"))->isVisible());
    QVERIFY(!w.findChild<QWidget *>(QStringLiteral("widget_AddrMb"))->isVisible());
    QCOMPARE(status(w), QStringLiteral("Успешное подключение Bootloader"));
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x04}));
}

void TestConnect::connectOverTheNetwork_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::newRow("RTU over TCP") << "tcp";
    QTest::newRow("Modbus TCP") << "modbus-tcp";
}

void TestConnect::connectOverTheNetwork()
{
    QFETCH(QString, scheme);
    SimProcess sim;
    QVERIFY(sim.start({"--tcp", "0", "--modbus-tcp", "0"}));
    const QString port = scheme + QStringLiteral("://")
        + (scheme == QLatin1String("tcp") ? sim.tcpAddress() : sim.modbusTcpAddress());
    MainWindow w;
    theMainWindow = &w;
    w.show();
    w.findChild<QSpinBox *>(QStringLiteral("spinBox"))->setValue(1);
    command.LoggedIn = 1;
    command.UserName = QStringLiteral("Admin");
    ModalCloser closer;
    closer.pushHandler(connectDialog(port));
    w.findChild<QAction *>(QStringLiteral("action_connect"))->trigger();
    QCOMPARE(classes(closer.seen), QStringList({"Connect_com_port", "Connect_com_port"}));
    QCOMPARE(command.PortName, port);
    QVERIFY(command.isOpen());
    QCOMPARE(command.DeviceType, qint16(1));
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x04, 0x2B, 0x2B, 0x03, 0x04}));
    QCOMPARE(status(w), QStringLiteral("Успешная передача данных"));
    QCOMPARE(int(command.DeviceParams.Limit1), sim.holding(0x1005));

    // And writes: an edited threshold reaches the device over the same line.
    command.DeviceParams.Limit1 = 321;
    sim.clearLog();
    w.on_pushButton_Save_Param_clicked();
    QCOMPARE(sim.holding(0x1005), 321);
    QCOMPARE(functions(sim.rxFrames()), QList<int>({0x03, 0x04, 0x10, 0x2B, 0x2B, 0x03, 0x04}));
    QVERIFY(closer.seen.size() == 2);
}

// ---------------------------------------------------------- connection dialog

void TestConnect::connectAndDisconnect()
{
    SimProcess sim;
    QVERIFY(sim.start());
    command.SlaveAddress = 1;
    Connect_com_port d;
    d.show();
    DialogWidgets ui = widgets(d);
    QCOMPARE(d.windowTitle(), QStringLiteral("Подключение устройства"));
    QVERIFY(!ui.close->isVisible());
    QVERIFY(!ui.baud->isVisible());
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));

    typePort(ui.ports, sim.portPath());
    QCOMPARE(command.PortName, sim.portPath());
    sim.clearLog();
    ModalCloser closer;
    ui.connect->click();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(ui.connect->text(), QStringLiteral("Disconnect"));
    QVERIFY(!ui.rescan->isEnabled());
    QVERIFY(command.isOpen());
    QCOMPARE(command.DeviceType, qint16(1));
    const QList<QByteArray> frames = sim.rxFrames();
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].toHex(), QByteArray("01040000000a700d"));

    // Leaving the field, or Enter without typing, changes nothing.
    QMetaObject::invokeMethod(ui.ports->lineEdit(), "editingFinished");
    QVERIFY(command.isOpen());
    QCOMPARE(ui.connect->text(), QStringLiteral("Disconnect"));

    ui.connect->click();
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));
    QVERIFY(ui.rescan->isEnabled());
    QVERIFY(!command.isOpen());
    QCOMPARE(command.DeviceType, qint16(0));
    QCOMPARE(command.PortName, sim.portPath());

    // Choosing another port while connected ends the connection; an emptied
    // field chooses nothing.
    ui.connect->click();
    QVERIFY(command.isOpen());
    typePort(ui.ports, QStringLiteral("/dev/rfcomm0"));
    QCOMPARE(command.PortName, QStringLiteral("/dev/rfcomm0"));
    QVERIFY(!command.isOpen());
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));
    QCOMPARE(command.DeviceType, qint16(0));
    typePort(ui.ports, QString());
    QCOMPARE(command.PortName, QStringLiteral("/dev/rfcomm0"));
}

void TestConnect::noPorts()
{
    command.PortName = QStringLiteral("/dev/ttyUSB-left-over");
    command.DeviceType = 2;
    Connect_com_port d;
    DialogWidgets ui = widgets(d);
    QCOMPARE(ui.ports->count(), 0);
    QVERIFY(command.PortName.isEmpty());
    QCOMPARE(command.DeviceType, qint16(0));

    ModalCloser closer;
    ui.connect->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Подключение"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Не открывает COM port"));
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));
    QVERIFY(!command.isOpen());
}

void TestConnect::unrecognisedDeviceIsDeactivated()
{
    SimProcess sim;
    QVERIFY(sim.start({"--type", "3"}));
    command.SlaveAddress = 1;
    Connect_com_port::portLister = [&sim] { return QStringList{sim.portPath()}; };
    Connect_com_port d;
    DialogWidgets ui = widgets(d);
    QCOMPARE(command.PortName, sim.portPath());   // the first listed port
    sim.clearLog();
    ModalCloser closer;
    ui.connect->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Подключение"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Прибор не опознан"));
    QVERIFY(sim.waitForLog(QStringLiteral("RAW 44454143544956")));
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));
    QVERIFY(ui.rescan->isEnabled());
    QCOMPARE(command.DeviceType, qint16(0));
    QVERIFY(!command.isOpen());
}

void TestConnect::readFailureClosesPort()
{
    SimProcess sim;
    QVERIFY(sim.start());
    command.SlaveAddress = 1;
    Connect_com_port d;
    DialogWidgets ui = widgets(d);
    typePort(ui.ports, sim.portPath());
    command.DeviceType = 2;
    SIM("fault noreply 10");
    ModalCloser closer;
    ui.connect->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Подключение"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Ошибка обмена данными с прибором"));
    QVERIFY(!command.isOpen());
    QCOMPARE(ui.connect->text(), QStringLiteral("Connect"));
    QCOMPARE(command.DeviceType, qint16(2));   // left as it was

    // The next try works.
    ui.connect->click();
    QCOMPARE(ui.connect->text(), QStringLiteral("Disconnect"));
    QCOMPARE(closer.seen.size(), 1);
}

void TestConnect::reopenWhileConnected()
{
    SimProcess sim;
    QVERIFY(sim.start());
    command.SlaveAddress = 1;
    Connect_com_port::portLister = [] { return QStringList{"ttyS-first", "ttyS-second"}; };
    {
        Connect_com_port d;
        typePort(widgets(d).ports, sim.portPath());
        widgets(d).connect->click();
        QVERIFY(command.isOpen());
    }
    sim.clearLog();
    Connect_com_port again;
    DialogWidgets ui = widgets(again);
    QCOMPARE(ui.connect->text(), QStringLiteral("Disconnect"));
    QVERIFY(!ui.rescan->isEnabled());
    QCOMPARE(ui.ports->currentText(), sim.portPath());
    QCOMPARE(ui.ports->count(), 2);
    QCOMPARE(command.DeviceType, qint16(1));
    QCOMPARE(command.PortName, sim.portPath());
    QVERIFY(command.isOpen());
    QTest::qWait(100);
    QCOMPARE(sim.rxFrames().size(), 0);

}

void TestConnect::rescanKeepsChosenPort()
{
    SimProcess sim;
    QVERIFY(sim.start());
    command.SlaveAddress = 1;
    const QString first = QStringLiteral("/dev/tl-test-no-such-port");
    QStringList listed{first, sim.portPath()};
    Connect_com_port::portLister = [&listed] { return listed; };
    Connect_com_port d;
    d.show();
    DialogWidgets ui = widgets(d);
    QCOMPARE(command.PortName, first);

    // Pick the second entry from the list as a user does.
    ui.ports->showPopup();
    QAbstractItemView *view = ui.ports->view();
    QTRY_VERIFY(view->isVisible());
    const QRect item = view->visualRect(view->model()->index(1, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_COMPARE(command.PortName, sim.portPath());

    command.DeviceType = 2;
    listed.append(QStringLiteral("/dev/tl-test-third"));
    ui.rescan->click();
    QCOMPARE(ui.ports->count(), 3);
    QCOMPARE(ui.ports->currentText(), first);
    QCOMPARE(command.PortName, sim.portPath());
    QCOMPARE(command.DeviceType, qint16(0));

    ModalCloser closer;
    ui.connect->click();
    QVERIFY(closer.seen.isEmpty());
    QCOMPARE(ui.connect->text(), QStringLiteral("Disconnect"));
}

void TestConnect::extraPortsFromEnvironment()
{
    Connect_com_port::portLister = [] { return QStringList{"ttyS9", "ttyUSB0"}; };
    qputenv("TL_EXTRA_PORTS", "/tmp/tl-a::/tmp/tl-b:/tmp/tl-a:ttyUSB0");
    QCOMPARE(Connect_com_port::availablePortNames(),
             QStringList({"/tmp/tl-a", "/tmp/tl-b", "ttyUSB0", "ttyS9"}));
    Connect_com_port d;
    QCOMPARE(widgets(d).ports->count(), 4);
    QCOMPARE(command.PortName, QStringLiteral("/tmp/tl-a"));
    // A typed name that begins a listed one is taken as typed.
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    widgets(d).ports->setFocus();
    typePort(widgets(d).ports, QStringLiteral("ttyS"));
    QCOMPARE(command.PortName, QStringLiteral("ttyS"));

    // Without the hook the system's own list follows.
    Connect_com_port::portLister = nullptr;
    qputenv("TL_EXTRA_PORTS", "/tmp/tl-a");
    const QStringList names = Connect_com_port::availablePortNames();
    QCOMPARE(names.first(), QStringLiteral("/tmp/tl-a"));
    QCOMPARE(names.mid(1), [] {
        QStringList system;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            system.append(info.portName());
        return system;
    }());
}

void TestConnect::networkAddressTakenAsTyped()
{
    Connect_com_port::portLister = [] { return QStringList{"ttyS9"}; };
    Connect_com_port d;
    d.show();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    DialogWidgets ui = widgets(d);
    ui.ports->setFocus();
    for (const QString &address : {QStringLiteral("tcp://127.0.0.1:5020"), QStringLiteral("modbus-tcp://[::1]:502")}) {
        typePort(ui.ports, address);
        QCOMPARE(command.PortName, address);
        QCOMPARE(ui.ports->currentText(), address);
    }
}

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"

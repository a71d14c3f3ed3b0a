#include "connect_com_port.h"
#include "ui_connect_com_port.h"

#include "command.h"
#include "deviceops.h"
#include "portdiagnosis.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QSerialPortInfo>

std::function<QStringList()> Connect_com_port::portLister;

namespace {
// The button's text is the dialog's state; these are compared literally.
const QString ConnectText = QStringLiteral("Connect");
const QString DisconnectText = QStringLiteral("Disconnect");
} // namespace

Connect_com_port::Connect_com_port(QWidget *parent)
    : QDialog(parent), ui(new Ui::Connect_com_port)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->Button_Close->hide();
    ui->cb_Bautrate->hide();

    // A port that is not listed (a virtual port, an adapter plugged in just
    // now) can be typed; confirming it counts as choosing it.  No completion:
    // "/dev/pts/1" must not turn into a listed "/dev/pts/12".
    ui->cb_Com->setCompleter(nullptr);
    connect(ui->cb_Com->lineEdit(), &QLineEdit::editingFinished, this,
            &Connect_com_port::portTextConfirmed);

    if (command.isOpen()) {
        ui->Button_connect->setText(DisconnectText);
        ui->Button_Rescan->setEnabled(false);
        fillPorts();
        const int index = ui->cb_Com->findText(command.PortName);
        if (index >= 0)
            ui->cb_Com->setCurrentIndex(index);
        else
            ui->cb_Com->setEditText(command.PortName);
    } else {
        fillPorts();
        command.PortName = ui->cb_Com->currentText();
        command.DeviceType = Params::TypeNone;
    }
    ui->cb_Com->lineEdit()->setModified(false);
}

Connect_com_port::~Connect_com_port()
{
    // Hiding the dialog on its way out takes the focus from the port field.
    disconnect(ui->cb_Com->lineEdit(), nullptr, this, nullptr);
    delete ui;
}

QStringList Connect_com_port::availablePortNames()
{
    QStringList system;
    if (portLister) {
        system = portLister();
    } else {
        const auto ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : ports)
            system.append(info.portName());
    }
    QStringList names;
    const QStringList extra =
        qEnvironmentVariable("TL_EXTRA_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &name : extra + system) {
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

void Connect_com_port::fillPorts()
{
    ui->cb_Com->clear();
    ui->cb_Com->addItems(availablePortNames());
    ui->cb_Com->lineEdit()->setModified(false);
}

void Connect_com_port::on_Button_Rescan_clicked()
{
    fillPorts();
    command.DeviceType = Params::TypeNone;
}

void Connect_com_port::on_cb_Com_textActivated(const QString &name)
{
    ui->cb_Com->lineEdit()->setModified(false);
    command.PortName = name;
    disconnectPort();
}

void Connect_com_port::portTextConfirmed()
{
    QLineEdit *edit = ui->cb_Com->lineEdit();
    if (!edit->isModified())
        return;
    const QString name = edit->text().trimmed();
    if (name.isEmpty())
        return;
    on_cb_Com_textActivated(name);
}

void Connect_com_port::on_cb_Bautrate_activated(int)
{
}

void Connect_com_port::disconnectPort()
{
    command.DeviceType = Params::TypeNone;
    ui->Button_connect->setText(ConnectText);
    ui->Button_Rescan->setEnabled(true);
    command.closePort();
}

QString Connect_com_port::openFailureText(const QString &portName, const QString &systemError)
{
    QString text = tr("Не открывает COM port");
    if (portName.contains(QLatin1String("://")))
        return text;
    const PortDiagnosis::Finding f = PortDiagnosis::diagnose(portName, systemError);
    switch (f.kind) {
    case PortDiagnosis::Kind::Unknown:
        break;
    case PortDiagnosis::Kind::Missing:
        text += QStringLiteral("\n\n") + tr("Порт %1 не найден. Проверьте кабель и имя порта.").arg(f.path);
        break;
    case PortDiagnosis::Kind::Permission:
        text += QStringLiteral("\n\n")
            + tr("Нет прав на порт %1: он принадлежит группе %2, а пользователь %3 в неё не входит. "
                 "Добавьте пользователя в группу командой\n\nsudo usermod -aG %2 %3\n\n"
                 "и войдите в систему заново.")
                  .arg(f.path, f.group.isEmpty() ? QStringLiteral("dialout") : f.group,
                       f.user.isEmpty() ? QStringLiteral("$USER") : f.user);
        break;
    case PortDiagnosis::Kind::Busy:
        text += QStringLiteral("\n\n");
        if (f.pid != 0)
            text += tr("Порт %1 занят другой программой: %2 (процесс %3). Закройте её и повторите подключение.")
                        .arg(f.path, f.program.isEmpty() ? QStringLiteral("?") : f.program)
                        .arg(f.pid);
        else
            text += tr("Порт %1 занят другой программой. Закройте её и повторите подключение.").arg(f.path);
        break;
    }
    return text;
}

void Connect_com_port::on_Button_connect_clicked()
{
    const QString state = ui->Button_connect->text();
    if (state == DisconnectText) {
        disconnectPort();
        return;
    }
    if (state != ConnectText)
        return;

    // The port text is taken as it is (a device path, or a network address
    // such as tcp://HOST:PORT): the link decides what it names.
    if (!DeviceOps::open(command.PortName)) {
        QMessageBox::information(this, tr("Подключение"), openFailureText(command.PortName, command.errorString()));
        return;
    }

    const DeviceOps::Outcome probe = DeviceOps::probe();
    if (probe.ok()) {
        ui->Button_connect->setText(DisconnectText);
        ui->Button_Rescan->setEnabled(false);
        return;
    }
    if (probe.failed == DeviceOps::Step::Probe) {
        QMessageBox::warning(this, tr("Подключение"), tr("Ошибка обмена данными с прибором"));
        command.closePort();
        return;
    }
    // No TL-02: it has been sent "DEACTIV".
    QMessageBox::warning(this, tr("Подключение"), tr("Прибор не опознан"));
    disconnectPort();
}

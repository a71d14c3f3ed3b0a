#include "connect_com_port.h"
#include "errorbox.h"
#include "ui_connect_com_port.h"

#include "programlink.h"
#include "deviceops.h"
#include "lineworker.h"
#include "portdiagnosis.h"
#include "windowplace.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSerialPortInfo>
#include <QSignalBlocker>
#include <QTableWidgetItem>

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

    // The address every request goes to; the main window shows it again
    // when the dialog closes.
    {
        const QSignalBlocker quiet(ui->spinBox_Address);
        ui->spinBox_Address->setValue(command.SlaveAddress);
    }
    ui->groupBox_Found->hide();
    ui->Button_Pick->setEnabled(false);
    connect(ui->tableFound, &QTableWidget::itemSelectionChanged, this,
            [this] { ui->Button_Pick->setEnabled(!ui->tableFound->selectedItems().isEmpty()); });

    if (command.isOpen()) {
        showConnected(true);
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
    showConnected(false);
    command.closePort();
}

void Connect_com_port::showConnected(bool connected)
{
    ui->Button_connect->setText(connected ? DisconnectText : ConnectText);
    ui->Button_Rescan->setEnabled(!connected);
    ui->spinBox_Address->setEnabled(!connected);
    ui->Button_Search->setEnabled(!connected);
}

void Connect_com_port::on_spinBox_Address_valueChanged(int value)
{
    command.SlaveAddress = quint16(value);
}

QString Connect_com_port::openFailureText(const QString &portName, const QString &systemError)
{
    if (portName.contains(QLatin1String("://")))
        return tr("Не открывает COM port");
    return openFailureText(PortDiagnosis::diagnose(portName, systemError));
}

QString Connect_com_port::openFailureText(const PortDiagnosis::Finding &f)
{
    QString text = tr("Не открывает COM port");
    switch (f.kind) {
    case PortDiagnosis::Kind::Unknown:
        break;
    case PortDiagnosis::Kind::Missing:
        text += QStringLiteral("\n\n") + tr("Порт %1 не найден. Проверьте кабель и имя порта.").arg(f.path);
        break;
    case PortDiagnosis::Kind::Permission: {
        text += QStringLiteral("\n\n");
        const QString user = f.user.isEmpty() ? QStringLiteral("$USER") : f.user;
        // Joining a group is advised only when its bits grant the port and
        // it is not root's.
        const QString owned = tr("владелец %1, группа %2, права %3")
                                  .arg(f.owner, f.group.isEmpty() ? QStringLiteral("?") : f.group)
                                  .arg(f.mode, 4, 8, QLatin1Char('0'));
        if (f.modeAllows)
            text += tr("Нет прав на порт %1 (%2) у пользователя %3, хотя права файла это разрешают: доступ "
                       "запрещают списки доступа или политика безопасности. Обратитесь к администратору.")
                        .arg(f.path, owned, user);
        else if (f.groupGrants)
            text += tr("Нет прав на порт %1: он принадлежит группе %2, а пользователь %3 в неё не входит. "
                       "Добавьте пользователя в группу командой\n\nsudo usermod -aG %2 %3\n\n"
                       "и войдите в систему заново.")
                        .arg(f.path, f.group, user);
        else
            text += tr("Нет прав на порт %1: открыть его может только %2 (%3). Попросите администратора "
                       "отдать порт группе, например dialout, с правами 0660 (правило udev) или выберите "
                       "другой порт.")
                        .arg(f.path, PortDiagnosis::whoMayOpen(f).join(tr(" и ")), owned);
        break;
    }
    case PortDiagnosis::Kind::Busy:
        text += QStringLiteral("\n\n");
        if (f.pid != 0)
            text += tr("Порт %1 занят другой программой: %2 (процесс %3). Закройте её и повторите подключение.")
                        .arg(f.path, f.program.isEmpty() ? QStringLiteral("?") : f.program)
                        .arg(f.pid);
        else if (!f.staleLock.isEmpty() && f.stalePid != 0)
            text += tr("Порт %1 закрыт файлом блокировки %2, но процесс %3, который его оставил, уже завершён: "
                       "файл устарел, и его можно удалить (sudo rm %2). Затем повторите подключение.")
                        .arg(f.path, f.staleLock)
                        .arg(f.stalePid);
        else if (!f.staleLock.isEmpty())
            text += tr("Порт %1 закрыт пустым файлом блокировки %2, который не называет никакой процесс: "
                       "файл устарел, и его можно удалить (sudo rm %2). Затем повторите подключение.")
                        .arg(f.path, f.staleLock);
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
    if (!DeviceOps::open(command, command.PortName)) {
        QMessageBox::information(this, tr("Подключение"), openFailureText(command.PortName, command.errorString()));
        return;
    }

    const DeviceOps::Outcome probe = DeviceOps::probe(command);
    if (probe.ok()) {
        showConnected(true);
        return;
    }
    if (probe.failed == DeviceOps::Step::Probe) {
        QString text = tr("Ошибка обмена данными с прибором");
        if (probe.linkResult == ResultNoSilence || probe.linkResult == ResultCancelled)
            text += QStringLiteral("\n") + exchangeErrorText(probe.linkResult);
        QMessageBox::warning(this, tr("Подключение"), text);
        command.closePort();
        return;
    }
    // No TL-02: it has been sent "DEACTIV".
    QMessageBox::warning(this, tr("Подключение"), tr("Прибор не опознан"));
    disconnectPort();
}

// ------------------------------------------------------------ line search

void Connect_com_port::on_Button_Search_clicked()
{
    // The chosen port, opened as Connect opens it, to tell a port that
    // cannot be opened as Connect tells it.  The search itself runs on a
    // worker of the line with a link of its own; the port is handed to it
    // and, when it was open before, taken back afterwards.
    const bool wasOpen = command.isOpen();
    if (!wasOpen && !DeviceOps::open(command, command.PortName)) {
        QMessageBox::information(this, tr("Подключение"), openFailureText(command.PortName, command.errorString()));
        return;
    }
    const QString port = command.PortName;
    command.closePort();

    QProgressDialog progress(this);
    progress.setWindowTitle(tr("Поиск приборов"));
    progress.setCancelButtonText(tr("Отмена"));
    progress.setRange(0, ScanLast - ScanFirst + 1);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    progress.setMinimumWidth(320);
    // Its two lines from the start, so that it does not grow (away from
    // where it was put) when the first address is asked.
    progress.setLabelText(tr("Опрашивается адрес %1 из %2\nНайдено приборов: %3").arg(ScanFirst).arg(ScanLast).arg(0));
    // The progress window is this dialog's own, so it takes clicks while
    // the dialog runs modally; the dialog's controls wait for the end.
    ui->groupBox->setEnabled(false);
    ui->groupBox_Found->setEnabled(false);

    int devices = 0;
    DeviceOps::ScanReport report;
    QString lineError;
    QEventLoop loop;
    {
        LineWorker worker(port);
        connect(&worker, &LineWorker::addressAsked, &progress, [&](int address) {
            progress.setLabelText(tr("Опрашивается адрес %1 из %2\nНайдено приборов: %3")
                                      .arg(address).arg(ScanLast).arg(devices));
            progress.setValue(address - ScanFirst);
        });
        connect(&worker, &LineWorker::found, &progress, [&devices](const DeviceOps::ScanHit &hit) {
            if (hit.answered())
                ++devices;
        });
        connect(&worker, &LineWorker::scanned, &loop, [&](const DeviceOps::ScanReport &r) { report = r; });
        connect(&worker, &LineWorker::lineFailed, &loop, [&](const QString &, const QString &error) {
            lineError = error;
        });
        connect(&worker, &LineWorker::idle, &loop, &QEventLoop::quit);
        // Cancel, or the dialog closing, stops the search at once.
        connect(&progress, &QProgressDialog::canceled, &worker, &LineWorker::cancel);
        connect(this, &QDialog::finished, &worker, &LineWorker::cancel);
        WindowPlace::centreOver(&progress, this);
        progress.show();
        worker.scan(ScanFirst, ScanLast);
        loop.exec();
    }
    progress.hide();
    ui->groupBox->setEnabled(true);
    ui->groupBox_Found->setEnabled(true);
    if (wasOpen && !DeviceOps::open(command, port))
        command.closePort();
    if (!lineError.isEmpty()) {
        if (isVisible())
            QMessageBox::information(this, tr("Подключение"), openFailureText(port, lineError));
        return;
    }
    if (isVisible())
        showFound(report);
}

QString Connect_com_port::typeText(const DeviceOps::ScanHit &hit)
{
    if (!hit.answered())
        return tr("Ответ с ошибкой");
    switch (hit.type) {
    case Params::TypeDetector1: return tr("TL-02, тип 1");
    case Params::TypeDetector2: return tr("TL-02, тип 2");
    case Params::TypeBootloader: return tr("Загрузчик");
    default: return tr("Не опознан (тип %1)").arg(hit.type);
    }
}

void Connect_com_port::showFound(const DeviceOps::ScanReport &report)
{
    if (report.stoppedBy == ResultNoSilence)
        QMessageBox::warning(this, tr("Поиск приборов"),
                             tr("Поиск остановлен на адресе %1: линия не замолкает (непрерывные данные). "
                                "Неисправный прибор или помехи на линии.").arg(ScanFirst + report.scanned));
    const bool stopped = report.scanned < ScanLast - ScanFirst + 1;
    const int lastAsked = ScanFirst + report.scanned - 1;
    QTableWidget *table = ui->tableFound;
    table->setRowCount(0);
    if (report.hits.isEmpty()) {
        ui->groupBox_Found->hide();
        adjustSize();
        QString text;
        if (report.scanned == 0)
            text = tr("Поиск прерван.");
        else if (stopped)
            text = tr("На адресах %1–%2 приборы не найдены; поиск прерван.").arg(ScanFirst).arg(lastAsked);
        else
            text = tr("На адресах %1–%2 приборы не найдены.").arg(ScanFirst).arg(lastAsked);
        QMessageBox::information(this, tr("Поиск приборов"), text);
        return;
    }

    const QString none = QStringLiteral("—");
    int devices = 0;
    for (const DeviceOps::ScanHit &hit : report.hits) {
        const int row = table->rowCount();
        table->insertRow(row);
        auto *address = new QTableWidgetItem(QString::number(hit.address));
        address->setData(Qt::UserRole, hit.address);
        address->setTextAlignment(Qt::AlignCenter);
        table->setItem(row, 0, address);
        table->setItem(row, 1, new QTableWidgetItem(typeText(hit)));
        QString version = none;
        QString serial = none;
        if (hit.detector()) {
            version = hit.versionResult != ResultOk ? tr("не считана")
                : hit.firmwareVersion.isEmpty()     ? none
                                                    : hit.firmwareVersion;
            serial = hit.serialResult == ResultOk ? hit.serialText : tr("не считан");
        }
        table->setItem(row, 2, new QTableWidgetItem(version));
        table->setItem(row, 3, new QTableWidgetItem(serial));
        if (hit.answered())
            ++devices;
    }
    QString summary = tr("Найдено приборов: %1 на адресах %2–%3.").arg(devices).arg(ScanFirst).arg(lastAsked);
    if (stopped)
        summary += QLatin1Char(' ') + tr("Поиск прерван.");
    ui->label_Found->setText(summary);

    // The table as wide as its columns (with some air) and as high as its
    // rows, up to six; more rows scroll.  The widths come from the contents
    // alone: the last column, stretched to the table by the search before,
    // would otherwise give its stretched width, and the dialog would grow
    // with every search.
    QHeaderView *header = table->horizontalHeader();
    header->setStretchLastSection(false);
    table->resizeColumnsToContents();
    int width = 0;
    for (int c = 0; c < table->columnCount(); ++c) {
        const int column = table->columnWidth(c) + 12;
        table->setColumnWidth(c, column);
        width += column;
    }
    header->setStretchLastSection(true);
    const int frame = 2 * table->frameWidth();
    const int rows = qBound(2, table->rowCount(), 6);
    table->setMinimumWidth(width + frame + table->verticalScrollBar()->sizeHint().width());
    table->setFixedHeight(table->horizontalHeader()->height() + rows * table->rowHeight(0) + frame);
    ui->groupBox_Found->show();
    table->selectRow(0);
    adjustSize();
}

void Connect_com_port::on_Button_Pick_clicked()
{
    const QList<QTableWidgetItem *> chosen = ui->tableFound->selectedItems();
    if (chosen.isEmpty())
        return;
    on_tableFound_cellDoubleClicked(chosen.first()->row(), 0);
}

void Connect_com_port::on_tableFound_cellDoubleClicked(int row, int)
{
    const QTableWidgetItem *item = ui->tableFound->item(row, 0);
    if (!item || !ui->spinBox_Address->isEnabled())
        return;
    ui->spinBox_Address->setValue(item->data(Qt::UserRole).toInt());
    command.SlaveAddress = quint16(ui->spinBox_Address->value());
    ui->Button_connect->setFocus();
}

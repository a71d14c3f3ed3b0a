// Connection dialog: choice of the serial port and the Modbus address,
// opening the port and finding out whether a detector or its bootloader
// answers; and a search of the line for the devices on it.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

namespace Ui { class Connect_com_port; }
namespace DeviceOps { struct ScanHit; struct ScanReport; }
namespace PortDiagnosis { struct Finding; }

class Connect_com_port : public QDialog
{
    Q_OBJECT
public:
    explicit Connect_com_port(QWidget *parent = nullptr);
    ~Connect_com_port() override;

    // Names offered in the port list: the paths of TL_EXTRA_PORTS
    // (colon-separated; scripts/run offers the simulated detector there, so
    // it is the one chosen when the dialog opens), then the system's serial
    // ports in the order it lists them.
    static QStringList availablePortNames();
    // Test hook: when set, replaces the system's list of serial ports.
    static std::function<QStringList()> portLister;
    // The "cannot open" box's text: the short message, then what stands in
    // the way (no such device, no permission and the group that gives it or
    // who alone may open it, another program holding the port) when it can
    // be told.
    static QString openFailureText(const QString &portName, const QString &systemError);
    // The same for what the port's diagnosis found.
    static QString openFailureText(const PortDiagnosis::Finding &finding);

    // The addresses the line search asks, one attempt each.
    static constexpr int ScanFirst = 1;
    static constexpr int ScanLast = 247;

private slots:
    void on_Button_connect_clicked();
    void on_Button_Rescan_clicked();
    void on_cb_Com_textActivated(const QString &name);
    void on_cb_Bautrate_activated(int index);
    void on_spinBox_Address_valueChanged(int value);
    void on_Button_Search_clicked();
    void on_Button_Pick_clicked();
    void on_tableFound_cellDoubleClicked(int row, int column);

private:
    void fillPorts();
    void disconnectPort();
    // The button's text and what may be changed while connected (nothing
    // that would leave the connected device: port list, address, search).
    void showConnected(bool connected);
    // The search's outcome: the table of what answered, or a box when
    // nothing did.
    void showFound(const DeviceOps::ScanReport &report);
    static QString typeText(const DeviceOps::ScanHit &hit);
    // Enter in, or leaving, the port field after typing in it.
    void portTextConfirmed();

    Ui::Connect_com_port *ui;
};

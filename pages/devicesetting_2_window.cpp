// Device settings page: thresholds, hysteresis, dead zones, range, delays,
// unit, discreteness, output type, sensor current, address and serial
// number.  Every control edits its DeviceParams field at once; the main
// window's save command sends the block.
#include "devicesetting_2_window.h"
#include "ui_devicesetting_2_window.h"

#include "accesslevels.h"
#include "programlink.h"
#include "conversions.h"
#include "options.h"
#include "paramrange.h"
#include "paramtable.h"

#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QScopedValueRollback>

namespace {

// Decimals, limits and unit suffix of a scaled control, then its value.
void showScaled(QDoubleSpinBox *box, const char *name, quint16 config, double shown)
{
    box->setDecimals(Conv::decimals(config));
    setRangeOf(box, name, config);
    box->setSuffix(QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(config)));
    box->setValue(shown);
}

} // namespace

DeviceSetting_2_Window::DeviceSetting_2_Window(QWidget *parent)
    : QDialog(parent), ui(new Ui::DeviceSetting_2_Window)
{
    ui->setupUi(this);

    if (!Access::serialNumberEditable(command.UserName))
        ui->doubleSpinBox_SerialNum->setReadOnly(true);

    ui->comboBoxDiscreteness->addItems(DiscretenessNames);
    ui->comboBoxUnitMeas->addItems(UnitNames);
    ui->comboBox_PWMOptions->addItems(OptionNames);
    // The line speed list stays empty: the tool talks to the detector at
    // 9600 baud only, and a detector switched to another speed here would
    // no longer answer it.
    ui->comboBox_NetSpeed->setEnabled(false);
    ui->comboBox_NetSpeed->setToolTip(tr("Программа работает с прибором только на скорости 9600 бод"));

    refresh();
}

DeviceSetting_2_Window::~DeviceSetting_2_Window()
{
    delete ui;
}

void DeviceSetting_2_Window::refresh()
{
    // The controls show what they can of the block; a value one of them has
    // to clamp or round (a delay of 1500 ms, an address above the table's
    // limit) stays in the block as read until the user edits that control.
    const QScopedValueRollback<bool> guard(refreshing, true);
    ParamBlock &p = command.DeviceParams;

    if (command.DeviceType == Params::TypeDetector1) {
        ui->label_PowerSens->hide();
        ui->doubleSpinBox_PowerSens->hide();
    } else if (command.DeviceType == Params::TypeDetector2) {
        ui->label_PowerSens->show();
        ui->doubleSpinBox_PowerSens->show();
    }

    setRangeOf(ui->doubleSpinBox_SerialNum, "serial_number", p.Config);
    ui->doubleSpinBox_SerialNum->setValue(p.SerialNum);

    ui->checkBoxLim1IncDec->setChecked(!Conv::limitDecreasing(p.Limit1));
    ui->checkBoxLim2IncDec->setChecked(!Conv::limitDecreasing(p.Limit2));
    showDirection(ui->checkBoxLim1IncDec);
    showDirection(ui->checkBoxLim2IncDec);
    ui->checkBox_Limit_1_ACK->setChecked(Conv::autoReset1(p.Config));
    ui->checkBox_Limit_2_ACK->setChecked(Conv::autoReset2(p.Config));

    p.Scale = Conv::scaleFromConfig(p.Config);

    // Setting an index does not run the "activated" slots.
    ui->comboBoxUnitMeas->setCurrentIndex(Conv::unitIndex(p.Config));
    ui->comboBoxDiscreteness->setCurrentIndex(Conv::decimals(p.Config) < ui->comboBoxDiscreteness->count()
                                                  ? Conv::decimals(p.Config) : -1);
    ui->comboBox_PWMOptions->setCurrentIndex(p.PWMOptions < ui->comboBox_PWMOptions->count() ? p.PWMOptions : -1);

    showScaled(ui->doubleSpinBox_Limit1, "limit1", p.Config, Conv::limitShown(p.Limit1, p.Scale));
    showScaled(ui->doubleSpinBox_Limit2, "limit2", p.Config, Conv::limitShown(p.Limit2, p.Scale));
    showScaled(ui->doubleSpinBox_ValueMax, "range_max", p.Config, Conv::fromScaled(p.ValueMax, p.Scale));
    showScaled(ui->doubleSpinBox_HisterezisLimit, "hysteresis", p.Config, Conv::fromScaled(p.HisterezisLimit, p.Scale));
    showScaled(ui->doubleSpinBox_DeadZone, "dead_zone", p.Config, Conv::fromScaled(p.DeadZone, p.Scale));
    showScaled(ui->doubleSpinBox_DeadZone_2, "dead_zone2", p.Config, Conv::fromScaled(p.DeadZone2, p.Scale));

    setRangeOf(ui->doubleSpinBox_TimeLimit, "trip_delay", p.Config);
    setRangeOf(ui->doubleSpinBox_TimeLimitRST, "reset_delay", p.Config);
    ui->doubleSpinBox_TimeLimit->setValue(Conv::delaySeconds(p.TimeLimit));
    ui->doubleSpinBox_TimeLimitRST->setValue(Conv::delaySeconds(p.TimeLimitRST));

    setRangeOf(ui->doubleSpinBox_PowerSens, "sensor_current", p.Config);
    setRangeOf(ui->doubleSpinBox_NetAdress, "net_address", p.Config);
    ui->doubleSpinBox_PowerSens->setValue(p.PowerSens);
    ui->doubleSpinBox_NetAdress->setValue(p.NetAddress);
}

void DeviceSetting_2_Window::showDirection(QCheckBox *box)
{
    box->setText(box->isChecked() ? tr("Возр.") : tr("Убыв."));
}

QString DeviceSetting_2_Window::valueLabel(const QString &name)
{
    static const struct { const char *name; const char *text; } labels[] = {
        {"range_min", QT_TR_NOOP("Мин. значение концентрации")},
        {"range_max", QT_TR_NOOP("Верхнее зн-е диапазона")},
        {"limit1", QT_TR_NOOP("Порог 1")},
        {"limit2", QT_TR_NOOP("Порог 2")},
        {"hysteresis", QT_TR_NOOP("Гистерезис")},
        {"dead_zone", QT_TR_NOOP("Мертв. зона")},
        {"dead_zone2", QT_TR_NOOP("Мертв. зона 2")},
        {"conc_calib", QT_TR_NOOP("Калибровочная концентрация")},
    };
    for (const auto &l : labels)
        if (name == QLatin1String(l.name))
            return tr(l.text);
    return name;
}

void DeviceSetting_2_Window::on_doubleSpinBox_ValueMax_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ValueMax = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_Limit1_valueChanged(double value)
{
    if (refreshing)
        return;
    ParamBlock &p = command.DeviceParams;
    p.Limit1 = Conv::limitWithValue(p.Limit1, value, p.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_Limit2_valueChanged(double value)
{
    if (refreshing)
        return;
    ParamBlock &p = command.DeviceParams;
    p.Limit2 = Conv::limitWithValue(p.Limit2, value, p.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_HisterezisLimit_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.HisterezisLimit = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_comboBoxUnitMeas_activated(int index)
{
    command.DeviceParams.Config = Conv::withUnit(command.DeviceParams.Config, index);
    refresh();
}

void DeviceSetting_2_Window::on_comboBoxDiscreteness_activated(int index)
{
    // The values keep what they show; their stored values follow the new
    // decimals.  When one of them would no longer fit, nothing changes.
    QStringList tooLarge;
    if (!Conv::rescaleForDecimals(command.DeviceParams, index, &tooLarge)) {
        QStringList labels;
        for (const QString &name : tooLarge)
            labels << valueLabel(name);
        refresh();   // the combo goes back to the discreteness in force
        QMessageBox::warning(this, tr("Дискретность"),
                             tr("Дискретность не изменена: с ней не поместятся в регистр значения: %1")
                                 .arg(labels.join(QStringLiteral(", "))));
        return;
    }
    refresh();
}

void DeviceSetting_2_Window::on_comboBox_PWMOptions_activated(int index)
{
    command.DeviceParams.PWMOptions = quint16(index);
}

void DeviceSetting_2_Window::on_doubleSpinBox_PowerSens_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.PowerSens = Conv::rawFromDouble(value);
}

void DeviceSetting_2_Window::on_doubleSpinBox_SerialNum_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.SerialNum = Conv::serialFromDouble(value);
}

void DeviceSetting_2_Window::on_comboBox_NetSpeed_activated(int index)
{
    command.DeviceParams.NetSpeed = quint8(index);
}

void DeviceSetting_2_Window::on_doubleSpinBox_NetAdress_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.NetAddress = quint8(Conv::rawFromDouble(value));
}

void DeviceSetting_2_Window::on_doubleSpinBox_DeadZone_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.DeadZone = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_DeadZone_2_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.DeadZone2 = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_TimeLimit_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.TimeLimit = Conv::delayFromSeconds(value);
}

void DeviceSetting_2_Window::on_doubleSpinBox_TimeLimitRST_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.TimeLimitRST = Conv::delayFromSeconds(value);
}

void DeviceSetting_2_Window::on_checkBoxLim1IncDec_stateChanged(int state)
{
    showDirection(ui->checkBoxLim1IncDec);
    if (refreshing)
        return;
    ParamBlock &p = command.DeviceParams;
    p.Limit1 = Conv::limitWithDirection(p.Limit1, state == 0);
}

void DeviceSetting_2_Window::on_checkBoxLim2IncDec_stateChanged(int state)
{
    showDirection(ui->checkBoxLim2IncDec);
    if (refreshing)
        return;
    ParamBlock &p = command.DeviceParams;
    p.Limit2 = Conv::limitWithDirection(p.Limit2, state == 0);
}

void DeviceSetting_2_Window::on_checkBox_Limit_1_ACK_stateChanged(int state)
{
    if (refreshing)
        return;
    command.DeviceParams.Config = Conv::withBit(command.DeviceParams.Config, 9, state != 0);
}

void DeviceSetting_2_Window::on_checkBox_Limit_2_ACK_stateChanged(int state)
{
    if (refreshing)
        return;
    command.DeviceParams.Config = Conv::withBit(command.DeviceParams.Config, 10, state != 0);
}

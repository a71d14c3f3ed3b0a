// Device settings page: thresholds, hysteresis, dead zones, range, delays,
// unit, discreteness, output type, sensor current, address and serial
// number.  Every control edits its DeviceParams field at once; the main
// window's save command sends the block.
#include "devicesetting_2_window.h"
#include "ui_devicesetting_2_window.h"

#include "command.h"
#include "conversions.h"
#include "options.h"

#include <QDoubleSpinBox>

namespace {

// Decimals, maximum and unit suffix of a scaled control, then its value.
// The control may round or clamp its old value on the way; its slot then
// writes that back to the field, and the value shown is read from the field
// only after that.
template <class Shown>
void showScaled(QDoubleSpinBox *box, double maximum, quint16 config, Shown shown)
{
    box->setDecimals(Conv::decimals(config));
    box->setMaximum(maximum);
    box->setSuffix(QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(config)));
    box->setValue(shown());
}

} // namespace

DeviceSetting_2_Window::DeviceSetting_2_Window(QWidget *parent)
    : QDialog(parent), ui(new Ui::DeviceSetting_2_Window)
{
    ui->setupUi(this);

    if (command.UserName == QLatin1String("User") || command.UserName == QLatin1String("Admin"))
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
    ParamBlock &p = command.DeviceParams;

    if (command.DeviceType == 1) {
        ui->label_PowerSens->hide();
        ui->doubleSpinBox_PowerSens->hide();
    } else if (command.DeviceType == 2) {
        ui->label_PowerSens->show();
        ui->doubleSpinBox_PowerSens->show();
    }

    ui->doubleSpinBox_SerialNum->setValue(p.SerialNum);

    ui->checkBoxLim1IncDec->setChecked(!Conv::limitDecreasing(p.Limit1));
    ui->checkBoxLim2IncDec->setChecked(!Conv::limitDecreasing(p.Limit2));
    ui->checkBox_Limit_1_ACK->setChecked(Conv::autoReset1(p.Config));
    ui->checkBox_Limit_2_ACK->setChecked(Conv::autoReset2(p.Config));

    p.Scale = Conv::scaleFromConfig(p.Config);

    // Setting an index does not run the "activated" slots.
    ui->comboBoxUnitMeas->setCurrentIndex(Conv::unitIndex(p.Config));
    ui->comboBoxDiscreteness->setCurrentIndex(Conv::decimals(p.Config) < ui->comboBoxDiscreteness->count()
                                                  ? Conv::decimals(p.Config) : -1);
    ui->comboBox_PWMOptions->setCurrentIndex(p.PWMOptions < ui->comboBox_PWMOptions->count() ? p.PWMOptions : -1);

    const double scaledMax = Conv::maxScaled(p.Scale);
    showScaled(ui->doubleSpinBox_Limit1, Conv::maxLimit(p.Scale), p.Config, [&p] { return Conv::limitShown(p.Limit1, p.Scale); });
    showScaled(ui->doubleSpinBox_Limit2, Conv::maxLimit(p.Scale), p.Config, [&p] { return Conv::limitShown(p.Limit2, p.Scale); });
    showScaled(ui->doubleSpinBox_ValueMax, scaledMax, p.Config, [&p] { return Conv::fromScaled(p.ValueMax, p.Scale); });
    showScaled(ui->doubleSpinBox_HisterezisLimit, scaledMax, p.Config,
               [&p] { return Conv::fromScaled(p.HisterezisLimit, p.Scale); });
    showScaled(ui->doubleSpinBox_DeadZone, scaledMax, p.Config, [&p] { return Conv::fromScaled(p.DeadZone, p.Scale); });
    showScaled(ui->doubleSpinBox_DeadZone_2, scaledMax, p.Config, [&p] { return Conv::fromScaled(p.DeadZone2, p.Scale); });

    ui->doubleSpinBox_TimeLimit->setValue(Conv::delaySeconds(p.TimeLimit));
    ui->doubleSpinBox_TimeLimitRST->setValue(Conv::delaySeconds(p.TimeLimitRST));

    ui->doubleSpinBox_PowerSens->setValue(p.PowerSens);
    ui->doubleSpinBox_NetAdress->setValue(p.NetAddress);
}

void DeviceSetting_2_Window::on_doubleSpinBox_ValueMax_valueChanged(double value)
{
    command.DeviceParams.ValueMax = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_Limit1_valueChanged(double value)
{
    ParamBlock &p = command.DeviceParams;
    p.Limit1 = Conv::limitWithValue(p.Limit1, value, p.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_Limit2_valueChanged(double value)
{
    ParamBlock &p = command.DeviceParams;
    p.Limit2 = Conv::limitWithValue(p.Limit2, value, p.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_HisterezisLimit_valueChanged(double value)
{
    command.DeviceParams.HisterezisLimit = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_comboBoxUnitMeas_activated(int index)
{
    command.DeviceParams.Config = Conv::withUnit(command.DeviceParams.Config, index);
    refresh();
}

void DeviceSetting_2_Window::on_comboBoxDiscreteness_activated(int index)
{
    command.DeviceParams.Config = Conv::withDecimals(command.DeviceParams.Config, index);
    refresh();
}

void DeviceSetting_2_Window::on_comboBox_PWMOptions_activated(int index)
{
    command.DeviceParams.PWMOptions = quint16(index);
}

void DeviceSetting_2_Window::on_doubleSpinBox_PowerSens_valueChanged(double value)
{
    command.DeviceParams.PowerSens = Conv::rawFromDouble(value);
}

void DeviceSetting_2_Window::on_doubleSpinBox_SerialNum_valueChanged(double value)
{
    command.DeviceParams.SerialNum = Conv::serialFromDouble(value);
}

void DeviceSetting_2_Window::on_comboBox_NetSpeed_activated(int index)
{
    command.DeviceParams.NetSpeed = quint8(index);
}

void DeviceSetting_2_Window::on_doubleSpinBox_NetAdress_valueChanged(double value)
{
    command.DeviceParams.NetAddress = quint8(Conv::rawFromDouble(value));
}

void DeviceSetting_2_Window::on_doubleSpinBox_DeadZone_valueChanged(double value)
{
    command.DeviceParams.DeadZone = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_DeadZone_2_valueChanged(double value)
{
    command.DeviceParams.DeadZone2 = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_2_Window::on_doubleSpinBox_TimeLimit_valueChanged(double value)
{
    command.DeviceParams.TimeLimit = Conv::delayFromSeconds(value);
}

void DeviceSetting_2_Window::on_doubleSpinBox_TimeLimitRST_valueChanged(double value)
{
    command.DeviceParams.TimeLimitRST = Conv::delayFromSeconds(value);
}

void DeviceSetting_2_Window::on_checkBoxLim1IncDec_stateChanged(int state)
{
    ParamBlock &p = command.DeviceParams;
    p.Limit1 = Conv::limitWithDirection(p.Limit1, state == 0);
    ui->checkBoxLim1IncDec->setText(state != 0 ? tr("Возр.") : tr("Убыв."));
}

void DeviceSetting_2_Window::on_checkBoxLim2IncDec_stateChanged(int state)
{
    ParamBlock &p = command.DeviceParams;
    p.Limit2 = Conv::limitWithDirection(p.Limit2, state == 0);
    ui->checkBoxLim2IncDec->setText(state != 0 ? tr("Возр.") : tr("Убыв."));
}

void DeviceSetting_2_Window::on_checkBox_Limit_1_ACK_stateChanged(int state)
{
    command.DeviceParams.Config = Conv::withBit(command.DeviceParams.Config, 9, state != 0);
}

void DeviceSetting_2_Window::on_checkBox_Limit_2_ACK_stateChanged(int state)
{
    command.DeviceParams.Config = Conv::withBit(command.DeviceParams.Config, 10, state != 0);
}

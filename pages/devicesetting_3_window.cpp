// Calibration-parameters page: the stored calibration constants, edited in
// DeviceParams and sent by the main window's save command.
#include "devicesetting_3_window.h"
#include "ui_devicesetting_3_window.h"

#include "command.h"
#include "conversions.h"
#include "options.h"

DeviceSetting_3_Window::DeviceSetting_3_Window(QWidget *parent)
    : QDialog(parent), ui(new Ui::DeviceSetting_3_Window)
{
    ui->setupUi(this);
    refresh();
}

DeviceSetting_3_Window::~DeviceSetting_3_Window()
{
    delete ui;
}

void DeviceSetting_3_Window::refresh()
{
    ParamBlock &p = command.DeviceParams;
    p.Scale = Conv::scaleFromConfig(p.Config);

    ui->doubleSpinBox_ADCCode4m->setValue(p.ADCCode4m);
    ui->doubleSpinBox_ADCCod20m->setValue(p.ADCCode20m);
    ui->doubleSpinBox_ADCCodeCalib->setValue(p.ADCCodeCalib);
    ui->doubleSpinBox_PWMCode4m->setValue(p.PWMCode4m);
    ui->doubleSpinBox_PWMCode20m->setValue(p.PWMCode20m);

    // Decimals, maximum, suffix, then value: a value the control has to
    // round or clamp is written back through its slot.
    const QString suffix = QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(p.Config));
    const struct { QDoubleSpinBox *box; const quint16 *field; } scaled[] = {
        {ui->doubleSpinBox_ValueMin, &p.ValueMin},
        {ui->doubleSpinBox_ValueMax, &p.ValueMax},
        {ui->doubleSpinBox_ConcCalib, &p.ConcCalib},
    };
    for (const auto &s : scaled) {
        s.box->setDecimals(Conv::decimals(p.Config));
        s.box->setMaximum(Conv::maxScaled(p.Scale));
        s.box->setSuffix(suffix);
        s.box->setValue(Conv::fromScaled(*s.field, p.Scale));
    }
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCode4m_valueChanged(double value)
{
    command.DeviceParams.ADCCode4m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCod20m_valueChanged(double value)
{
    command.DeviceParams.ADCCode20m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCodeCalib_valueChanged(double value)
{
    command.DeviceParams.ADCCodeCalib = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_PWMCode4m_valueChanged(double value)
{
    command.DeviceParams.PWMCode4m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_PWMCode20m_valueChanged(double value)
{
    command.DeviceParams.PWMCode20m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ValueMin_valueChanged(double value)
{
    command.DeviceParams.ValueMin = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ValueMax_valueChanged(double value)
{
    command.DeviceParams.ValueMax = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ConcCalib_valueChanged(double value)
{
    command.DeviceParams.ConcCalib = Conv::toScaled(value, command.DeviceParams.Scale);
}

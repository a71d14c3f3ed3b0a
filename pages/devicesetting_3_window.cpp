// Calibration-parameters page: the stored calibration constants, edited in
// DeviceParams and sent by the main window's save command.
#include "devicesetting_3_window.h"
#include "ui_devicesetting_3_window.h"

#include "programlink.h"
#include "conversions.h"
#include "options.h"
#include "paramrange.h"
#include "paramtable.h"

#include <QScopedValueRollback>

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
    // The controls show what they can; nothing they clamp or round goes
    // back into the block (only a user's edit of a control writes its field).
    const QScopedValueRollback<bool> guard(refreshing, true);
    ParamBlock &p = command.DeviceParams;
    p.Scale = Conv::scaleFromConfig(p.Config);

    const struct { QDoubleSpinBox *box; const char *name; quint16 value; } raw[] = {
        {ui->doubleSpinBox_ADCCode4m, "adc_4ma", p.ADCCode4m},
        {ui->doubleSpinBox_ADCCod20m, "adc_20ma", p.ADCCode20m},
        {ui->doubleSpinBox_ADCCodeCalib, "adc_calib", p.ADCCodeCalib},
        {ui->doubleSpinBox_PWMCode4m, "pwm_4ma", p.PWMCode4m},
        {ui->doubleSpinBox_PWMCode20m, "pwm_20ma", p.PWMCode20m},
    };
    for (const auto &r : raw) {
        setRangeOf(r.box, r.name, p.Config);
        r.box->setValue(r.value);
    }

    const QString suffix = QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(p.Config));
    const struct { QDoubleSpinBox *box; const char *name; quint16 value; } scaled[] = {
        {ui->doubleSpinBox_ValueMin, "range_min", p.ValueMin},
        {ui->doubleSpinBox_ValueMax, "range_max", p.ValueMax},
        {ui->doubleSpinBox_ConcCalib, "conc_calib", p.ConcCalib},
    };
    for (const auto &s : scaled) {
        s.box->setDecimals(Conv::decimals(p.Config));
        setRangeOf(s.box, s.name, p.Config);
        s.box->setSuffix(suffix);
        s.box->setValue(Conv::fromScaled(s.value, p.Scale));
    }
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCode4m_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ADCCode4m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCod20m_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ADCCode20m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ADCCodeCalib_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ADCCodeCalib = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_PWMCode4m_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.PWMCode4m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_PWMCode20m_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.PWMCode20m = Conv::rawFromDouble(value);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ValueMin_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ValueMin = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ValueMax_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ValueMax = Conv::toScaled(value, command.DeviceParams.Scale);
}

void DeviceSetting_3_Window::on_doubleSpinBox_ConcCalib_valueChanged(double value)
{
    if (refreshing)
        return;
    command.DeviceParams.ConcCalib = Conv::toScaled(value, command.DeviceParams.Scale);
}

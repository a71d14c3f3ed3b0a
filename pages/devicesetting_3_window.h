// Calibration-parameters page (below the tabs, production level only).
#pragma once

#include <QDialog>

namespace Ui { class DeviceSetting_3_Window; }

class DeviceSetting_3_Window : public QDialog
{
    Q_OBJECT
public:
    explicit DeviceSetting_3_Window(QWidget *parent = nullptr);
    ~DeviceSetting_3_Window() override;

    // Sets every control from command.DeviceParams; sends nothing and
    // changes no value of the block (it only stores the Scale it derives).
    void refresh();

private slots:
    void on_doubleSpinBox_ADCCode4m_valueChanged(double value);
    void on_doubleSpinBox_ADCCod20m_valueChanged(double value);
    void on_doubleSpinBox_ADCCodeCalib_valueChanged(double value);
    void on_doubleSpinBox_PWMCode4m_valueChanged(double value);
    void on_doubleSpinBox_PWMCode20m_valueChanged(double value);
    void on_doubleSpinBox_ValueMin_valueChanged(double value);
    void on_doubleSpinBox_ValueMax_valueChanged(double value);
    void on_doubleSpinBox_ConcCalib_valueChanged(double value);

private:
    Ui::DeviceSetting_3_Window *ui;
    bool refreshing = false;   // the controls' slots then write nothing
};

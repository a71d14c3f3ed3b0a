// Device settings page ("Конфигурация" tab).
#pragma once

#include <QDialog>

class QCheckBox;

namespace Ui { class DeviceSetting_2_Window; }

class DeviceSetting_2_Window : public QDialog
{
    Q_OBJECT
public:
    explicit DeviceSetting_2_Window(QWidget *parent = nullptr);
    ~DeviceSetting_2_Window() override;

    // Sets every control from command.DeviceParams; sends nothing and
    // changes no value of the block (it only stores the Scale it derives).
    void refresh();

private slots:
    void on_doubleSpinBox_ValueMax_valueChanged(double value);
    void on_doubleSpinBox_Limit1_valueChanged(double value);
    void on_doubleSpinBox_Limit2_valueChanged(double value);
    void on_doubleSpinBox_HisterezisLimit_valueChanged(double value);
    void on_comboBoxUnitMeas_activated(int index);
    void on_comboBoxDiscreteness_activated(int index);
    void on_comboBox_PWMOptions_activated(int index);
    void on_doubleSpinBox_PowerSens_valueChanged(double value);
    void on_doubleSpinBox_SerialNum_valueChanged(double value);
    void on_comboBox_NetSpeed_activated(int index);
    void on_doubleSpinBox_NetAdress_valueChanged(double value);
    void on_doubleSpinBox_DeadZone_valueChanged(double value);
    void on_doubleSpinBox_DeadZone_2_valueChanged(double value);
    void on_doubleSpinBox_TimeLimit_valueChanged(double value);
    void on_doubleSpinBox_TimeLimitRST_valueChanged(double value);
    void on_checkBoxLim1IncDec_stateChanged(int state);
    void on_checkBoxLim2IncDec_stateChanged(int state);
    void on_checkBox_Limit_1_ACK_stateChanged(int state);
    void on_checkBox_Limit_2_ACK_stateChanged(int state);

private:
    // "Возр." / "Убыв." after the direction box's state.
    void showDirection(QCheckBox *box);
    // What this page calls a value of Conv::rescaleForDecimals's list.
    static QString valueLabel(const QString &name);

    Ui::DeviceSetting_2_Window *ui;
    bool refreshing = false;   // the controls' slots then write nothing
};

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

    // Sets every control from command.DeviceParams; sends nothing.
    void refresh();

private:
    Ui::DeviceSetting_3_Window *ui;
};

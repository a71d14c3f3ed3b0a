// Calibration page ("Калибровка" tab).
#pragma once

#include <QDialog>

namespace Ui { class Calibration; }

class Calibration : public QDialog
{
    Q_OBJECT
public:
    explicit Calibration(QWidget *parent = nullptr);
    ~Calibration() override;

    // Re-initialises the page from command.DeviceParams.
    void updateFromParameters();
    // Live refresh, called by the main window on every calibration-timer timeout.
    void timerTick();
    // Measures, computes and writes the calibration of the current tab.
    void applyCalibration();
    // Ends a running current-output test: switches the concentration
    // simulation off in the block and on the device.  Called by the main
    // window before the pages are rebuilt and when the program closes.
    // Does nothing when no test has switched the simulation on.
    void stopOutputTest();

private:
    Ui::Calibration *ui;
};

// Measurement and identification page (first tab).
#pragma once

#include <QDialog>

namespace Ui { class MeasureWindow; }

class MeasureWindow : public QDialog
{
    Q_OBJECT
public:
    explicit MeasureWindow(QWidget *parent = nullptr);
    ~MeasureWindow() override;

    // Repaints the page from command.DeviceParams; sends nothing and changes
    // no value of the block (it only stores the Scale it derives).
    void refresh();

private slots:
    void on_checkBox_ImmitConc_stateChanged(int state);
    void on_doubleSpinBox_ImmitConc_valueChanged(double value);

private:
    void showSimulationText(double value);

    Ui::MeasureWindow *ui;
    bool refreshing = false;   // the controls' slots then write nothing
};

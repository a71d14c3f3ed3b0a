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

    // Repaints the page from command.DeviceParams; sends nothing.
    void refresh();

private slots:
    void on_checkBox_ImmitConc_stateChanged(int state);
    void on_doubleSpinBox_ImmitConc_valueChanged(double value);

private:
    Ui::MeasureWindow *ui;
};

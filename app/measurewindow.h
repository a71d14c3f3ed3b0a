// Measurement and identification page (first tab).
#pragma once

#include <QDateTime>
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
    // The live values shown are old: reading them failed.  They are greyed,
    // with "нет связи" and the time of the last good read (when there was
    // one) beside them, until the next refresh.
    void showLiveStale(const QDateTime &lastGood);

private slots:
    void on_checkBox_ImmitConc_stateChanged(int state);
    void on_doubleSpinBox_ImmitConc_valueChanged(double value);

private:
    void showSimulationText(double value);
    void setLiveGreyed(bool greyed);

    Ui::MeasureWindow *ui;
    bool refreshing = false;   // the controls' slots then write nothing
};

// Calibration page ("Калибровка" tab).
#pragma once

#include "calibrationmath.h"
#include "deviceparams.h"

#include <QDateTime>
#include <QDialog>
#include <QString>

class CalibrationClock;
class GuidedSession;
class QDoubleSpinBox;
class QRadioButton;

namespace Ui { class Calibration; }

// One calibration step as the page ran it, for whoever keeps a record of
// them (the main window writes it into the calibration journal).
struct CalibrationStep {
    enum class Kind { GasZero, GasSpan, Input4mA, Input20mA, Output4mA, Output20mA };
    Kind kind = Kind::GasZero;
    QString value;          // the test gas or current used, with its unit
    ParamBlock before{};    // the block before the step
    ParamBlock after{};     // the block after it (as before when nothing was computed)
    bool written = false;   // the device took the new codes
    QString reason;         // why not, as the page said it; empty when written
    // The step's journal record and the group it belongs to (a guided
    // session's, or the step's own with its started record).
    QString uuid;
    QString group;
};

class Calibration : public QDialog
{
    Q_OBJECT
public:
    // `clock` is the calibration timer (the main window's in the program);
    // it must outlive the page, and its owner calls timerTick on every
    // timeout.
    explicit Calibration(CalibrationClock &clock, QWidget *parent = nullptr);
    ~Calibration() override;

    // Re-initialises the page from command.DeviceParams.
    void updateFromParameters();
    // Live refresh, called by the main window on every calibration-timer timeout.
    void timerTick();
    // Measures, computes and writes the calibration of the current tab.
    void applyCalibration();
    // The guided calibration session and the function check (one tab,
    // "По шагам", either of them chosen on it).
    GuidedSession *calibrationSession() const { return sessionTab; }
    GuidedSession *functionCheck() const { return checkTab; }
    // Ends a running current-output test: switches the concentration
    // simulation off in the block and on the device.  Called by the main
    // window before the pages are rebuilt and when the program closes.
    // Does nothing when no test has switched the simulation on.
    void stopOutputTest();
    // Ends whatever procedure runs: a gas calibration waiting for its
    // confirmation is cancelled as "Отменить" does, and a running output
    // test is ended (stopOutputTest).  The main window calls it when its
    // calibration tab is left, before it reads the device.
    void endProcedures();

    // Whether the calibration timer runs.
    bool calibrationTimerRunning() const;
    // True while the device may be simulating a concentration because the
    // output test switched it on and no switch-off has gone through yet.
    bool outputTestOn() const { return simulationOn; }
    // Program exit: a running output test is switched off on the device
    // once, quietly; the page makes no further try, whatever the outcome.
    // Returns whether the device confirmed the switch-off (true when no
    // test ran).
    bool switchOffBeforeQuit();

signals:
    // The live values (input registers 0-9) came in and are in
    // command.DeviceParams.
    void liveValuesRead();
    // Every calibration that was asked for (the gas confirmation, "Ok" on a
    // current tab), after the device work and its messages: written, or
    // refused or failed with the reason.
    void stepCompleted(const CalibrationStep &step);
    // Just before a step's write goes to the device (the same step as it
    // will be written, its own uuid): for a "started" record.
    void stepStarting(const CalibrationStep &step);
    // The calibration codes were read back from the device after a step.
    void codesRefreshed();
    // A short confirmation for the status bar ("Калибровка выполнена").
    void stepConfirmed(const QString &text);

private slots:
    void on_comboBox_CalibSens_activated(int index);
    void on_Buttoncalibrate_clicked();
    void on_pushButton_CancelCalibrate_clicked();
    void on_tabWidget_currentChanged(int index);
    void on_comboBox_CalibIn_activated(int index);
    void on_doubleSpinBox_CalibIn_valueChanged(double value);
    void on_pushButton_CalibIn_Ok_clicked();
    void on_comboBox_CalibOut_activated(int index);
    void on_doubleSpinBox_CalibOut_valueChanged(double value);
    void on_pushButton_CalibOut_Ok_clicked();

private:
    void startCalibrationTimer();
    void stopCalibrationTimer();
    void resetCaption();
    void showConcentration(QDoubleSpinBox *box, quint16 raw);
    // Warning that a calibration cannot be computed, and why; returns the
    // text shown.
    QString refuse(CalibrationMath::Refusal why);
    // The gas procedure waits for "Подтвердить калибровку".
    bool gasProcedureWaiting() const;
    void cancelGasProcedure();
    // Writes ImmitConcOn and ImmitConc (two registers from 0x1019); returns
    // whether the device took them.
    bool writeSimulation(bool reportFailure);
    // The calibration of `tab` (the gas zero or span with `gasShown`, the
    // current points from their tabs), its records in `group` (empty: a
    // group of its own).
    CalibrationStep runCalibration(int tab, bool zero, quint16 gasShown, const QString &group);
    void sessionReadingWanted(bool on);
    void sessionAdjust(bool zero, double gas, const QString &group);

    Ui::Calibration *ui;
    CalibrationClock &clock;
    CalibrationMath::Point inLow{0, 4.0}, inHigh{0, 20.0};
    CalibrationMath::Point outLow{0, 4.0}, outHigh{0, 20.0};
    int shownTab = 0;           // the page's tab before the last change
    bool simulationOn = false;
    bool ticking = false;       // a tick is running (its error box may be open)
    GuidedSession *sessionTab = nullptr;
    GuidedSession *checkTab = nullptr;
    QRadioButton *sessionChoice = nullptr;
    QRadioButton *checkChoice = nullptr;
};

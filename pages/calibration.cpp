// Calibration page: gas zero and span, current input at 4 and 20 mA, current
// output at 4 and 20 mA with a free test current.  Unlike the other pages it
// talks to the device itself: it reads the live values while a procedure
// runs, computes the new codes into DeviceParams and writes the holding
// block back.
#include "calibration.h"
#include "ui_calibration.h"

#include "command.h"
#include "conversions.h"
#include "mainwindow.h"
#include "options.h"

#include <QMessageBox>

namespace {
constexpr int CalibrationInterval = 500;   // ms between live refreshes
constexpr quint16 SimulationRegister = 0x1019; // ImmitConcOn, then ImmitConc
constexpr int TabGas = 0;
constexpr int TabInput = 1;
constexpr int TabOutput = 2;
} // namespace

Calibration::Calibration(QWidget *parent)
    : QDialog(parent), ui(new Ui::Calibration)
{
    ui->setupUi(this);
    connect(&ownTimer, &QTimer::timeout, this, &Calibration::timerTick);
    updateFromParameters();
}

Calibration::~Calibration()
{
    ownTimer.stop();
    // The main window switches the simulation off before it drops the page;
    // should that have failed, try once more, quietly: the page is going.
    if (simulationOn) {
        command.DeviceParams.ImmitConcOn = 0;
        command.transact(16, 0, SimulationRegister, 2);
    }
    delete ui;
}

// ------------------------------------------------------------ timer access

bool Calibration::calibrationTimerRunning() const
{
    return theMainWindow ? theMainWindow->calibrationTimerActive() : ownTimer.isActive();
}

void Calibration::startCalibrationTimer()
{
    if (theMainWindow)
        theMainWindow->startCalibrationTimer(CalibrationInterval);
    else
        ownTimer.start(CalibrationInterval);
}

void Calibration::stopCalibrationTimer()
{
    if (theMainWindow)
        theMainWindow->stopCalibrationTimer();
    else
        ownTimer.stop();
}

// ------------------------------------------------------------ refresh

void Calibration::showConcentration(QDoubleSpinBox *box, quint16 raw)
{
    const ParamBlock &p = command.DeviceParams;
    box->setDecimals(Conv::decimals(p.Config));
    box->setMaximum(Conv::maxScaled(p.Scale));
    box->setSuffix(QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(p.Config)));
    box->setValue(Conv::fromScaled(raw, p.Scale));
}

void Calibration::updateFromParameters()
{
    ParamBlock &p = command.DeviceParams;

    if (command.DeviceType == 1)
        ui->tabWidget->setTabEnabled(TabInput, true);
    else if (command.DeviceType == 2)
        ui->tabWidget->setTabEnabled(TabInput, false);
    // Leaving the output tab here ends a running output test.
    ui->tabWidget->setCurrentIndex(TabGas);

    inLow = {p.ADCCode4m, 4.0};
    inHigh = {p.ADCCode20m, 20.0};
    ui->comboBox_CalibIn->setCurrentIndex(0);
    ui->doubleSpinBox_CalibIn->setValue(4.0);

    outLow = {p.PWMCode4m, 4.0};
    outHigh = {p.PWMCode20m, 20.0};
    ui->comboBox_CalibOut->setCurrentIndex(0);
    on_comboBox_CalibOut_activated(0);

    ui->labelStatusInfo->setText(QStringLiteral(" "));

    p.Scale = Conv::scaleFromConfig(p.Config);
    showConcentration(ui->doubleSpinBox_CalibConc, p.ConcCalib);
    showConcentration(ui->doubleSpinBox_CurrentConc, p.ConcVal);
}

// ------------------------------------------------------------ timer tick

void Calibration::timerTick()
{
    // A tick whose error box is still open lets the ticks that fall due
    // meanwhile pass; the next one after it tries again.
    if (ticking)
        return;
    ticking = true;
    ParamBlock &p = command.DeviceParams;

    if (ui->tabWidget->currentIndex() == TabGas) {
        if (!calibrationTimerRunning()) {
            resetCaption();
        } else if (command.transact(4, 0, 0, 10) != ResultOk) {
            exchangeError();
            ticking = false;
            return;
        } else {
            showConcentration(ui->doubleSpinBox_CurrentConc, p.ConcVal);
        }
    }

    if (ui->tabWidget->currentIndex() == TabOutput) {
        if (!calibrationTimerRunning()) {
            p.ImmitConcOn = 0;
        } else {
            p.ImmitConcOn = 1;
            simulationOn = true;
            switch (ui->comboBox_CalibOut->currentIndex()) {
            case 0:
                p.ImmitConc = p.ADCCode4m;
                break;
            case 1:
                p.ImmitConc = p.ADCCode20m;
                break;
            default:
                // 1/16 of the code span per mA above 4 mA.
                p.ImmitConc = Conv::rawFromDouble(
                    p.ADCCode4m + (double(p.ADCCode20m) - double(p.ADCCode4m)) * 0.0625 * (ui->doubleSpinBox_CalibOut->value() - 4.0));
                break;
            }
        }
        writeSimulation(true);
    }
    ticking = false;
}

bool Calibration::writeSimulation(bool reportFailure)
{
    const bool ok = command.transact(16, 0, SimulationRegister, 2) == ResultOk;
    if (ok && command.DeviceParams.ImmitConcOn == 0)
        simulationOn = false;
    if (!ok && reportFailure)
        exchangeError();
    return ok;
}

void Calibration::stopOutputTest()
{
    // The timer drives nothing but the output test while the output tab is up.
    if (ui->tabWidget->currentIndex() == TabOutput && calibrationTimerRunning())
        stopCalibrationTimer();
    if (!simulationOn)
        return;
    command.DeviceParams.ImmitConcOn = 0;
    // Once the main window has been closed (program exit) nobody could
    // answer a box: the switch-off is still sent, a failure goes unreported.
    writeSimulation(window()->isVisible());
}

// ------------------------------------------------------------ calibration

void Calibration::fitLine(const Point &low, const Point &high, quint16 *code4, quint16 *code20)
{
    if (high.current == low.current) {
        *code4 = low.code;
        *code20 = high.code;
        return;
    }
    const double slope = (double(high.code) - double(low.code)) / (high.current - low.current);
    *code4 = Conv::rawFromDouble(high.code - (high.current - 4.0) * slope);
    *code20 = Conv::rawFromDouble(high.code - slope * (high.current - 20.0));
}

bool Calibration::rangeUsable(quint16 concCalib, bool checkConcCalib)
{
    const ParamBlock &p = command.DeviceParams;
    QString problem;
    if (p.ValueMax == p.ValueMin)
        problem = tr("Калибровка невозможна: верхнее и нижнее значения диапазона совпадают");
    else if (checkConcCalib && concCalib == p.ValueMin)
        problem = tr("Калибровка невозможна: калибровочная концентрация равна нижнему значению диапазона");
    if (problem.isEmpty())
        return true;
    QMessageBox::warning(this, tr("Калибровка"), problem);
    return false;
}

void Calibration::applyCalibration()
{
    ParamBlock &p = command.DeviceParams;
    const int tab = ui->tabWidget->currentIndex();
    const bool zero = ui->comboBox_CalibSens->currentIndex() == 0;

    // A range the formulas cannot divide by: say so, compute and send nothing.
    if (tab == TabGas) {
        quint16 concCalib = zero ? p.ConcCalib : Conv::toScaled(ui->doubleSpinBox_CalibConc->value(), p.Scale);
        if (concCalib == 0)
            concCalib = p.ValueMax / 2;
        if (!rangeUsable(concCalib, true))
            return;
    } else if (tab == TabInput) {
        if (!rangeUsable(0, false))
            return;
    }

    if (command.transact(4, 0, 0, 10) != ResultOk) {
        exchangeError();
        return;
    }

    if (tab == TabGas) {
        if (zero) {
            p.ADCCode4m = p.CurrentADC;
        } else {
            p.ADCCodeCalib = p.CurrentADC;
            p.ConcCalib = Conv::toScaled(ui->doubleSpinBox_CalibConc->value(), p.Scale);
        }
        if (p.ConcCalib == 0)
            p.ConcCalib = p.ValueMax / 2;
        // The line through (ValueMin, ADCCode4m) and (ConcCalib, ADCCodeCalib),
        // taken at ValueMax; single precision as on the device.
        const float k = float(int(p.ValueMax) - int(p.ValueMin)) / float(int(p.ConcCalib) - int(p.ValueMin));
        const float code20 = float(p.ADCCode4m) + k * float(int(p.ADCCodeCalib) - int(p.ADCCode4m));
        p.ADCCode20m = Conv::rawFromDouble(code20);
    } else if (tab == TabInput) {
        if (p.ConcCalib == 0)
            p.ConcCalib = p.ValueMax / 2;
        const float ratio = float(int(p.ConcCalib) - int(p.ValueMin)) / float(int(p.ValueMax) - int(p.ValueMin));
        // The current shown on this tab, not the one last typed on the other.
        const Point measured{p.CurrentADC, ui->doubleSpinBox_CalibIn->value()};
        if (ui->comboBox_CalibIn->currentIndex() == 0) {
            inLow = measured;
            if (inLow.code > inHigh.code)
                inHigh.code = inLow.code;
        } else {
            inHigh = measured;
            if (inHigh.code < inLow.code)
                inLow.code = inHigh.code;
        }
        fitLine(inLow, inHigh, &p.ADCCode4m, &p.ADCCode20m);
        const float calib = float(p.ADCCode4m) + float(int(p.ADCCode20m) - int(p.ADCCode4m)) * ratio;
        p.ADCCodeCalib = Conv::rawFromDouble(calib);
    } else if (tab == TabOutput) {
        const Point measured{p.PWMCode, ui->doubleSpinBox_CalibOut->value()};
        if (ui->comboBox_CalibOut->currentIndex() == 0) {
            outLow = measured;
            if (outLow.code > outHigh.code)
                outHigh.code = outLow.code;
        } else {
            outHigh = measured;
            if (outHigh.code < outLow.code)
                outLow.code = outHigh.code;
        }
        fitLine(outLow, outHigh, &p.PWMCode4m, &p.PWMCode20m);
    }

    if (command.transact(16, 0, 0x1000, command.WriteCount) != ResultOk)
        exchangeError();
}

void Calibration::exchangeError()
{
    QMessageBox::warning(this, tr("Ошибка"), tr("Ошибка обмена данными"));
}

// ------------------------------------------------------------ gas tab

void Calibration::resetCaption()
{
    on_comboBox_CalibSens_activated(ui->comboBox_CalibSens->currentIndex());
}

void Calibration::on_comboBox_CalibSens_activated(int index)
{
    ui->Buttoncalibrate->setText(index == 0 ? tr("Калибровать ноль") : tr("Калибровать диапазон"));
}

void Calibration::on_Buttoncalibrate_clicked()
{
    if (ui->Buttoncalibrate->text() == tr("Подтвердить калибровку")) {
        stopCalibrationTimer();
        applyCalibration();
        resetCaption();
        timerTick();
        return;
    }
    ui->labelStatusInfo->setText(ui->comboBox_CalibSens->currentIndex() == 0 ? tr("Подайте нулевой газ")
                                                                              : tr("Подайте калибровочный газ"));
    ui->Buttoncalibrate->setText(tr("Подтвердить калибровку"));
    startCalibrationTimer();
}

void Calibration::on_pushButton_CancelCalibrate_clicked()
{
    ui->labelStatusInfo->setText(QStringLiteral(" "));
    resetCaption();
    stopCalibrationTimer();
}

void Calibration::on_tabWidget_currentChanged(int index)
{
    if (index == TabOutput) {
        startCalibrationTimer();
        return;
    }
    if (calibrationTimerRunning()) {
        stopCalibrationTimer();
        timerTick();
    }
    // The detector is never left simulating a concentration.
    stopOutputTest();
}

// ------------------------------------------------------------ current tabs

void Calibration::on_comboBox_CalibIn_activated(int index)
{
    ui->doubleSpinBox_CalibIn->setValue(index == 0 ? inLow.current : inHigh.current);
}

void Calibration::on_doubleSpinBox_CalibIn_valueChanged(double value)
{
    ui->pushButton_CalibIn_Ok->setEnabled(true);
}

void Calibration::on_pushButton_CalibIn_Ok_clicked()
{
    ui->pushButton_CalibIn_Ok->setEnabled(false);
    applyCalibration();
}

void Calibration::on_comboBox_CalibOut_activated(int index)
{
    if (index == 2) {
        // A test current is no calibration point: "Ok" stays off for it.
        ui->pushButton_CalibOut_Ok->setEnabled(false);
        ui->doubleSpinBox_CalibOut->setValue(outLow.current);
        ui->label_CalibOut->setText(tr("Введите тестовое значение\nвыходного тока в mA"));
    } else {
        ui->doubleSpinBox_CalibOut->setValue(index == 0 ? outLow.current : outHigh.current);
        ui->label_CalibOut->setText(tr("Введите текущее значение\nвыходного тока в mA"));
    }
}

void Calibration::on_doubleSpinBox_CalibOut_valueChanged(double value)
{
    ui->pushButton_CalibOut_Ok->setEnabled(ui->comboBox_CalibOut->currentIndex() != 2);
}

void Calibration::on_pushButton_CalibOut_Ok_clicked()
{
    ui->pushButton_CalibOut_Ok->setEnabled(false);
    applyCalibration();
}

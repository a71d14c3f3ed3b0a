// Calibration page: gas zero and span, current input at 4 and 20 mA, current
// output at 4 and 20 mA with a free test current.  Unlike the other pages it
// talks to the device itself: it reads the live values while a procedure
// runs, computes the new codes into DeviceParams and writes the holding
// block back.
#include "calibration.h"
#include "ui_calibration.h"

#include "calibrationclock.h"
#include "command.h"
#include "conversions.h"
#include "deviceops.h"
#include "errorbox.h"
#include "options.h"

#include <QMessageBox>
#include <cmath>

namespace {
constexpr int CalibrationInterval = 500;   // ms between live refreshes
constexpr int TabGas = 0;
constexpr int TabInput = 1;
constexpr int TabOutput = 2;

// The measured point replaces the low (4 mA) or the high (20 mA) point; the
// other one's code follows it where they would cross.
void takePoint(const Calibration::Point &measured, bool lowPoint, Calibration::Point &low, Calibration::Point &high)
{
    if (lowPoint) {
        low = measured;
        if (low.code > high.code)
            high.code = low.code;
    } else {
        high = measured;
        if (high.code < low.code)
            low.code = high.code;
    }
}
} // namespace

Calibration::Calibration(CalibrationClock &clock, QWidget *parent)
    : QDialog(parent), ui(new Ui::Calibration), clock(clock)
{
    ui->setupUi(this);
    updateFromParameters();
}

Calibration::~Calibration()
{
    // The main window switches the simulation off before it drops the page;
    // should that have failed, try once more, quietly: the page is going.
    if (simulationOn) {
        command.DeviceParams.ImmitConcOn = 0;
        DeviceOps::writeSimulation();
    }
    delete ui;
}

// ------------------------------------------------------------ timer access

bool Calibration::calibrationTimerRunning() const
{
    return clock.isActive();
}

void Calibration::startCalibrationTimer()
{
    clock.start(CalibrationInterval);
}

void Calibration::stopCalibrationTimer()
{
    clock.stop();
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

    if (command.DeviceType == Params::TypeDetector1)
        ui->tabWidget->setTabEnabled(TabInput, true);
    else if (command.DeviceType == Params::TypeDetector2)
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
        } else if (!DeviceOps::read(DeviceOps::ReadMode::LiveOnly).ok()) {
            showExchangeError(this);
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
    const bool ok = DeviceOps::writeSimulation() == ResultOk;
    if (ok && command.DeviceParams.ImmitConcOn == 0)
        simulationOn = false;
    if (!ok && reportFailure)
        showExchangeError(this);
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

namespace {

// A computed code, truncated, when it lies in 0..65535.
bool codeFrom(double value, quint16 *code)
{
    const double t = std::trunc(value);
    if (!(t >= 0.0 && t <= 65535.0))   // also refuses NaN
        return false;
    *code = quint16(t);
    return true;
}

} // namespace

bool Calibration::fitLine(const Point &low, const Point &high, quint16 *code4, quint16 *code20)
{
    if (high.current == low.current) {
        *code4 = low.code;
        *code20 = high.code;
        return true;
    }
    const double slope = (double(high.code) - double(low.code)) / (high.current - low.current);
    quint16 c4 = 0, c20 = 0;
    if (!codeFrom(high.code - (high.current - 4.0) * slope, &c4)
        || !codeFrom(high.code - slope * (high.current - 20.0), &c20))
        return false;
    *code4 = c4;
    *code20 = c20;
    return true;
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

void Calibration::codeOutOfRange()
{
    QMessageBox::warning(this, tr("Калибровка"),
                         tr("Калибровка невозможна: вычисленный код лежит вне диапазона 0-65535. Ничего не записано"));
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

    if (!DeviceOps::read(DeviceOps::ReadMode::LiveOnly).ok()) {
        showExchangeError(this);
        return;
    }

    // Everything is computed aside first: a code outside what its register
    // holds refuses the whole calibration, with the block and the page's
    // points as they were and nothing sent.
    if (tab == TabGas) {
        quint16 code4 = p.ADCCode4m, adcCalib = p.ADCCodeCalib, concCalib = p.ConcCalib, code20 = 0;
        if (zero) {
            code4 = p.CurrentADC;
        } else {
            adcCalib = p.CurrentADC;
            concCalib = Conv::toScaled(ui->doubleSpinBox_CalibConc->value(), p.Scale);
        }
        if (concCalib == 0)
            concCalib = p.ValueMax / 2;
        // The line through (ValueMin, code at 4 mA) and (ConcCalib, ADCCodeCalib),
        // taken at ValueMax; single precision as on the device.
        const float k = float(int(p.ValueMax) - int(p.ValueMin)) / float(int(concCalib) - int(p.ValueMin));
        const float line20 = float(code4) + k * float(int(adcCalib) - int(code4));
        if (!codeFrom(line20, &code20)) {
            codeOutOfRange();
            return;
        }
        p.ADCCode4m = code4;
        p.ADCCodeCalib = adcCalib;
        p.ConcCalib = concCalib;
        p.ADCCode20m = code20;
    } else if (tab == TabInput) {
        const quint16 concCalib = p.ConcCalib == 0 ? quint16(p.ValueMax / 2) : p.ConcCalib;
        const float ratio = float(int(concCalib) - int(p.ValueMin)) / float(int(p.ValueMax) - int(p.ValueMin));
        // The current shown on this tab, not the one last typed on the other.
        const Point measured{p.CurrentADC, ui->doubleSpinBox_CalibIn->value()};
        Point low = inLow, high = inHigh;
        takePoint(measured, ui->comboBox_CalibIn->currentIndex() == 0, low, high);
        quint16 code4 = 0, code20 = 0, adcCalib = 0;
        if (!fitLine(low, high, &code4, &code20)
            || !codeFrom(float(code4) + float(int(code20) - int(code4)) * ratio, &adcCalib)) {
            codeOutOfRange();
            return;
        }
        inLow = low;
        inHigh = high;
        p.ConcCalib = concCalib;
        p.ADCCode4m = code4;
        p.ADCCode20m = code20;
        p.ADCCodeCalib = adcCalib;
    } else if (tab == TabOutput) {
        const Point measured{p.PWMCode, ui->doubleSpinBox_CalibOut->value()};
        Point low = outLow, high = outHigh;
        takePoint(measured, ui->comboBox_CalibOut->currentIndex() == 0, low, high);
        quint16 code4 = 0, code20 = 0;
        if (!fitLine(low, high, &code4, &code20)) {
            codeOutOfRange();
            return;
        }
        outLow = low;
        outHigh = high;
        p.PWMCode4m = code4;
        p.PWMCode20m = code20;
    }

    if (DeviceOps::writeBlock() != ResultOk)
        showExchangeError(this);
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

bool Calibration::gasProcedureWaiting() const
{
    return ui->Buttoncalibrate->text() == tr("Подтвердить калибровку");
}

void Calibration::cancelGasProcedure()
{
    // As "Отменить": a confirmation must never apply a calibration whose gas
    // nobody has been watching since the tab was left.
    if (gasProcedureWaiting())
        on_pushButton_CancelCalibrate_clicked();
}

void Calibration::endProcedures()
{
    cancelGasProcedure();
    stopOutputTest();
}

void Calibration::on_tabWidget_currentChanged(int index)
{
    if (index != TabGas)
        cancelGasProcedure();
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

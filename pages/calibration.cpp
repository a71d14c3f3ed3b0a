// Calibration page: gas zero and span, current input at 4 and 20 mA, current
// output at 4 and 20 mA with a free test current.  Unlike the other pages it
// talks to the device itself: it reads the live values while a procedure
// runs, computes the new codes into DeviceParams and writes the holding
// block back.
#include "calibration.h"
#include "ui_calibration.h"

#include "calibrationclock.h"
#include "programlink.h"
#include "conversions.h"
#include "deviceops.h"
#include "errorbox.h"
#include "guidedsession.h"
#include "options.h"

#include <QBoxLayout>
#include <QMessageBox>
#include <QRadioButton>
#include <QStackedWidget>
#include <QUuid>

namespace {
constexpr int CalibrationInterval = 500;   // ms between live refreshes
constexpr int TabGas = 0;
constexpr int TabInput = 1;
constexpr int TabOutput = 2;
constexpr int TabGuided = 3;   // the guided calibration or the function check

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}
} // namespace

Calibration::Calibration(CalibrationClock &clock, QWidget *parent)
    : QDialog(parent), ui(new Ui::Calibration), clock(clock)
{
    ui->setupUi(this);
    // One tab for both guided procedures (the page is narrow), a choice
    // between them on top.
    auto *guided = new QWidget(this);
    guided->setObjectName(QStringLiteral("tab_Guided"));
    auto *layout = new QVBoxLayout(guided);
    layout->setContentsMargins(0, 4, 0, 0);
    auto *choice = new QHBoxLayout;
    choice->setContentsMargins(8, 0, 8, 0);
    sessionChoice = new QRadioButton(tr("Калибровка"), guided);
    sessionChoice->setObjectName(QStringLiteral("radioButton_Session"));
    checkChoice = new QRadioButton(tr("Проверка работоспособности"), guided);
    checkChoice->setObjectName(QStringLiteral("radioButton_Check"));
    choice->addWidget(sessionChoice);
    choice->addWidget(checkChoice);
    choice->addStretch();
    layout->addLayout(choice);
    auto *stack = new QStackedWidget(guided);
    sessionTab = new GuidedSession(GuidedSession::Mode::Calibration, stack);
    checkTab = new GuidedSession(GuidedSession::Mode::FunctionCheck, stack);
    stack->addWidget(sessionTab);
    stack->addWidget(checkTab);
    layout->addWidget(stack);
    sessionChoice->setChecked(true);
    connect(sessionChoice, &QRadioButton::toggled, this, [this, stack](bool calibration) {
        // The one left is not left running.
        (calibration ? checkTab : sessionTab)->cancel();
        stack->setCurrentWidget(calibration ? sessionTab : checkTab);
    });
    ui->tabWidget->addTab(guided, tr("По шагам"));
    for (GuidedSession *s : {sessionTab, checkTab})
        connect(s, &GuidedSession::readingWanted, this, &Calibration::sessionReadingWanted);
    connect(sessionTab, &GuidedSession::adjustRequested, this, &Calibration::sessionAdjust);
    updateFromParameters();
}

Calibration::~Calibration()
{
    // The main window switches the simulation off before it drops the page;
    // should that have failed, try once more, quietly: the page is going.
    if (simulationOn) {
        command.DeviceParams.ImmitConcOn = 0;
        DeviceOps::writeSimulation(command);
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

    if (ui->tabWidget->currentIndex() == TabGuided) {
        GuidedSession *session = sessionChoice->isChecked() ? sessionTab : checkTab;
        if (calibrationTimerRunning() && session->running()) {
            const DeviceOps::Outcome live = DeviceOps::read(command, DeviceOps::ReadMode::LiveOnly);
            if (!live.ok()) {
                showExchangeError(this, live.linkResult);
            } else {
                emit liveValuesRead();
                session->reading(Conv::fromScaled(p.ConcVal, p.Scale));
            }
        }
        ticking = false;
        return;
    }

    if (ui->tabWidget->currentIndex() == TabGas) {
        if (!calibrationTimerRunning()) {
            resetCaption();
        } else if (const DeviceOps::Outcome live = DeviceOps::read(command, DeviceOps::ReadMode::LiveOnly); !live.ok()) {
            showExchangeError(this, live.linkResult);
            ticking = false;
            return;
        } else {
            showConcentration(ui->doubleSpinBox_CurrentConc, p.ConcVal);
            emit liveValuesRead();
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
                p.ImmitConc = CalibrationMath::testCurrentCode(p.ADCCode4m, p.ADCCode20m,
                                                               ui->doubleSpinBox_CalibOut->value());
                break;
            }
        }
        writeSimulation(true);
    }
    ticking = false;
}

bool Calibration::writeSimulation(bool reportFailure)
{
    const DeviceOps::Outcome written = DeviceOps::writeSimulation(command);
    if (written.ok() && command.DeviceParams.ImmitConcOn == 0)
        simulationOn = false;
    if (!written.ok() && reportFailure)
        showWriteError(this, written);
    return written.ok();
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

bool Calibration::switchOffBeforeQuit()
{
    cancelGasProcedure();
    sessionTab->cancel();
    checkTab->cancel();
    if (ui->tabWidget->currentIndex() == TabOutput && calibrationTimerRunning())
        stopCalibrationTimer();
    if (!simulationOn)
        return true;
    command.DeviceParams.ImmitConcOn = 0;
    const bool confirmed = writeSimulation(false);
    simulationOn = false;
    return confirmed;
}

// ------------------------------------------------------------ calibration

QString Calibration::refuse(CalibrationMath::Refusal why)
{
    QString problem;
    switch (why) {
    case CalibrationMath::Refusal::None:
        return QString();
    case CalibrationMath::Refusal::EmptyRange:
        problem = tr("Калибровка невозможна: верхнее и нижнее значения диапазона совпадают");
        break;
    case CalibrationMath::Refusal::GasAtRangeMinimum:
        problem = tr("Калибровка невозможна: калибровочная концентрация равна нижнему значению диапазона");
        break;
    case CalibrationMath::Refusal::CodeOutOfRange:
        problem = tr("Калибровка невозможна: вычисленный код лежит вне диапазона 0-65535. Ничего не записано");
        break;
    }
    QMessageBox::warning(this, tr("Калибровка"), problem);
    return problem;
}

void Calibration::applyCalibration()
{
    const ParamBlock &p = command.DeviceParams;
    runCalibration(ui->tabWidget->currentIndex(), ui->comboBox_CalibSens->currentIndex() == 0,
                   Conv::toScaled(ui->doubleSpinBox_CalibConc->value(), p.Scale), QString());
}

CalibrationStep Calibration::runCalibration(int tab, bool zero, quint16 gasShown, const QString &group)
{
    using namespace CalibrationMath;
    ParamBlock &p = command.DeviceParams;
    const Range range{p.ValueMin, p.ValueMax};

    // What the step is, for its record; the value used is filled in below
    // once it is known.
    CalibrationStep step;
    step.uuid = newUuid();
    step.group = group.isEmpty() ? newUuid() : group;
    step.before = p;
    step.after = p;
    const auto gasText = [&p](quint16 raw) {
        return QString::number(Conv::fromScaled(raw, p.Scale), 'f', Conv::decimals(p.Config)) + QLatin1Char(' ')
               + UnitNames.value(Conv::unitIndex(p.Config));
    };
    const auto currentText = [](double mA) { return QString::number(mA, 'f', 3) + QStringLiteral(" mA"); };
    if (tab == TabGas) {
        step.kind = zero ? CalibrationStep::Kind::GasZero : CalibrationStep::Kind::GasSpan;
        // A zero is taken at the lower range value.
        step.value = gasText(zero ? p.ValueMin : gasShown);
    } else if (tab == TabInput) {
        const bool low = ui->comboBox_CalibIn->currentIndex() == 0;
        step.kind = low ? CalibrationStep::Kind::Input4mA : CalibrationStep::Kind::Input20mA;
        step.value = currentText(ui->doubleSpinBox_CalibIn->value());
    } else {
        const bool low = ui->comboBox_CalibOut->currentIndex() == 0;
        step.kind = low ? CalibrationStep::Kind::Output4mA : CalibrationStep::Kind::Output20mA;
        step.value = currentText(ui->doubleSpinBox_CalibOut->value());
    }
    const auto finish = [&](const QString &reason) {
        step.written = reason.isEmpty();
        step.reason = reason;
        emit stepCompleted(step);
    };

    // A range the formulas cannot divide by: say so, measure and send nothing.
    Refusal problem = Refusal::None;
    if (tab == TabGas)
        problem = checkGasRange(range, spanGasOrHalfRange(zero ? p.ConcCalib : gasShown, p.ValueMax));
    else if (tab == TabInput)
        problem = checkInputRange(range);
    if (problem != Refusal::None) {
        finish(refuse(problem));
        return step;
    }

    if (const DeviceOps::Outcome live = DeviceOps::read(command, DeviceOps::ReadMode::LiveOnly); !live.ok()) {
        showExchangeError(this, live.linkResult);
        finish(exchangeErrorText(live.linkResult));
        return step;
    }
    emit liveValuesRead();

    // A code outside what its register holds refuses the whole calibration,
    // with the block and the page's points as they were and nothing sent.
    SensorCodes sensor{p.ADCCode4m, p.ADCCode20m, p.ADCCodeCalib, p.ConcCalib};
    quint16 pwm4m = p.PWMCode4m, pwm20m = p.PWMCode20m;
    if (tab == TabGas) {
        problem = zero ? zeroCalibration(sensor, range, p.CurrentADC)
                       : spanCalibration(sensor, range, p.CurrentADC, gasShown);
        // The span gas actually used (half the range when none was given).
        if (!zero)
            step.value = gasText(sensor.concCalib);
    } else if (tab == TabInput) {
        // The current shown on this tab, not the one last typed on the other.
        problem = inputCalibration(sensor, range, {p.CurrentADC, ui->doubleSpinBox_CalibIn->value()},
                                   ui->comboBox_CalibIn->currentIndex() == 0, inLow, inHigh);
    } else if (tab == TabOutput) {
        problem = outputCalibration(pwm4m, pwm20m, {p.PWMCode, ui->doubleSpinBox_CalibOut->value()},
                                    ui->comboBox_CalibOut->currentIndex() == 0, outLow, outHigh);
    }
    if (problem != Refusal::None) {
        finish(refuse(problem));
        return step;
    }
    p.ADCCode4m = sensor.code4m;
    p.ADCCode20m = sensor.code20m;
    p.ADCCodeCalib = sensor.adcCalib;
    p.ConcCalib = sensor.concCalib;
    p.PWMCode4m = pwm4m;
    p.PWMCode20m = pwm20m;
    step.after = p;

    // A record that the write began, before it goes out: a program killed
    // during the write leaves it without an end.
    CalibrationStep starting = step;
    starting.uuid = newUuid();
    emit stepStarting(starting);
    const DeviceOps::Outcome written = DeviceOps::writeBlock(command);
    if (!written.ok()) {
        showWriteError(this, written);
        finish(writeErrorText(written));
        return step;
    }
    finish(QString());
    // The codes shown everywhere are the device's own again.
    const DeviceOps::Outcome back = DeviceOps::read(command, DeviceOps::ReadMode::Full);
    if (back.ok())
        emit codesRefreshed();
    const QString done = back.ok() ? tr("Калибровка выполнена")
                                   : tr("Калибровка выполнена; коды не перечитаны: %1").arg(exchangeErrorText(back.linkResult));
    if (tab == TabGas)
        ui->labelStatusInfo->setText(done);
    emit stepConfirmed(done);
    return step;
}

void Calibration::sessionReadingWanted(bool on)
{
    if (on)
        startCalibrationTimer();
    else
        stopCalibrationTimer();
}

void Calibration::sessionAdjust(bool zero, double gas, const QString &group)
{
    stopCalibrationTimer();
    const CalibrationStep step =
        runCalibration(TabGas, zero, Conv::toScaled(gas, command.DeviceParams.Scale), group);
    sessionTab->adjusted(step.written, step.before, step.after, step.uuid);
    if (sessionTab->running())
        startCalibrationTimer();
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
    sessionTab->cancel();
    checkTab->cancel();
    stopOutputTest();
}

void Calibration::on_tabWidget_currentChanged(int index)
{
    if (index != TabGas)
        cancelGasProcedure();
    // A guided procedure is not left running behind another tab.
    if (sessionTab && index != TabGuided) {
        sessionTab->cancel();
        checkTab->cancel();
    }
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

void Calibration::on_doubleSpinBox_CalibIn_valueChanged(double)
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

void Calibration::on_doubleSpinBox_CalibOut_valueChanged(double)
{
    ui->pushButton_CalibOut_Ok->setEnabled(ui->comboBox_CalibOut->currentIndex() != 2);
}

void Calibration::on_pushButton_CalibOut_Ok_clicked()
{
    ui->pushButton_CalibOut_Ok->setEnabled(false);
    applyCalibration();
}

// Measurement and identification page: shows the identification texts and
// the live values of DeviceParams; its two simulation controls only change
// the block, which "Сохранить параметры" then writes.
#include "measurewindow.h"
#include "ui_measurewindow.h"

#include "accesslevels.h"
#include "programlink.h"
#include "conversions.h"
#include "options.h"

#include <QScopedValueRollback>

MeasureWindow::MeasureWindow(QWidget *parent)
    : QDialog(parent), ui(new Ui::MeasureWindow)
{
    ui->setupUi(this);
    ui->label_LiveStale->hide();

    // The PWM code and the simulation are for the production level only.
    if (!Access::seesProductionControls(command.UserName)) {
        ui->checkBox_ImmitConc->hide();
        ui->doubleSpinBox_ImmitConc->hide();
        ui->label_PWMCode->hide();
        ui->doubleSpinBox_PWMCode->hide();
    }
    refresh();
}

MeasureWindow::~MeasureWindow()
{
    delete ui;
}

void MeasureWindow::refresh()
{
    // Showing the block changes none of its values: the two simulation
    // controls write only when the user changes them.
    const QScopedValueRollback<bool> guard(refreshing, true);
    ParamBlock &p = command.DeviceParams;
    setLiveGreyed(false);

    ui->label_SerialNum_field->setText(Conv::serialText(p.SerialNum, p.DeviceTypeReg));
    ui->label_Made_field->setText(Conv::fieldText(p.IdVendorName, sizeof p.IdVendorName));
    ui->label_Name_field->setText(Conv::fieldText(p.IdModelName, sizeof p.IdModelName));
    ui->label_Ver_field->setText(Conv::fieldText(p.IdFirmwareVersion, sizeof p.IdFirmwareVersion));
    ui->label_VerDataTime_field->setText(Conv::fieldText(p.IdFirmwareDate, sizeof p.IdFirmwareDate));
    ui->label_HW_field->setText(Conv::boardVersionText(p.HWVersion));

    p.Scale = Conv::scaleFromConfig(p.Config);
    ui->doubleSpinBox_ConcVal->setDecimals(Conv::decimals(p.Config));
    ui->doubleSpinBox_ConcVal->setMaximum(Conv::maxScaled(p.Scale));
    ui->doubleSpinBox_ConcVal->setSuffix(QLatin1Char(' ') + UnitNames.value(Conv::unitIndex(p.Config)));
    ui->doubleSpinBox_ConcVal->setValue(Conv::fromScaled(p.ConcVal, p.Scale));

    ui->doubleSpinBox_CurrentADC->setValue(p.CurrentADC);

    if (p.DeviceTypeReg == Params::TypeDetector2) {
        // Voltage output: signed, in 0.01 mV.
        ui->label_CurrentTok->setText(tr("Текущее напряжение"));
        ui->doubleSpinBox_CurrentTok->setDecimals(2);
        ui->doubleSpinBox_CurrentTok->setValue(qint16(p.CurrentTok) / 100.0);
        ui->doubleSpinBox_CurrentTok->setSuffix(tr(" мВ"));
    } else {
        // Current loop: unsigned, in µA.
        ui->label_CurrentTok->setText(tr("Текущее значение тока"));
        ui->doubleSpinBox_CurrentTok->setDecimals(3);
        ui->doubleSpinBox_CurrentTok->setValue(p.CurrentTok / 1000.0);
        ui->doubleSpinBox_CurrentTok->setSuffix(tr(" мА"));
    }

    ui->doubleSpinBox_PWMCode->setValue(p.PWMCode);

    ui->checkBox_ImmitConc->setChecked(p.ImmitConcOn != 0);
    ui->doubleSpinBox_ImmitConc->setValue(p.ImmitConc);
    showSimulationText(ui->doubleSpinBox_ImmitConc->value());
}

void MeasureWindow::setLiveGreyed(bool greyed)
{
    QWidget *const live[] = {ui->doubleSpinBox_CurrentADC, ui->doubleSpinBox_CurrentTok, ui->doubleSpinBox_ConcVal,
                             ui->doubleSpinBox_PWMCode, ui->label_CurrentADC, ui->label_CurrentTok,
                             ui->label_ConcVal, ui->label_PWMCode};
    for (QWidget *w : live)
        w->setEnabled(!greyed);
    ui->label_LiveStale->setVisible(greyed);
}

void MeasureWindow::showLiveStale(const QDateTime &lastGood)
{
    setLiveGreyed(true);
    ui->label_LiveStale->setText(lastGood.isValid()
                                     ? tr("нет связи: значения последнего чтения в %1")
                                           .arg(lastGood.toString(QStringLiteral("HH:mm:ss")))
                                     : tr("нет связи"));
}

void MeasureWindow::showSimulationText(double value)
{
    // The text tells whether a simulated value is set, whatever the box's state.
    ui->checkBox_ImmitConc->setText(value != 0
                                        ? tr("Имитация концентрации Вкл.")
                                        : tr("Имитация концентрации Выкл."));
}

void MeasureWindow::on_checkBox_ImmitConc_stateChanged(int state)
{
    if (refreshing)
        return;
    command.DeviceParams.ImmitConcOn = state != 0 ? 1 : 0;
}

void MeasureWindow::on_doubleSpinBox_ImmitConc_valueChanged(double value)
{
    showSimulationText(value);
    if (refreshing)
        return;
    command.DeviceParams.ImmitConc = Conv::rawFromDouble(value);
}

#include "sensorconfiguration.h"
#include "ui_sensorconfiguration.h"

#include "programlink.h"
#include "conversions.h"
#include "deviceops.h"
#include "errorbox.h"
#include "gaslibrary.h"
#include "options.h"
#include "paramtext_gui.h"
#include "userfiles.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringListModel>

GasRecord gasRecord;

namespace {

// The display list and the entries it shows live as long as the program;
// they are emptied when the dialog is built and before every search.  The
// selected row is the sheet row of the line last clicked.
QStringList displayList;
QVector<GasLibrary::Entry> foundEntries;
quint16 selectedRow = 0;

QString &libraryPathOverride()
{
    static QString path;
    return path;
}

void clearDisplayList()
{
    displayList.clear();
    foundEntries.clear();
    selectedRow = 0;
}

} // namespace

SensorConfiguration::SensorConfiguration(QWidget *parent)
    : QDialog(parent), ui(new Ui::SensorConfiguration)
{
    ui->setupUi(this);
    ui->tabWidget->setCurrentIndex(0);
    clearDisplayList();

    const ParamBlock &p = command.DeviceParams;
    gasRecord.config = p.Config;
    gasRecord.limit1 = p.Limit1;
    gasRecord.limit2 = p.Limit2;
    gasRecord.hysteresis = p.HisterezisLimit;
    gasRecord.deadZone = p.DeadZone;
    gasRecord.deadZone2 = p.DeadZone2;

    ui->comboBoxDiscreteness->addItems(DiscretenessNames);
    ui->comboBoxUnitMeas->addItems(UnitNames);
    ui->lineEdit_NameGasAdd->setText(gasRecord.name);
}

SensorConfiguration::~SensorConfiguration()
{
    delete ui;
}

QString SensorConfiguration::libraryPath()
{
    const QString &path = libraryPathOverride();
    return path.isEmpty() ? UserFiles::gasLibraryPath() : path;
}

void SensorConfiguration::setLibraryPath(const QString &path)
{
    libraryPathOverride() = path;
}

QString SensorConfiguration::composeLine(const QString &first, const QString &second, const QString &third)
{
    return GasLibrary::composeLine(first, second, third);
}

void SensorConfiguration::showOpenError()
{
    QMessageBox::critical(nullptr, tr(" "), tr("Ошибка открытия файла"), QMessageBox::Ok);
}

// ---------------------------------------------------------------- search

bool SensorConfiguration::searchGasLibrary(const QString &text, QStringList &list)
{
    QVector<GasLibrary::Entry> found;
    if (GasLibrary::search(libraryPath(), text, &found) != GasLibrary::Status::Ok) {
        showOpenError();
        return false;
    }
    for (const GasLibrary::Entry &entry : qAsConst(found)) {
        list.append(GasLibrary::displayLine(entry));
        foundEntries.append(entry);
    }
    return true;
}

void SensorConfiguration::on_pushButton_SearchGas_clicked()
{
    clearDisplayList();
    QStringListModel *fresh = new QStringListModel(this);
    ui->lineEdit_Header->setText(composeLine(tr("Название газа"), tr("Порог 1"), tr("Порог 2")));
    searchGasLibrary(ui->lineEdit_NameGas->text(), displayList);
    fresh->setStringList(displayList);
    ui->listView_Config->setModel(fresh);
    delete model;
    model = fresh;
}

void SensorConfiguration::on_listView_Config_clicked(const QModelIndex &index)
{
    if (index.row() >= 0 && index.row() < foundEntries.size())
        selectedRow = quint16(foundEntries.at(index.row()).row);
}

// The selected entry's two threshold words, as the library holds them, go
// into Limit1 and Limit2, and the parameter block is written to the device.
// A threshold above the device's upper range value would never be reached:
// such an entry is refused and nothing is sent.
void SensorConfiguration::on_pushButton_Save_Param_clicked()
{
    const GasLibrary::Entry *entry = nullptr;
    for (const GasLibrary::Entry &e : qAsConst(foundEntries)) {
        if (selectedRow != 0 && e.row == selectedRow) {
            entry = &e;
            break;
        }
    }
    if (!entry) {
        QMessageBox::warning(this, tr("Ошибка"), tr("Выберите конфигурацию в списке"));
        return;
    }
    quint16 limit1 = 0, limit2 = 0;
    if (!GasLibrary::entryWords(*entry, &limit1, &limit2)) {
        QMessageBox::warning(this, tr("Ошибка"), tr("Пороги выбранной конфигурации должны быть числами от 0 до 65535"));
        return;
    }
    // The rule every write of thresholds keeps, in the same words.
    ParamBlock candidate = command.DeviceParams;
    candidate.Limit1 = limit1;
    candidate.Limit2 = limit2;
    const QString refusal = ParamText::thresholdRefusal(candidate);
    if (!refusal.isEmpty()) {
        QMessageBox::warning(this, tr("Ошибка"), refusal);
        return;
    }
    command.DeviceParams = candidate;
    const DeviceOps::Outcome written = DeviceOps::writeBlock(command);
    if (!written.ok())
        showWriteError(this, written);
}

// ---------------------------------------------------------------- add tab

void SensorConfiguration::refreshAddTab()
{
    // Setting up the boxes emits their value changes, which write into the
    // record (a box that clamps or rounds on the way writes that); the
    // values are taken first and set last, so the record ends as it was.
    const GasRecord r = gasRecord;
    const quint16 config = r.config;
    const quint16 scale = Conv::scaleFromConfig(config);
    const int decimals = Conv::decimals(config);
    const QString suffix = QStringLiteral(" ") + UnitNames.value(Conv::unitIndex(config));

    ui->checkBoxLim1IncDec->setChecked(!Conv::limitDecreasing(r.limit1));
    ui->checkBoxLim2IncDec->setChecked(!Conv::limitDecreasing(r.limit2));
    ui->comboBoxUnitMeas->setCurrentIndex(Conv::unitIndex(config));
    ui->comboBoxDiscreteness->setCurrentIndex(decimals);

    struct Box {
        QDoubleSpinBox *box;
        double maximum;
    };
    const Box boxes[] = {
        {ui->doubleSpinBox_Limit1, Conv::maxLimit(scale)},
        {ui->doubleSpinBox_Limit2, Conv::maxLimit(scale)},
        {ui->doubleSpinBox_HisterezisLimit, Conv::maxScaled(scale)},
        {ui->doubleSpinBox_DeadZone, Conv::maxScaled(scale)},
        {ui->doubleSpinBox_DeadZone_2, Conv::maxScaled(scale)},
    };
    for (const Box &b : boxes) {
        b.box->setDecimals(decimals);
        b.box->setMaximum(b.maximum);
        b.box->setSuffix(suffix);
    }
    ui->doubleSpinBox_Limit1->setValue(Conv::limitShown(r.limit1, scale));
    ui->doubleSpinBox_Limit2->setValue(Conv::limitShown(r.limit2, scale));
    ui->doubleSpinBox_HisterezisLimit->setValue(Conv::fromScaled(r.hysteresis, scale));
    ui->doubleSpinBox_DeadZone->setValue(Conv::fromScaled(r.deadZone, scale));
    ui->doubleSpinBox_DeadZone_2->setValue(Conv::fromScaled(r.deadZone2, scale));
}

void SensorConfiguration::on_tabWidget_currentChanged(int index)
{
    if (index == 1)
        refreshAddTab();
}

void SensorConfiguration::on_checkBoxLim1IncDec_stateChanged(int state)
{
    gasRecord.limit1 = Conv::limitWithDirection(gasRecord.limit1, state == 0);
    ui->checkBoxLim1IncDec->setText(state ? tr("Возр.") : tr("Убыв."));
}

void SensorConfiguration::on_checkBoxLim2IncDec_stateChanged(int state)
{
    gasRecord.limit2 = Conv::limitWithDirection(gasRecord.limit2, state == 0);
    ui->checkBoxLim2IncDec->setText(state ? tr("Возр.") : tr("Убыв."));
}

void SensorConfiguration::on_comboBoxDiscreteness_activated(int index)
{
    gasRecord.config = Conv::withDecimals(gasRecord.config, index);
    refreshAddTab();
}

void SensorConfiguration::on_comboBoxUnitMeas_activated(int index)
{
    gasRecord.config = Conv::withUnit(gasRecord.config, index);
    refreshAddTab();
}

void SensorConfiguration::on_doubleSpinBox_Limit1_valueChanged(double value)
{
    gasRecord.limit1 = Conv::limitWithValue(gasRecord.limit1, value, Conv::scaleFromConfig(gasRecord.config));
}

void SensorConfiguration::on_doubleSpinBox_Limit2_valueChanged(double value)
{
    gasRecord.limit2 = Conv::limitWithValue(gasRecord.limit2, value, Conv::scaleFromConfig(gasRecord.config));
}

void SensorConfiguration::on_doubleSpinBox_HisterezisLimit_valueChanged(double value)
{
    gasRecord.hysteresis = Conv::toScaled(value, Conv::scaleFromConfig(gasRecord.config));
}

void SensorConfiguration::on_doubleSpinBox_DeadZone_valueChanged(double value)
{
    gasRecord.deadZone = Conv::toScaled(value, Conv::scaleFromConfig(gasRecord.config));
}

void SensorConfiguration::on_doubleSpinBox_DeadZone_2_valueChanged(double value)
{
    gasRecord.deadZone2 = Conv::toScaled(value, Conv::scaleFromConfig(gasRecord.config));
}

void SensorConfiguration::on_lineEdit_NameGasAdd_textEdited(const QString &text)
{
    gasRecord.name = text;
}

// ------------------------------------------------------------- appending

bool SensorConfiguration::appendGasRecord()
{
    switch (GasLibrary::append(libraryPath(), gasRecord.name, gasRecord.limit1, gasRecord.limit2)) {
    case GasLibrary::Status::Ok:
        break;
    case GasLibrary::Status::OpenFailed:
        showOpenError();
        return false;
    case GasLibrary::Status::SaveFailed:
        // The library is replaced only by a complete new file: the old one
        // stays as it was.
        QMessageBox::critical(this, tr("Ошибка"), tr("Не удалось сохранить библиотеку конфигураций"));
        break;
    }
    return true;
}

void SensorConfiguration::on_pushButton_clicked()
{
    appendGasRecord();
}

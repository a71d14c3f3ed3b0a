#include "sessionsetup.h"
#include "ui_sessionsetup.h"

#include <QPushButton>

SessionSetup::SessionSetup(const QString &unit, int decimals, const QStringList &gasNames, QWidget *parent)
    : QDialog(parent), ui(new Ui::SessionSetup), unitText(unit)
{
    ui->setupUi(this);
    ui->comboBox_Gas->addItems(gasNames);
    ui->comboBox_Gas->setCurrentText(QString());
    ui->doubleSpinBox_Concentration->setDecimals(decimals);
    ui->doubleSpinBox_Concentration->setSuffix(QLatin1Char(' ') + unit);
    ui->dateEdit_Expiry->setDate(QDate::currentDate().addYears(1));
    connect(ui->checkBox_Expiry, &QCheckBox::toggled, ui->dateEdit_Expiry, &QWidget::setEnabled);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(ui->lineEdit_Technician, &QLineEdit::textChanged, this, &SessionSetup::check);
    connect(ui->comboBox_Gas, &QComboBox::currentTextChanged, this, &SessionSetup::check);
    connect(ui->doubleSpinBox_Concentration, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &SessionSetup::check);
    check();
}

SessionSetup::~SessionSetup()
{
    delete ui;
}

void SessionSetup::check()
{
    QString missing;
    if (ui->lineEdit_Technician->text().trimmed().isEmpty())
        missing = tr("Укажите исполнителя: его имя будет в протоколе.");
    else if (ui->comboBox_Gas->currentText().trimmed().isEmpty())
        missing = tr("Укажите поверочный газ.");
    else if (ui->doubleSpinBox_Concentration->value() <= 0)
        missing = tr("Укажите концентрацию поверочного газа.");
    ui->label_Hint->setText(missing);
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(missing.isEmpty());
}

void SessionSetup::setPeople(const QString &technician, const QString &organisation)
{
    ui->lineEdit_Technician->setText(technician);
    ui->lineEdit_Organisation->setText(organisation);
}

void SessionSetup::setGas(const FunctionCheck::TestGas &gas)
{
    ui->comboBox_Gas->setCurrentText(gas.name);
    ui->doubleSpinBox_Concentration->setValue(gas.concentration);
    ui->lineEdit_Cylinder->setText(gas.cylinder);
    ui->checkBox_Expiry->setChecked(gas.expiry.isValid() || gas.name.isEmpty());
    if (gas.expiry.isValid())
        ui->dateEdit_Expiry->setDate(gas.expiry);
}

void SessionSetup::setTolerance(const FunctionCheck::Tolerance &tolerance)
{
    ui->doubleSpinBox_TolGas->setValue(tolerance.percentOfGas);
    ui->doubleSpinBox_TolRange->setValue(tolerance.percentOfRange);
}

QString SessionSetup::technician() const
{
    return ui->lineEdit_Technician->text().trimmed();
}

QString SessionSetup::organisation() const
{
    return ui->lineEdit_Organisation->text().trimmed();
}

FunctionCheck::TestGas SessionSetup::gas() const
{
    FunctionCheck::TestGas g;
    g.name = ui->comboBox_Gas->currentText().trimmed();
    g.concentration = ui->doubleSpinBox_Concentration->value();
    g.unit = unitText;
    g.cylinder = ui->lineEdit_Cylinder->text().trimmed();
    if (ui->checkBox_Expiry->isChecked())
        g.expiry = ui->dateEdit_Expiry->date();
    return g;
}

FunctionCheck::Tolerance SessionSetup::tolerance() const
{
    FunctionCheck::Tolerance t;
    t.percentOfGas = ui->doubleSpinBox_TolGas->value();
    t.percentOfRange = ui->doubleSpinBox_TolRange->value();
    return t;
}

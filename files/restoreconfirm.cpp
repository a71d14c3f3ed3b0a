#include "restoreconfirm.h"
#include "ui_restoreconfirm.h"

#include "paramtext_gui.h"

#include <QFileInfo>
#include <QHeaderView>

RestoreConfirmDialog::RestoreConfirmDialog(QWidget *parent, const QString &fileName, const ParamBlock &device,
                                           const ParamBlock &file,
                                           std::function<Restore::Plan(bool clone)> planFor)
    : QDialog(parent), ui(new Ui::RestoreConfirmDialog), device(device), file(file), planFor(std::move(planFor))
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->label_File->setText(tr("Файл «%1» будет записан в прибор. Проверьте изменения:")
                                .arg(QFileInfo(fileName).fileName()));
    ui->tableWidget_Changes->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ui->tableWidget_Changes->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    ui->tableWidget_Changes->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    ui->tableWidget_Changes->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    current = this->planFor(false);
    showPlan();
}

RestoreConfirmDialog::~RestoreConfirmDialog()
{
    delete ui;
}

bool RestoreConfirmDialog::cloneChosen() const
{
    return ui->checkBox_Clone->isChecked();
}

void RestoreConfirmDialog::on_checkBox_Clone_toggled(bool on)
{
    current = planFor(on);
    showPlan();
}

void RestoreConfirmDialog::on_pushButton_Write_clicked()
{
    accept();
}

void RestoreConfirmDialog::showPlan()
{
    QTableWidget *table = ui->tableWidget_Changes;
    const QVector<Restore::Field> changes = current.changes();
    table->setRowCount(0);
    for (const Restore::Field &f : changes) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(ParamText::label(*f.def)));
        table->setItem(row, 1, new QTableWidgetItem(ParamText::value(*f.def, device)));
        table->setItem(row, 2, new QTableWidgetItem(ParamText::value(*f.def, current.result)));
    }

    QStringList notes;
    if (changes.isEmpty())
        notes << tr("Значения в приборе уже совпадают со значениями файла.");
    if (current.simulationInFile)
        notes << tr("В файле включена имитация концентрации: она будет записана выключенной.");
    QStringList own, level;
    for (const Restore::Field &f : current.keptDifferent()) {
        const QString item = tr("%1 (в файле %2)").arg(ParamText::label(*f.def), ParamText::value(*f.def, file));
        if (f.kept == Restore::Kept::OwnField)
            own << item;
        else
            level << item;
    }
    if (!own.isEmpty())
        notes << tr("Остаются как в приборе (собственные параметры прибора): %1.").arg(own.join(QStringLiteral(", ")));
    if (!level.isEmpty())
        notes << tr("Остаются как в приборе (не меняются на этом уровне доступа или этим прибором): %1.")
                     .arg(level.join(QStringLiteral(", ")));
    QStringList cannot;
    for (const Params::ParamDef *def : current.notConvertible)
        cannot << ParamText::label(*def);
    if (!cannot.isEmpty())
        notes << tr("Запись невозможна: значения прибора (%1) не помещаются в дискретность файла.")
                     .arg(cannot.join(QStringLiteral(", ")));
    ui->label_Notes->setText(notes.join(QLatin1Char('\n')));
    ui->label_Notes->setVisible(!notes.isEmpty());
    ui->pushButton_Write->setEnabled(current.notConvertible.isEmpty() && current.anyChange());
}

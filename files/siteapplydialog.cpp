#include "siteapplydialog.h"
#include "ui_siteapplydialog.h"

#include "filechoice_gui.h"
#include "gaslibrary.h"
#include "parameterfile_gui.h"
#include "paramtext_gui.h"
#include "restoreplan.h"
#include "sensorconfiguration.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>


namespace {

enum PreviewColumn { ColDetector, ColParameter, ColBefore, ColAfter, ColNote, PreviewColumns };

// The settings a technician may type for many detectors: the numbers a
// parameter file would bring in (no detector's own field, nothing
// read-only); choices (directions, unit, output type) come from a file.
QVector<const Params::ParamDef *> typedParameters()
{
    QVector<const Params::ParamDef *> out;
    for (const Params::ParamDef &def : Params::parameters()) {
        const bool number = def.kind == Params::Kind::Scaled || def.kind == Params::Kind::LimitValue
            || def.kind == Params::Kind::Delay || def.kind == Params::Kind::Raw;
        if (number && def.level == Params::SetLevel::AnyLogin && !Restore::isOwnField(def))
            out << &def;
    }
    return out;
}

} // namespace

SiteApplyDialog::SiteApplyDialog(const QVector<Site::Detector> &detectors, const QString &level, QWidget *parent)
    : QDialog(parent), ui(new Ui::SiteApplyDialog), detectors(detectors), level(level)
{
    ui->setupUi(this);
    ui->labelDetectors->setText(tr("Приборов выбрано: %1. Уровень доступа: %2.")
                                    .arg(detectors.size()).arg(level.isEmpty() ? tr("нет входа") : level));

    // Typed values: one row per setting, empty means "leave as it is".
    const QVector<const Params::ParamDef *> typed = typedParameters();
    ui->tableWidgetValues->setColumnCount(2);
    ui->tableWidgetValues->setHorizontalHeaderLabels({tr("Параметр"), tr("Значение (пусто: не менять)")});
    ui->tableWidgetValues->setRowCount(typed.size());
    for (int row = 0; row < typed.size(); ++row) {
        auto *name = new QTableWidgetItem(ParamText::label(*typed[row]));
        name->setFlags(Qt::ItemIsEnabled);
        name->setData(Qt::UserRole, QLatin1String(typed[row]->name));
        ui->tableWidgetValues->setItem(row, 0, name);
        ui->tableWidgetValues->setItem(row, 1, new QTableWidgetItem);
    }
    ui->tableWidgetValues->verticalHeader()->hide();
    ui->tableWidgetValues->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ui->tableWidgetValues->horizontalHeader()->setStretchLastSection(true);

    // The gas library's entries whose cells hold threshold words.
    QVector<GasLibrary::Entry> entries;
    if (GasLibrary::search(SensorConfiguration::libraryPath(), QString(), &entries) == GasLibrary::Status::Ok) {
        for (const GasLibrary::Entry &e : qAsConst(entries)) {
            quint16 l1 = 0, l2 = 0;
            if (!e.name.trimmed().isEmpty() && GasLibrary::entryWords(e, &l1, &l2)) {
                gasEntries.append({e.name, {l1, l2}});
                ui->comboBoxGas->addItem(e.name);
            }
        }
    }
    ui->radioButtonGas->setEnabled(!gasEntries.isEmpty());

    ui->tableWidgetPreview->setColumnCount(PreviewColumns);
    ui->tableWidgetPreview->setHorizontalHeaderLabels(
        {tr("Прибор"), tr("Параметр"), tr("Было"), tr("Станет"), tr("Примечание")});
    ui->tableWidgetPreview->verticalHeader()->hide();
    ui->tableWidgetPreview->horizontalHeader()->setStretchLastSection(true);

    connect(ui->tableWidgetValues, &QTableWidget::itemChanged, this, [this] {
        if (!filling)
            ui->radioButtonValues->setChecked(true), updatePreview();
    });
    connect(ui->comboBoxGas, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] {
        ui->radioButtonGas->setChecked(true);
        updatePreview();
    });
    for (QRadioButton *r : {ui->radioButtonValues, ui->radioButtonFile, ui->radioButtonGas})
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                updatePreview();
        });
    connect(ui->pushButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
    updatePreview();
}

SiteApplyDialog::~SiteApplyDialog()
{
    delete ui;
}

bool SiteApplyDialog::stopAtFirstFailure() const
{
    return ui->checkBoxStop->isChecked();
}

void SiteApplyDialog::setTypedValue(const QString &name, const QString &value)
{
    for (int row = 0; row < ui->tableWidgetValues->rowCount(); ++row)
        if (ui->tableWidgetValues->item(row, 0)->data(Qt::UserRole).toString() == name)
            ui->tableWidgetValues->item(row, 1)->setText(value);
}

void SiteApplyDialog::on_pushButtonFile_clicked()
{
    const QString path = FileChoice::openFileName(this, tr("Параметры из файла"), QString(),
                                                   tr("Файлы параметров (*.hex);;Все файлы (*)"));
    if (!path.isEmpty())
        takeFile(path);
}

bool SiteApplyDialog::takeFile(const QString &path)
{
    // Read whole and checked as a load into one detector is: a short,
    // damaged or implausible file is not taken.
    ParamBlock file{};
    if (!loadBlockFile(this, path, reinterpret_cast<quint8 *>(&file), HexFile::BlockBytes))
        return false;
    const QVector<Restore::Implausible> implausible = Restore::checkPlausible(file);
    if (!implausible.isEmpty()) {
        QStringList lines;
        for (const Restore::Implausible &bad : implausible)
            lines << ParamText::implausible(*bad.def, bad.why, file);
        QMessageBox::critical(this, tr("Ошибка"),
                              tr("Файл %1 содержит значения, которых не бывает у прибора TL-02:\n%2\n"
                                 "Параметры из него не взяты.")
                                  .arg(QFileInfo(path).fileName(), lines.join(QLatin1Char('\n'))));
        return false;
    }
    fileBlock = file;
    filePath = path;
    ui->lineEditFile->setText(QDir::toNativeSeparators(path));
    ui->radioButtonFile->setChecked(true);
    updatePreview();
    return true;
}

QString SiteApplyDialog::keptText(int why) const
{
    switch (Restore::Kept(why)) {
    case Restore::Kept::OwnField:
        return tr("остаётся: собственный параметр прибора");
    case Restore::Kept::Level:
        return tr("остаётся: не меняется на уровне доступа %1").arg(level);
    case Restore::Kept::NotOnType:
        return tr("остаётся: не используется этим типом прибора");
    case Restore::Kept::NeverWritten:
        return tr("остаётся: не записывается");
    case Restore::Kept::Simulation:
        return tr("имитация записывается выключенной");
    case Restore::Kept::No:
        break;
    }
    return QString();
}

void SiteApplyDialog::updatePreview()
{
    // What to write, as values for each detector.
    valuesFor = nullptr;
    gasName.clear();
    QString problem;
    if (ui->radioButtonFile->isChecked()) {
        if (filePath.isEmpty())
            problem = tr("Выберите файл параметров.");
        else
            valuesFor = SiteApply::sameValues(SiteApply::valuesFrom(fileBlock)), whatText = filePath;
    } else if (ui->radioButtonGas->isChecked()) {
        const int i = ui->comboBoxGas->currentIndex();
        if (i < 0 || i >= gasEntries.size()) {
            problem = tr("Выберите запись библиотеки газов.");
        } else {
            gasName = gasEntries[i].first;
            valuesFor = SiteApply::gasValues(gasEntries[i].second[0], gasEntries[i].second[1]);
            whatText = QStringLiteral("gas ") + gasName;
        }
    } else {
        SiteApply::Values typed;
        for (int row = 0; row < ui->tableWidgetValues->rowCount(); ++row) {
            // A decimal comma is taken as the point.
            QString text = ui->tableWidgetValues->item(row, 1)->text().trimmed();
            text.replace(QLatin1Char(','), QLatin1Char('.'));
            if (!text.isEmpty())
                typed.append({ui->tableWidgetValues->item(row, 0)->data(Qt::UserRole).toString(), text});
        }
        if (typed.isEmpty())
            problem = tr("Введите хотя бы одно значение.");
        else
            valuesFor = SiteApply::sameValues(typed), whatText = QStringLiteral("values");
    }

    QTableWidget *table = ui->tableWidgetPreview;
    table->setRowCount(0);
    chosen.clear();
    int refused = 0;
    auto addRow = [table](const QStringList &cells) {
        const int row = table->rowCount();
        table->insertRow(row);
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(row, c, new QTableWidgetItem(cells[c]));
    };
    for (const Site::Detector &d : detectors) {
        if (!valuesFor)
            break;
        const QString who = d.tag.isEmpty() ? d.serialText : QStringLiteral("%1 (%2)").arg(d.serialText, d.tag);
        const ParamBlock block = Site::blockOf(d.block);
        const SiteApply::Preview p =
            SiteApply::preview(block, qint16(d.deviceType), d.writeCount, valuesFor(block), level);
        if (!p.refused.isEmpty()) {
            ++refused;
            QStringList why;
            for (const Params::ParamDef *def : Params::thresholdsAboveRange(p.plan.result))
                why << ParamText::thresholdAboveRange(*def, p.plan.result);
            for (const auto &r : p.refused)
                if (!r.first.isEmpty())
                    if (const Params::ParamDef *def = Params::findParameter(r.first))
                        why << tr("%1: значение не принято").arg(ParamText::label(*def));
            addRow({who, QString(), QString(), QString(), tr("не будет записан: %1").arg(why.join(QStringLiteral("; ")))});
            continue;
        }
        for (const Restore::Field &f : p.plan.fields) {
            if (f.changes)
                addRow({who, ParamText::label(*f.def), ParamText::value(*f.def, block),
                        ParamText::value(*f.def, p.plan.result), QString()});
        }
        for (const SiteApply::KeptField &k : p.kept)
            if (const Params::ParamDef *def = Params::findParameter(k.name))
                addRow({who, ParamText::label(*def), ParamText::value(*def, block), ParamText::value(*def, block),
                        keptText(int(k.why))});
        if (p.changes.isEmpty()) {
            addRow({who, QString(), QString(), QString(), tr("нет изменений")});
            continue;
        }
        SiteApply::Target t;
        t.port = d.port;
        t.address = d.address;
        t.serial = qint32(d.serial);
        t.previewed = true;
        t.shown = block;
        chosen.append(t);
    }
    table->resizeColumnsToContents();
    table->horizontalHeader()->setStretchLastSection(true);

    QString notes = problem;
    if (problem.isEmpty())
        notes = tr("Будут записаны приборы: %1 из %2; не будут записаны: %3.")
                    .arg(chosen.size()).arg(detectors.size()).arg(refused);
    ui->labelNotes->setText(notes);
    ui->pushButtonWrite->setEnabled(!chosen.isEmpty());
}

void SiteApplyDialog::on_pushButtonWrite_clicked()
{
    if (chosen.isEmpty())
        return;
    const auto answer = QMessageBox::question(
        this, tr("Изменение параметров приборов"),
        tr("Записать показанные изменения в приборы (%1)?\nКаждый прибор будет проверен по заводскому номеру, "
           "записан и прочитан обратно.")
            .arg(chosen.size()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        accept();
}

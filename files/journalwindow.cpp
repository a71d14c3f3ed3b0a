#include "journalwindow.h"
#include "ui_journalwindow.h"

#include "certificate_gui.h"
#include "filechoice_gui.h"
#include "journallocation.h"
#include "journaltext_gui.h"

#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QStandardItemModel>

#include <algorithm>

namespace {
// The operation and its outcome first; the device's details after them.
enum Column { ColTime, ColSerial, ColKind, ColValue, ColOutcome, ColBefore, ColAfter, ColDevice, ColFirmware,
              ColAddress, ColLevel, ColumnCount };
}

JournalWindow::JournalWindow(QWidget *parent, const QString &location)
    : QWidget(parent, Qt::Window), ui(new Ui::JournalWindow), model(new QStandardItemModel(this)),
      location(location), path(Journal::localPath(location))
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    model->setColumnCount(ColumnCount);
    setColumnTitles();
    ui->tableView->setModel(model);
    ui->tableView->verticalHeader()->hide();
    ui->tableView->horizontalHeader()->setStretchLastSection(true);
    connect(ui->tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &JournalWindow::selectionChanged);

    // The period starts as the last 30 days; it applies once switched on.
    const QDate today = QDate::currentDate();
    ui->dateEdit_From->setDate(today.addDays(-30));
    ui->dateEdit_To->setDate(today);
    connect(ui->lineEdit_Serial, &QLineEdit::textChanged, this, &JournalWindow::refresh);
    connect(ui->dateEdit_From, &QDateEdit::dateChanged, this, &JournalWindow::refresh);
    connect(ui->dateEdit_To, &QDateEdit::dateChanged, this, &JournalWindow::refresh);
    refresh();
}

JournalWindow::~JournalWindow()
{
    delete ui;
}

void JournalWindow::setColumnTitles()
{
    const QStringList titles = {tr("Дата и время"), tr("Серийный номер"), tr("Операция"), tr("Газ / ток"),
                                tr("Результат"),    tr("До"),             tr("После"),    tr("Прибор"),
                                tr("Версия ПО"),    tr("Адрес"),          tr("Уровень")};
    model->setHorizontalHeaderLabels(titles);
}

QString JournalWindow::problem() const
{
    return ui->label_Problem->text();
}

void JournalWindow::refresh()
{
    Journal::Filter filter;
    filter.serial = ui->lineEdit_Serial->text().trimmed();
    if (ui->checkBox_Period->isChecked()) {
        filter.from = ui->dateEdit_From->date();
        filter.to = ui->dateEdit_To->date();
    }
    Journal::Database db;
    Journal::Error error = db.open(path);
    if (error.ok())
        error = db.query(filter, &shown);
    waitingKnown = error.ok() && Journal::waiting(db, &waiting).ok();
    db.close();
    showSyncState();
    if (!error.ok())
        shown.clear();
    ui->label_Problem->setText(JournalText::errorText(error));
    ui->label_Problem->setVisible(!error.ok());

    model->removeRows(0, model->rowCount());
    const QStringList open = Journal::unfinished(shown);
    // Newest first: the last calibration is what one looks for.
    for (int i = shown.size() - 1; i >= 0; --i) {
        const Journal::Record &r = shown[i];
        const QStringList cells = {r.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                                   r.serialText,
                                   JournalText::kindText(r.kind),
                                   r.value,
                                   JournalText::outcomeText(r, r.started && open.contains(r.uuid)),
                                   r.before,
                                   r.after,
                                   JournalText::deviceText(r.deviceType),
                                   r.firmware,
                                   QString::number(r.address),
                                   r.level};
        QList<QStandardItem *> items;
        for (const QString &c : cells) {
            auto *item = new QStandardItem(c);
            item->setToolTip(c);
            items << item;
        }
        if (r.started)
            items[ColOutcome]->setForeground(open.contains(r.uuid) ? QColor(0xb0, 0, 0) : QColor(0x70, 0x70, 0x70));
        else if (!r.ok)
            items[ColOutcome]->setForeground(QColor(0xb0, 0, 0));
        model->appendRow(items);
    }
    std::reverse(shown.begin(), shown.end());
    ui->label_Count->setText(tr("Записей: %1").arg(shown.size()));
    ui->tableView->resizeColumnsToContents();
    // Long texts are shown whole in their tool tips.
    for (int c : {ColValue, ColBefore, ColAfter, ColOutcome})
        ui->tableView->setColumnWidth(c, qMin(ui->tableView->columnWidth(c), 220));
    ui->pushButton_ExportCsv->setEnabled(!shown.isEmpty());
    selectionChanged();
}

void JournalWindow::setLocation(const QString &place)
{
    if (place == location)
        return;
    location = place;
    path = Journal::localPath(place);
    synced = false;
    refresh();
}

void JournalWindow::showSync(const Journal::SyncReport &report)
{
    synced = true;
    lastSync = report;
    lastSyncTime = QDateTime::currentDateTime();
    if (report.received > 0 || report.registerReceived > 0) {
        refresh();
        return;
    }
    // What waits now, from the file itself: a send that stopped early says
    // nothing of it.
    Journal::Database db;
    waitingKnown = db.open(path).ok() && Journal::waiting(db, &waiting).ok();
    db.close();
    showSyncState();
}

QString JournalWindow::syncText() const
{
    return ui->label_Sync->text();
}

void JournalWindow::showSyncState()
{
    const Journal::Location place = Journal::parseLocation(location);
    if (!place.isServer()) {
        ui->label_Sync->setText(tr("Журнал ведётся на этом компьютере: %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    QString text = waitingKnown ? tr("Журнал команды: %1. Ожидают отправки на сервер: %2").arg(place.text).arg(waiting.total())
                                : tr("Журнал команды: %1").arg(place.text);
    const QString time = lastSyncTime.toString(QStringLiteral("HH:mm:ss"));
    if (!synced)
        text += QLatin1Char('\n') + tr("Отправки ещё не было.");
    else if (lastSync.error.problem == Journal::Problem::CannotOpen)
        text += QLatin1Char('\n') + tr("Сервер недоступен: %1 (%2)").arg(lastSync.error.detail, time);
    else if (!lastSync.error.ok())
        text += QLatin1Char('\n') + tr("Отправка не удалась: %1 (%2)").arg(lastSync.error.detail, time);
    else
        text += QLatin1Char('\n') + tr("Отправлено: %1, получено: %2 (%3)")
                                         .arg(lastSync.sent + lastSync.registerSent)
                                         .arg(lastSync.received + lastSync.registerReceived)
                                         .arg(time);
    ui->label_Sync->setText(text);
}

void JournalWindow::selectionChanged()
{
    ui->pushButton_Certificate->setEnabled(ui->tableView->selectionModel()->selectedRows().size() == 1);
}

void JournalWindow::on_pushButton_Refresh_clicked()
{
    refresh();
}

void JournalWindow::on_checkBox_Period_toggled(bool on)
{
    ui->dateEdit_From->setEnabled(on);
    ui->dateEdit_To->setEnabled(on);
    refresh();
}

void JournalWindow::on_pushButton_ExportCsv_clicked()
{
    const QString file = FileChoice::saveFileName(this, tr("Экспорт CSV"),
                                                  QDir::homePath() + QStringLiteral("/journal.csv"),
                                                  tr("Файлы CSV (*.csv)"));
    if (file.isEmpty())
        return;
    // Oldest first, as the journal keeps them.
    QVector<Journal::Record> ordered = shown;
    std::reverse(ordered.begin(), ordered.end());
    const Journal::Error error = Journal::writeCsv(ordered, file);
    if (!error.ok())
        QMessageBox::critical(this, tr("Журнал калибровок"), JournalText::errorText(error));
}

void JournalWindow::on_pushButton_Certificate_clicked()
{
    const QModelIndexList rows = ui->tableView->selectionModel()->selectedRows();
    if (rows.size() != 1 || rows[0].row() >= shown.size())
        return;
    const Journal::Record &r = shown[rows[0].row()];
    const QString name = QStringLiteral("/protocol-%1-%2.pdf").arg(r.serialText.isEmpty() ? QStringLiteral("tl02")
                                                                                          : r.serialText).arg(r.id);
    const QString file = FileChoice::saveFileName(this, tr("Протокол калибровки"), QDir::homePath() + name,
                                                  tr("Файлы PDF (*.pdf)"));
    if (file.isEmpty())
        return;
    QString why;
    if (!Certificate::writePdf(r, file, &why))
        QMessageBox::critical(this, tr("Протокол калибровки"), tr("Файл %1 не записан: %2").arg(file, why));
}

#include "sitewindow.h"
#include "ui_sitewindow.h"

#include "conversions.h"
#include "filechoice_gui.h"
#include "journalsync.h"
#include "journaltext_gui.h"
#include "paramtext_gui.h"
#include "siteapplydialog.h"
#include "sitereport_gui.h"
#include "sitesurvey.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>

namespace {

enum Column { ColTag = 0, ColDue = 13 };
constexpr int SerialRole = Qt::UserRole;
constexpr int DueRole = Qt::UserRole + 1;
constexpr int SortRole = Qt::UserRole + 2;

// The table's filter: the text in any column, and the due state chosen.
class SiteFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    int dueChoice = 0;   // 0 all, 1 overdue and soon, 2 overdue

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        const auto due = SiteReport::Due(sourceModel()->index(row, 0, parent).data(DueRole).toInt());
        if (dueChoice == 1 && due != SiteReport::Due::Overdue && due != SiteReport::Due::Soon)
            return false;
        if (dueChoice == 2 && due != SiteReport::Due::Overdue)
            return false;
        return QSortFilterProxyModel::filterAcceptsRow(row, parent);
    }
};

QString place(const QString &port, int address)
{
    return QCoreApplication::translate("SiteWindow", "%1, адрес %2").arg(port).arg(address);
}

} // namespace

SiteWindow::SiteWindow(SiteHost *host, QWidget *parent, const QString &location)
    : QWidget(parent, Qt::Window), ui(new Ui::SiteWindow), host(host), location(location),
      path(Journal::localPath(location)),
      model(new QStandardItemModel(this)), proxy(new SiteFilter(this))
{
    ui->setupUi(this);
    proxy->setSourceModel(model);
    proxy->setFilterKeyColumn(-1);
    proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    proxy->setSortRole(SortRole);
    ui->tableView->setModel(proxy);
    ui->tableView->verticalHeader()->hide();
    ui->tableView->horizontalHeader()->setStretchLastSection(true);
    ui->tableView->sortByColumn(1, Qt::AscendingOrder);
    setColumnTitles();
    // The due date and its words next to the serial number, where they are
    // seen without scrolling (the report keeps the columns' order).
    QHeaderView *header = ui->tableView->horizontalHeader();
    header->moveSection(header->visualIndex(ColDue), 4);
    header->moveSection(header->visualIndex(ColDue - 1), 4);
    ui->pushButtonCancel->setEnabled(false);
    ui->progressBar->setValue(0);

    connect(ui->comboBoxSite, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &SiteWindow::siteChosen);
    connect(ui->spinBoxInterval, QOverload<int>::of(&QSpinBox::valueChanged), this, &SiteWindow::intervalChanged);
    connect(ui->lineEditFilter, &QLineEdit::textChanged, proxy, &QSortFilterProxyModel::setFilterFixedString);
    connect(ui->comboBoxDue, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int choice) {
        static_cast<SiteFilter *>(proxy)->dueChoice = choice;
        proxy->invalidate();
    });
    connect(model, &QStandardItemModel::itemChanged, this, [this](QStandardItem *item) {
        if (!filling && item->column() == ColTag)
            tagEdited(item->row());
    });
    refresh();
}

SiteWindow::~SiteWindow()
{
    // A change still running is finished by its lines (the runner's end
    // waits for the detector being written), never cut mid-write.
    runner.reset();
    delete survey;
    delete ui;
}

void SiteWindow::setColumnTitles()
{
    QStringList titles = SiteReport::columnTitles();
    model->setHorizontalHeaderLabels(titles);
}

void SiteWindow::setJournal(const QString &place)
{
    if (place == location)
        return;
    // A running action finishes on the journal it started with.
    location = place;
    path = Journal::localPath(place);
    if (!busy())
        refresh();
}

bool SiteWindow::withRegister(const std::function<Journal::Error(Site::Register &)> &work)
{
    Journal::Database db;
    Journal::Error e = db.open(path);
    if (e.ok()) {
        Site::Register reg(db);
        e = work(reg);
    }
    if (!e.ok()) {
        QMessageBox::warning(this, tr("Объект"),
                             tr("Реестр объекта недоступен.\n%1").arg(JournalText::errorText(e)));
        return false;
    }
    return true;
}

void SiteWindow::refresh()
{
    QVector<Site::Info> sites;
    if (!withRegister([&sites](Site::Register &reg) { return reg.sites(&sites); }))
        return;
    const QString keep = current.name;
    filling = true;
    ui->comboBoxSite->clear();
    for (const Site::Info &s : qAsConst(sites))
        ui->comboBoxSite->addItem(s.name, s.id);
    filling = false;
    int index = ui->comboBoxSite->findText(keep);
    if (index < 0 && !sites.isEmpty())
        index = 0;
    if (index >= 0 && ui->comboBoxSite->currentIndex() != index)
        ui->comboBoxSite->setCurrentIndex(index);
    else
        siteChosen(index);
}

bool SiteWindow::showSite(const QString &name)
{
    const int index = ui->comboBoxSite->findText(name);
    if (index < 0)
        return false;
    ui->comboBoxSite->setCurrentIndex(index);
    return true;
}

void SiteWindow::siteChosen(int index)
{
    if (filling)
        return;
    const QString name = ui->comboBoxSite->itemText(index);
    current = Site::Info();
    dues.clear();
    if (index >= 0) {
        const QDate today = QDate::currentDate();
        withRegister([&](Site::Register &reg) {
            Journal::Error e = reg.findSite(name, &current);
            if (e.ok())
                e = reg.calibration(current.id, today, &dues);
            moves.clear();
            for (const Site::Due &d : qAsConst(dues))
                if (e.ok())
                    e = reg.moves(current.id, d.detector.serial, &moves[d.detector.serial]);
            return e;
        });
    }
    const bool open = current.id != 0;
    for (QWidget *w : std::initializer_list<QWidget *>{ui->spinBoxInterval, ui->lineEditLines, ui->pushButtonSurvey})
        w->setEnabled(open && !busy());
    for (QWidget *w : {ui->pushButtonBackup, ui->pushButtonApply, ui->pushButtonReport})
        w->setEnabled(open && !dues.isEmpty() && !busy());
    filling = true;
    ui->spinBoxInterval->setValue(open ? current.intervalDays : Site::DefaultIntervalDays);
    filling = false;
    // The lines the register knows, or the program's own line for a new site.
    QStringList ports;
    for (const Site::Due &d : qAsConst(dues))
        if (!ports.contains(d.detector.port))
            ports << d.detector.port;
    if (ports.isEmpty() && host && !host->currentPort().isEmpty())
        ports << host->currentPort();
    if (lines().isEmpty() || !dues.isEmpty())
        ui->lineEditLines->setText(ports.join(QStringLiteral("; ")));
    fillTable();
}

void SiteWindow::fillTable()
{
    const QDate today = QDate::currentDate();
    filling = true;
    model->removeRows(0, model->rowCount());
    overdueCount = 0;
    for (const Site::Due &d : qAsConst(dues)) {
        const SiteReport::Row row = Site::reportRow(d);
        const QStringList cells = SiteReport::cells(row, today);
        if (d.status == Site::Status::Overdue)
            ++overdueCount;
        QColor colour;
        if (d.status == Site::Status::Overdue)
            colour = QColor(0xF4, 0xC7, 0xC3);
        else if (d.status == Site::Status::Soon)
            colour = QColor(0xFF, 0xEB, 0xA8);
        QList<QStandardItem *> items;
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QStandardItem(cells[c]);
            item->setEditable(c == ColTag);
            item->setData(d.detector.serial, SerialRole);
            item->setData(int(d.status), DueRole);
            // Numbers and dates sort as such.
            QVariant key = cells[c];
            if (c == 2)
                key = d.detector.address;
            else if (c == 11)
                key = row.lastCalibration.isValid() ? row.lastCalibration.toJulianDay() : 0;
            else if (c == 12 || c == ColDue)
                key = row.nextDue.isValid() ? row.nextDue.toJulianDay() : std::numeric_limits<qint64>::max();
            item->setData(key, SortRole);
            if (colour.isValid())
                item->setBackground(colour);
            if (c == ColDue && d.status == Site::Status::Overdue) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
            }
            items << item;
        }
        if (!items.isEmpty())
            items[ColTag]->setToolTip(tr("Двойной щелчок: изменить метку"));
        // Where the detector hung before, by its serial number's history.
        QStringList history;
        for (const Site::Move &m : moves.value(d.detector.serial))
            history << tr("%1: %2 → %3").arg(m.time.toString(QStringLiteral("dd.MM.yyyy")),
                                             place(m.oldPort, m.oldAddress), place(m.newPort, m.newAddress));
        if (!history.isEmpty() && items.size() > 2) {
            const QString tip = tr("Перемещения:\n%1").arg(history.join(QLatin1Char('\n')));
            items[1]->setToolTip(tip);
            items[2]->setToolTip(tip);
        }
        model->appendRow(items);
    }
    filling = false;
    ui->tableView->resizeColumnsToContents();
    ui->tableView->horizontalHeader()->setStretchLastSection(true);
    if (host)
        host->siteShown(current.name, overdueCount);
}

QVector<qint64> SiteWindow::shownSerials() const
{
    QVector<qint64> out;
    for (int r = 0; r < proxy->rowCount(); ++r)
        out << proxy->index(r, 0).data(SerialRole).toLongLong();
    return out;
}

QString SiteWindow::resultText() const
{
    return ui->plainTextEditResult->toPlainText();
}

void SiteWindow::intervalChanged(int days)
{
    if (filling || current.id == 0)
        return;
    if (withRegister([&](Site::Register &reg) { return reg.setInterval(current.id, days); }))
        siteChosen(ui->comboBoxSite->currentIndex());
}

void SiteWindow::tagEdited(int row)
{
    const qint64 serial = model->item(row, ColTag)->data(SerialRole).toLongLong();
    const QString tag = model->item(row, ColTag)->text().trimmed();
    withRegister([&](Site::Register &reg) { return reg.setTag(current.id, serial, tag); });
    for (Site::Due &d : dues)
        if (d.detector.serial == serial)
            d.detector.tag = tag;
    ui->tableView->resizeColumnToContents(ColTag);
}

void SiteWindow::on_pushButtonNewSite_clicked()
{
    bool ok = false;
    const QString name = QInputDialog::getText(this, tr("Новый объект"), tr("Название объекта:"), QLineEdit::Normal,
                                               QString(), &ok).trimmed();
    if (!ok || name.isEmpty())
        return;
    Site::Info created;
    if (!withRegister([&](Site::Register &reg) {
            Journal::Error e = reg.findSite(name, &created);
            if (e.ok() && created.id == 0)
                e = reg.createSite(name, Site::DefaultIntervalDays, &created);
            return e;
        }))
        return;
    current.name = name;
    ui->lineEditLines->clear();
    refresh();
}

QStringList SiteWindow::lines() const
{
    QStringList out;
    for (const QString &p : ui->lineEditLines->text().split(QRegExp(QStringLiteral("[;,]")), Qt::SkipEmptyParts))
        if (!p.trimmed().isEmpty() && !out.contains(p.trimmed()))
            out << p.trimmed();
    return out;
}

// The detectors selected in the table, or all it shows.
QVector<Site::Detector> SiteWindow::chosenDetectors() const
{
    QVector<qint64> serials;
    for (const QModelIndex &i : ui->tableView->selectionModel()->selectedRows())
        serials << i.data(SerialRole).toLongLong();
    if (serials.isEmpty())
        serials = shownSerials();
    QVector<Site::Detector> out;
    for (const Site::Due &d : dues)
        if (serials.contains(d.detector.serial))
            out << d.detector;
    return out;
}

bool SiteWindow::busy() const
{
    return survey || runner;
}

bool SiteWindow::startWork(const QStringList &ports, const QString &what, int steps)
{
    if (host && !host->releaseLines(ports))
        return false;
    stepsDone = 0;
    ui->progressBar->setRange(0, steps);
    ui->progressBar->setValue(0);
    ui->labelProgress->setText(what);
    ui->pushButtonCancel->setEnabled(true);
    for (QWidget *w : std::initializer_list<QWidget *>{ui->comboBoxSite, ui->pushButtonNewSite, ui->pushButtonSurvey,
                                                       ui->pushButtonBackup, ui->pushButtonApply, ui->pushButtonReport,
                                                       ui->spinBoxInterval, ui->lineEditLines})
        w->setEnabled(false);
    return true;
}

void SiteWindow::step(const QString &text)
{
    ui->progressBar->setValue(++stepsDone);
    ui->labelProgress->setText(text);
}

void SiteWindow::endWork(const QString &result)
{
    ui->pushButtonCancel->setEnabled(false);
    ui->comboBoxSite->setEnabled(true);
    ui->pushButtonNewSite->setEnabled(true);
    ui->progressBar->setValue(ui->progressBar->maximum());
    ui->labelProgress->setText(tr("Готово"));
    ui->plainTextEditResult->setPlainText(result);
    if (host)
        host->linesReturned();
    siteChosen(ui->comboBoxSite->currentIndex());
    emit actionEnded();
    if (closeWhenDone)
        close();
}

void SiteWindow::on_pushButtonCancel_clicked()
{
    ui->labelProgress->setText(tr("Остановка..."));
    ui->pushButtonCancel->setEnabled(false);
    if (survey)
        survey->cancel();
    if (runner)
        runner->cancel();
}

void SiteWindow::closeEvent(QCloseEvent *event)
{
    if (busy()) {
        // The lines stop first (a detector being written is finished).
        closeWhenDone = true;
        on_pushButtonCancel_clicked();
        event->ignore();
        return;
    }
    if (host)
        host->siteShown(QString(), 0);
    QWidget::closeEvent(event);
}

void SiteWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        setColumnTitles();
        fillTable();
    }
    QWidget::changeEvent(event);
}

// ------------------------------------------------------------------ survey

void SiteWindow::on_pushButtonSurvey_clicked()
{
    const QStringList ports = lines();
    if (ports.isEmpty()) {
        QMessageBox::information(this, tr("Объект"), tr("Укажите линии объекта (порты через «;»)."));
        return;
    }
    if (!startWork(ports, tr("Опрос линий..."), (scanTo - scanFrom + 1) * ports.size()))
        return;
    survey = new SiteSurvey(ports, scanFrom, scanTo, this);
    connect(survey, &SiteSurvey::asking, this, [this](const QString &port, int address) {
        step(tr("%1: опрашивается адрес %2 из %3").arg(port).arg(address).arg(scanTo));
    });
    connect(survey, &SiteSurvey::finished, this, &SiteWindow::surveyEnded);
    survey->start();
}

void SiteWindow::surveyEnded()
{
    const SiteSurvey::Result r = survey->result();
    survey->deleteLater();
    survey = nullptr;
    QStringList out;
    for (const SiteSurvey::Line &line : r.lines)
        out << (line.error.isEmpty() ? tr("%1: найдено приборов %2, прочитано %3").arg(line.port).arg(line.detectors).arg(line.read)
                                     : tr("%1: линия не открыта: %2").arg(line.port, line.error));
    if (r.cancelled) {
        out << tr("Опрос прерван: реестр объекта не изменён.");
        endWork(out.join(QLatin1Char('\n')));
        return;
    }
    Site::SurveyChanges changes;
    const qint64 site = current.id;
    if (!withRegister([&](Site::Register &reg) {
            return reg.applySurvey(site, r.reads, QDateTime::currentDateTime(), &changes);
        })) {
        endWork(out.join(QLatin1Char('\n')));
        return;
    }
    for (const Site::Change &c : changes.added)
        out << tr("Новый: %1 — %2").arg(c.serialText, place(c.port, c.address));
    for (const Site::Change &c : changes.missing)
        out << tr("Не найден: %1 — был %2").arg(c.serialText, place(c.port, c.address));
    for (const Site::Change &c : changes.moved)
        out << tr("Перемещён: %1 — %2 → %3").arg(c.serialText, place(c.oldPort, c.oldAddress), place(c.port, c.address));
    for (const Site::Change &c : changes.firmware)
        out << tr("Версия ПО: %1 — %2 → %3").arg(c.serialText, c.oldFirmware, c.firmware);
    for (const Site::Change &c : changes.drifted)
        for (const Journal::FieldChange &f : c.drift) {
            const Params::ParamDef *def = Params::findParameter(f.name);
            out << tr("Отклонение от резервной копии: %1 — %2: %3 → %4")
                       .arg(c.serialText, def ? ParamText::label(*def) : f.name, f.before, f.after);
        }
    if (changes.failedReads > 0)
        out << tr("Не прочитаны полностью: %1").arg(changes.failedReads);
    if (changes.added.isEmpty() && changes.missing.isEmpty() && changes.moved.isEmpty() && changes.firmware.isEmpty()
        && changes.drifted.isEmpty())
        out << tr("Изменений с прошлого опроса нет.");
    endWork(out.join(QLatin1Char('\n')));
}

// ------------------------------------------------------------- the runners

QString SiteWindow::outcomeLine(const SiteApply::Outcome &o) const
{
    using SiteApply::Why;
    QString why;
    switch (o.why) {
    case Why::None: break;
    case Why::LineNotOpened: why = tr("линия не открыта"); break;
    case Why::ReadFailed: why = tr("прибор не прочитан"); break;
    case Why::OtherDetector: why = tr("на этом месте отвечает другой прибор"); break;
    case Why::Refused: why = tr("значения не приняты"); break;
    case Why::ChangedSincePreview: why = tr("значения прибора изменились после просмотра; опросите линии заново"); break;
    case Why::NothingToChange: why = tr("нет изменений"); break;
    case Why::WriteFailed: why = tr("запись не удалась"); break;
    case Why::NotVerified: why = tr("записано, но не подтверждено"); break;
    case Why::FileNotWritten: why = tr("файл не записан"); break;
    case Why::Stopped: why = tr("остановлено после ошибки"); break;
    case Why::Cancelled: why = tr("отменено"); break;
    }
    QString status;
    switch (o.status) {
    case SiteApply::Status::Done: status = tr("выполнено"); break;
    case SiteApply::Status::Failed: status = tr("ОШИБКА"); break;
    case SiteApply::Status::Skipped: status = tr("пропущен"); break;
    }
    QString line = QStringLiteral("%1 (%2): %3").arg(Conv::serialText(o.target.serial, o.block.DeviceTypeReg),
                                                    place(o.target.port, o.target.address), status);
    if (!why.isEmpty())
        line += QStringLiteral(" — ") + why;
    if (!o.path.isEmpty() && o.status == SiteApply::Status::Done)
        line += QStringLiteral(" — ") + QDir::toNativeSeparators(o.path);
    return line;
}

void SiteWindow::on_pushButtonBackup_clicked()
{
    const QString dir = FileChoice::directoryName(this, tr("Папка для резервных копий"), QDir::homePath());
    if (dir.isEmpty())
        return;
    QVector<SiteApply::Target> targets;
    QStringList ports;
    for (const Site::Due &d : qAsConst(dues)) {
        targets.append({d.detector.port, d.detector.address, qint32(d.detector.serial)});
        if (!ports.contains(d.detector.port))
            ports << d.detector.port;
    }
    if (!startWork(ports, tr("Резервное копирование..."), targets.size()))
        return;
    backupRun = true;
    runner = SiteApply::Runner::backup(targets, dir);
    connect(runner.get(), &SiteApply::Runner::detectorDone, this, [this](const SiteApply::Outcome &o) {
        step(outcomeLine(o));
    });
    connect(runner.get(), &SiteApply::Runner::finished, this, &SiteWindow::backupEnded, Qt::QueuedConnection);
    runner->start();
}

void SiteWindow::backupEnded()
{
    const std::unique_ptr<SiteApply::Runner> done = std::move(runner);
    backupRun = false;
    const QDateTime now = QDateTime::currentDateTime();
    QStringList out;
    const qint64 site = current.id;
    withRegister([&](Site::Register &reg) { return SiteApply::recordBackups(reg, site, done->outcomes(), now); });
    out << tr("Резервные копии: сделано %1, ошибок %2, пропущено %3.")
               .arg(done->count(SiteApply::Status::Done)).arg(done->count(SiteApply::Status::Failed))
               .arg(done->count(SiteApply::Status::Skipped));
    for (const SiteApply::Outcome &o : done->outcomes())
        out << outcomeLine(o);
    endWork(out.join(QLatin1Char('\n')));
}

void SiteWindow::on_pushButtonApply_clicked()
{
    const QString level = host ? host->accessLevel() : QString();
    if (level.isEmpty()) {
        QMessageBox::information(this, tr("Изменение параметров приборов"),
                                 tr("Для записи в приборы войдите в программу с уровнем доступа."));
        return;
    }
    SiteApplyDialog dialog(chosenDetectors(), level, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QVector<SiteApply::Target> targets = dialog.targets();
    QStringList ports;
    for (const SiteApply::Target &t : targets)
        if (!ports.contains(t.port))
            ports << t.port;
    if (!startWork(ports, tr("Запись в приборы..."), targets.size()))
        return;
    gasApplied = dialog.gas();
    runner.reset(new SiteApply::Runner(targets, dialog.values(), level, dialog.stopAtFirstFailure(),
                                       QStringLiteral("program"), dialog.what()));
    runner->setJournal(location);
    connect(runner.get(), &SiteApply::Runner::detectorDone, this, [this](const SiteApply::Outcome &o) {
        step(outcomeLine(o));
    });
    connect(runner.get(), &SiteApply::Runner::finished, this, &SiteWindow::changeEnded, Qt::QueuedConnection);
    runner->start();
}

void SiteWindow::changeEnded()
{
    const std::unique_ptr<SiteApply::Runner> done = std::move(runner);
    const qint64 site = current.id;
    withRegister([&](Site::Register &reg) {
        return SiteApply::recordChange(reg, site, done->outcomes(), gasApplied, QDateTime::currentDateTime());
    });
    QStringList out;
    out << tr("Изменение параметров: выполнено %1, ошибок %2, пропущено %3.")
               .arg(done->count(SiteApply::Status::Done)).arg(done->count(SiteApply::Status::Failed))
               .arg(done->count(SiteApply::Status::Skipped));
    for (const SiteApply::Outcome &o : done->outcomes()) {
        QString line = outcomeLine(o);
        if (o.status == SiteApply::Status::Done) {
            QStringList changed;
            for (const SiteApply::Change &c : o.changes) {
                const Params::ParamDef *def = Params::findParameter(c.name);
                changed << QStringLiteral("%1: %2 → %3").arg(def ? ParamText::label(*def) : c.name, c.before, c.after);
            }
            line += QStringLiteral(" (") + changed.join(QStringLiteral("; ")) + QLatin1Char(')');
        }
        out << line;
    }
    gasApplied.clear();
    const QString summary = out.join(QLatin1Char('\n'));
    endWork(summary);
    if (!closeWhenDone) {
        if (done->count(SiteApply::Status::Failed) > 0)
            QMessageBox::warning(this, tr("Изменение параметров приборов"), summary);
        else
            QMessageBox::information(this, tr("Изменение параметров приборов"), summary);
    }
}

// ------------------------------------------------------------------ report

void SiteWindow::on_pushButtonReport_clicked()
{
    const QString suggested = QDir::home().filePath(
        QStringLiteral("%1_%2.pdf").arg(current.name, QDate::currentDate().toString(Qt::ISODate)));
    QString file = FileChoice::saveFileName(this, tr("Отчёт по объекту"), suggested, tr("PDF (*.pdf);;CSV (*.csv)"));
    if (file.isEmpty())
        return;
    if (QFileInfo(file).suffix().isEmpty())
        file += QStringLiteral(".pdf");
    SiteReport::Header header;
    header.site = current.name;
    header.date = QDate::currentDate();
    header.technician = QString::fromLocal8Bit(qgetenv("USER"));
    QVector<SiteReport::Row> rows;
    for (const Site::Due &d : qAsConst(dues))
        rows << Site::reportRow(d);
    QString error;
    bool ok = false;
    if (QFileInfo(file).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0) {
        QSaveFile out(file);
        ok = out.open(QIODevice::WriteOnly) && out.write(SiteReport::toCsv(header, rows)) >= 0 && out.commit();
        error = out.errorString();
    } else {
        ok = SiteReport::writePdf(header, rows, file, &error);
    }
    if (!ok)
        QMessageBox::warning(this, tr("Отчёт по объекту"), tr("Ошибка записи файла %1:\n%2").arg(file, error));
    else
        ui->plainTextEditResult->setPlainText(tr("Отчёт сохранён: %1").arg(QDir::toNativeSeparators(file)));
}

// The calibration journal from the main window: the "Журнал калибровок"
// window, where the journal lives ("Настройки журнала..."), its sending to
// a team's server, and the records of the calibration page's steps.  The
// file, factory and firmware slots (mainwindow_files.cpp) write theirs
// through writeJournal too.
#include "mainwindow.h"

#include "calibration.h"
#include "guidedsession.h"
#include "journal.h"
#include "journalsender.h"
#include "journalsync.h"
#include "journalsettings.h"
#include "journaltext_gui.h"
#include "journalwindow.h"
#include "programlink.h"
#include "siteregister.h"
#include "sitewindow.h"
#include "measurechart.h"
#include "windowplace.h"

#include <QMessageBox>

QString MainWindow::journalLocation() const
{
    // A line edited by hand into something the dialog refuses (a password
    // in it) is not used: the journal stays in this computer's file.
    const QString setting = ini.value(IniJournal);
    return Journal::checkSetting(setting).accepted() ? Journal::settingLocation(setting) : Journal::defaultPath();
}

void MainWindow::holdJournalFile()
{
    journalHold = std::make_unique<Journal::Database>();
    // A file that cannot be opened now is reported where a record is
    // written; without the hold a record only costs more.
    if (!journalHold->open(Journal::localPath(journalLocation())).ok())
        journalHold.reset();
}

bool MainWindow::setJournalSetting(const QString &setting)
{
    ini[IniJournal] = setting.trimmed();
    const bool saved = saveIni();
    holdJournalFile();
    const QString location = journalLocation();
    sender->setLocation(location);
    if (journalWindow)
        journalWindow->setLocation(location);
    if (siteWindow)
        siteWindow->setJournal(location);
    return saved;
}

void MainWindow::on_action_journalSettings_triggered()
{
    JournalSettings dialog(ini.value(IniJournal), this);
    if (dialog.exec() != QDialog::Accepted || dialog.location() == ini.value(IniJournal))
        return;
    if (!setJournalSetting(dialog.location()))
        QMessageBox::warning(this, tr("Журнал"), tr("Ошибка записи файла %1: настройка действует до выхода из программы.")
                                                     .arg(iniPath()));
}

void MainWindow::on_action_journal_triggered()
{
    if (!journalWindow) {
        journalWindow = new JournalWindow(this, journalLocation());
        if (sender->hasReport())
            journalWindow->showSync(sender->lastReport());
        WindowPlace::fitOnScreen(journalWindow, this);
    } else {
        journalWindow->refresh();
    }
    journalWindow->show();
    journalWindow->raise();
    journalWindow->activateWindow();
}

void MainWindow::journalSent()
{
    const Journal::SyncReport &report = sender->lastReport();
    if (journalWindow)
        journalWindow->showSync(report);
    if (report.registerReceived > 0 && siteWindow && !siteWindow->busy())
        siteWindow->refresh();
}

bool MainWindow::writeJournal(Journal::Record &record, bool report)
{
    const Journal::Error error = Journal::append(record, journalLocation());
    if (!error.ok() && !report)
        return false;
    if (!error.ok()) {
        // The device work is done and keeps its own outcome; only the record
        // is missing from the journal (or waits in its side file), and the
        // user must know that.
        QMessageBox::warning(this, tr("Журнал калибровок"),
                             (error.keptIn.isEmpty() ? tr("Запись в журнал калибровок не сделана.")
                                                     : tr("Запись не попала в журнал калибровок."))
                                 + QLatin1Char('\n') + JournalText::errorText(error) + QLatin1Char('\n')
                                 + tr("Работа с прибором этим не затронута."));
        return false;
    }
    sender->nudge();
    if (journalWindow)
        journalWindow->refresh();
    return true;
}

namespace {
Journal::Kind kindOf(const CalibrationStep &step)
{
    Journal::Kind kind = Journal::Kind::GasZero;
    switch (step.kind) {
    case CalibrationStep::Kind::GasZero:
        kind = Journal::Kind::GasZero;
        break;
    case CalibrationStep::Kind::GasSpan:
        kind = Journal::Kind::GasSpan;
        break;
    case CalibrationStep::Kind::Input4mA:
        kind = Journal::Kind::Input4mA;
        break;
    case CalibrationStep::Kind::Input20mA:
        kind = Journal::Kind::Input20mA;
        break;
    case CalibrationStep::Kind::Output4mA:
        kind = Journal::Kind::Output4mA;
        break;
    case CalibrationStep::Kind::Output20mA:
        kind = Journal::Kind::Output20mA;
        break;
    }
    return kind;
}

Journal::Record stepRecord(const CalibrationStep &step)
{
    const Journal::Kind kind = kindOf(step);
    Journal::Record record = Journal::fromDevice(command, kind, QStringLiteral("program"));
    const QStringList fields = Journal::calibrationFields(kind);
    record.value = step.value;
    record.before = Journal::fieldsText(fields, step.before);
    record.after = Journal::fieldsText(fields, step.after);
    record.ok = step.written;
    record.reason = step.reason;
    record.uuid = step.uuid;
    record.group = step.group;
    return record;
}
} // namespace

void MainWindow::recordCalibrationStart(const CalibrationStep &step)
{
    Journal::Record record = stepRecord(step);
    record.started = true;
    record.ok = false;
    record.reason.clear();
    // A journal that cannot take it is reported with the step's own record,
    // once.
    writeJournal(record, false);
}

void MainWindow::setUpGuidedSessions(Calibration *calibration)
{
    FunctionCheck::Tolerance tolerance;
    const QStringList parts = ini.value(IniTolerance).split(QLatin1Char(';'));
    bool gasOk = false, rangeOk = false;
    const double gas = parts.value(0).toDouble(&gasOk), range = parts.value(1).toDouble(&rangeOk);
    if (gasOk && rangeOk && gas >= 0 && range >= 0) {
        tolerance.percentOfGas = gas;
        tolerance.percentOfRange = range;
    }
    for (GuidedSession *session : {calibration->calibrationSession(), calibration->functionCheck()}) {
        session->setPeople(ini.value(IniTechnician), ini.value(IniOrganisation), tolerance);
        connect(session, &GuidedSession::recordReady, this, [this](const Journal::Record &r) {
            Journal::Record record = r;
            writeJournal(record);
        });
        connect(session, &GuidedSession::peopleChanged, this,
                [this, calibration](const QString &name, const QString &org, const FunctionCheck::Tolerance &t) {
                    ini[IniTechnician] = name;
                    ini[IniOrganisation] = org;
                    ini[IniTolerance] = QStringLiteral("%1;%2").arg(t.percentOfGas).arg(t.percentOfRange);
                    saveIni();
                    // Both tabs name the same technician.
                    for (GuidedSession *other : {calibration->calibrationSession(), calibration->functionCheck()})
                        other->setPeople(name, org, t);
                });
        // The moment a reading settled, marked on the chart.
        connect(session, &GuidedSession::settled, this, [this](const QDateTime &when, const QString &label) {
            if (chart)
                chart->markMoment(when, label);
            else
                trend.addMark(when.toMSecsSinceEpoch(), label);
        });
        session->setSiteLookup([this](qint64 serial, QString *tag, int *interval) {
            Journal::Database db;
            if (db.open(Journal::localPath(journalLocation())).ok())
                Site::Register(db).placeOf(serial, tag, interval);
        });
    }
}

void MainWindow::recordCalibration(const CalibrationStep &step)
{
    Journal::Record record = stepRecord(step);
    writeJournal(record);
    // A step refused for another device has dropped the block.
    showBlockState();
}

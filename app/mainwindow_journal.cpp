// The calibration journal from the main window: the "Журнал калибровок"
// window, and the records of the calibration page's steps.  The file,
// factory and firmware slots (mainwindow_files.cpp) write theirs through
// writeJournal too.
#include "mainwindow.h"

#include "calibration.h"
#include "journal.h"
#include "journaltext_gui.h"
#include "journalwindow.h"

#include <QMessageBox>

void MainWindow::on_action_journal_triggered()
{
    if (!journalWindow)
        journalWindow = new JournalWindow(this);
    else
        journalWindow->refresh();
    journalWindow->show();
    journalWindow->raise();
    journalWindow->activateWindow();
}

bool MainWindow::writeJournal(Journal::Record &record)
{
    const Journal::Error error = Journal::append(record);
    if (!error.ok()) {
        // The device work is done and keeps its own outcome; only the record
        // is missing, and the user must know that.
        QMessageBox::warning(this, tr("Журнал калибровок"),
                             tr("Запись в журнал калибровок не сделана.\n%1\n"
                                "Работа с прибором этим не затронута.")
                                 .arg(JournalText::errorText(error)));
        return false;
    }
    if (journalWindow)
        journalWindow->refresh();
    return true;
}

void MainWindow::recordCalibration(const CalibrationStep &step)
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
    Journal::Record record = Journal::fromDevice(command, kind, QStringLiteral("program"));
    const QStringList fields = Journal::calibrationFields(kind);
    record.value = step.value;
    record.before = Journal::fieldsText(fields, step.before);
    record.after = Journal::fieldsText(fields, step.after);
    record.ok = step.written;
    record.reason = step.reason;
    writeJournal(record);
    // A step refused for another device has dropped the block.
    showBlockState();
}

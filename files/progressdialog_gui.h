// The countdown progress dialog of the parameter-file loading and the
// firmware update.
#pragma once

#include <QString>
#include <QtGlobal>

class QProgressDialog;
class QWidget;

// Creates the progress dialog ("Пожалуйста подождите", label "Выполнение
// процесса...", cancel button "Завершить", range 0..100, window-modal,
// fixed size, no minimise/maximise/help buttons) with `parent` and restarts
// the program-wide elapsed timer of the countdown.  The caller owns the
// dialog and deletes it when the work ends; the dialog shows itself by the
// usual delayed-show rule of progress dialogs.
QProgressDialog *openProgressDialog(QWidget *parent);

// Milliseconds since the last openProgressDialog().
qint64 progressElapsedMs();

// "Выполнение процесса,\nосталось %1 секунд" for the given elapsed time and
// percent; the number is a whole one for the firmware update (wholeSeconds)
// and a general one with six significant digits for file loading.
QString countdownText(qint64 elapsedMs, int percent, bool wholeSeconds);

// Puts the countdown into the dialog's label; with percent 0 the label keeps
// its text.
void showCountdown(QProgressDialog *dialog, int percent, bool wholeSeconds);

// The firmware update as the main window runs it: the transfer of
// firmware.h under the countdown progress dialog, with the error boxes.
#pragma once

#include <QString>

class QWidget;

// Sends the image at `path` to the bootloader (command.SlaveAddress as set by
// page set-up).  The progress dialog is parented to `window` and can be
// cancelled between blocks.  Every failure is reported in the critical box
// "Ошибка" (a cancel quietly).  True only when every block and the restart
// command went through.  On false, `failure` (when given) gets the text of
// the box shown, or says that the update was cancelled.
bool updateFirmware(QWidget *window, const QString &path, QString *failure = nullptr);

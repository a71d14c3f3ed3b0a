// The firmware update as the main window runs it: the questions before it,
// and the transfer of firmware.h under the countdown progress dialog, with
// the error boxes.
#pragma once

#include "firmware.h"

#include <QString>

class QWidget;

// The text of the first question: "Загрузить в устройство?" and, for an
// image that could be read, its file name, size and SHA-256.
QString firmwareQuestionText(const Firmware::Image &image);

// Why the image does not look like an application, one line per wrong word
// (translated); empty when it does.
QString vectorProblemLines(const Firmware::VectorCheck &check);

// The second question for an image that does not look like an application:
// names the wrong words and asks whether to load it all the same, with
// "Нет" as the default button.  True only when the user answers "Да".
bool confirmUnusualImage(const Firmware::Image &image);

// Sends `image` to the bootloader (command.SlaveAddress as set by page
// set-up).  The progress dialog is parented to `window` and can be
// cancelled between blocks.  Every failure is reported in the critical box
// "Ошибка" (a cancel quietly).  `accept` says whether an image that does not
// look like an application may go (the user agreed a second time).  True
// only when every block and the restart command went through.  On false,
// `failure` (when given) gets the text of the box shown, or says that the
// update was cancelled.
bool updateFirmware(QWidget *window, const Firmware::Image &image, Firmware::Images accept,
                    QString *failure = nullptr);

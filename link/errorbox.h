// Message boxes that every window shows alike.  Kept at the lowest widget
// level (beside the connection dialog) so that the main window, the pages and
// the file flows can all use them.
#pragma once

class QWidget;

// The modal warning "Ошибка" / "Ошибка обмена данными" with the Ok button,
// parented to `parent`: a request the user started went unanswered or was
// refused by the device.
void showExchangeError(QWidget *parent);

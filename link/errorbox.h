// Message boxes that every window shows alike.  Kept at the lowest widget
// level (beside the connection dialog) so that the main window, the pages and
// the file flows can all use them.
#pragma once

namespace DeviceOps { struct Outcome; }
#include <QtGlobal>

class QString;
class QWidget;

// The modal warning "Ошибка" / "Ошибка обмена данными" with the Ok button,
// parented to `parent`: a request the user started went unanswered or was
// refused by the device.  With the exchange's result, a line that never
// fell silent or an exchange cut short says so.
void showExchangeError(QWidget *parent, quint16 result = 0);

// "Ошибка обмена данными", or what made the exchange with `result` fail
// when it is more than that (the status bar shows it too).
QString exchangeErrorText(quint16 result);

// The modal warning "Ошибка" for a write to the device that did not go
// through: the block is not this device's (nothing written), another
// detector answers there (nothing written), or the write went out but was
// not confirmed (the device may hold either values); otherwise as
// showExchangeError.
void showWriteError(QWidget *parent, const DeviceOps::Outcome &outcome);

// The text showWriteError shows (also what a journal record keeps as the reason).
QString writeErrorText(const DeviceOps::Outcome &outcome);

// Where the program's own windows open: wholly on the screen, over the
// window they belong to.  A window taller or wider than the screen's free
// area (what panels leave) is made smaller to fit it.
#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

namespace WindowPlace {

// `frame` (a window with its title bar and borders) moved, and made
// smaller where it must, to lie within `available`.
QRect fitInto(const QRect &frame, const QRect &available);

// Fits `window` into the free area of the screen `over` is on (the window's
// own screen without one).  A window that has never been placed opens
// centred over `over`.  Call it before show(); a window already on the
// screen stays where it is.
void fitOnScreen(QWidget *window, const QWidget *over = nullptr);

// Centres `window` (a dialog of `over`, say) over `over` and fits it on the
// screen.
void centreOver(QWidget *window, const QWidget *over);

} // namespace WindowPlace

#include "windowplace.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace WindowPlace {

namespace {

QScreen *screenOf(const QWidget *window, const QWidget *over)
{
    const QWidget *w = over ? over->window() : window;
    QScreen *screen = w->screen();
    // A window not yet shown knows no screen but the one under its middle.
    if (!w->isVisible()) {
        if (QScreen *at = QGuiApplication::screenAt(w->geometry().center()))
            screen = at;
    }
    return screen ? screen : QGuiApplication::primaryScreen();
}

// The window's decorations: measured once it has been shown, else a title
// bar's height above it and a thin border around.
QMargins decorations(const QWidget *window)
{
    if (window->isVisible() || window->testAttribute(Qt::WA_WState_Created)) {
        const QRect frame = window->frameGeometry();
        const QRect inner = window->geometry();
        if (frame != inner)
            return QMargins(inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
                            frame.bottom() - inner.bottom());
    }
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    return QMargins(2, std::max(title, 24) + 2, 2, 2);
}

void place(QWidget *window, const QWidget *over, bool centre)
{
    if (!window)
        return;
    QScreen *screen = screenOf(window, over);
    if (!screen)
        return;
    // The size show() would give a window nobody sized.
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    const QMargins margins = decorations(window);
    QRect frame = window->geometry().marginsAdded(margins);
    if (over && (centre || !window->testAttribute(Qt::WA_Moved)))
        frame.moveCenter(over->window()->frameGeometry().center());
    const QRect fitted = fitInto(frame, screen->availableGeometry()).marginsRemoved(margins);
    if (fitted != window->geometry())
        window->setGeometry(fitted);
}

} // namespace

QRect fitInto(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    QRect r = frame;
    r.setWidth(std::min(r.width(), available.width()));
    r.setHeight(std::min(r.height(), available.height()));
    r.moveLeft(std::clamp(r.left(), available.left(), available.right() - r.width() + 1));
    r.moveTop(std::clamp(r.top(), available.top(), available.bottom() - r.height() + 1));
    return r;
}

void fitOnScreen(QWidget *window, const QWidget *over)
{
    place(window, over, false);
}

void centreOver(QWidget *window, const QWidget *over)
{
    place(window, over, true);
}

} // namespace WindowPlace

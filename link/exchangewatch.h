// The program's side of a long exchange.  Exchanges run on the window's
// thread; while one waits on the line, this keeps the windows painting and,
// once it has taken a while, offers a progress window with "Отмена" that
// cuts it short.  A close of the main window or a quit signal cuts the
// running exchange short too, and once the program quits on a signal no box
// waits for anyone: what it would say goes to stderr.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QProgressDialog;
class QWidget;

class ExchangeWatch : public QObject
{
    Q_OBJECT
public:
    // The progress window appears once an exchange has run this long; a
    // good reply takes a fraction of it.
    static constexpr int ShowAfterMs = 600;

    // Watches the exchanges of `command` from now on; `window` is the
    // parent of the progress window when no modal window is up.
    explicit ExchangeWatch(QWidget *window);
    ~ExchangeWatch() override;

    // Cuts the exchange that runs now (if one does) short; later exchanges
    // run as usual.
    static void cutRunning();
    // The program is quitting on a signal: the running exchange is cut
    // short, and every box shown from now on is closed at once, its text
    // written to stderr.
    static void quittingOnSignal();
    static bool quitting();

    // Writes "tl-configuration: TEXT" on stderr.
    static void toStderr(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static bool onWait(qint64 elapsedMs, void *context);
    bool waiting(qint64 elapsedMs);

    QWidget *window;
    std::unique_ptr<QProgressDialog> progress;
};

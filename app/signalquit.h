// SIGTERM, SIGHUP and SIGINT end the program through its normal quit path,
// so that the window's shutdown runs: a running output test is ended on the
// device and the ini file is written.  An exchange that runs when the signal
// comes is cut short first.
#pragma once

#include <QObject>

class QSocketNotifier;

class QuitOnSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; the application object must exist.
    explicit QuitOnSignals(QObject *parent = nullptr);
    // Puts the default handlers back.
    ~QuitOnSignals() override;

    // The signal that asked the program to quit, 0 while none has.
    static int received();

private:
    void onNotified();
    QSocketNotifier *notifier = nullptr;
};

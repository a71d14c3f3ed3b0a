#include "signalquit.h"

#include "exchangewatch.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a pipe; the event loop reads the other end.
int pipeEnds[2] = {-1, -1};
volatile sig_atomic_t lastSignal = 0;
const int handled[] = {SIGTERM, SIGHUP, SIGINT};

void onSignal(int sig)
{
    lastSignal = sig;
    const char byte = char(sig);
    const int saved = errno;
    // A write that fails leaves nothing to be done in a signal handler (a
    // cast to void does not quiet the warning _FORTIFY_SOURCE asks for).
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent)
    : QObject(parent)
{
    if (pipeEnds[0] < 0) {
        if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
    }
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QuitOnSignals::onNotified);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : handled)
        sigaction(sig, &sa, nullptr);
}

QuitOnSignals::~QuitOnSignals()
{
    for (const int sig : handled)
        std::signal(sig, SIG_DFL);
}

int QuitOnSignals::received()
{
    return lastSignal;
}

void QuitOnSignals::onNotified()
{
    char buffer[16];
    while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) {
    }
    // An exchange that waits on the line (the window answers meanwhile) is
    // cut short.  quit() leaves every event loop, also a modal dialog's;
    // the program then ends the output test and writes the ini file.
    ExchangeWatch::quittingOnSignal();
    QCoreApplication::quit();
}

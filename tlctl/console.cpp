#include "console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace Tlctl {

namespace {

// Set by the handler on whichever thread the signal lands, read by every
// line's thread between its waits: lock-free atomics, which a handler may
// touch and threads may share.
std::atomic<int> stopRequested{0};
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onSignal(int sig)
{
    int none = 0;
    stopSignal.compare_exchange_strong(none, sig);
    stopRequested = 1;
}

} // namespace

void installInterruptHandlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a prompt blocked in read() returns, so the terminal's
    // echo is switched back on before tlctl ends.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGPIPE, &sa, nullptr);
}

OutputChannel::OutputChannel(int descriptor)
    : fd(descriptor)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 OutputChannel::writeData(const char *data, qint64 size)
{
    if (broken)
        return -1;
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size_t(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Inherited non-blocking: wait for room as a blocking write would.
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        // EPIPE (also when SIGPIPE is ignored), EIO from a hung-up terminal...
        broken = true;
        stopRequested = 1;
        return -1;
    }
    return done;
}

bool interrupted()
{
    return stopRequested != 0;
}

void clearInterrupted()
{
    stopRequested = 0;
    stopSignal = 0;
}

int interruptExitCode()
{
    // 128 + the signal, as a shell reports a process the signal ended.
    switch (stopSignal) {
    case SIGTERM:
    case SIGHUP:
        return 128 + stopSignal;
    default:
        return 130;
    }
}

QString interruptCause()
{
    switch (stopSignal) {
    case SIGINT: return QStringLiteral("Ctrl-C (SIGINT)");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP (the terminal went away)");
    case SIGPIPE: return QStringLiteral("SIGPIPE (the output is not read any more)");
    default: return QStringLiteral("the output going away");
    }
}

bool askSecretOnTerminal(const QString &prompt, QString &answer)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Echo goes off before the prompt appears: whatever is typed once the
    // prompt is visible is never shown.  TCSANOW keeps what was typed already
    // (type-ahead); TCSAFLUSH would throw it away and leave tlctl waiting for
    // a password the user has given.
    termios saved;
    const bool haveTermios = tcgetattr(fd, &saved) == 0;
    if (haveTermios) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(fd, TCSANOW, &quiet);
    }
    auto restore = [&] {
        if (haveTermios)
            tcsetattr(fd, TCSADRAIN, &saved);
    };
    const QByteArray p = prompt.toLocal8Bit();
    if (::write(fd, p.constData(), size_t(p.size())) < 0) {
        restore();
        ::close(fd);
        return false;
    }
    QByteArray line;
    bool ok = false;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n == 1) {
            if (c == '\n' || c == '\r') {
                ok = true;
                break;
            }
            line.append(c);
            if (line.size() > 256)
                break;
            continue;
        }
        if (n < 0 && errno == EINTR && !interrupted())
            continue;
        break;   // end of input, an error, or Ctrl-C
    }
    restore();
    if (!ok) {
        const char nl = '\n';
        [[maybe_unused]] const ssize_t written = ::write(fd, &nl, 1);   // the prompt's line end, if it can
    }
    ::close(fd);
    answer = QString::fromLocal8Bit(line);
    return ok;
}

bool confirmOnTerminal(const QString &question)
{
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const QByteArray q = (question + QStringLiteral(" [y/N] ")).toLocal8Bit();
    if (::write(fd, q.constData(), size_t(q.size())) < 0) {
        ::close(fd);
        return false;
    }
    QByteArray line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(fd, &c, 1);
        if (n == 1) {
            if (c == '\n' || c == '\r')
                break;
            if (line.size() < 64)
                line.append(c);
            continue;
        }
        if (n < 0 && errno == EINTR && !interrupted())
            continue;
        line.clear();   // end of input or Ctrl-C: no
        break;
    }
    ::close(fd);
    const QString answer = QString::fromLocal8Bit(line).trimmed();
    return answer.startsWith(QLatin1Char('y'), Qt::CaseInsensitive)
        || answer.startsWith(QChar(0x0434)) || answer.startsWith(QChar(0x0414));
}

QString progressBar(int percent, qint64 done, qint64 total, int width, double secondsLeft)
{
    const int p = qBound(0, percent, 100);
    const int filled = width * p / 100;
    QString bar = QStringLiteral("[") + QString(filled, QLatin1Char('#'))
                  + QString(width - filled, QLatin1Char('.')) + QStringLiteral("]");
    QString line = QStringLiteral("%1 %2 %  %3/%4 bytes").arg(bar).arg(p, 3).arg(done).arg(total);
    if (secondsLeft >= 0.5)
        line += QStringLiteral("  ~%1 s left").arg(qint64(secondsLeft + 0.5));
    return line;
}

} // namespace Tlctl

// Terminal side of tlctl: where output goes, the password prompt without
// echo, Ctrl-C, and the progress line of long commands.
#pragma once

#include <QIODevice>
#include <QString>
#include <QTextStream>
#include <functional>

namespace Tlctl {

struct Io {
    QTextStream &out;
    QTextStream &err;
    bool outIsTerminal = false;
    bool errIsTerminal = false;
    // Asks for a secret on the terminal without echo.  Returns false when
    // there is no terminal to ask on (or the prompt was interrupted).
    std::function<bool(const QString &prompt, QString &answer)> askSecret;
    // Asks a yes/no question on the terminal.  Returns false for "no", and
    // when there is no terminal to ask on.
    std::function<bool(const QString &question)> confirm;
};

// Prompts on /dev/tty with echo off.  False when there is no terminal.
bool askSecretOnTerminal(const QString &prompt, QString &answer);
// Asks "question [y/N] " on /dev/tty; true only for an answer starting with
// y or Y (also д/Д).  False when there is no terminal.
bool confirmOnTerminal(const QString &question);

// SIGINT, SIGTERM, SIGHUP (the terminal went away) and SIGPIPE (the reader
// of the output went away, as in "tlctl read | head -1") all set one flag
// that long commands look at between steps.  None of them ends the process
// outright: the run ends through its usual path, so a simulated detector it
// started is stopped and the port is closed.
void installInterruptHandlers();
bool interrupted();
void clearInterrupted();
// The exit code of a run that was interrupted: 143 for SIGTERM, 129 for
// SIGHUP, otherwise 130 (Ctrl-C, an output gone away).
int interruptExitCode();
// What interrupted the run, for messages: "Ctrl-C (SIGINT)", "SIGTERM", ...
QString interruptCause();

// stdout or stderr for the streams of Io.  A write that fails (a closed pipe,
// a terminal that hung up) ends the run like a signal: it sets the interrupt
// flag, and the output is dropped from then on.
class OutputChannel : public QIODevice
{
public:
    explicit OutputChannel(int fd);
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    int fd;
    bool broken = false;
};

// One progress line: "[#######.............]  35 %  22800/65536 bytes  ~41 s left".
QString progressBar(int percent, qint64 done, qint64 total, int width, double secondsLeft);

} // namespace Tlctl

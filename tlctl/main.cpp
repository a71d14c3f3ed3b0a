// tlctl: the command-line companion of TL Configuration.  The same link, the
// same conversions and the same file formats as the program, for scripts,
// production lines and machines without a screen.
#include "commands.h"
#include "console.h"

#include <QCoreApplication>
#include <QTextStream>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Tlctl::installInterruptHandlers();

    Tlctl::OutputChannel outChannel(STDOUT_FILENO);
    Tlctl::OutputChannel errChannel(STDERR_FILENO);
    QTextStream out(&outChannel);
    QTextStream err(&errChannel);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    Tlctl::Io io{out, err, isatty(STDOUT_FILENO) == 1, isatty(STDERR_FILENO) == 1, nullptr, nullptr};
    // Ask for passwords only when someone sits at the terminal; scripts give
    // them in the environment and never hang on a prompt.
    if (isatty(STDIN_FILENO) == 1) {
        io.askSecret = Tlctl::askSecretOnTerminal;
        io.confirm = Tlctl::confirmOnTerminal;
    }

    QStringList words = app.arguments();
    words.removeFirst();
    return Tlctl::run(words, io);
}

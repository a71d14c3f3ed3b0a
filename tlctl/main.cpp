// tlctl: the command-line companion of TL Configuration.  The same link, the
// same conversions and the same file formats as the program, for scripts,
// production lines and machines without a screen.
#include "cli.h"
#include "commands.h"
#include "console.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>
#include <memory>
#include <unistd.h>

int main(int argc, char **argv)
{
    // The words as QCoreApplication::arguments() gives them, read before the
    // application object is made: it depends on them.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words << QString::fromLocal8Bit(argv[i]);
    // A PDF is painted through QtGui, which needs a platform; without a
    // display the offscreen one serves, unless the user chose another.
    std::unique_ptr<QCoreApplication> app;
    if (Tlctl::needsGui(words)) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
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
    return Tlctl::run(words, io);
}

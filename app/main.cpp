// Entry point of TL Configuration.
#include "mainwindow.h"
#include "signalquit.h"
#include "startenv.h"
#include "windowplace.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered without a display, so before the application object.
    QString answer;
    if (StartEnvironment::commandLineAnswer(argc, argv, &answer)) {
        std::fputs(answer.toLocal8Bit().constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // Plug-ins shipped beside the program (serial port, platform) come
    // first; never a folder of the working directory, which anyone may have
    // filled.
    const QString plugins = StartEnvironment::pluginFolder();
    if (!plugins.isEmpty())
        QCoreApplication::addLibraryPath(plugins);
    // Read by the platform plug-in as the application object starts.
    StartEnvironment::skipUnusedOpenGl();
    QApplication app(argc, argv);
    StartEnvironment::setIdentity();
    QuitOnSignals quitOnSignals;

    int rc = 0;
    {
        MainWindow window;
        theMainWindow = &window;
        WindowPlace::fitOnScreen(&window);
        window.show();
        rc = app.exec();
    }   // the window writes the ini file as it goes
    return rc;
}

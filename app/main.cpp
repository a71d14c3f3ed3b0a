#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));
    QApplication app(argc, argv);
    MainWindow window;
    theMainWindow = &window;
    window.show();
    return app.exec();
}

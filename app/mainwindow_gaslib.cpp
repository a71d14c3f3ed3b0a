// Main-window slot of the gas configuration library.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accesslevels.h"
#include "authorizationwindow.h"
#include "programlink.h"
#include "sensorconfiguration.h"

#include <QCoreApplication>

void MainWindow::on_action_config_triggered()
{
    endOutputTest();
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();

    if (Access::needsFactoryPassword(command.UserName)) {
        AuthorizationWindow password(this, 1);
        password.exec();
        if (!command.FactoryAccess)
            return;
    }
    // One grant serves one action.
    command.FactoryAccess = 0;

    {
        SensorConfiguration dialog(this);
        dialog.exec();
    }
    readCycle(ui->tabWidget->currentIndex());
}

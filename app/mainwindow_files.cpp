// Main-window slots of the parameter file, the factory settings and the
// firmware update.  The slots do what belongs to the window (ending other
// flows, the status bar, the ini paths, access) and leave the transfers to
// the functions of files/.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accesslevels.h"
#include "authorizationwindow.h"
#include "command.h"
#include "deviceparams.h"
#include "filechoice_gui.h"
#include "firmware_gui.h"
#include "parameterfile_gui.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::on_pushButtonSaveConfigPC_clicked()
{
    // The file keeps what the device holds once the output test is over.
    endOutputTest();
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();

    const QString path = FileChoice::saveFileName(this, tr("Файл конфигурации"),
                                                  iniValue(IniConfigDir) + QStringLiteral("//config.txt"),
                                                  tr("(*.txt);"));
    if (path.isEmpty())
        return;
    setIniValue(IniConfigDir, QFileInfo(path).absolutePath());
    setIniValue(IniSavePath, path);
    saveBlockFile(path, HexFile::BlockBytes);
}

void MainWindow::on_pushButtonLoadConfigDevice_clicked()
{
    endOutputTest();
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();

    const QString path = FileChoice::openFileName(this, tr("Файл конфигурации"),
                                                  iniValue(IniConfigDir), tr("(*.txt);"));
    if (path.isEmpty())
        return;
    setIniValue(IniConfigDir, QFileInfo(path).absolutePath());
    setIniValue(IniLoadPath, path);

    FlowHost host = flowHost();
    loadParameterFile(host, path);
}

void MainWindow::on_pushButtonSaveFactorySettings_clicked()
{
    endOutputTest();
    FlowHost host = flowHost();
    storeFactorySettings(host);
}

void MainWindow::on_pushButtonReadFactorySettings_clicked()
{
    endOutputTest();
    if (Access::needsFactoryPassword(command.UserName)) {
        AuthorizationWindow dialog(this, 1);
        dialog.exec();
        if (!command.FactoryAccess)
            return;
    }
    command.FactoryAccess = 0;
    FlowHost host = flowHost();
    restoreFactorySettings(host);
}

void MainWindow::on_pushButtonBootloader_clicked()
{
    endOutputTest();
    clearStatus();
    QCoreApplication::processEvents();

    const QString path = FileChoice::openFileName(this, tr("Файл прошивки"),
                                                  iniValue(IniFirmwareDir), tr("(*.bin);"));
    if (path.isEmpty())
        return;
    setIniValue(IniFirmwareDir, QFileInfo(path).absolutePath());
    setIniValue(IniFirmwarePath, path);

    const auto answer = QMessageBox::question(nullptr, tr("Обновление версии ПО"),
                                              tr("Загрузить в устройство?"),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || command.DeviceType != Params::TypeBootloader)
        return;
    if (updateFirmware(this, iniValue(IniFirmwarePath)))
        QMessageBox::information(nullptr, QStringLiteral("Обновление версии ПО"),
                                 tr("Контроллер успешно прошит"), QMessageBox::Ok);
}

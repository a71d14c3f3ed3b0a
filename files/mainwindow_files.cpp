// Main-window slots of the parameter file, the factory settings and the
// firmware update.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "authorizationwindow.h"
#include "command.h"
#include "deviceparams.h"
#include "filechoice_gui.h"
#include "firmware_gui.h"
#include "parameterfile_gui.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstring>

static constexpr qint16 BootloaderType = 999;

void MainWindow::on_pushButtonSaveConfigPC_clicked()
{
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
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();

    const QString path = FileChoice::openFileName(this, tr("Файл конфигурации"),
                                                  iniValue(IniConfigDir), tr("(*.txt);"));
    if (path.isEmpty())
        return;
    setIniValue(IniConfigDir, QFileInfo(path).absolutePath());
    setIniValue(IniLoadPath, path);

    // Decoded into a copy: the block changes only when the file held a whole
    // image, so a cancelled or short file never reaches the device.
    quint8 image[HexFile::BlockBytes];
    std::memcpy(image, &command.DeviceParams, sizeof image);
    if (!loadBlockFile(this, path, image, HexFile::BlockBytes))
        return;
    std::memcpy(&command.DeviceParams, image, sizeof image);
    writeParameters(this, ui->tabWidget->currentIndex());
}

void MainWindow::on_pushButtonSaveFactorySettings_clicked()
{
    // The device stores what it holds: only parameters it has just received.
    if (!writeParameters(this, ui->tabWidget->currentIndex()))
        return;
    if (command.transact(16, Params::CmdStoreFactory, Params::CommandRegister, 1) != ResultOk) {
        QMessageBox::warning(this, tr("Ошибка"), tr("Ошибка обмена данными"), QMessageBox::Ok);
        showStatus(tr("Ошибка обмена данными"));
    }
}

void MainWindow::on_pushButtonReadFactorySettings_clicked()
{
    if (command.UserName == QLatin1String("User")) {
        AuthorizationWindow dialog(this, 1);
        dialog.exec();
        if (!command.FactoryAccess)
            return;
    }
    command.FactoryAccess = 0;
    if (command.transact(16, Params::CmdRestoreFactory, Params::CommandRegister, 1) != ResultOk) {
        QMessageBox::warning(this, tr("Ошибка"), tr("Ошибка обмена данными"), QMessageBox::Ok);
        showStatus(tr("Ошибка обмена данными"));
        return;
    }
    on_pushButton_Read_Param_clicked();
}

void MainWindow::on_pushButtonBootloader_clicked()
{
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
    if (answer != QMessageBox::Yes || command.DeviceType != BootloaderType)
        return;
    if (updateFirmware(this, iniValue(IniFirmwarePath)))
        QMessageBox::information(nullptr, QStringLiteral("Обновление версии ПО"),
                                 tr("Контроллер успешно прошит"), QMessageBox::Ok);
}

// Main-window slots of the parameter file, the factory settings and the
// firmware update.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accesslevels.h"
#include "authorizationwindow.h"
#include "command.h"
#include "deviceparams.h"
#include "errorbox.h"
#include "filechoice_gui.h"
#include "firmware_gui.h"
#include "parameterfile_gui.h"
#include "paramtext_gui.h"
#include "restoreconfirm.h"
#include "restoreplan.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

#include <cstring>

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

    // The file is decoded into a block of its own and checked whole: a
    // cancelled, short, damaged or implausible file never reaches the device.
    ParamBlock file;
    std::memset(&file, 0, sizeof file);
    if (!loadBlockFile(this, path, reinterpret_cast<quint8 *>(&file), HexFile::BlockBytes))
        return;
    const QVector<Restore::Implausible> implausible = Restore::checkPlausible(file);
    if (!implausible.isEmpty()) {
        QStringList lines;
        for (const Restore::Implausible &bad : implausible)
            lines << ParamText::implausible(*bad.def, bad.why, file);
        QMessageBox::critical(this, tr("Ошибка"),
                              tr("Файл %1 содержит значения, которых не бывает у прибора TL-02:\n%2\n"
                                 "Параметры в прибор не записаны.")
                                  .arg(QFileInfo(path).fileName(), lines.join(QLatin1Char('\n'))),
                              QMessageBox::Ok);
        return;
    }

    // What the device holds now is what the changes are shown against.
    const int tab = ui->tabWidget->currentIndex();
    showStatus(tr("Идет передача данных..."));
    QCoreApplication::processEvents();
    if (!readCycle(tab)) {
        showExchangeError(this);
        return;
    }
    const ParamBlock device = command.DeviceParams;
    const QString level = command.UserName;
    const qint16 type = command.DeviceType;
    const quint16 count = command.WriteCount;
    RestoreConfirmDialog confirm(this, path, device, file, [=](bool clone) {
        return Restore::plan(device, file, level, type, count, clone);
    });
    if (confirm.exec() != QDialog::Accepted)
        return;
    const Restore::Plan &plan = confirm.plan();
    if (!plan.notConvertible.isEmpty() || !plan.anyChange())
        return;
    command.DeviceParams = plan.result;
    writeParameters(this, tab);
}

void MainWindow::on_pushButtonSaveFactorySettings_clicked()
{
    endOutputTest();
    storeFactorySettings(this, ui->tabWidget->currentIndex());
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
    restoreFactorySettings(this, ui->tabWidget->currentIndex());
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

// Main-window slots of the parameter file, the factory settings and the
// firmware update.  The slots do what belongs to the window (ending other
// flows, the status bar, the ini paths, access) and leave the transfers to
// the functions of files/.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accesslevels.h"
#include "authorizationwindow.h"
#include "programlink.h"
#include "deviceparams.h"
#include "filechoice_gui.h"
#include "firmware_gui.h"
#include "journal.h"
#include "parameterfile_gui.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMessageBox>

void MainWindow::on_pushButtonSaveConfigPC_clicked()
{
    // The file keeps what the device holds once the output test is over.
    endOutputTest();
    clearStatus();
    stopAutoUpdate();
    QCoreApplication::processEvents();
    // A file of another detector's values would pass for this one's.
    if (!DeviceOps::blockFromLink(command)) {
        QMessageBox::warning(this, tr("Ошибка"),
                             tr("Параметры этого прибора не прочитаны: прочитайте параметры, прежде чем "
                                "сохранять их в файл"));
        return;
    }

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
    LoadReport report;
    const bool written = loadParameterFile(host, path, &report);
    showBlockState();
    if (!report.attempted)
        return;
    // The detector as it was before: a copied file may bring another serial number.
    Journal::Record record = Journal::fromDevice(command, Journal::Kind::FileLoad, QStringLiteral("program"), report.device);
    record.value = path;
    Journal::differences(report.device, report.planned, command.WriteCount, &record.before, &record.after);
    record.ok = written;
    if (!written)
        record.reason = tr("Ошибка обмена данными");
    writeJournal(record);
}

void MainWindow::on_pushButtonSaveFactorySettings_clicked()
{
    endOutputTest();
    FlowHost host = flowHost();
    const bool stored = storeFactorySettings(host);
    showBlockState();
    Journal::Record record = Journal::fromDevice(command, Journal::Kind::FactoryStore, QStringLiteral("program"));
    // What the factory settings now keep of the calibration.
    record.after = Journal::fieldsText(Journal::calibrationFields(Journal::Kind::FactoryStore), command.DeviceParams);
    record.ok = stored;
    if (!stored)
        record.reason = tr("Ошибка обмена данными");
    writeJournal(record);
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
    const ParamBlock before = command.DeviceParams;
    const bool restored = restoreFactorySettings(host);
    showBlockState();
    Journal::Record record = Journal::fromDevice(command, Journal::Kind::FactoryRestore, QStringLiteral("program"));
    if (restored)
        Journal::differences(before, command.DeviceParams, command.WriteCount, &record.before, &record.after);
    record.ok = restored;
    if (!restored)
        record.reason = tr("Ошибка обмена данными");
    writeJournal(record);
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

    // The image is read once: the questions show its size and SHA-256, and
    // the transfer sends exactly the bytes they were about.
    const Firmware::Image image = Firmware::readImage(path);
    const auto answer = QMessageBox::question(nullptr, tr("Обновление версии ПО"), firmwareQuestionText(image),
                                              QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes || command.DeviceType != Params::TypeBootloader)
        return;
    Firmware::Images accept = Firmware::Images::ApplicationOnly;
    if (image.status == Firmware::Result::Ok && !image.vectors.looksLikeApplication()) {
        if (!confirmUnusualImage(image))
            return;
        accept = Firmware::Images::Any;
    }
    Journal::Record record = Journal::fromDevice(command, Journal::Kind::Firmware, QStringLiteral("program"));
    record.value = Journal::firmwareValue(QFileInfo(path).absoluteFilePath(), image.size, image.sha256Hex());
    QString failure;
    record.ok = updateFirmware(this, image, accept, &failure);
    record.reason = failure;
    record.time = QDateTime::currentDateTime();
    if (record.ok)
        QMessageBox::information(nullptr, QStringLiteral("Обновление версии ПО"),
                                 tr("Контроллер успешно прошит"), QMessageBox::Ok);
    writeJournal(record);
}

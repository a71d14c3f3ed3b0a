#include "parameterfile_gui.h"

#include "programlink.h"
#include "deviceops.h"
#include "errorbox.h"
#include "paramtext_gui.h"
#include "progressdialog_gui.h"
#include "restoreconfirm.h"
#include "restoreplan.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFile>
#include <QMessageBox>
#include <QProgressDialog>

#include <cstring>
#include <memory>

bool saveBlockFile(const QString &path, int length)
{
    if (length < 0 || length > int(sizeof(ParamBlock)))
        return false;
    // A copy, so that the block written is the one of this moment; a
    // parameter file never carries the concentration simulation switched on.
    ParamBlock block = command.DeviceParams;
    block.ImmitConcOn = 0;
    quint8 image[sizeof(ParamBlock)];
    std::memcpy(image, &block, size_t(length));
    switch (saveHexFile(path, image, length, HexFile::LineBytes)) {
    case SaveResult::Ok:
        return true;
    case SaveResult::OpenFailed:
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), QCoreApplication::translate("MainWindow", "Ошибка открытия файла"), QMessageBox::Ok);
        return false;
    case SaveResult::WriteFailed:
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), QCoreApplication::translate("MainWindow", "Ошибка записи файла"), QMessageBox::Ok);
        return false;
    }
    return false;
}

namespace {

QString problemText(const BlockDecode &d, int length)
{
    switch (d.problem) {
    case FileProblem::TooLarge:
        return QCoreApplication::translate("MainWindow", "размер %1 байт, а файл параметров не больше %2 байт").arg(d.size).arg(HexFile::MaxParameterFileBytes);
    case FileProblem::BadCharacter: {
        const QString shown = d.character >= 0x21 && d.character < 0x7F
                                  ? QStringLiteral("«%1» ").arg(QLatin1Char(char(d.character)))
                                  : QString();
        return QCoreApplication::translate("MainWindow", "строка %1, позиция %2: недопустимый символ %3(код 0x%4)")
            .arg(d.line).arg(d.column).arg(shown).arg(d.character, 2, 16, QLatin1Char('0'));
    }
    case FileProblem::OddDigits:
        return QCoreApplication::translate("MainWindow", "строка %1: нечетное число шестнадцатеричных цифр").arg(d.line);
    case FileProblem::TooMuchData:
        return QCoreApplication::translate("MainWindow", "строка %1: больше %2 байт данных").arg(d.line).arg(length);
    case FileProblem::None:
        break;
    }
    return QString();
}

} // namespace

bool loadBlockFile(QWidget *window, const QString &path, quint8 *image, int length)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), QCoreApplication::translate("MainWindow", "Ошибка открытия файла"), QMessageBox::Ok);
        return false;
    }
    std::unique_ptr<QProgressDialog> dialog(openProgressDialog(window));
    ProgressHooks hooks;
    hooks.beforeStep = [&](int percent) {
        QCoreApplication::processEvents();
        dialog->setValue(percent);
        return !dialog->wasCanceled();
    };
    hooks.afterStep = [&](int percent, qint64, qint64) {
        showCountdown(dialog.get(), percent, false);
    };
    const BlockDecode result = decodeBlockFile(&file, image, quint64(length), hooks);
    dialog.reset();
    file.close();
    if (result.cancelled)
        return false;
    if (result.problem != FileProblem::None) {
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"),
                              QCoreApplication::translate("MainWindow", "Файл %1 не является файлом параметров:\n%2.\n"
                                                                        "Параметры в прибор не записаны.")
                                  .arg(QFileInfo(path).fileName(), problemText(result, length)),
                              QMessageBox::Ok);
        return false;
    }
    if (!result.complete) {
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"),
                              QCoreApplication::translate("MainWindow", "Файл конфигурации неполный: прочитано %1 байт из %2.\n"
                                 "Параметры в прибор не записаны.")
                                  .arg(result.stored)
                                  .arg(length),
                              QMessageBox::Ok);
        return false;
    }
    return true;
}

namespace {

void announceTransfer(ExchangeHost &host)
{
    host.showStatus(QCoreApplication::translate("MainWindow", "Идет передача данных..."));
    host.stopAutoUpdate();
    QCoreApplication::processEvents();
}

void exchangeFailed(ExchangeHost &host, const DeviceOps::Outcome &outcome)
{
    showWriteError(host.dialogParent(), outcome);
    host.showStatus(QCoreApplication::translate("MainWindow", "Ошибка обмена данными"));
}

// A block holding a threshold above the upper range value is refused with
// the warning box before anything is sent: such a threshold can never trip.
bool refusedByThresholdRule(ExchangeHost &host)
{
    const QString refusal = ParamText::thresholdRefusal(command.DeviceParams);
    if (refusal.isEmpty())
        return false;
    QMessageBox::warning(host.dialogParent(), QCoreApplication::translate("MainWindow", "Ошибка"), refusal,
                         QMessageBox::Ok);
    return true;
}

// A block write and the full read after it: a write that did not go out, or
// went out unconfirmed, is reported here; the read as the read cycle reports
// it.  A read-back that failed leaves the write unverified: that is said too.
bool reportWrite(ExchangeHost &host, const DeviceOps::Outcome &written)
{
    if (written.failed == DeviceOps::Step::BlockWrite || written.wrongTarget()) {
        exchangeFailed(host, written);
        return false;
    }
    host.reportRead(written);
    if (written.ok())
        return true;
    showWriteError(host.dialogParent(), written);
    return false;
}

} // namespace

bool writeParameters(ExchangeHost &host)
{
    if (refusedByThresholdRule(host))
        return false;
    announceTransfer(host);
    return reportWrite(host, DeviceOps::writeAndReadBack(command));
}

bool loadParameterFile(ExchangeHost &host, const QString &path, LoadReport *report)
{
    QWidget *const parent = host.dialogParent();
    // The file is decoded into a block of its own and checked whole: a
    // cancelled, short, damaged or implausible file never reaches the device.
    ParamBlock file;
    std::memset(&file, 0, sizeof file);
    if (!loadBlockFile(parent, path, reinterpret_cast<quint8 *>(&file), HexFile::BlockBytes))
        return false;
    const QVector<Restore::Implausible> implausible = Restore::checkPlausible(file);
    if (!implausible.isEmpty()) {
        QStringList lines;
        for (const Restore::Implausible &bad : implausible)
            lines << ParamText::implausible(*bad.def, bad.why, file);
        QMessageBox::critical(parent, QCoreApplication::translate("MainWindow", "Ошибка"),
                              QCoreApplication::translate("MainWindow", "Файл %1 содержит значения, которых не бывает у прибора TL-02:\n%2\n"
                                                                        "Параметры в прибор не записаны.")
                                  .arg(QFileInfo(path).fileName(), lines.join(QLatin1Char('\n'))),
                              QMessageBox::Ok);
        return false;
    }

    // What the device holds now is what the changes are shown against.
    host.showStatus(QCoreApplication::translate("MainWindow", "Идет передача данных..."));
    QCoreApplication::processEvents();
    if (!host.readCycle()) {
        showExchangeError(parent);
        return false;
    }
    const ParamBlock device = command.DeviceParams;
    const QString level = command.UserName;
    const qint16 type = command.DeviceType;
    const quint16 count = command.WriteCount;
    RestoreConfirmDialog confirm(parent, path, device, file, [=](bool clone) {
        return Restore::plan(device, file, level, type, count, clone);
    });
    if (confirm.exec() != QDialog::Accepted)
        return false;
    const Restore::Plan &plan = confirm.plan();
    if (!plan.notConvertible.isEmpty() || !plan.anyChange())
        return false;
    command.DeviceParams = plan.result;
    if (report) {
        report->attempted = true;
        report->device = device;
        report->planned = plan.result;
    }
    return writeParameters(host);
}

bool storeFactorySettings(ExchangeHost &host)
{
    if (refusedByThresholdRule(host))
        return false;
    announceTransfer(host);
    const DeviceOps::Outcome stored = DeviceOps::storeFactory(command);
    if (stored.failed != DeviceOps::Step::Command)
        return reportWrite(host, stored) && stored.ok();
    // The block went out and came back; only the command was not taken.
    reportWrite(host, DeviceOps::Outcome());
    exchangeFailed(host, stored);
    return false;
}

bool restoreFactorySettings(ExchangeHost &host)
{
    const DeviceOps::Outcome restored = DeviceOps::restoreFactory(command);
    if (restored.failed == DeviceOps::Step::Command) {
        exchangeFailed(host, restored);
        return false;
    }
    host.stopAutoUpdate();
    return host.reportRead(restored);
}

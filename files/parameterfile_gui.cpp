#include "parameterfile_gui.h"

#include "command.h"
#include "deviceops.h"
#include "errorbox.h"
#include "mainwindow.h"
#include "progressdialog_gui.h"

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

void announceTransfer(MainWindow *window)
{
    window->showStatus(QCoreApplication::translate("MainWindow", "Идет передача данных..."));
    window->stopAutoUpdate();
    QCoreApplication::processEvents();
}

void exchangeFailed(MainWindow *window)
{
    showExchangeError(window);
    window->showStatus(QCoreApplication::translate("MainWindow", "Ошибка обмена данными"));
}

// A block write and the full read after it: a write the device did not take
// is reported here, the read as the read cycle reports it.
bool reportWrite(MainWindow *window, int tab, const DeviceOps::Outcome &written)
{
    if (written.failed == DeviceOps::Step::BlockWrite) {
        exchangeFailed(window);
        return false;
    }
    window->reportRead(tab, true, written);
    return true;
}

} // namespace

bool writeParameters(MainWindow *window, int tab)
{
    announceTransfer(window);
    return reportWrite(window, tab, DeviceOps::writeAndReadBack());
}

bool storeFactorySettings(MainWindow *window, int tab)
{
    announceTransfer(window);
    const DeviceOps::Outcome stored = DeviceOps::storeFactory();
    if (stored.failed != DeviceOps::Step::Command)
        return reportWrite(window, tab, stored) && stored.ok();
    // The block went out and came back; only the command was not taken.
    reportWrite(window, tab, DeviceOps::Outcome());
    exchangeFailed(window);
    return false;
}

bool restoreFactorySettings(MainWindow *window, int tab)
{
    const DeviceOps::Outcome restored = DeviceOps::restoreFactory();
    if (restored.failed == DeviceOps::Step::Command) {
        exchangeFailed(window);
        return false;
    }
    window->stopAutoUpdate();
    return window->reportRead(tab, true, restored);
}

#include "firmware_gui.h"

#include "firmware.h"
#include "progressdialog_gui.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>

#include <memory>

bool updateFirmware(QWidget *window, const QString &path, QString *failure)
{
    std::unique_ptr<QProgressDialog> dialog;
    Firmware::Hooks hooks;
    hooks.transferStarting = [&](qint64) { dialog.reset(openProgressDialog(window)); };
    hooks.beforeStep = [&](int percent) {
        QCoreApplication::processEvents();
        dialog->setValue(percent);
        return !dialog->wasCanceled();
    };
    hooks.afterStep = [&](int percent, qint64, qint64) {
        showCountdown(dialog.get(), percent, true);
    };

    Firmware::Report report;
    const Firmware::Result result = Firmware::update(path, hooks, &report);
    dialog.reset();

    const char *text = nullptr;
    switch (result) {
    case Firmware::Result::Ok:
        return true;
    case Firmware::Result::Cancelled:
        if (failure)
            *failure = QCoreApplication::translate("MainWindow", "Отменено пользователем");
        return false;
    case Firmware::Result::OpenFailed:
        text = QT_TRANSLATE_NOOP("MainWindow", "Ошибка открытия файла");
        break;
    case Firmware::Result::EmptyFile:
        text = QT_TRANSLATE_NOOP("MainWindow", "Файл прошивки пустой");
        break;
    case Firmware::Result::TooLarge: {
        const QString tooLarge = QCoreApplication::translate("MainWindow", "Файл прошивки слишком большой: %1 байт, "
                                                                          "допустимо не более %2 байт")
                                     .arg(report.size)
                                     .arg(Firmware::MaxImageBytes);
        if (failure)
            *failure = tooLarge;
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), tooLarge, QMessageBox::Ok);
        return false;
    }
    case Firmware::Result::ReadFailed:
        text = QT_TRANSLATE_NOOP("MainWindow", "Ошибка чтения файла");
        break;
    case Firmware::Result::StartFailed:
    case Firmware::Result::BlockFailed:
    case Firmware::Result::RestartFailed:
        text = QT_TRANSLATE_NOOP("MainWindow", "Ошибка обмена данными");
        break;
    }
    if (text && failure)
        *failure = QCoreApplication::translate("MainWindow", text);
    if (text)
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), QCoreApplication::translate("MainWindow", text), QMessageBox::Ok);
    return false;
}

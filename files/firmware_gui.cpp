#include "firmware_gui.h"

#include "programlink.h"
#include "progressdialog_gui.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <memory>

namespace {

QString hex8(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

QString title()
{
    return QCoreApplication::translate("MainWindow", "Обновление версии ПО");
}

} // namespace

QString firmwareQuestionText(const Firmware::Image &image)
{
    const QString question = QCoreApplication::translate("MainWindow", "Загрузить в устройство?");
    if (image.status != Firmware::Result::Ok)
        return question;
    return question + QStringLiteral("\n\n")
           + QCoreApplication::translate("MainWindow", "Файл: %1\nРазмер: %2 байт\nSHA-256: %3")
                 .arg(QFileInfo(image.path).fileName())
                 .arg(image.size)
                 .arg(image.sha256Hex());
}

QString vectorProblemLines(const Firmware::VectorCheck &c)
{
    using Reset = Firmware::VectorCheck::Reset;
    if (!c.hasTable)
        return QCoreApplication::translate("MainWindow", "в файле всего %1 байт: в нём нет таблицы векторов (указателя стека и адреса сброса, %2 байт)")
            .arg(c.size)
            .arg(Firmware::VectorTableBytes);
    QStringList lines;
    if (!c.stackInRam)
        lines << QCoreApplication::translate("MainWindow", "слово 0 (начальный указатель стека) равно %1, а не адресу в ОЗУ (%2-%3)")
                     .arg(hex8(c.stackPointer), hex8(Firmware::RamFirst), hex8(Firmware::RamLast));
    switch (c.reset) {
    case Reset::Ok:
        break;
    case Reset::Even:
        lines << QCoreApplication::translate("MainWindow", "слово 1 (адрес сброса) равно %1: адрес чётный, а адрес сброса Cortex-M нечётный")
                     .arg(hex8(c.resetAddress));
        break;
    case Reset::OutsideFlash:
        lines << QCoreApplication::translate("MainWindow", "слово 1 (адрес сброса) равно %1: вне 256 КБ флеш-памяти (%2-%3)")
                     .arg(hex8(c.resetAddress), hex8(Firmware::FlashFirst),
                          hex8(Firmware::FlashFirst + Firmware::FlashBytes - 1));
        break;
    case Reset::OutsideImage:
        lines << QCoreApplication::translate("MainWindow", "слово 1 (адрес сброса) равно %1: вне образа (%2-%3)")
                     .arg(hex8(c.resetAddress), hex8(Firmware::LoadAddress),
                          hex8(quint32(Firmware::LoadAddress + c.size - 1)));
        break;
    }
    return lines.join(QLatin1Char('\n'));
}

bool confirmUnusualImage(const Firmware::Image &image)
{
    QMessageBox box(QMessageBox::Warning, title(),
                    QCoreApplication::translate("MainWindow", "Файл %1 не похож на прошивку прибора TL-02 для адреса 0x08001C00:\n%2\n\n"
                       "Прибор с такой прошивкой может не запуститься. Всё равно загрузить?")
                        .arg(QFileInfo(image.path).fileName(), vectorProblemLines(image.vectors)),
                    QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QCoreApplication::translate("MainWindow", "Да"));
    box.button(QMessageBox::No)->setText(QCoreApplication::translate("MainWindow", "Нет"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool updateFirmware(QWidget *window, const Firmware::Image &image, Firmware::Images accept, QString *failure)
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
    const Firmware::Result result = Firmware::update(command, image, hooks, &report, accept);
    dialog.reset();

    QString text;
    switch (result) {
    case Firmware::Result::Ok:
        return true;
    case Firmware::Result::Cancelled:
        if (failure)
            *failure = QCoreApplication::translate("MainWindow", "Отменено пользователем");
        return false;
    case Firmware::Result::OpenFailed:
        text = QCoreApplication::translate("MainWindow", "Ошибка открытия файла");
        break;
    case Firmware::Result::EmptyFile:
        text = QCoreApplication::translate("MainWindow", "Файл прошивки пустой");
        break;
    case Firmware::Result::TooLarge:
        text = QCoreApplication::translate("MainWindow", "Файл прошивки слишком большой: %1 байт, допустимо не более %2 байт")
                   .arg(report.size)
                   .arg(Firmware::MaxImageBytes);
        break;
    case Firmware::Result::NotApplication:
        text = QCoreApplication::translate("MainWindow", "Файл %1 не похож на прошивку прибора TL-02 для адреса 0x08001C00:\n%2\n"
                  "В устройство ничего не отправлено.")
                   .arg(QFileInfo(image.path).fileName(), vectorProblemLines(report.vectors));
        break;
    case Firmware::Result::ReadFailed:
        text = QCoreApplication::translate("MainWindow", "Ошибка чтения файла");
        break;
    case Firmware::Result::StartFailed:
    case Firmware::Result::BlockFailed:
    case Firmware::Result::RestartFailed:
        text = QCoreApplication::translate("MainWindow", "Ошибка обмена данными");
        break;
    }
    if (failure)
        *failure = text;
    QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Ошибка"), text, QMessageBox::Ok);
    return false;
}

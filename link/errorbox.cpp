#include "errorbox.h"

#include "deviceops.h"

#include <QCoreApplication>
#include <QMessageBox>

void showExchangeError(QWidget *parent, quint16 result)
{
    QMessageBox::warning(parent, QCoreApplication::translate("ErrorBox", "Ошибка"), exchangeErrorText(result),
                         QMessageBox::Ok);
}

QString exchangeErrorText(quint16 result)
{
    switch (result) {
    case ResultNoSilence:
        return QCoreApplication::translate("ErrorBox", "Ошибка обмена данными: линия не замолкает (непрерывные "
                                                       "данные). Неисправный прибор или помехи на линии");
    case ResultCancelled:
        return QCoreApplication::translate("ErrorBox", "Обмен данными прерван");
    default:
        return QCoreApplication::translate("ErrorBox", "Ошибка обмена данными");
    }
}

QString writeErrorText(const DeviceOps::Outcome &outcome)
{
    using DeviceOps::Step;
    switch (outcome.failed) {
    case Step::NotRead:
        return QCoreApplication::translate("ErrorBox", "Параметры этого прибора не прочитаны: прочитайте параметры. "
                                                       "В прибор ничего не записано");
    case Step::Foreign:
        return QCoreApplication::translate("ErrorBox", "К прибору подключён другой прибор: прочитайте параметры заново");
    case Step::Identity:
        return QCoreApplication::translate("ErrorBox", "Ошибка обмена данными: не удалось прочитать заводской номер и "
                                                       "тип прибора перед записью. В прибор ничего не записано");
    default:
        break;
    }
    if (outcome.unverified)
        return QCoreApplication::translate("ErrorBox", "Ошибка обмена данными: записано, но не подтверждено. "
                                                       "Прочитайте прибор заново, прежде чем полагаться на записанное");
    return exchangeErrorText(outcome.linkResult);
}

void showWriteError(QWidget *parent, const DeviceOps::Outcome &outcome)
{
    QMessageBox::warning(parent, QCoreApplication::translate("ErrorBox", "Ошибка"), writeErrorText(outcome),
                         QMessageBox::Ok);
}

#include "errorbox.h"

#include "deviceops.h"

#include <QCoreApplication>
#include <QMessageBox>

void showExchangeError(QWidget *parent)
{
    QMessageBox::warning(parent, QCoreApplication::translate("ErrorBox", "Ошибка"),
                         QCoreApplication::translate("ErrorBox", "Ошибка обмена данными"), QMessageBox::Ok);
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
    return QCoreApplication::translate("ErrorBox", "Ошибка обмена данными");
}

void showWriteError(QWidget *parent, const DeviceOps::Outcome &outcome)
{
    QMessageBox::warning(parent, QCoreApplication::translate("ErrorBox", "Ошибка"), writeErrorText(outcome),
                         QMessageBox::Ok);
}

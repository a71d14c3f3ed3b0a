#include "errorbox.h"

#include <QCoreApplication>
#include <QMessageBox>

void showExchangeError(QWidget *parent)
{
    QMessageBox::warning(parent, QCoreApplication::translate("ErrorBox", "Ошибка"),
                         QCoreApplication::translate("ErrorBox", "Ошибка обмена данными"), QMessageBox::Ok);
}

#include "authorizationwindow.h"
#include "ui_authorizationwindow.h"

#include "accesslevels.h"
#include "programlink.h"
#include "options.h"

#include <QMessageBox>

AuthorizationWindow::AuthorizationWindow(QWidget *parent, int page)
    : QDialog(parent), ui(new Ui::AuthorizationWindow)
{
    ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setWindowTitle(tr("Авторизация"));
    ui->stackedWidget->setCurrentIndex(page);
    // Enter presses the button of the page shown.
    (page == 0 ? ui->pushButton : ui->pushButton_OK)->setDefault(true);
    if (page == 0) {
        ui->login->setText(command.UserName);
        ui->password->setText(command.Password);
        command.LoggedIn = 0;
        ui->login->setFocus();
    } else {
        ui->password_2->setFocus();
    }
}

AuthorizationWindow::~AuthorizationWindow()
{
    delete ui;
}

void AuthorizationWindow::on_pushButton_clicked()
{
    loginName = ui->login->text();
    password = ui->password->text();

    if (!Access::levelFor(loginName, password).isEmpty()) {
        QMessageBox::information(this, tr("Авторизация"), tr("Вы успешно авторизовались"));
        command.UserName = loginName;
        command.Password = password;
        command.LoggedIn = 1;
        accept();
        return;
    }

    QMessageBox::warning(this, tr("Авторизация"), tr("Вы не успешно авторизовались"));
    if (command.DeviceType == Params::TypeNone) {
        command.UserName = DefaultUserName;
        command.Password.clear();
    }
}

void AuthorizationWindow::on_pushButton_OK_clicked()
{
    if (Access::factoryPasswordAccepted(ui->password_2->text())) {
        command.FactoryAccess = 1;
        accept();
        return;
    }
    QMessageBox::warning(this, tr("Нет прав доступа"), tr("Введите пароль"));
    command.FactoryAccess = 0;
}

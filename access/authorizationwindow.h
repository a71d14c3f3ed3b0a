// Login dialog (page 0) and factory password (page 1).
#pragma once

#include <QDialog>
#include <QString>

namespace Ui { class AuthorizationWindow; }

class AuthorizationWindow : public QDialog
{
    Q_OBJECT
public:
    // page 0: login; page 1: factory password.
    AuthorizationWindow(QWidget *parent, int page);
    ~AuthorizationWindow() override;

private slots:
    void on_pushButton_OK_clicked();
    void on_pushButton_clicked();

private:
    Ui::AuthorizationWindow *ui;
    // Login name and password as last read from the fields.
    QString loginName;
    QString password;
};

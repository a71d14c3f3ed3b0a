// Login dialog (both pages) and the about window, in both languages.
#include "shelltest.h"

#include "authorizationwindow.h"
#include "programlink.h"
#include "mainwindow.h"
#include "reference.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QtTest>

using namespace ShellTest;

namespace {
bool hasContextHelp(QWidget &w)
{
    return w.windowFlags() & Qt::WindowContextHelpButtonHint;
}
} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { prepare(tmp); }
    void init() { resetLink(); }
    void cleanup() { resetLink(); }

    void loginForm();
    void loginPrefillsAndResetsFlag();
    void credentials_data();
    void credentials();
    void refusedLoginWithDeviceKeepsLevel();
    void factoryPassword();
    void factoryCancel();

    void aboutWindow();
    void dialogsInEnglish();

private:
    QTemporaryDir tmp;
};

void TestDialogs::loginForm()
{
    AuthorizationWindow d(nullptr, 0);
    QCOMPARE(d.windowTitle(), QStringLiteral("Авторизация"));
    QCOMPARE(d.minimumSize(), QSize(240, 130));
    QCOMPARE(d.maximumSize(), QSize(240, 130));
    QVERIFY(!hasContextHelp(d));
    QCOMPARE(child<QStackedWidget>(d, "stackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QLineEdit>(d, "login")->echoMode(), QLineEdit::Normal);
    QCOMPARE(child<QLineEdit>(d, "password")->echoMode(), QLineEdit::Password);
    QCOMPARE(child<QLineEdit>(d, "password_2")->echoMode(), QLineEdit::Password);

    // At most ten characters can be typed into each field.
    for (const char *name : {"login", "password", "password_2"}) {
        auto *edit = child<QLineEdit>(d, name);
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("123456789012345"));
        QCOMPARE(edit->text(), QStringLiteral("1234567890"));
    }

    AuthorizationWindow factory(nullptr, 1);
    QCOMPARE(child<QStackedWidget>(factory, "stackedWidget")->currentIndex(), 1);
    QCOMPARE(child<QGroupBox>(factory, "groupBox_2")->title(), QStringLiteral("Чтение заводских параметров"));
}

void TestDialogs::loginPrefillsAndResetsFlag()
{
    command.UserName = QStringLiteral("Admin");
    command.Password = QStringLiteral("9641");
    command.LoggedIn = 1;
    {
        AuthorizationWindow factory(nullptr, 1);   // the factory page leaves the login alone
        QCOMPARE(command.LoggedIn, quint8(1));
    }
    AuthorizationWindow d(nullptr, 0);
    QCOMPARE(command.LoggedIn, quint8(0));
    QCOMPARE(child<QLineEdit>(d, "login")->text(), QStringLiteral("Admin"));
    QCOMPARE(child<QLineEdit>(d, "password")->text(), QStringLiteral("9641"));

    // Pressing the button at once repeats the last login.
    d.show();
    ModalCloser closer;
    child<QPushButton>(d, "pushButton")->click();
    QCOMPARE(command.LoggedIn, quint8(1));
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].text, QStringLiteral("Вы успешно авторизовались"));
}

void TestDialogs::credentials_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("User") << "User" << "7529" << true;
    QTest::newRow("Admin") << "Admin" << "9641" << true;
    QTest::newRow("Velta") << "Velta" << "8350" << true;
    QTest::newRow("letter case") << "user" << "7529" << false;
    QTest::newRow("other name's password") << "Admin" << "7529" << false;
    QTest::newRow("factory password") << "User" << "5916" << false;
    QTest::newRow("empty password") << "Velta" << "" << false;
    QTest::newRow("blank around name") << " Velta" << "8350" << false;
    QTest::newRow("unknown name") << "Noname" << "7529" << false;
}

void TestDialogs::credentials()
{
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    command.UserName = QStringLiteral("Velta");
    command.Password = QStringLiteral("8350");
    AuthorizationWindow d(nullptr, 0);
    d.show();
    child<QLineEdit>(d, "login")->setText(name);
    child<QLineEdit>(d, "password")->setText(password);
    ModalCloser closer;
    child<QPushButton>(d, "pushButton")->click();

    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].className, QStringLiteral("QMessageBox"));
    QCOMPARE(closer.seen[0].title, QStringLiteral("Авторизация"));
    if (accepted) {
        QCOMPARE(closer.seen[0].text, QStringLiteral("Вы успешно авторизовались"));
        QCOMPARE(command.LoggedIn, quint8(1));
        QCOMPARE(command.UserName, name);
        QCOMPARE(command.Password, password);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Accepted));
    } else {
        QCOMPARE(closer.seen[0].text, QStringLiteral("Вы не успешно авторизовались"));
        QCOMPARE(command.LoggedIn, quint8(0));
        // No device yet: the level falls back to nobody.
        QCOMPARE(command.UserName, QStringLiteral("Noname"));
        QVERIFY(command.Password.isEmpty());
        QVERIFY(d.isVisible());
    }
}

void TestDialogs::refusedLoginWithDeviceKeepsLevel()
{
    command.DeviceType = 1;
    command.UserName = QStringLiteral("Admin");
    command.Password = QStringLiteral("9641");
    AuthorizationWindow d(nullptr, 0);
    d.show();
    child<QLineEdit>(d, "password")->setText(QStringLiteral("0000"));
    ModalCloser closer;
    child<QPushButton>(d, "pushButton")->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(command.UserName, QStringLiteral("Admin"));
    QCOMPARE(command.Password, QStringLiteral("9641"));
    QCOMPARE(command.LoggedIn, quint8(0));

    // Another try in the same dialog succeeds.
    child<QLineEdit>(d, "password")->setText(QStringLiteral("9641"));
    child<QPushButton>(d, "pushButton")->click();
    QCOMPARE(command.LoggedIn, quint8(1));
    QVERIFY(!d.isVisible());
}

void TestDialogs::factoryPassword()
{
    AuthorizationWindow d(nullptr, 1);
    d.show();
    command.FactoryAccess = 1;
    auto *field = child<QLineEdit>(d, "password_2");
    field->setText(QStringLiteral("8350"));
    ModalCloser closer;
    child<QPushButton>(d, "pushButton_OK")->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Нет прав доступа"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Введите пароль"));
    QCOMPARE(command.FactoryAccess, quint8(0));
    QVERIFY(d.isVisible());

    // Enter in the field presses OK.
    field->setText(QStringLiteral("5916"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(command.FactoryAccess, quint8(1));
    QVERIFY(!d.isVisible());
    QCOMPARE(command.LoggedIn, quint8(0));
    QCOMPARE(command.UserName, QStringLiteral("Noname"));
}

void TestDialogs::factoryCancel()
{
    AuthorizationWindow d(nullptr, 1);
    QTimer::singleShot(50, child<QPushButton>(d, "pushButton_2"), &QAbstractButton::click);
    // Should Cancel not close it, this ends the dialog with another code.
    QTimer::singleShot(3000, &d, [&d] { d.done(42); });
    child<QLineEdit>(d, "password_2")->setText(QStringLiteral("5916"));
    const int result = d.exec();
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(command.FactoryAccess, quint8(0));
}

void TestDialogs::aboutWindow()
{
    Reference r;
    QCOMPARE(r.windowTitle(), QStringLiteral("Справка"));
    r.show();
    // Fixed size: 250 x 120, wider only where the font needs the room.
    QCOMPARE(r.minimumSize(), r.maximumSize());
    QVERIFY(r.width() >= 250);
    QCOMPARE(r.height(), 120);
    for (QLabel *label : r.findChildren<QLabel *>())
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    QVERIFY(child<QPushButton>(r, "pushButton")->geometry().right() < r.width());
    QVERIFY(!hasContextHelp(r));
    QCOMPARE(child<QLabel>(r, "label_program_version")->text(), QStringLiteral("1.8"));
    QCOMPARE(child<QLabel>(r, "label_program_name")->text(), QStringLiteral("TL Configuration"));
    const QString date = child<QLabel>(r, "label_program_update_date")->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} [ 0-3][0-9] 20[0-9]{2}$")).match(date).hasMatch(),
             qPrintable(date));
    QCOMPARE(child<QLabel>(r, "label")->text(), QStringLiteral("Версия программы:"));
    QCOMPARE(child<QPushButton>(r, "pushButton")->text(), QStringLiteral("Закрыть"));

    QVERIFY(r.isVisible());
    child<QPushButton>(r, "pushButton")->click();
    QVERIFY(!r.isVisible());
}

void TestDialogs::dialogsInEnglish()
{
    MainWindow w;
    QTest::mouseClick(w.findChild<QRadioButton *>(QStringLiteral("radioButtonLanguageEn")), Qt::LeftButton);

    Reference r;
    r.show();
    QCOMPARE(r.windowTitle(), QStringLiteral("About"));
    for (QLabel *label : r.findChildren<QLabel *>())
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
    QCOMPARE(child<QLabel>(r, "label")->text(), QStringLiteral("Program version:"));
    QCOMPARE(child<QPushButton>(r, "pushButton")->text(), QStringLiteral("Close"));
    QCOMPARE(child<QLabel>(r, "label_program_version")->text(), QStringLiteral("1.8"));
    QCOMPARE(child<QLabel>(r, "label_program_name")->text(), QStringLiteral("TL Configuration"));
    QCOMPARE(child<QLabel>(r, "label_program_update_date")->text(), Reference::buildDate());

    AuthorizationWindow d(nullptr, 0);
    QCOMPARE(d.windowTitle(), QStringLiteral("Authorization"));
    QCOMPARE(child<QPushButton>(d, "pushButton")->text(), QStringLiteral("Log in"));
    d.show();
    child<QLineEdit>(d, "password")->setText(QStringLiteral("1"));
    ModalCloser closer;
    child<QPushButton>(d, "pushButton")->click();
    QCOMPARE(closer.seen.size(), 1);
    QCOMPARE(closer.seen[0].title, QStringLiteral("Authorization"));
    QCOMPARE(closer.seen[0].text, QStringLiteral("Login failed"));

    // Back in Russian the same dialogs speak Russian again.
    QTest::mouseClick(w.findChild<QRadioButton *>(QStringLiteral("radioButtonLanguageRus")), Qt::LeftButton);
    Reference again;
    QCOMPARE(again.windowTitle(), QStringLiteral("Справка"));
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

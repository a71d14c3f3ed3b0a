#include "shelltest.h"

#include "authorizationwindow.h"
#include "programlink.h"
#include "connect_com_port.h"
#include "mainwindow.h"

#include <QComboBox>
#include <QStatusBar>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace ShellTest {

void prepare(const QTemporaryDir &dir)
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir::setCurrent(QStringLiteral(TL_RUNTIME_DIR)));
    QVERIFY(QFile::exists(QStringLiteral("TL_Program_en_US.qm")));
    MainWindow::setIniPathOverride(dir.filePath(QStringLiteral("ini")));
}

void resetLink()
{
    command.resetState();
    Connect_com_port::portLister = [] { return QStringList(); };
    qunsetenv("TL_EXTRA_PORTS");
}

QString status(const QWidget &mainWindow)
{
    return mainWindow.findChild<QStatusBar *>()->currentMessage();
}

void verifyFullRead(const QList<QByteArray> &frames, int offset, int count, int address)
{
    QVERIFY2(frames.size() >= offset + 4, qPrintable(describe(frames)));
    const QList<QByteArray> read = frames.mid(offset, 4);
    QCOMPARE(functions(read), QList<int>({0x2B, 0x2B, 0x03, 0x04}));
    QCOMPARE(int(quint8(read[0][3])), 1);
    QCOMPARE(int(quint8(read[1][3])), 2);
    QCOMPARE(word(read[2], 2), 0x1000);
    QCOMPARE(word(read[2], 4), count);
    QCOMPARE(word(read[3], 2), 0);
    QCOMPARE(word(read[3], 4), 10);
    for (const QByteArray &f : read)
        QCOMPARE(int(quint8(f[0])), address);
}

ModalCloser::Handler login(const QString &name, const QString &password)
{
    return [name, password](QWidget *w) {
        auto *dialog = qobject_cast<AuthorizationWindow *>(w);
        if (!dialog)
            return false;
        dialog->findChild<QLineEdit *>(QStringLiteral("login"))->setText(name);
        dialog->findChild<QLineEdit *>(QStringLiteral("password"))->setText(password);
        // Queued: the message box that follows must not open inside the poll.
        QMetaObject::invokeMethod(dialog->findChild<QPushButton *>(QStringLiteral("pushButton")),
                                  "click", Qt::QueuedConnection);
        return true;
    };
}

ModalCloser::Handler passThrough()
{
    return [](QWidget *) { return false; };
}

ModalCloser::Handler connectDialog(const QString &port, DialogState *state)
{
    return [port, state](QWidget *w) {
        auto *dialog = qobject_cast<Connect_com_port *>(w);
        if (!dialog)
            return false;
        auto *button = dialog->findChild<QPushButton *>(QStringLiteral("Button_connect"));
        auto *rescan = dialog->findChild<QPushButton *>(QStringLiteral("Button_Rescan"));
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("cb_Com"));
        if (state) {
            state->seen = true;
            state->button = button->text();
            state->rescanEnabled = rescan->isEnabled();
            state->portText = combo->currentText();
        }
        if (port.isEmpty() || button->text() != QLatin1String("Connect"))
            return false;
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), port);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
        return true;
    };
}

} // namespace ShellTest

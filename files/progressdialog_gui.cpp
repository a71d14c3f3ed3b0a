#include "progressdialog_gui.h"

#include "hexfile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

static QElapsedTimer &countdownTimer()
{
    static QElapsedTimer timer;
    return timer;
}

QProgressDialog *openProgressDialog(QWidget *parent)
{
    auto *dialog = new QProgressDialog(parent);
    dialog->setWindowTitle(QCoreApplication::translate("MainWindow", "Пожалуйста подождите"));
    dialog->setCancelButtonText(QCoreApplication::translate("MainWindow", "Завершить"));
    dialog->setRange(0, 100);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                           | Qt::WindowCloseButtonHint);
    // Fix the size with room for the two-line countdown, so the label that
    // replaces the first one is never clipped.
    dialog->setLabelText(countdownText(99999000, 1, false));
    QSize size = dialog->sizeHint();
    dialog->setLabelText(QCoreApplication::translate("MainWindow", "Выполнение процесса..."));
    size = size.expandedTo(dialog->sizeHint());
    dialog->resize(size);
    dialog->setMinimumSize(size);
    dialog->setMaximumSize(size);
    countdownTimer().start();
    return dialog;
}

qint64 progressElapsedMs()
{
    QElapsedTimer &t = countdownTimer();
    return t.isValid() ? t.elapsed() : 0;
}

QString countdownText(qint64 elapsedMs, int percent, bool wholeSeconds)
{
    const QString number = wholeSeconds
        ? QString::number(Countdown::wholeSecondsLeft(elapsedMs, percent))
        : QString::number(Countdown::secondsLeft(elapsedMs, percent), 'g', 6);
    return QCoreApplication::translate("MainWindow", "Выполнение процесса,\nосталось %1 секунд").arg(number);
}

void showCountdown(QProgressDialog *dialog, int percent, bool wholeSeconds)
{
    if (!dialog || percent == 0)
        return;
    dialog->setLabelText(countdownText(progressElapsedMs(), percent, wholeSeconds));
}

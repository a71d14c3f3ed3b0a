#include "modalcloser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

ModalCloser::ModalCloser(int intervalMs)
{
    timer.setInterval(intervalMs);
    connect(&timer, &QTimer::timeout, this, &ModalCloser::poll);
    timer.start();
}

ModalCloser::~ModalCloser() = default;

void ModalCloser::answerNext(int standardButton)
{
    answers.append(standardButton);
}

void ModalCloser::poll()
{
    QWidget *w = QApplication::activeModalWidget();
    // The program's progress window of a long exchange is no question: it
    // goes when the exchange ends (a test cancels it itself).
    if (!w || !w->isVisible() || w->objectName() == QLatin1String("exchangeProgress"))
        return;
    SeenBox box;
    box.className = QString::fromLatin1(w->metaObject()->className());
    box.title = w->windowTitle();
    if (auto *mb = qobject_cast<QMessageBox *>(w))
        box.text = mb->text();

    if (!handlers.isEmpty()) {
        Handler h = handlers.takeFirst();
        seen.append(box);
        if (h(w))
            return;
    } else {
        seen.append(box);
    }

    if (auto *mb = qobject_cast<QMessageBox *>(w)) {
        QAbstractButton *b = nullptr;
        if (!answers.isEmpty())
            b = mb->button(QMessageBox::StandardButton(answers.takeFirst()));
        if (!b)
            b = mb->defaultButton();
        if (!b)
            b = mb->button(QMessageBox::Yes);
        if (!b)
            b = mb->button(QMessageBox::Ok);
        if (!b && !mb->buttons().isEmpty())
            b = mb->buttons().first();
        if (b)
            b->click();
        else
            mb->done(0);
        return;
    }
    if (auto *d = qobject_cast<QDialog *>(w)) {
        d->reject();
        return;
    }
    w->close();
}

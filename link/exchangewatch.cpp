#include "exchangewatch.h"

#include "programlink.h"

#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QProgressDialog>

#include <cstdio>

namespace {

// Set for the exchange that runs when a close or a signal comes; cleared as
// that exchange ends.
bool cutFlag = false;
bool quitFlag = false;

} // namespace

ExchangeWatch::ExchangeWatch(QWidget *window)
    : window(window)
{
    cutFlag = false;
    quitFlag = false;
    command.setWaitHook(onWait, this);
    qApp->installEventFilter(this);
}

ExchangeWatch::~ExchangeWatch()
{
    command.setWaitHook(nullptr, nullptr);
    qApp->removeEventFilter(this);
}

void ExchangeWatch::cutRunning()
{
    if (command.busy())
        cutFlag = true;
}

void ExchangeWatch::quittingOnSignal()
{
    quitFlag = true;
    cutRunning();
}

bool ExchangeWatch::quitting()
{
    return quitFlag;
}

void ExchangeWatch::toStderr(const QString &text)
{
    std::fprintf(stderr, "tl-configuration: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

bool ExchangeWatch::onWait(qint64 elapsedMs, void *context)
{
    return static_cast<ExchangeWatch *>(context)->waiting(elapsedMs);
}

bool ExchangeWatch::waiting(qint64 elapsedMs)
{
    if (elapsedMs < 0) {
        progress.reset();
        cutFlag = false;
        return true;
    }
    if (cutFlag)
        return false;
    // Quitting: only the last switch-off runs, with nobody to watch it.
    if (quitFlag)
        return true;
    // A flow with a progress window of its own (file load, firmware, line
    // search) offers its own way out between its steps.
    QWidget *modal = QApplication::activeModalWidget();
    if (!progress && elapsedMs >= ShowAfterMs && !qobject_cast<QProgressDialog *>(modal)) {
        progress = std::make_unique<QProgressDialog>(modal ? modal : window);
        progress->setObjectName(QStringLiteral("exchangeProgress"));
        progress->setWindowTitle(tr("Обмен данными"));
        progress->setLabelText(tr("Ожидание ответа прибора..."));
        progress->setCancelButtonText(tr("Отмена"));
        progress->setRange(0, 0);
        progress->setWindowModality(Qt::ApplicationModal);
        progress->setAutoReset(false);
        progress->setAutoClose(false);
        progress->setMinimumDuration(0);
        progress->setMinimumWidth(progress->fontMetrics().horizontalAdvance(progress->labelText()) * 2);
        progress->show();
    }
    // Until the progress window is up nothing the user does reaches the
    // windows (a click would start another request); once it is, it blocks
    // them all but itself.
    QCoreApplication::processEvents(progress ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    if (cutFlag)
        return false;
    return !(progress && progress->wasCanceled());
}

bool ExchangeWatch::eventFilter(QObject *watched, QEvent *event)
{
    if (quitFlag && event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *dialog = qobject_cast<QDialog *>(watched);
        if (dialog && dialog->isWindow() && dialog != progress.get()) {
            if (auto *box = qobject_cast<QMessageBox *>(dialog))
                toStderr(box->text());
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

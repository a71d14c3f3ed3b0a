// Closes modal dialogs and message boxes that code under test opens, and
// records what they said, so that a test never hangs on a modal window.
#pragma once

#include <QDialogButtonBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class QWidget;

struct SeenBox {
    QString className;   // "QMessageBox", "QFileDialog", ...
    QString title;
    QString text;        // message box text (empty for other dialogs)
};

class ModalCloser : public QObject
{
    Q_OBJECT
public:
    // Polls every `intervalMs` for QApplication::activeModalWidget().
    explicit ModalCloser(int intervalMs = 20);
    ~ModalCloser() override;

    // What to do with the next modal widget: by default a message box gets
    // its default (or only) button / Yes, other dialogs are rejected.
    // A handler returns true when it dealt with the widget itself.
    using Handler = std::function<bool(QWidget *)>;
    void pushHandler(Handler h) { handlers.append(h); }
    // Answer the next message box with this button (e.g. QMessageBox::No).
    void answerNext(int standardButton);

    QList<SeenBox> seen;
    void clear() { seen.clear(); }

private:
    void poll();
    QTimer timer;
    QList<Handler> handlers;
    QList<int> answers;
};

#include "filechoice_gui.h"

#include <QFileDialog>

namespace FileChoice {

Chooser openHook;
Chooser saveHook;
Chooser directoryHook;

QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    if (openHook)
        return openHook(parent, caption, dir, filter);
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

QString saveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)
{
    if (saveHook)
        return saveHook(parent, caption, dir, filter);
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

QString directoryName(QWidget *parent, const QString &caption, const QString &dir)
{
    if (directoryHook)
        return directoryHook(parent, caption, dir, QString());
    return QFileDialog::getExistingDirectory(parent, caption, dir);
}

} // namespace FileChoice

// File choice for the parameter-file and firmware dialogs.  The static
// QFileDialog functions are used unless a chooser is installed (tests and
// scripted runs install one to answer without a dialog).
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace FileChoice {
using Chooser = std::function<QString(QWidget *parent, const QString &caption,
                                      const QString &dir, const QString &filter)>;
// When set, replaces QFileDialog::getOpenFileName / getSaveFileName.
extern Chooser openHook;
extern Chooser saveHook;
extern Chooser directoryHook;   // QFileDialog::getExistingDirectory (filter unused)

QString openFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
QString saveFileName(QWidget *parent, const QString &caption, const QString &dir, const QString &filter);
QString directoryName(QWidget *parent, const QString &caption, const QString &dir);
} // namespace FileChoice

// Drives the confirmation shown before a parameter file is written into the
// detector: records what it lists and answers it.
#pragma once

#include "modalcloser.h"

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTableWidget>

struct RestoreSeen {
    bool shown = false;
    QStringList rows;     // "label: before -> after"
    QString notes;
    bool writeEnabled = false;
};

// Handler for ModalCloser: when the confirmation is up, optionally ticks
// "copy the detector's own values", records the listed rows and presses
// "write" (write) or cancels.  Other widgets are left to the closer.
inline ModalCloser::Handler answerRestore(RestoreSeen *seen, bool write, bool clone = false)
{
    return [=](QWidget *w) {
        if (QLatin1String(w->metaObject()->className()) != QLatin1String("RestoreConfirmDialog"))
            return false;
        auto *box = w->findChild<QCheckBox *>(QStringLiteral("checkBox_Clone"));
        if (clone && box)
            box->setChecked(true);
        seen->shown = true;
        seen->rows.clear();
        if (auto *table = w->findChild<QTableWidget *>(QStringLiteral("tableWidget_Changes"))) {
            for (int r = 0; r < table->rowCount(); ++r)
                seen->rows << QStringLiteral("%1: %2 -> %3")
                                  .arg(table->item(r, 0)->text(), table->item(r, 1)->text(), table->item(r, 2)->text());
        }
        if (auto *notes = w->findChild<QLabel *>(QStringLiteral("label_Notes")))
            seen->notes = notes->text();
        auto *writeButton = w->findChild<QPushButton *>(QStringLiteral("pushButton_Write"));
        seen->writeEnabled = writeButton && writeButton->isEnabled();
        if (write && seen->writeEnabled)
            writeButton->click();
        else
            static_cast<QDialog *>(w)->reject();
        return true;
    };
}

// Confirmation before a parameter file is written into the detector: every
// value that would change (now and after), the values kept from the device,
// and the choice to copy the detector's own fields from the file too.
#pragma once

#include "restoreplan.h"

#include <QDialog>
#include <functional>

namespace Ui { class RestoreConfirmDialog; }

class RestoreConfirmDialog : public QDialog
{
    Q_OBJECT
public:
    // `device` is the block as just read from the detector, `file` the
    // file's; `planFor` works out the plan with or without copying the
    // detector's own fields.
    RestoreConfirmDialog(QWidget *parent, const QString &fileName, const ParamBlock &device,
                         const ParamBlock &file, std::function<Restore::Plan(bool clone)> planFor);
    ~RestoreConfirmDialog() override;

    // The plan shown when the dialog was accepted.
    const Restore::Plan &plan() const { return current; }
    bool cloneChosen() const;

private slots:
    void on_checkBox_Clone_toggled(bool on);
    void on_pushButton_Write_clicked();

private:
    void showPlan();

    Ui::RestoreConfirmDialog *ui;
    ParamBlock device;
    ParamBlock file;
    std::function<Restore::Plan(bool)> planFor;
    Restore::Plan current;
};

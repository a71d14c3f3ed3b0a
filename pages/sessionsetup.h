// Who calibrates or checks, with which test gas and tolerance: asked before
// a guided calibration or a function check.  The dialog only presents; an
// expired cylinder is confirmed by its caller.
#pragma once

#include "functioncheck.h"

#include <QDialog>

namespace Ui { class SessionSetup; }

class SessionSetup : public QDialog
{
    Q_OBJECT
public:
    // `unit` and `decimals` as the detector shows concentrations; `gasNames`
    // the gas library's names for the list (the gas may also be typed).
    SessionSetup(const QString &unit, int decimals, const QStringList &gasNames, QWidget *parent = nullptr);
    ~SessionSetup() override;

    void setPeople(const QString &technician, const QString &organisation);
    void setGas(const FunctionCheck::TestGas &gas);
    void setTolerance(const FunctionCheck::Tolerance &tolerance);

    QString technician() const;
    QString organisation() const;
    FunctionCheck::TestGas gas() const;
    FunctionCheck::Tolerance tolerance() const;

private:
    void check();
    Ui::SessionSetup *ui;
    QString unitText;
};

// "Изменение параметров приборов": what to write into many detectors (typed
// values, a parameter file or a gas-library entry), and the preview of every
// detector × field, old → new in each detector's own units, with what is
// kept and why, made from the register's last read by SiteApply::preview.
// "Записать" asks the one confirmation and accepts; the window that opened
// the dialog runs the change.
#pragma once

#include "siteapply.h"
#include "siteregister.h"

#include <QDialog>

namespace Ui { class SiteApplyDialog; }

class SiteApplyDialog : public QDialog
{
    Q_OBJECT
public:
    SiteApplyDialog(const QVector<Site::Detector> &detectors, const QString &level, QWidget *parent = nullptr);
    ~SiteApplyDialog() override;

    // Once accepted: the values for each detector, what the journal names
    // ("values", a file path, "gas NAME"), the library entry written (empty:
    // none), whether to stop at the first failure, and the detectors to
    // write (those with changes, each with the block previewed).
    SiteApply::ValuesFor values() const { return valuesFor; }
    QString what() const { return whatText; }
    QString gas() const { return gasName; }
    bool stopAtFirstFailure() const;
    QVector<SiteApply::Target> targets() const { return chosen; }

    // Typed values by parameter name (tests and the table's own edits).
    void setTypedValue(const QString &name, const QString &value);
    // The parameter file to take the values from (as the chooser gives it).
    bool takeFile(const QString &path);

private slots:
    void on_pushButtonFile_clicked();
    void on_pushButtonWrite_clicked();

private:
    void updatePreview();
    QString keptText(int why) const;

    Ui::SiteApplyDialog *ui;
    const QVector<Site::Detector> detectors;
    const QString level;
    QVector<QPair<QString, QVector<quint16>>> gasEntries;   // name, words limit1/limit2
    ParamBlock fileBlock{};
    QString filePath;
    SiteApply::ValuesFor valuesFor;
    QString whatText;
    QString gasName;
    QVector<SiteApply::Target> chosen;
    bool filling = false;
};

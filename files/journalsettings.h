// "Журнал": where the program keeps its calibration journal, as one text
// (empty: this computer's file; a server's URL or service=NAME: the team's
// server).  A text the journal cannot take (a password in it, anything
// invalid) is refused with its reason and the dialog stays open; the
// program keeps what was accepted (location()).
#pragma once

#include <QDialog>

namespace Ui { class JournalSettings; }

class JournalSettings : public QDialog
{
    Q_OBJECT
public:
    // `setting` is the present one (empty: this computer's file).
    explicit JournalSettings(const QString &setting, QWidget *parent = nullptr);
    ~JournalSettings() override;

    // The setting accepted (trimmed; empty: this computer's file).
    QString location() const;
    // Why the last text was refused (empty when none was).
    QString problem() const;

    void accept() override;

protected:
    void changeEvent(QEvent *event) override;

private:
    void showFile();

    Ui::JournalSettings *ui;
};

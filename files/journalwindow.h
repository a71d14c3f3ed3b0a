// "Журнал калибровок": the journal's records in a table, filtered by serial
// number and period, exported as CSV, and one record printed as the
// calibration certificate.  A non-modal window of its own; it reads the
// journal afresh on every change of the filters and on "Обновить".
#pragma once

#include "journal.h"

#include <QVector>
#include <QWidget>

class QStandardItemModel;

namespace Ui { class JournalWindow; }

class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    // `path` is the journal's file (the default one unless a test gives another).
    explicit JournalWindow(QWidget *parent = nullptr, const QString &path = Journal::defaultPath());
    ~JournalWindow() override;

    // Reads the records that match the filters into the table; a journal
    // that cannot be read leaves the table empty and says why above it.
    void refresh();
    // The records shown, in table order.
    const QVector<Journal::Record> &records() const { return shown; }
    // What is wrong with the journal (empty when it was read).
    QString problem() const;

private slots:
    void on_pushButton_Refresh_clicked();
    void on_pushButton_ExportCsv_clicked();
    void on_pushButton_Certificate_clicked();
    void on_checkBox_Period_toggled(bool on);

private:
    void selectionChanged();
    void setColumnTitles();

    Ui::JournalWindow *ui;
    QStandardItemModel *model;
    QString path;
    QVector<Journal::Record> shown;
};

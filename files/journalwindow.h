// "Журнал калибровок": the journal's records in a table, filtered by serial
// number and period, exported as CSV, and one record printed as the
// calibration certificate.  A non-modal window of its own; it reads the
// journal afresh on every change of the filters and on "Обновить".  It
// reads only the file of this computer (Journal::localPath()), never a
// server; with a team's server it says how many records wait there to be
// sent and how the last send went (showSync()).
#pragma once

#include "journal.h"
#include "journalsync.h"

#include <QDateTime>

#include <QVector>
#include <QWidget>

class QStandardItemModel;

namespace Ui { class JournalWindow; }

class JournalWindow : public QWidget
{
    Q_OBJECT
public:
    // `location` is the journal's (journallocation.h; the default file
    // unless the program is set to another).
    explicit JournalWindow(QWidget *parent = nullptr, const QString &location = Journal::defaultPath());
    ~JournalWindow() override;

    // Reads the records that match the filters into the table; a journal
    // that cannot be read leaves the table empty and says why above it.
    void refresh();
    // The records shown, in table order.
    const QVector<Journal::Record> &records() const { return shown; }
    // What is wrong with the journal (empty when it was read).
    QString problem() const;

    // Another location: the window reads its file afresh.
    void setLocation(const QString &location);
    // The end of a send to the server: shown with the time now; a send that
    // brought records from the server refreshes the table.
    void showSync(const Journal::SyncReport &report);
    // Where the journal is, what waits to be sent and the last send, as shown.
    QString syncText() const;

private slots:
    void on_pushButton_Refresh_clicked();
    void on_pushButton_ExportCsv_clicked();
    void on_pushButton_Certificate_clicked();
    void on_checkBox_Period_toggled(bool on);

private:
    void selectionChanged();
    void setColumnTitles();
    void showSyncState();

    Ui::JournalWindow *ui;
    QStandardItemModel *model;
    QString location;
    QString path;          // the file of this computer that holds it
    QVector<Journal::Record> shown;
    bool waitingKnown = false;
    Journal::Waiting waiting;
    bool synced = false;
    Journal::SyncReport lastSync;
    QDateTime lastSyncTime;
};

// "Объект": the register of a site's detectors in a table that filters and
// sorts, the due state of each in colour and in words, the tag edited in
// place, and the site's work: a survey of its lines, a backup of all, one
// change to many and the report.  Each runs on the lines' workers
// (SiteSurvey, SiteApply::Runner) with progress and "Отмена"; the window
// only starts them and shows what they report.
#pragma once

#include "journal.h"
#include "siteapply.h"
#include "siteregister.h"

#include <QHash>
#include <QPointer>
#include <QVector>
#include <QWidget>

class QStandardItemModel;
class QSortFilterProxyModel;
class SiteSurvey;

namespace Ui { class SiteWindow; }

// What the window needs of the program around it.
class SiteHost
{
public:
    virtual ~SiteHost() = default;
    // Hands `ports` to the site's workers: the program's own link lets go
    // of any of them it holds (automatic reading and an output test ended
    // first).  False when it cannot now; the host has said why.
    virtual bool releaseLines(const QStringList &ports) = 0;
    // The site's work has ended: the program may take its line back.
    virtual void linesReturned() = 0;
    // The access level the change to many writes under (empty: no login).
    virtual QString accessLevel() const = 0;
    // The program's own line, offered when a site knows none yet.
    virtual QString currentPort() const = 0;
    // The site shown and its number of overdue detectors (none: empty name).
    virtual void siteShown(const QString &site, int overdue) = 0;
};

class SiteWindow : public QWidget
{
    Q_OBJECT
public:
    // `location` is the journal's (journallocation.h), whose file of this
    // computer (Journal::localPath()) holds the register.
    explicit SiteWindow(SiteHost *host, QWidget *parent = nullptr, const QString &location = Journal::defaultPath());
    ~SiteWindow() override;

    // Reads the sites and the shown site's detectors afresh.
    void refresh();
    // Another journal location; read afresh unless an action runs.
    void setJournal(const QString &location);
    // Shows the site of this name (creating nothing); false when none.
    bool showSite(const QString &name);
    QString site() const { return current.name; }
    int overdue() const { return overdueCount; }
    // A survey, backup or change runs.
    bool busy() const;
    // What the last action said, as shown below the table.
    QString resultText() const;
    // The addresses a survey asks (1 to 247 unless narrowed).
    void setScanRange(int from, int to) { scanFrom = from, scanTo = to; }
    // The serial numbers of the detectors the table shows, in its order.
    QVector<qint64> shownSerials() const;

signals:
    // An action has ended (after its result is shown).
    void actionEnded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_pushButtonNewSite_clicked();
    void on_pushButtonSurvey_clicked();
    void on_pushButtonBackup_clicked();
    void on_pushButtonApply_clicked();
    void on_pushButtonReport_clicked();
    void on_pushButtonCancel_clicked();

private:
    void siteChosen(int index);
    void intervalChanged(int days);
    void tagEdited(int row);
    void setColumnTitles();
    void fillTable();
    QStringList lines() const;
    QVector<Site::Detector> chosenDetectors() const;
    bool startWork(const QStringList &ports, const QString &what, int steps);
    void step(const QString &text);
    void endWork(const QString &result);
    void surveyEnded();
    void backupEnded();
    void changeEnded();
    QString outcomeLine(const SiteApply::Outcome &o) const;
    // Runs `work` on an open register; a failure is reported and false.
    bool withRegister(const std::function<Journal::Error(Site::Register &)> &work);

    Ui::SiteWindow *ui;
    SiteHost *host;
    QString location;
    QString path;          // its file of this computer
    QStandardItemModel *model;
    QSortFilterProxyModel *proxy;
    Site::Info current;
    QVector<Site::Due> dues;
    QHash<qint64, QVector<Site::Move>> moves;   // by serial number, oldest first
    int overdueCount = 0;
    bool filling = false;
    bool closeWhenDone = false;

    // The work that runs (at most one).
    QPointer<SiteSurvey> survey;
    std::unique_ptr<SiteApply::Runner> runner;
    bool backupRun = false;
    QString gasApplied;    // the change writes a library entry of this name
    int stepsDone = 0;
    int scanFrom = 1;
    int scanTo = 247;
};

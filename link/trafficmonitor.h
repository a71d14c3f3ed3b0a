// "Монитор обмена": a window of its own (not modal) that shows every frame
// the link sends and receives, decoded.  It takes the link's traffic hook
// while it is shown and gives it back when it is closed, so a closed
// monitor costs the link nothing; closing deletes it with its record and
// gives the memory back.
#pragma once

#include "trafficlog.h"
#include "trafficmodel.h"

#include <QWidget>
#include <functional>
#include <memory>

namespace Ui { class TrafficMonitor; }

class TrafficMonitor : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficMonitor(QWidget *parent = nullptr);
    ~TrafficMonitor() override;

    TrafficRecorder &recorder() { return *rec; }
    TrafficModel &model() { return *tableModel; }
    TrafficStatsModel &statsModel() { return *statsTable; }
    // Whether the table keeps to its newest rows (the user has not scrolled
    // up from the end).
    bool followsEnd() const { return followEnd; }

    // Test hook: when set, asks for the file to save to instead of the file
    // dialog (caption, file filter); an empty answer cancels.
    static std::function<QString(QWidget *parent, const QString &caption, const QString &filter)> saveChooser;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void on_pushButton_Pause_toggled(bool checked);
    void on_pushButton_Clear_clicked();
    void on_pushButton_SaveText_clicked();
    void on_pushButton_SaveCsv_clicked();

private:
    void fitColumns();
    void fitContents();
    void fitStats();
    void fillFunctions();
    void applyFilter();
    void updateCount();
    void save(bool csv);
    void followTable();

    Ui::TrafficMonitor *ui;
    std::unique_ptr<TrafficRecorder> rec;
    TrafficModel *tableModel = nullptr;
    TrafficStatsModel *statsTable = nullptr;
    // The table keeps to its end while this holds; the user scrolling up
    // drops it, scrolling back to the end takes it up again.  Changes the
    // model makes to the rows (and the view's scrolling that follows them)
    // are not the user's: `modelChanging` is set meanwhile.
    bool followEnd = true;
    bool modelChanging = false;
    // The user has set the contents' width (it is then left alone).
    bool contentsSized = false;
    bool fittingColumns = false;
};

// "Монитор обмена": a window of its own (not modal) that shows every frame
// the link sends and receives, decoded.  It takes the link's traffic hook
// while it is shown and gives it back when it is closed, so a closed
// monitor costs the link nothing; closing deletes it with its record.
#pragma once

#include "trafficlog.h"
#include "trafficmodel.h"

#include <QWidget>
#include <functional>

namespace Ui { class TrafficMonitor; }

class TrafficMonitor : public QWidget
{
    Q_OBJECT
public:
    explicit TrafficMonitor(QWidget *parent = nullptr);
    ~TrafficMonitor() override;

    TrafficRecorder &recorder() { return rec; }
    TrafficModel &model() { return *tableModel; }

    // Test hook: when set, asks for the file to save to instead of the file
    // dialog (caption, file filter); an empty answer cancels.
    static std::function<QString(QWidget *parent, const QString &caption, const QString &filter)> saveChooser;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private slots:
    void on_pushButton_Pause_toggled(bool checked);
    void on_pushButton_Clear_clicked();
    void on_pushButton_SaveText_clicked();
    void on_pushButton_SaveCsv_clicked();

private:
    void fitColumns();
    void fillFunctions();
    void applyFilter();
    void updateCount();
    void save(bool csv);

    Ui::TrafficMonitor *ui;
    TrafficRecorder rec;
    TrafficModel *tableModel = nullptr;
    bool followEnd = true;
};

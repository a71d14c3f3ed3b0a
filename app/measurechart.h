// "График измерений": concentration and the output (current or voltage) of
// the detector over the last 1, 10 or 60 minutes, with both thresholds, from
// the samples the main window collects from its reads.  The window only
// shows them and exports them; it sends nothing to the device.
#pragma once

#include "measuretrend.h"

#include <QVector>
#include <QWidget>

namespace QtCharts {
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

namespace Ui { class MeasureChart; }

class MeasureChart : public QWidget
{
    Q_OBJECT
public:
    // `trend` must outlive the window.  A parent makes it that window's own
    // top-level window.
    explicit MeasureChart(const MeasureTrend &trend, QWidget *parent = nullptr);
    ~MeasureChart() override;

    // Redraws from the samples; cheap to skip while hidden (showing redraws).
    void refresh();
    // The time span shown, from the span box.
    qint64 spanMs() const;

    // Write the chart as shown (PNG) or the samples of the span (CSV) to
    // `path`; the file is replaced only by a complete new one.  False when
    // it could not be written.
    bool exportPng(const QString &path);
    bool exportCsv(const QString &path);

    QtCharts::QChart *chart() const { return chartObject; }

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_comboBox_Span_currentIndexChanged(int index);
    void on_pushButton_ExportPng_clicked();
    void on_pushButton_ExportCsv_clicked();

private:
    void retranslate();
    // Asks for a file name to save to; empty when cancelled.
    QString chooseFile(const QString &caption, const QString &name, const QString &filter);

    Ui::MeasureChart *ui;
    const MeasureTrend &trend;
    QtCharts::QChart *chartObject = nullptr;
    QtCharts::QChartView *view = nullptr;
    QtCharts::QLineSeries *concentration = nullptr;
    QtCharts::QLineSeries *output = nullptr;
    QtCharts::QLineSeries *limit1 = nullptr;
    QtCharts::QLineSeries *limit2 = nullptr;
    // Stretches of concentration and output before a break in the reads,
    // in pairs (concentration, output), oldest first; kept for reuse.
    QVector<QtCharts::QLineSeries *> earlierSeries;
    QtCharts::QDateTimeAxis *timeAxis = nullptr;
    QtCharts::QValueAxis *concentrationAxis = nullptr;
    QtCharts::QValueAxis *outputAxis = nullptr;
    QString lastDir;
};

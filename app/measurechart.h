// "График измерений": concentration and the output (current or voltage) of
// the detector over the last 1, 10 or 60 minutes (or any number of minutes
// up to 60), with both thresholds, from the samples the main window collects
// from its reads.  A cursor under the mouse reads the values off; the view
// can be stopped while the samples go on, and the time axis zoomed (wheel or
// a band drawn with the mouse).  The window only shows the samples and
// exports them; it sends nothing to the device.
#pragma once

#include "measuretrend.h"

#include <QDateTime>
#include <QPoint>
#include <QStringList>
#include <QVector>
#include <QWidget>

class QGraphicsLineItem;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QRubberBand;

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
    explicit MeasureChart(MeasureTrend &trend, QWidget *parent = nullptr);
    ~MeasureChart() override;

    // Redraws from the samples; cheap to skip while hidden (showing redraws).
    void refresh();
    // The time span chosen in the span box.
    qint64 spanMs() const;
    // The times at the left and right edge of the time axis.
    qint64 viewFrom() const { return shownFrom; }
    qint64 viewTo() const { return shownTo; }
    bool isFrozen() const;
    bool isZoomed() const { return zoomFrom < zoomUntil; }
    // Shows the time range [from, to] until the zoom is reset.
    void zoomTo(qint64 from, qint64 to);
    // The cursor's text ("" while the mouse is off the plot).
    QString cursorText() const;

    // Marks the moment `when` with a vertical line and a short `label` (a
    // step of a calibration, say).  The mark stays while it lies in the
    // span and goes with the samples when they are cleared.
    void markMoment(const QDateTime &when, const QString &label);
    // The labels of the marks drawn now, left to right.
    QStringList markLabels() const;

    // The file name offered for an export: the device's serial number and
    // the date of the view, with `suffix` ("png", "csv").
    QString exportName(const QString &suffix) const;

    // Write the chart as shown (PNG) or the samples of the span (CSV) to
    // `path`; the file is replaced only by a complete new one.  False when
    // it could not be written.
    bool exportPng(const QString &path);
    bool exportCsv(const QString &path);

    QtCharts::QChart *chart() const { return chartObject; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void on_comboBox_Span_currentIndexChanged(int index);
    void on_spinBox_Span_valueChanged(int minutes);
    void on_pushButton_Freeze_toggled(bool frozen);
    void on_pushButton_ResetZoom_clicked();
    void on_pushButton_ExportPng_clicked();
    void on_pushButton_ExportCsv_clicked();

private:
    void retranslate();
    // The time under a point of the view's viewport.
    qint64 timeAt(const QPoint &viewportPos) const;
    bool inPlot(const QPoint &viewportPos) const;
    // Moves the cursor to the mouse at `viewportPos` or hides it.
    void placeCursor(const QPoint &viewportPos);
    void hideCursor();
    // Puts the mark lines and the cursor where their times are on the plot.
    void placeMarks();
    qreal xOf(qint64 msecs) const;
    // Asks for a file name to save to; empty when cancelled.
    QString chooseFile(const QString &caption, const QString &name, const QString &filter);

    Ui::MeasureChart *ui;
    MeasureTrend &trend;
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

    // What the time axis shows now.
    qint64 shownFrom = 0;
    qint64 shownTo = 0;
    // The right edge while stopped.
    qint64 frozenTo = 0;
    // The zoomed range; none while zoomFrom >= zoomUntil.
    qint64 zoomFrom = 0;
    qint64 zoomUntil = 0;
    QRubberBand *band = nullptr;
    QPoint bandStart;
    QGraphicsLineItem *cursorLine = nullptr;
    QGraphicsRectItem *cursorBox = nullptr;
    QGraphicsSimpleTextItem *cursorLabel = nullptr;
    bool cursorOn = false;
    QPoint cursorPos;
    struct MarkItem {
        qint64 msecs = 0;
        QGraphicsLineItem *line = nullptr;
        QGraphicsSimpleTextItem *label = nullptr;
    };
    QVector<MarkItem> markItems;
};

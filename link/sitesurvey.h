// A survey of a site's lines: on every line at once, each on its own line
// worker, a scan of the addresses and then a full read of every detector
// that answered.  Only reads go out.  Progress and results come as
// signals; the survey can be cancelled, and run() waits for the end for
// callers without an event loop of their own (tlctl).
#pragma once

#include "lineworker.h"

#include <QObject>
#include <QStringList>
#include <QVector>
#include <memory>
#include <vector>

class SiteSurvey : public QObject
{
    Q_OBJECT
public:
    // What became of one line.
    struct Line {
        QString port;
        QString error;                 // the line could not be opened (empty: it was)
        DeviceOps::ScanReport scan;    // the scan's report
        int detectors = 0;             // detectors found
        int read = 0;                  // of those, read in full
        bool done = false;
    };
    struct Result {
        QVector<Line> lines;                        // in the order given
        QVector<LineWorker::DeviceRead> reads;      // every full read, line by line, in address order
        bool cancelled = false;
    };

    // Lines by their port texts; addresses `from` to `to` are asked.
    explicit SiteSurvey(const QStringList &ports, int from = 1, int to = 247, QObject *parent = nullptr);
    ~SiteSurvey() override;

    // Starts the work on every line; finished() tells the end.
    void start();
    // Stops every line at once (reads only: nothing is left half-written).
    void cancel();
    // start(), then waits for the end (an event loop of its own).
    Result run();
    const Result &result() const { return outcome; }
    // The workers, for tests (a fake line through LineWorker::useLine).
    LineWorker *worker(int line) const { return workers.at(size_t(line)).get(); }

signals:
    // An address being asked on a line, for progress.
    void asking(const QString &port, int address);
    void deviceRead(const LineWorker::DeviceRead &read);
    void finished();

private:
    void lineEnded(int line);

    const QStringList ports;
    const int first;
    const int last;
    std::vector<std::unique_ptr<LineWorker>> workers;
    Result outcome;
    int running = 0;
};

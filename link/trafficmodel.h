// The traffic monitor's table: the recorder's ring as rows of texts (time,
// direction, address, function, the result, what the frame carries, the
// bytes), through a filter, with a pause that stops new rows coming in.
// No widgets; the texts go through translation here.
#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>
#include <deque>

class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The result comes before the contents, so that it stays in sight.
    enum Column { ColTime, ColDirection, ColAddress, ColFunction, ColResult, ColContent, ColBytes, ColumnCount };

    explicit TrafficModel(TrafficRecorder *recorder, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Rows shown are the entries the filter lets through.
    void setFilter(const TrafficFilter &filter);
    TrafficFilter filter() const { return flt; }
    // While paused no new rows come in (the recorder keeps the frames; they
    // are shown when the pause ends, as far as the ring still holds them).
    // Rows already shown still get their results, and leave when the ring
    // drops them.
    void setPaused(bool paused);
    bool paused() const { return isPaused; }

    const TrafficEntry *entryAt(int row) const;
    QStringList headers() const;
    QStringList rowTexts(int row) const;
    // Every row shown, as texts (for saving).
    QVector<QStringList> shownRows() const;

    // "3 чтение регистров хранения"; for the filter's list too.
    static QString functionText(int function);
    static QString resultText(const TrafficEntry &entry);
    static QString contentText(const TrafficEntry &entry);
    // "исключение 2: недопустимый адрес данных"
    static QString exceptionText(int code);

private:
    void onAppended(quint64 seq);
    void onUpdated(quint64 seq);
    void onCleared();
    // Removes the rows whose entries have left the ring.
    void dropGone();
    // Appends the matching entries after `considered`.
    void catchUp();
    int rowOf(quint64 seq) const;

    TrafficRecorder *rec;
    TrafficFilter flt;
    bool isPaused = false;
    std::deque<quint64> rows;   // seq of each row, ascending
    quint64 considered = 0;     // the last seq looked at for the rows
};

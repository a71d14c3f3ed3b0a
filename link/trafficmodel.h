// The traffic monitor's tables: the recorder's ring as rows of texts (time,
// direction, address, function, the result, what the frame carries, the
// bytes), through a filter, with a pause that stops new rows coming in; and
// the line's statistics by address.  No widgets; the texts go through
// translation here.
//
// A row is decoded when it is asked for (the rows on screen, an export) and
// its texts kept in a small cache: a full ring holds bytes, not texts.
#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>
#include <QCache>
#include <deque>

class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // The result comes before the contents, so that it stays in sight.
    enum Column { ColTime, ColDirection, ColAddress, ColFunction, ColResult, ColContent, ColBytes, ColumnCount };
    // Rows whose texts are kept (a few screens' worth).
    static constexpr int CachedRows = 400;

    explicit TrafficModel(TrafficRecorder *recorder, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Rows shown are the entries the filter lets through.  With
    // failuresOnly, a frame comes in when its attempt has ended in failure.
    void setFilter(const TrafficFilter &filter);
    TrafficFilter filter() const { return flt; }
    // While paused no new rows come in (the recorder keeps the frames; they
    // are shown when the pause ends, as far as the ring still holds them).
    // Rows already shown still get their results, and leave when the ring
    // drops them.
    void setPaused(bool paused);
    bool paused() const { return isPaused; }
    // The language changed: every text is made again.
    void retranslate();

    const TrafficEntry *entryAt(int row) const;
    QStringList headers() const;
    // The texts of a row as the table shows them (the time of day); with
    // `withDate` the time carries the date too, as saved files do.
    QStringList rowTexts(int row, bool withDate = false) const;
    // Every row shown, as texts with dated times (for saving).
    QVector<QStringList> shownRows() const;

    // "3 чтение регистров хранения"; for the filter's list too.
    static QString functionText(int function);
    static QString resultText(const TrafficEntry &entry, bool broadcast = false);
    static QString contentText(const FrameDecode::Frame &frame);
    // "исключение 2: недопустимый адрес данных"
    static QString exceptionText(int code);
    // "Порог 1 = 20.0 PPM": one value by the name the pages give it.
    static QString valueText(const FrameDecode::Value &value);
    // The direction texts, for the column's width too.
    static QStringList directionTexts();

private:
    void onAppended(quint64 seq);
    void onUpdated(quint64 seq);
    void onCleared();
    // Removes the rows whose entries have left the ring.
    void dropGone();
    // Appends the matching entries after `considered`.
    void catchUp();
    int rowOf(quint64 seq) const;
    QStringList makeTexts(const TrafficEntry &entry, bool withDate) const;

    TrafficRecorder *rec;
    TrafficFilter flt;
    bool isPaused = false;
    std::deque<quint64> rows;   // seq of each row, ascending
    quint64 considered = 0;     // the last seq looked at for the rows
    mutable QCache<quint64, QStringList> texts;
};

// The line's statistics, one row per address seen.
class TrafficStatsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ColAddress, ColRequests, ColReplies, ColNoReply, ColCrc, ColExceptions, ColTimes, ColumnCount };

    explicit TrafficStatsModel(TrafficRecorder *recorder, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    QStringList headers() const;
    QStringList rowTexts(int row) const;
    void retranslate();

private:
    void onChanged(int address);
    void onCleared();

    TrafficRecorder *rec;
    QVector<int> addresses;   // the row of each address, ascending
};

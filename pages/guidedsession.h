// The calibration page's guided procedures, one tab each: a calibration
// session (readings as found, the zero and span adjustment, readings as
// left, a verdict against the tolerance) and a function check (bump test:
// the gas applied, the reading watched, nothing written).  The page reads
// the device on its timer and hands each reading in; the adjustment itself
// is the page's own gas calibration, unchanged, which the session asks for
// (adjustRequested) and is told the outcome of (adjusted).  Every step's
// record goes out as recordReady for the journal, in one group; the session
// ends with its protocol.
#pragma once

#include "deviceparams.h"
#include "functioncheck.h"
#include "journal.h"
#include "protocoldata.h"

#include <QDateTime>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui { class GuidedSession; }

class GuidedSession : public QWidget
{
    Q_OBJECT
public:
    enum class Mode { Calibration, FunctionCheck };

    explicit GuidedSession(Mode mode, QWidget *parent = nullptr);
    ~GuidedSession() override;

    Mode mode() const { return sessionMode; }
    // Who does the work and the tolerance, as the program keeps them.
    void setPeople(const QString &technician, const QString &organisation, const FunctionCheck::Tolerance &tolerance);
    // Where the detector hangs and the site's interval in days (0: none
    // known) for the protocol, looked up by serial number.
    void setSiteLookup(std::function<void(qint64 serial, QString *tag, int *intervalDays)> lookup)
    {
        siteLookup = std::move(lookup);
    }
    // The names for the test gas's list (default: the user's gas library's).
    void setGasNames(const QStringList &names) { gasNames = names; }
    // The clock of the readings, ms (tests set their own); null: the system's.
    void setClock(std::function<qint64()> clock) { now = std::move(clock); }

    bool running() const;
    // Ends a running session where it is; what was recorded stays.
    void cancel();
    // A live reading (the page's timer), in the detector's unit.
    void reading(double value);
    // The page ran the adjustment asked for: the device took it or not; the
    // block before and after, and the record it wrote.
    void adjusted(bool written, const ParamBlock &before, const ParamBlock &after, const QString &recordUuid);

    // The protocol of the last session ended (kind, figures, records).
    const Protocol::Data &protocol() const { return data; }
    bool protocolReady() const { return finished; }
    // Writes it; false with the reason in `error`.
    bool saveProtocol(const QString &path, QString *error);

signals:
    // The technician's name, organisation or the tolerance were changed.
    void peopleChanged(const QString &technician, const QString &organisation,
                       const FunctionCheck::Tolerance &tolerance);
    // The session needs live readings (the page's timer) or no longer.
    void readingWanted(bool on);
    // Run the page's gas calibration of the zero or the span with this gas
    // (in the detector's unit); the records carry `group`.
    void adjustRequested(bool zero, double gas, const QString &group);
    void recordReady(const Journal::Record &record);
    // The reading settled at this moment: for the chart to mark.
    void settled(const QDateTime &when, const QString &label);

private slots:
    void on_pushButton_Start_clicked();
    void on_pushButton_Action_clicked();
    void on_pushButton_Skip_clicked();
    void on_pushButton_Cancel_clicked();
    void on_pushButton_People_clicked();
    void on_pushButton_Protocol_clicked();

private:
    enum class Step { Idle, FoundZero, FoundSpan, AdjustZero, LeftZero, AdjustSpan, LeftSpan, Check, Done };
    qint64 timeNow() const;
    // Asks for the technician, the test gas and the tolerance (the known
    // ones filled in); false when cancelled.
    bool askSetup();
    QStringList libraryNames() const;
    void begin();
    void enter(Step step);
    void takeReading(double value);
    void finishCalibration();
    void finishCheck();
    Journal::Record record(Journal::Kind kind) const;
    void showState();
    void showPeople();
    QString stepName(Step step) const;
    QString valueText(double value) const;

    Ui::GuidedSession *ui;
    Mode sessionMode;
    std::function<qint64()> now;
    std::function<void(qint64, QString *, int *)> siteLookup;
    QStringList gasNames;
    QString technician, organisation;
    FunctionCheck::Tolerance tolerance;
    FunctionCheck::TestGas gas;
    bool expiredConfirmed = false;

    Step step = Step::Idle;
    bool gasOn = false;          // the technician said the gas is applied
    std::unique_ptr<FunctionCheck::StabilityWatch> watch;
    std::unique_ptr<FunctionCheck::CheckRun> check;
    QString group;
    Protocol::Data data;
    bool finished = false;
    double last = qQNaN();
};

// What a guided calibration or a function check knows about itself: who did
// it, on which detector, with which test gas, its readings and verdict, and
// the journal records it left.  The protocol prints it (protocol_gui.h); the
// journal keeps it as JSON in the details of each of the session's records,
// so that the protocol can be made again from the journal alone, by the
// program or by tlctl.  No widgets, no GUI.
#pragma once

#include "functioncheck.h"
#include "journal.h"

#include <QDateTime>
#include <QString>
#include <QVector>

namespace Protocol {

enum class Kind { Calibration, FunctionCheck };

struct Device {
    int type = 0;              // 1 or 2: TL-02
    QString serialText;        // "TL02ID0004711"
    QString firmware;
    int address = 0;
    QString tag;               // where it hangs; empty: not known
};

// A journal record the work wrote: its UUID and, once a team server has
// chained it, its hash (empty until then).
struct RecordId {
    QString uuid;
    QString hash;
};

struct Data {
    Kind kind = Kind::Calibration;
    QDateTime time;
    QString organisation;
    QString technician;
    Device device;
    QString unit;              // the detector's unit of concentration
    FunctionCheck::TestGas gas;
    bool expiredConfirmed = false;   // the technician confirmed an expired cylinder's use
    // Calibration:
    FunctionCheck::CalibrationSession calibration;
    // The parameter block before and after the adjustment: the calibration
    // codes that changed are listed in the program's words.
    ParamBlock before{};
    ParamBlock after{};
    // Function check:
    FunctionCheck::CheckSetup check;
    FunctionCheck::CheckResult result;
    QDate nextDue;
    QVector<RecordId> records;
};

// The session as the JSON text of a record's details, and back (the records
// list is not in it: the group's records are the list).  False when the
// text is not a session's.
QString detailsOf(const Data &data);
bool fromDetails(const QString &details, Data *data);

// Fills the session's part of a journal record: its group, details, the test
// gas as the value and the readings as before/after texts.
void describe(Journal::Record &record, const Data &data, const QString &group);

// The records of the session that `id` (a record's number or UUID) belongs
// to, oldest first.  Empty with `why` set when there is no such record, or
// it belongs to no session.
Journal::Error sessionRecords(Journal::Database &db, const QString &id, QVector<Journal::Record> *records,
                              QString *why);
// The protocol of a session from its records: the details of the newest one
// that has them, and the ids of every record but the started ones.  False
// when no record has details.
bool fromRecords(const QVector<Journal::Record> &records, Data *data);

} // namespace Protocol

// The protocol of a guided calibration ("Протокол калибровки") or of a
// function check ("Протокол проверки работоспособности"): one A4 page that a
// laboratory signs, with the organisation and technician, the detector, the
// test gas and its cylinder, the readings and the verdict, the next due date
// and the journal records the work left.  No widgets: it paints through
// QPdfWriter and needs only a QGuiApplication (tlctl writes it too).
#pragma once

#include "functioncheck.h"

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

QString title(Kind kind);
QString html(const Data &data);

// Writes the protocol to `path` (replacing the file only by a complete one).
// False, with `error` saying why, when it cannot be written.
bool writePdf(const Data &data, const QString &path, QString *error);

} // namespace Protocol

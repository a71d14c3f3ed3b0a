// The protocol of a guided calibration ("Протокол калибровки") or of a
// function check ("Протокол проверки работоспособности"): one A4 page that a
// laboratory signs, with the organisation and technician, the detector, the
// test gas and its cylinder, the readings and the verdict, the next due date
// and the journal records the work left.  No widgets: it paints through
// QPdfWriter and needs only a QGuiApplication (tlctl writes it too).
#pragma once

#include "protocoldata.h"

#include <QString>

namespace Protocol {

QString title(Kind kind);
QString html(const Data &data);

// Writes the protocol to `path` (replacing the file only by a complete one).
// False, with `error` saying why, when it cannot be written.
bool writePdf(const Data &data, const QString &path, QString *error);

} // namespace Protocol

// The calibration certificate ("Протокол калибровки"): one journal record
// printed as a one-page PDF with the device, the values before and after,
// the date and lines for the signatures.  No widgets: it paints through
// QPdfWriter and needs only a QGuiApplication.
#pragma once

#include "journal.h"

#include <QString>

namespace Certificate {

// The certificate's text as HTML (what the PDF shows).
QString html(const Journal::Record &record);

// Writes the certificate of `record` to `path` (replacing the file only by
// a complete one).  False, with `error` saying why, when it cannot be written.
bool writePdf(const Journal::Record &record, const QString &path, QString *error);

} // namespace Certificate

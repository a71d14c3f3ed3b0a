// The site report as a PDF: a header with the site, the date and the
// technician, a table of every detector (sitereport.h), the overdue ones
// marked in words and in colour, and lines for the signatures.  Landscape
// A4.  No widgets: it paints through QPdfWriter and needs only a
// QGuiApplication.
#pragma once

#include "sitereport.h"

namespace SiteReport {

QString html(const Header &header, const QVector<Row> &rows);

// Writes the report to `path` (replacing the file only by a complete one).
// False, with `error` saying why, when it cannot be written.
bool writePdf(const Header &header, const QVector<Row> &rows, const QString &path, QString *error);

} // namespace SiteReport

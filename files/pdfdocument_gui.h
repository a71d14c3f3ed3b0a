// An HTML text printed as a PDF file, the way the program's protocols and
// reports are made: A4, 300 dpi, the file replaced only by a complete one.
#pragma once

#include <QPageLayout>
#include <QString>

namespace PdfDocument {

bool write(const QString &html, const QString &path, const QString &title, QPageLayout::Orientation orientation,
           QString *error);

} // namespace PdfDocument

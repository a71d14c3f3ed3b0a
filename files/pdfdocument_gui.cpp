#include "pdfdocument_gui.h"

#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>

namespace PdfDocument {

bool write(const QString &html, const QString &path, const QString &title, QPageLayout::Orientation orientation,
           QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageOrientation(orientation);
        // QTextDocument::print keeps 2 cm of its own inside these.
        writer.setPageMargins(QMarginsF(5, 0, 0, 0), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("TL Configuration"));
        QTextDocument doc;
        doc.setHtml(html);
        doc.print(&writer);
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace PdfDocument

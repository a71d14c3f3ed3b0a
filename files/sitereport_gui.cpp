#include "sitereport_gui.h"

#include "pdfdocument_gui.h"

#include <QCoreApplication>

namespace SiteReport {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SiteReport", text);
}

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

} // namespace

QString html(const Header &header, const QVector<Row> &rows)
{
    QString out = QStringLiteral("<html><body style=\"font-family: 'DejaVu Sans'; font-size: 9pt\">");
    out += QStringLiteral("<h2 align=\"center\">%1</h2>").arg(esc(tr("Отчёт по объекту")));
    out += QStringLiteral("<table cellpadding=\"2\"><tr><td><b>%1</b></td><td>%2</td></tr>"
                          "<tr><td><b>%3</b></td><td>%4</td></tr><tr><td><b>%5</b></td><td>%6</td></tr></table>")
               .arg(esc(tr("Объект")), esc(header.site), esc(tr("Дата")),
                    esc(header.date.toString(QStringLiteral("dd.MM.yyyy"))), esc(tr("Техник")),
                    esc(header.technician.isEmpty() ? QStringLiteral("—") : header.technician));
    // The CSV's columns, joined where they belong together, so that the
    // table fits a landscape page without breaking numbers.
    const QStringList titles = {tr("Метка"), tr("Линия, адрес"), tr("Заводской номер"), tr("Тип, версия ПО"),
                                tr("Газ, диапазон"), tr("Пороги 1 / 2"), tr("Последняя калибровка"),
                                tr("Следующая калибровка"), tr("Отклонения от резервной копии")};
    out += QStringLiteral("<p></p><table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\" border=\"1\"><tr>");
    for (const QString &title : titles)
        out += QStringLiteral("<th>%1</th>").arg(esc(title));
    out += QStringLiteral("</tr>");
    int overdue = 0;
    for (const Row &r : rows) {
        const Due due = dueOn(r.nextDue, header.date);
        // Overdue and due-soon rows are marked in colour as well as in words.
        const QString colour = due == Due::Overdue ? QStringLiteral(" bgcolor=\"#f6c8c8\"")
                               : due == Due::Soon  ? QStringLiteral(" bgcolor=\"#fbeec2\"")
                                                   : QString();
        overdue += due == Due::Overdue;
        const QStringList c = cells(r, header.date);   // in the order of columnTitles()
        auto join = [](const QString &a, const QString &b, const QString &sep) {
            return a.isEmpty() ? b : b.isEmpty() ? a : a + sep + b;
        };
        const QStringList shown = {
            esc(c[0]),
            esc(join(c[1], c[2], QStringLiteral(", "))),
            QStringLiteral("<span style=\"white-space: nowrap\">%1</span>").arg(esc(c[3])),
            esc(join(c[4], c[5], QStringLiteral(", "))),
            esc(join(c[6], join(c[8], c[7], QStringLiteral(" ")), QStringLiteral(", "))),
            esc(join(c[9], c[10], QStringLiteral(" / "))),
            r.recordUuid.isEmpty() ? esc(c[11])
                                   : QStringLiteral("%1<br/><span style=\"font-size: 7pt\">%2</span>")
                                         .arg(esc(c[11]), esc(tr("хеш %1").arg(hashText(r.recordHash, true)))),
            QStringLiteral("%1<br/><b>%2</b>").arg(esc(c[12]), esc(c[13])),
            esc(c[14]),
        };
        out += QStringLiteral("<tr%1>").arg(colour);
        for (const QString &cell : shown)
            out += QStringLiteral("<td>%1</td>").arg(cell);
        out += QStringLiteral("</tr>");
    }
    out += QStringLiteral("</table>");
    out += QStringLiteral("<p>%1</p>").arg(esc(tr("Приборов: %1, из них с просроченной калибровкой: %2.")
                                                   .arg(rows.size()).arg(overdue)));
    // Each last calibration's record in full, to be checked against the
    // journal's server.
    bool anyRecord = false;
    for (const Row &r : rows)
        anyRecord = anyRecord || !r.recordUuid.isEmpty();
    if (anyRecord) {
        out += QStringLiteral("<h3>%1</h3>").arg(esc(tr("Записи журнала о последних калибровках")));
        out += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\" border=\"1\"><tr><th>%1</th><th>%2</th>"
                              "<th>%3</th></tr>")
                   .arg(esc(tr("Заводской номер")), esc(tr("UUID записи")), esc(tr("Хеш записи (SHA-256)")));
        for (const Row &r : rows) {
            if (r.recordUuid.isEmpty())
                continue;
            out += QStringLiteral("<tr><td>%1</td><td style=\"font-family: 'DejaVu Sans Mono'\">%2</td>"
                                  "<td style=\"font-family: 'DejaVu Sans Mono'\">%3</td></tr>")
                       .arg(esc(r.serialText), esc(r.recordUuid), esc(hashText(r.recordHash)));
        }
        out += QStringLiteral("</table>");
    }
    const QString line = QStringLiteral("__________________");
    out += QStringLiteral("<p><br/></p><table cellpadding=\"6\">");
    out += QStringLiteral("<tr><td>%1</td><td>%2 / %2</td></tr>").arg(esc(tr("Обслуживание выполнил")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2 / %2</td></tr>").arg(esc(tr("Представитель объекта")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(esc(tr("Дата")), line);
    out += QStringLiteral("</table></body></html>");
    return out;
}

bool writePdf(const Header &header, const QVector<Row> &rows, const QString &path, QString *error)
{
    return PdfDocument::write(html(header, rows), path, tr("Отчёт по объекту"), QPageLayout::Landscape, error);
}

} // namespace SiteReport

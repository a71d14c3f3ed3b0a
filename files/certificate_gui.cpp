#include "certificate_gui.h"

#include "journaltext_gui.h"
#include "pdfdocument_gui.h"

#include <QCoreApplication>

namespace Certificate {

namespace {

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

// A hash in groups of eight digits: it fits the column and is read out
// group by group against the server's.
QString grouped(const QString &hash)
{
    QStringList groups;
    for (int i = 0; i < hash.size(); i += 8)
        groups << hash.mid(i, 8);
    return groups.join(QLatin1Char(' '));
}

QString row(const QString &name, const QString &value)
{
    return QStringLiteral("<tr><td width=\"35%\"><b>%1</b></td><td>%2</td></tr>").arg(esc(name), esc(value));
}

} // namespace

QString html(const Journal::Record &r)
{
    const QString dash = QStringLiteral("—");
    const auto orDash = [&](const QString &s) { return s.isEmpty() ? dash : s; };

    QString out = QStringLiteral("<html><body style=\"font-family: 'DejaVu Sans'; font-size: 11pt\">");
    out += QStringLiteral("<h2 align=\"center\">%1</h2>").arg(esc(QCoreApplication::translate("Certificate", "Протокол калибровки")));
    out += QStringLiteral("<p align=\"center\">%1</p>").arg(esc(QCoreApplication::translate("Certificate", "№ %1 от %2").arg(r.id).arg(
                                                                r.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")))));

    out += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\" border=\"1\">");
    out += row(QCoreApplication::translate("Certificate", "Прибор"), JournalText::deviceText(r.deviceType));
    out += row(QCoreApplication::translate("Certificate", "Серийный номер"), r.serialText.isEmpty() ? dash
                                                           : QStringLiteral("%1 (%2)").arg(r.serialText).arg(r.serial));
    out += row(QCoreApplication::translate("Certificate", "Версия ПО"), orDash(r.firmware));
    out += row(QCoreApplication::translate("Certificate", "Адрес MODBUS"), QString::number(r.address));
    out += row(QCoreApplication::translate("Certificate", "Дата и время"), r.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    out += row(QCoreApplication::translate("Certificate", "Операция"), JournalText::kindText(r.kind));
    out += row(QCoreApplication::translate("Certificate", "Калибровочный газ / ток"), orDash(r.value));
    out += row(QCoreApplication::translate("Certificate", "Уровень доступа"), orDash(r.level));
    out += row(QCoreApplication::translate("Certificate", "Результат"), JournalText::outcomeText(r));
    // What names the record on the journal's server, for a check of this
    // paper against it: the server gives the hash when it takes the record.
    const QString mono = QStringLiteral("<tr><td width=\"35%\"><b>%1</b></td>"
                                        "<td style=\"font-family: 'DejaVu Sans Mono'; font-size: 9pt\">%2</td></tr>");
    out += mono.arg(esc(QCoreApplication::translate("Certificate", "UUID записи")), esc(orDash(r.uuid)));
    out += r.hash.isEmpty()
               ? row(QCoreApplication::translate("Certificate", "Хеш записи (SHA-256)"),
                     QCoreApplication::translate("Certificate", "ещё не присвоен: хеш будет присвоен сервером журнала, "
                                                                "когда запись будет отправлена"))
               : mono.arg(esc(QCoreApplication::translate("Certificate", "Хеш записи (SHA-256)")), esc(grouped(r.hash)));
    out += QStringLiteral("</table>");

    // The values before and after, side by side by name.
    const auto before = JournalText::fieldPairs(r.before);
    const auto after = JournalText::fieldPairs(r.after);
    QStringList names;
    for (const auto &p : before + after)
        if (!names.contains(p.first))
            names << p.first;
    out += QStringLiteral("<h3>%1</h3>").arg(esc(QCoreApplication::translate("Certificate", "Значения до и после")));
    if (names.isEmpty()) {
        out += QStringLiteral("<p>%1</p>").arg(esc(QCoreApplication::translate("Certificate", "Значения не менялись.")));
    } else {
        out += QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"4\" border=\"1\">");
        out += QStringLiteral("<tr><th>%1</th><th>%2</th><th>%3</th></tr>")
                   .arg(esc(QCoreApplication::translate("Certificate", "Параметр")), esc(QCoreApplication::translate("Certificate", "До")), esc(QCoreApplication::translate("Certificate", "После")));
        const auto valueOf = [](const QList<QPair<QString, QString>> &pairs, const QString &name) {
            for (const auto &p : pairs)
                if (p.first == name)
                    return p.second;
            return QString();
        };
        for (const QString &name : names)
            out += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                       .arg(esc(name), esc(orDash(valueOf(before, name))), esc(orDash(valueOf(after, name))));
        out += QStringLiteral("</table>");
    }

    const QString line = QStringLiteral("__________________");
    out += QStringLiteral("<p><br/><br/></p><table width=\"100%\" cellpadding=\"8\">");
    out += QStringLiteral("<tr><td width=\"35%\">%1</td><td>%2 / %2</td></tr>").arg(esc(QCoreApplication::translate("Certificate", "Калибровку выполнил")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2 / %2</td></tr>").arg(esc(QCoreApplication::translate("Certificate", "Проверил")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(esc(QCoreApplication::translate("Certificate", "Дата")), line);
    out += QStringLiteral("</table></body></html>");
    return out;
}

bool writePdf(const Journal::Record &record, const QString &path, QString *error)
{
    return PdfDocument::write(html(record), path, QCoreApplication::translate("Certificate", "Протокол калибровки"),
                              QPageLayout::Portrait, error);
}

} // namespace Certificate

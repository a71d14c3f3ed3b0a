#include "sitereport.h"

#include <QCoreApplication>

namespace SiteReport {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SiteReport", text);
}

QString date(const QDate &d)
{
    return d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : QStringLiteral("—");
}

QByteArray csvField(const QString &text)
{
    QString t = text;
    if (t.contains(QLatin1Char(';')) || t.contains(QLatin1Char('"')) || t.contains(QLatin1Char('\n'))
        || t.contains(QLatin1Char('\r'))) {
        t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        t = QLatin1Char('"') + t + QLatin1Char('"');
    }
    return t.toUtf8();
}

QByteArray csvLine(const QStringList &fields)
{
    QByteArray line;
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            line += ';';
        line += csvField(fields[i]);
    }
    return line + "\r\n";
}

} // namespace

Due dueOn(const QDate &nextDue, const QDate &today)
{
    if (!nextDue.isValid())
        return Due::Unknown;
    const qint64 days = today.daysTo(nextDue);
    if (days < 0)
        return Due::Overdue;
    return days <= DueSoonDays ? Due::Soon : Due::Ok;
}

QString dueText(const Row &row, const QDate &today)
{
    const qint64 days = today.daysTo(row.nextDue);
    switch (dueOn(row.nextDue, today)) {
    case Due::Unknown:
        return tr("нет данных о калибровке");
    case Due::Overdue:
        return tr("просрочена на %1 дн.").arg(-days);
    case Due::Soon:
        return days == 0 ? tr("сегодня") : tr("через %1 дн.").arg(days);
    case Due::Ok:
        break;
    }
    return tr("в срок");
}

QString typeText(int deviceType)
{
    if (deviceType == 1 || deviceType == 2)
        return tr("Детектор, тип %1").arg(deviceType);
    return tr("Неизвестный прибор (тип %1)").arg(deviceType);
}

QStringList columnTitles()
{
    return {tr("Метка"), tr("Линия"), tr("Адрес"), tr("Заводской номер"), tr("Тип"), tr("Версия ПО"), tr("Газ"),
            tr("Ед. изм."), tr("Диапазон"), tr("Порог 1"), tr("Порог 2"), tr("Последняя калибровка"),
            tr("Следующая калибровка"), tr("Срок"), tr("Отклонения от резервной копии"),
            tr("UUID записи о калибровке"), tr("Хеш записи о калибровке")};
}

QString hashText(const QString &hash, bool shortForm)
{
    if (hash.isEmpty())
        return tr("будет присвоен сервером");
    return shortForm ? hash.left(12) + QStringLiteral("…") : hash;
}

QStringList cells(const Row &r, const QDate &today)
{
    return {r.tag, r.port, QString::number(r.address), r.serialText, r.type, r.firmware, r.gas, r.unit, r.range,
            r.limit1, r.limit2, date(r.lastCalibration), date(r.nextDue), dueText(r, today),
            r.drift.isEmpty() ? tr("нет") : r.drift.join(QStringLiteral("; ")),
            r.recordUuid.isEmpty() ? QStringLiteral("—") : r.recordUuid,
            r.recordUuid.isEmpty() ? QStringLiteral("—") : hashText(r.recordHash)};
}

QByteArray toCsv(const Header &header, const QVector<Row> &rows)
{
    QByteArray out("\xEF\xBB\xBF");
    out += csvLine({tr("Отчёт по объекту"), header.site});
    out += csvLine({tr("Дата"), date(header.date)});
    out += csvLine({tr("Техник"), header.technician});
    out += "\r\n";
    out += csvLine(columnTitles());
    for (const Row &r : rows)
        out += csvLine(cells(r, header.date));
    return out;
}

} // namespace SiteReport

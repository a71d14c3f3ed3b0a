#include "protocol_gui.h"

#include "paramtable.h"
#include "paramtext_gui.h"
#include "pdfdocument_gui.h"

#include <QCoreApplication>

namespace Protocol {

namespace {

using FunctionCheck::CalibrationSession;
using FunctionCheck::Crossing;
using FunctionCheck::Threshold;

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

const QString dash = QStringLiteral("—");

QString orDash(const QString &s)
{
    return s.isEmpty() ? dash : s;
}

// Parameter labels as the pages show them.
QString label(const char *name)
{
    const Params::ParamDef *def = Params::findParameter(QLatin1String(name));
    return def ? ParamText::label(*def) : QLatin1String(name);
}

QString row(const QString &name, const QString &valueHtml)
{
    return QStringLiteral("<tr><td width=\"38%\">%1</td><td>%2</td></tr>").arg(esc(name), valueHtml);
}

QString tableStart()
{
    return QStringLiteral("<table width=\"100%\" cellspacing=\"0\" cellpadding=\"3\" border=\"1\">");
}

QString heading(const QString &text)
{
    return QStringLiteral("<p style=\"margin-top: 8px; margin-bottom: 3px\"><b>%1</b></p>").arg(esc(text));
}

QString bad(const QString &text)
{
    return QStringLiteral("<b><span style=\"color: #b00000\">%1</span></b>").arg(esc(text));
}

QString seconds(qint64 ms)
{
    return QCoreApplication::translate("Protocol", "%1 с").arg(QString::number(double(ms) / 1000.0, 'f', ms % 1000 ? 1 : 0));
}

struct Fmt {
    int decimals;
    QString unit;
    QString operator()(double v) const
    {
        if (qIsNaN(v))
            return dash;
        const QString n = QString::number(v, 'f', decimals);
        return unit.isEmpty() ? n : n + QLatin1Char(' ') + unit;
    }
};

QString thresholdText(const Threshold &t, const Fmt &fmt)
{
    if (!t.enabled)
        return QCoreApplication::translate("Protocol", "не задан");
    return QCoreApplication::translate("Protocol", "%1, %2").arg(fmt(t.value), t.decreasing ? QCoreApplication::translate("Protocol", "убывающий") : QCoreApplication::translate("Protocol", "возрастающий"));
}

QString judgementText(CalibrationSession::Judgement j)
{
    switch (j) {
    case CalibrationSession::Judgement::NotMeasured:
        return esc(dash);
    case CalibrationSession::Judgement::Within:
        return esc(QCoreApplication::translate("Protocol", "в допуске"));
    case CalibrationSession::Judgement::Outside:
        return bad(QCoreApplication::translate("Protocol", "вне допуска"));
    }
    return QString();
}

QString crossingText(const Crossing &c)
{
    QString out;
    if (c.crossed)
        out = esc(QCoreApplication::translate("Protocol", "сработал через %1").arg(seconds(c.crossedAt)));
    else if (c.expected)
        out = bad(QCoreApplication::translate("Protocol", "не сработал"));
    else
        out = esc(QCoreApplication::translate("Protocol", "не сработал (газ не достигает порога)"));
    if (c.crossed)
        out += QStringLiteral("; ") + (c.returned ? esc(QCoreApplication::translate("Protocol", "сброс через %1 после снятия газа").arg(seconds(c.returnedAt)))
                                                 : bad(QCoreApplication::translate("Protocol", "не вернулся после снятия газа")));
    return out;
}

QString calibrationTable(const Data &d, const Fmt &fmt)
{
    const CalibrationSession &c = d.calibration;
    QString out = heading(QCoreApplication::translate("Protocol", "Результаты калибровки"));
    out += tableStart();
    out += QStringLiteral("<tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th><th>%5</th><th>%6</th></tr>")
               .arg(esc(QCoreApplication::translate("Protocol", "Точка")), esc(QCoreApplication::translate("Protocol", "Газ")), esc(QCoreApplication::translate("Protocol", "До регулировки")), esc(QCoreApplication::translate("Protocol", "После регулировки")),
                    esc(QCoreApplication::translate("Protocol", "Допуск")), esc(QCoreApplication::translate("Protocol", "Оценка после")));
    const auto point = [&](const QString &name, double gas, double found, double left) {
        return QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3 (%4)</td><td>%5</td><td>±%6</td><td>%7</td></tr>")
            .arg(esc(name), esc(fmt(gas)), esc(fmt(found)), judgementText(c.judge(found, gas)), esc(fmt(left)),
                 esc(fmt(c.allowed(gas))), judgementText(c.judge(left, gas)));
    };
    out += point(QCoreApplication::translate("Protocol", "Ноль"), c.zeroGas, c.foundZero, c.leftZero);
    if (c.spanGas > 0)
        out += point(QCoreApplication::translate("Protocol", "Диапазон"), c.spanGas, c.foundSpan, c.leftSpan);
    out += QStringLiteral("</table>");

    // The calibration codes the adjustment changed, in the pages' words.
    static const char *const codes[] = {"adc_4ma", "adc_20ma", "adc_calib", "conc_calib", "pwm_4ma", "pwm_20ma"};
    QString rows;
    for (const char *name : codes) {
        const Params::ParamDef *def = Params::findParameter(QLatin1String(name));
        if (!def || Params::holdingValue(d.before, def->reg) == Params::holdingValue(d.after, def->reg))
            continue;
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(esc(ParamText::label(*def)), esc(ParamText::value(*def, d.before)),
                         esc(ParamText::value(*def, d.after)));
    }
    out += heading(QCoreApplication::translate("Protocol", "Регулировка"));
    if (rows.isEmpty())
        return out + QStringLiteral("<p>%1</p>").arg(esc(QCoreApplication::translate("Protocol", "Параметры калибровки не менялись.")));
    out += tableStart();
    out += QStringLiteral("<tr><th>%1</th><th>%2</th><th>%3</th></tr>")
               .arg(esc(QCoreApplication::translate("Protocol", "Параметр")), esc(QCoreApplication::translate("Protocol", "До")), esc(QCoreApplication::translate("Protocol", "После")));
    return out + rows + QStringLiteral("</table>");
}

QString checkTable(const Data &d, const Fmt &fmt)
{
    const FunctionCheck::CheckResult &r = d.result;
    QString out = heading(QCoreApplication::translate("Protocol", "Результаты проверки (без регулировки)"));
    out += tableStart();
    out += row(QCoreApplication::translate("Protocol", "Показания до подачи газа"), esc(fmt(r.baseline)));
    out += row(QCoreApplication::translate("Protocol", "Пиковые показания"), r.peakAt < 0 ? esc(dash)
                                                    : esc(QCoreApplication::translate("Protocol", "%1 через %2").arg(fmt(r.peak), seconds(r.peakAt))));
    QString settled = esc(fmt(r.finalReading));
    if (r.stable)
        settled += esc(QCoreApplication::translate("Protocol", " (установились через %1)").arg(seconds(r.stableAt)));
    else if (r.haveReadings)
        settled += QLatin1Char(' ') + bad(QCoreApplication::translate("Protocol", "(не установились)"));
    out += row(QCoreApplication::translate("Protocol", "Установившиеся показания"), settled);
    out += row(QCoreApplication::translate("Protocol", "Время установления 90 % (t90)"), r.t90 < 0 ? esc(dash) : esc(seconds(r.t90)));
    out += row(QCoreApplication::translate("Protocol", "Допуск"), esc(QCoreApplication::translate("Protocol", "±%1 от %2").arg(fmt(r.allowed), fmt(d.check.gas)))
                                 + QStringLiteral(": ") + (r.inTolerance ? esc(QCoreApplication::translate("Protocol", "в допуске")) : bad(QCoreApplication::translate("Protocol", "вне допуска"))));
    out += row(label("limit1"), esc(thresholdText(d.check.limits.limit1, fmt)) + QStringLiteral(": ")
                                    + (d.check.limits.limit1.enabled ? crossingText(r.limit1) : esc(dash)));
    out += row(label("limit2"), esc(thresholdText(d.check.limits.limit2, fmt)) + QStringLiteral(": ")
                                    + (d.check.limits.limit2.enabled ? crossingText(r.limit2) : esc(dash)));
    return out + QStringLiteral("</table>");
}

} // namespace

QString title(Kind kind)
{
    return kind == Kind::Calibration ? QCoreApplication::translate("Protocol", "Протокол калибровки") : QCoreApplication::translate("Protocol", "Протокол проверки работоспособности");
}

QString html(const Data &d)
{
    const bool calibration = d.kind == Kind::Calibration;
    const FunctionCheck::DeviceLimits &limits = calibration ? d.calibration.limits : d.check.limits;
    const Fmt fmt{limits.decimals, d.unit};

    QString out = QStringLiteral("<html><body style=\"font-family: 'DejaVu Sans'; font-size: 9pt\">");
    out += QStringLiteral("<h2 align=\"center\">%1</h2>").arg(esc(title(d.kind)));
    out += QStringLiteral("<p align=\"center\">%1</p>")
               .arg(esc(QCoreApplication::translate("Protocol", "от %1").arg(d.time.toString(QStringLiteral("dd.MM.yyyy HH:mm")))));

    out += tableStart();
    out += row(QCoreApplication::translate("Protocol", "Организация"), esc(orDash(d.organisation)));
    out += row(QCoreApplication::translate("Protocol", "Выполнил"), esc(orDash(d.technician)));
    out += QStringLiteral("</table>");

    out += heading(QCoreApplication::translate("Protocol", "Прибор"));
    out += tableStart();
    out += row(QCoreApplication::translate("Protocol", "Тип"), esc(d.device.type == 1 || d.device.type == 2 ? QCoreApplication::translate("Protocol", "TL-02, тип %1").arg(d.device.type)
                                                                     : QCoreApplication::translate("Protocol", "тип %1").arg(d.device.type)));
    out += row(QCoreApplication::translate("Protocol", "Серийный номер"), esc(orDash(d.device.serialText)));
    out += row(QCoreApplication::translate("Protocol", "Версия ПО"), esc(orDash(d.device.firmware)));
    out += row(QCoreApplication::translate("Protocol", "Адрес MODBUS"), esc(QString::number(d.device.address)));
    if (!d.device.tag.isEmpty())
        out += row(QCoreApplication::translate("Protocol", "Метка"), esc(d.device.tag));
    out += row(QCoreApplication::translate("Protocol", "Диапазон"), esc(QCoreApplication::translate("Protocol", "%1 … %2").arg(fmt(limits.rangeMin), fmt(limits.rangeMax))));
    out += row(label("limit1"), esc(thresholdText(limits.limit1, fmt)));
    out += row(label("limit2"), esc(thresholdText(limits.limit2, fmt)));
    out += QStringLiteral("</table>");

    const QDate today = d.time.date();
    out += heading(QCoreApplication::translate("Protocol", "Поверочная газовая смесь"));
    out += tableStart();
    out += row(QCoreApplication::translate("Protocol", "Газ"), esc(QCoreApplication::translate("Protocol", "%1, %2 %3").arg(orDash(d.gas.name), QString::number(d.gas.concentration, 'f', limits.decimals),
                                                 d.gas.unit)));
    out += row(QCoreApplication::translate("Protocol", "Баллон №"), esc(orDash(d.gas.cylinder)));
    QString expiry = esc(d.gas.expiry.isValid() ? d.gas.expiry.toString(QStringLiteral("dd.MM.yyyy")) : QCoreApplication::translate("Protocol", "не указан"));
    if (d.gas.expired(today))
        expiry += QStringLiteral("<br/>") + bad(QCoreApplication::translate("Protocol", "Срок годности баллона истёк.")) + QLatin1Char(' ')
                  + (d.expiredConfirmed ? esc(QCoreApplication::translate("Protocol", "Использование подтверждено исполнителем."))
                                        : bad(QCoreApplication::translate("Protocol", "Использование не подтверждено.")));
    out += row(QCoreApplication::translate("Protocol", "Годен до"), expiry);
    out += QStringLiteral("</table>");

    out += calibration ? calibrationTable(d, fmt) : checkTable(d, fmt);

    const QVector<FunctionCheck::Reason> reasons = calibration ? d.calibration.reasons() : d.result.reasons;
    QString verdict;
    if (reasons.isEmpty()) {
        verdict = QStringLiteral("<b>%1</b>").arg(esc(calibration ? QCoreApplication::translate("Protocol", "Калибровка выполнена, прибор в допуске")
                                                                  : QCoreApplication::translate("Protocol", "Прибор работоспособен")));
    } else {
        QStringList words;
        for (FunctionCheck::Reason reason : reasons)
            words << FunctionCheck::reasonText(reason);
        verdict = bad(calibration ? QCoreApplication::translate("Protocol", "Калибровка не пройдена") : QCoreApplication::translate("Protocol", "Прибор не прошёл проверку"))
                  + esc(QStringLiteral(": ") + words.join(QStringLiteral("; ")));
    }
    out += heading(QCoreApplication::translate("Protocol", "Заключение"));
    out += tableStart();
    out += row(QCoreApplication::translate("Protocol", "Результат"), verdict);
    out += row(calibration ? QCoreApplication::translate("Protocol", "Следующая калибровка") : QCoreApplication::translate("Protocol", "Следующая проверка"),
               esc(d.nextDue.isValid() ? d.nextDue.toString(QStringLiteral("dd.MM.yyyy")) : dash));
    QStringList ids;
    for (const RecordId &id : d.records)
        // In a monospace font: a proportional one draws "ff" as one
        // ligature, and the text taken from the PDF would not be the id.
        ids << QStringLiteral("<span style=\"font-family: 'DejaVu Sans Mono'\">%1</span>").arg(esc(id.uuid))
                   + QStringLiteral("<br/><span style=\"font-size: 7pt\">%1</span>")
                         .arg(id.hash.isEmpty()
                                  ? esc(QCoreApplication::translate("Protocol", "хеш будет присвоен сервером"))
                                  : esc(QCoreApplication::translate("Protocol", "хеш %1").arg(QString()))
                                        + QStringLiteral("<span style=\"font-family: 'DejaVu Sans Mono'\">%1</span>")
                                              .arg(esc(id.hash)));
    out += row(QCoreApplication::translate("Protocol", "Записи журнала"), ids.isEmpty() ? esc(dash) : ids.join(QStringLiteral("<br/>")));
    out += QStringLiteral("</table>");

    const QString line = QStringLiteral("____________________");
    out += QStringLiteral("<p></p><table width=\"100%\" cellpadding=\"6\">");
    out += QStringLiteral("<tr><td width=\"38%\">%1</td><td>%2 / %2</td></tr>").arg(esc(QCoreApplication::translate("Protocol", "Выполнил")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2 / %2</td></tr>").arg(esc(QCoreApplication::translate("Protocol", "Проверил")), line);
    out += QStringLiteral("<tr><td>%1</td><td>%2</td></tr>").arg(esc(QCoreApplication::translate("Protocol", "Дата")), line);
    out += QStringLiteral("</table></body></html>");
    return out;
}

bool writePdf(const Data &data, const QString &path, QString *error)
{
    return PdfDocument::write(html(data), path, title(data.kind), QPageLayout::Portrait, error);
}

} // namespace Protocol

#include "paramtext_gui.h"

#include "restoreplan.h"

#include <QCoreApplication>

namespace ParamText {

namespace {

struct Label {
    const char *name;
    const char *text;
};

const Label labels[] = {
    {"limit1", QT_TRANSLATE_NOOP("ParamText", "Порог 1")},
    {"limit1_direction", QT_TRANSLATE_NOOP("ParamText", "Направление порога 1")},
    {"limit1_autoreset", QT_TRANSLATE_NOOP("ParamText", "Автосброс порога 1")},
    {"limit2", QT_TRANSLATE_NOOP("ParamText", "Порог 2")},
    {"limit2_direction", QT_TRANSLATE_NOOP("ParamText", "Направление порога 2")},
    {"limit2_autoreset", QT_TRANSLATE_NOOP("ParamText", "Автосброс порога 2")},
    {"hysteresis", QT_TRANSLATE_NOOP("ParamText", "Гистерезис")},
    {"dead_zone", QT_TRANSLATE_NOOP("ParamText", "Мертвая зона")},
    {"dead_zone2", QT_TRANSLATE_NOOP("ParamText", "Мертвая зона 2")},
    {"range_max", QT_TRANSLATE_NOOP("ParamText", "Верхнее значение диапазона")},
    {"range_min", QT_TRANSLATE_NOOP("ParamText", "Нижнее значение диапазона")},
    {"trip_delay", QT_TRANSLATE_NOOP("ParamText", "Задержка срабатывания порогов")},
    {"reset_delay", QT_TRANSLATE_NOOP("ParamText", "Задержка сброса порогов")},
    {"unit", QT_TRANSLATE_NOOP("ParamText", "Единица измерения")},
    {"discreteness", QT_TRANSLATE_NOOP("ParamText", "Дискретность")},
    {"output_type", QT_TRANSLATE_NOOP("ParamText", "Тип токового выхода")},
    {"sensor_current", QT_TRANSLATE_NOOP("ParamText", "Ток потенц. датчика")},
    {"net_address", QT_TRANSLATE_NOOP("ParamText", "Сетевой адрес")},
    {"net_speed", QT_TRANSLATE_NOOP("ParamText", "Скорость RS485")},
    {"serial_number", QT_TRANSLATE_NOOP("ParamText", "Заводской номер")},
    {"adc_4ma", QT_TRANSLATE_NOOP("ParamText", "Значение АЦП 4 мА")},
    {"adc_20ma", QT_TRANSLATE_NOOP("ParamText", "Значение АЦП 20 мА")},
    {"adc_calib", QT_TRANSLATE_NOOP("ParamText", "АЦП калибровки")},
    {"conc_calib", QT_TRANSLATE_NOOP("ParamText", "Калибровочная концентрация")},
    {"pwm_4ma", QT_TRANSLATE_NOOP("ParamText", "PWM 4 мА")},
    {"pwm_20ma", QT_TRANSLATE_NOOP("ParamText", "PWM 20 мА")},
    {"simulation", QT_TRANSLATE_NOOP("ParamText", "Имитация концентрации")},
    {"simulation_value", QT_TRANSLATE_NOOP("ParamText", "Имитируемое значение")},
    {"board_version", QT_TRANSLATE_NOOP("ParamText", "Версия платы")},
    {"reg_100c", QT_TRANSLATE_NOOP("ParamText", "Регистр 0x100C")},
    {"command_word", QT_TRANSLATE_NOOP("ParamText", "Регистр команд")},
};

} // namespace

QString label(const Params::ParamDef &def)
{
    for (const Label &l : labels)
        if (qstrcmp(l.name, def.name) == 0)
            return QCoreApplication::translate("ParamText", l.text);
    return QLatin1String(def.name);
}

QString value(const Params::ParamDef &def, const ParamBlock &block)
{
    using Params::Kind;
    const Params::Shown s = Params::show(def, block);
    switch (def.kind) {
    case Kind::LimitDirection:
        return (s.raw & 0x8000) ? QCoreApplication::translate("ParamText", "Убыв.") : QCoreApplication::translate("ParamText", "Возр.");
    case Kind::AutoReset:
    case Kind::Switch:
        return s.value.toBool() ? QCoreApplication::translate("ParamText", "Вкл.") : QCoreApplication::translate("ParamText", "Выкл.");
    case Kind::Delay:
        return s.text + QCoreApplication::translate("ParamText", " c");
    default:
        break;
    }
    return s.unit.isEmpty() ? s.text : s.text + QLatin1Char(' ') + s.unit;
}

QString implausible(const Params::ParamDef &def, int why, const ParamBlock &file)
{
    QString reason;
    switch (why) {
    case Restore::Implausible::AboveRangeMax:
        return thresholdAboveRange(def, file);
    case Restore::Implausible::UnknownCode:
        reason = QCoreApplication::translate("ParamText", "неизвестный код %1").arg(Params::show(def, file).text);
        break;
    default: {
        const Params::Range r = Params::shownRange(def, file.Config);
        reason = QCoreApplication::translate("ParamText", "допустимо от %1 до %2").arg(r.min).arg(r.max);
        break;
    }
    }
    return QStringLiteral("%1: %2 (%3)").arg(label(def), value(def, file), reason);
}

QString thresholdAboveRange(const Params::ParamDef &def, const ParamBlock &block)
{
    return QCoreApplication::translate("ParamText", "%1 (%2) выше верхнего значения диапазона (%3): такой порог "
                                                    "никогда не сработает")
        .arg(label(def), value(def, block), value(*Params::findParameter(QStringLiteral("range_max")), block));
}

QString thresholdRefusal(const ParamBlock &block)
{
    QStringList lines;
    for (const Params::ParamDef *def : Params::thresholdsAboveRange(block))
        lines << thresholdAboveRange(*def, block);
    if (lines.isEmpty())
        return QString();
    lines << QCoreApplication::translate("ParamText", "Параметры в прибор не записаны.");
    return lines.join(QLatin1Char('\n'));
}

} // namespace ParamText

// Parameters by the names and in the units the pages show them, for the
// program's messages and confirmations (tlctl prints its own names).
#pragma once

#include "paramtable.h"

#include <QString>

namespace ParamText {

// "Порог 1", "Задержка сраб. порогов", ... (translated).
QString label(const Params::ParamDef &def);
// The value as the page shows it, with its unit: "20.0 %LEL", "5 c",
// "Убыв.", "Вкл.".
QString value(const Params::ParamDef &def, const ParamBlock &block);
// What a parameter file holds that no detector would: "Сетевой адрес: 222
// (допустимо от 1 до 247)".
QString implausible(const Params::ParamDef &def, int why, const ParamBlock &file);

// The rule that a threshold above the upper range value can never trip
// (Params::thresholdsAboveRange), in the program's words: "Порог 1 (150.0
// PPM) выше верхнего значения диапазона (100.0 PPM): такой порог никогда не
// сработает".
QString thresholdAboveRange(const Params::ParamDef &def, const ParamBlock &block);
// Why a block is not written: one such line per threshold that breaks the
// rule, then "Параметры в прибор не записаны."; empty when the block keeps
// the rule.  The settings page's save, factory store and the library
// dialog refuse with it.
QString thresholdRefusal(const ParamBlock &block);

} // namespace ParamText

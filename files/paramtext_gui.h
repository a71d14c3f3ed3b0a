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

} // namespace ParamText

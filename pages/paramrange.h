// Limits of a page's spin box from the parameter table, so that the pages,
// tlctl `set` and the parameter-file check take the same values.
#pragma once

#include "paramtable.h"

#include <QDoubleSpinBox>

inline void setRangeOf(QDoubleSpinBox *box, const char *name, quint16 config)
{
    const Params::ParamDef *def = Params::findParameter(QLatin1String(name));
    Q_ASSERT(def);
    if (!def)
        return;
    const Params::Range r = Params::shownRange(*def, config);
    box->setRange(r.min, r.max);
}

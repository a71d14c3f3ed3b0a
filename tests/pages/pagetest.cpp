#include "pagetest.h"

#include "command.h"
#include "simlink.h"

namespace PageTest {

bool openSim(SimProcess &sim, const QStringList &holdings, const QStringList &inputs, qint16 deviceType,
             quint16 writeCount)
{
    if (!SimLink::openSim(sim, {QStringLiteral("--type"), QString::number(deviceType == 2 ? 2 : 1)}))
        return false;
    for (const QString &h : holdings) {
        bool ok = false;
        sim.send(QStringLiteral("set holding %1 %2").arg(h.section(QLatin1Char('='), 0, 0),
                                                         h.section(QLatin1Char('='), 1, 1)), &ok);
        if (!ok)
            return false;
    }
    for (const QString &i : inputs) {
        bool ok = false;
        sim.send(QStringLiteral("set input %1 %2").arg(i.section(QLatin1Char('='), 0, 0),
                                                       i.section(QLatin1Char('='), 1, 1)), &ok);
        if (!ok)
            return false;
    }
    command.DeviceType = deviceType;
    command.WriteCount = writeCount;
    if (command.transact(3, 0, 0x1000, 48) != ResultOk || command.transact(4, 0, 0, 10) != ResultOk)
        return false;
    sim.clearLog();
    return true;
}

} // namespace PageTest

#include "pagetest.h"

#include "programlink.h"
#include "deviceops.h"
#include "simlink.h"

namespace PageTest {

bool openSim(SimProcess &sim, const QStringList &holdings, const QStringList &inputs, qint16 deviceType,
             quint16 writeCount)
{
    // Firmware up to 1.05 of a type 1 detector has the 27-register block.
    QStringList args{QStringLiteral("--type"), QString::number(deviceType == 2 ? 2 : 1)};
    if (writeCount == 27)
        args << QStringLiteral("--version") << QStringLiteral("1.05");
    if (!SimLink::openSim(command, sim, args))
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
    // A full read, so that the block is this detector's and may be written back.
    command.DeviceType = deviceType;
    if (!DeviceOps::read(command, DeviceOps::ReadMode::Full).ok() || command.WriteCount != writeCount)
        return false;
    sim.clearLog();
    return true;
}

} // namespace PageTest

#include "pagetest.h"

#include "command.h"

namespace PageTest {

bool openSim(SimProcess &sim, const QStringList &holdings, const QStringList &inputs, qint16 deviceType,
             quint16 writeCount)
{
    if (!sim.start({QStringLiteral("--type"), QString::number(deviceType == 2 ? 2 : 1)}))
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
    command.PortName = sim.portPath();
    if (!command.openPort())
        return false;
    command.SlaveAddress = 1;
    command.DeviceType = deviceType;
    command.WriteCount = writeCount;
    if (command.transact(3, 0, 0x1000, 48) != ResultOk || command.transact(4, 0, 0, 10) != ResultOk)
        return false;
    sim.clearLog();
    return true;
}

int word(const QByteArray &frame, int offset)
{
    if (offset + 1 >= frame.size())
        return -1;
    return (quint8(frame[offset]) << 8) | quint8(frame[offset + 1]);
}

QList<QByteArray> writes(SimProcess &sim)
{
    QList<QByteArray> out;
    for (const QByteArray &f : sim.rxFrames())
        if (f.size() > 7 && quint8(f[1]) == 16)
            out.append(f);
    return out;
}

QList<QByteArray> writesTo(SimProcess &sim, int start)
{
    QList<QByteArray> out;
    for (const QByteArray &f : writes(sim))
        if (word(f, 2) == start)
            out.append(f);
    return out;
}

QString describe(const QList<QByteArray> &frames)
{
    QStringList parts;
    for (const QByteArray &f : frames)
        parts.append(QString::fromLatin1(f.toHex(' ')));
    return parts.join(QLatin1String(" | "));
}

} // namespace PageTest

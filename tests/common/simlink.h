// A link on a simulated detector: for tests that link the link library.
#pragma once

#include "command.h"
#include "simprocess.h"

#include <QStringList>

namespace SimLink {

// Starts `sim` with `args` and opens `link`'s port on it, talking to
// `address`; the simulator's log is cleared after.
inline bool openSim(Command &link, SimProcess &sim, const QStringList &args = {}, int address = 1)
{
    if (!sim.start(args))
        return false;
    link.PortName = sim.portPath();
    link.SlaveAddress = quint16(address);
    if (!link.openPort())
        return false;
    sim.clearLog();
    return true;
}

} // namespace SimLink

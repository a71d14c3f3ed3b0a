// The main window on the simulated detector or bootloader, as the connection
// dialog leaves it: the port open on the simulator and page set-up done.
// For tests that link the program's widget libraries.
#pragma once

#include "programlink.h"
#include "mainwindow.h"
#include "simlink.h"
#include "simprocess.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace WindowSim {

// The window shows the detector of the running `sim` at address 1, logged in
// as `level`.  True when page set-up read the 48-register block.
inline bool showDetector(MainWindow &window, SimProcess &sim, const QString &level = QStringLiteral("Velta"))
{
    command.PortName = sim.portPath();
    if (!command.openPort())
        return false;
    command.SlaveAddress = 1;
    command.DeviceType = 1;
    command.UserName = level;
    command.LoggedIn = 1;
    window.pageSetup();
    return command.WriteCount == 48;
}

// Starts `sim` (port open, address 1), logs in as `level` with a detector
// known to be there, and makes `window` a new shown main window, as the
// connection dialog leaves things before the window reads the device.
// Null when the simulator did not come up.
inline MainWindow *openWindow(std::unique_ptr<MainWindow> &window, SimProcess &sim,
                              const QString &level = QStringLiteral("Velta"))
{
    if (!SimLink::openSim(command, sim))
        return nullptr;
    command.UserName = level;
    command.LoggedIn = 1;
    command.DeviceType = 1;
    window.reset(new MainWindow);
    theMainWindow = window.get();
    window->show();
    return window.get();
}

// Starts `sim` as a bootloader (with `args` besides --bootloader) and lets
// page set-up take it up; the simulator's log is cleared after.  True when
// page set-up moved to the bootloader's address 0.
inline bool showBootloader(MainWindow &window, SimProcess &sim, const QStringList &args = {})
{
    if (!SimLink::openSim(command, sim, QStringList{QStringLiteral("--bootloader")} + args, 7))
        return false;
    command.DeviceType = 999;
    window.pageSetup();
    sim.clearLog();
    return command.SlaveAddress == 0;
}

} // namespace WindowSim

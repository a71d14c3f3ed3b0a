// Helpers shared by the device-page tests: the simulated detector on the
// link, request frames as seen by the device, and widget look-ups.
#pragma once

#include "simprocess.h"
#include "testframes.h"
#include "testwidgets.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <QtTest>

namespace PageTest {

// Starts tl02-sim, applies `holdings` ("0x1003=0" ...) and `inputs`
// ("0=8100", made sticky) on the device, opens the port at address 1 and
// makes a full read into DeviceParams, as a read cycle does, with DeviceType
// as given; false unless it reads `writeCount` holding registers.
bool openSim(SimProcess &sim, const QStringList &holdings = {}, const QStringList &inputs = {},
             qint16 deviceType = 1, quint16 writeCount = 48);

// Big-endian 16-bit fields, the function-16 requests the device received
// (all, or those from one register on), frames for failure messages.
using TestFrames::describe;
using TestFrames::word;
using TestFrames::writes;
using TestFrames::writesTo;

using TestWidgets::child;

} // namespace PageTest

// Small helpers of the safety groups: a main window on a simulated detector,
// a running output test, parameter files made from blocks.
#pragma once

#include "calibration.h"
#include "programlink.h"
#include "deviceparams.h"
#include "filechoice_gui.h"
#include "mainwindow.h"
#include "simprocess.h"
#include "testdata.h"
#include "testframes.h"
#include "windowsim.h"

#include <QByteArray>
#include <QFile>
#include <QTabWidget>
#include <QtTest>

#include <cstring>

namespace SafetyUtil {

// The main window shows the detector of `sim` at address 1 as `level`.
using WindowSim::showDetector;

// Request frames that write `reg` (function 16 from that register), in order.
using TestFrames::writesTo;

// Value written into the first register of a function 16 frame.
inline int firstValue(const QByteArray &frame)
{
    return frame.size() > 8 ? (quint8(frame[7]) << 8) | quint8(frame[8]) : -1;
}

// Goes to the calibration tab, then to its current-output tab, and waits
// until the detector simulates.
inline bool startOutputTest(MainWindow &window, SimProcess &sim)
{
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(1);
    if (!currentCalibration)
        return false;
    currentCalibration->findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(2);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        QTest::qWait(50);
        if (sim.holding(0x1019) == 1)
            return true;
    }
    return false;
}

// A parameter file holding `block`'s first 140 bytes.
inline QByteArray hexFile(const ParamBlock &block)
{
    return asHexLines(QByteArray(reinterpret_cast<const char *>(&block), 140));
}

inline ParamBlock blockOfFile(const QString &path)
{
    ParamBlock b;
    std::memset(&b, 0, sizeof b);
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = QByteArray::fromHex(f.readAll());
        std::memcpy(&b, bytes.constData(), size_t(qMin(bytes.size(), 140)));
    }
    return b;
}

inline void chooseFile(FileChoice::Chooser *hook, const QString &path)
{
    *hook = [path](QWidget *, const QString &, const QString &, const QString &) { return path; };
}

} // namespace SafetyUtil

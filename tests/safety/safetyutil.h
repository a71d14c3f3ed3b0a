// Small helpers of the safety groups: a main window on a simulated detector,
// a running output test, parameter files made from blocks.
#pragma once

#include "calibration.h"
#include "command.h"
#include "deviceparams.h"
#include "filechoice_gui.h"
#include "mainwindow.h"
#include "simprocess.h"

#include <QByteArray>
#include <QFile>
#include <QTabWidget>
#include <QtTest>

#include <cstring>

namespace SafetyUtil {

// The main window shows the detector of `sim` at address 1 as `level`.
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

// Request frames that write `reg` (function 16 from that register), in order.
inline QList<QByteArray> writesTo(SimProcess &sim, int reg)
{
    QList<QByteArray> out;
    for (const QByteArray &f : sim.rxFrames())
        if (f.size() > 7 && quint8(f[1]) == 16 && ((quint8(f[2]) << 8) | quint8(f[3])) == reg)
            out << f;
    return out;
}

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
    const QByteArray bytes(reinterpret_cast<const char *>(&block), 140);
    QByteArray out;
    for (int i = 0; i < 140; i += 20)
        out += bytes.mid(i, 20).toHex().toUpper() + "\r\n";
    return out;
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

inline bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline void chooseFile(FileChoice::Chooser *hook, const QString &path)
{
    *hook = [path](QWidget *, const QString &, const QString &, const QString &) { return path; };
}

} // namespace SafetyUtil

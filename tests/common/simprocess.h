// Runs the simulated detector tl02-sim for a test and talks to it over its
// control channel (stdin/stdout).  The serial end it prints is what the code
// under test opens with a real QSerialPort; started with "--tcp 0" and/or
// "--modbus-tcp 0" it also listens on TCP, at the addresses it prints.
// Started with "--devices LIST" it plays several detectors on one line: the
// helpers below that take an address then ask or pick the one at that
// address (-1: the simulator's default detector, or every frame).
#pragma once

#include "simlauncher.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QTemporaryDir>
#include <QString>
#include <QStringList>

class SimProcess
{
public:
    SimProcess();
    ~SimProcess();

    // Starts tl02-sim with the given arguments and waits for its port line.
    // Returns false (and says why through QWARN) when it did not come up.
    bool start(const QStringList &args = {});
    void stop();
    QString portPath() const { return launcher.portPath(); }
    // "127.0.0.1:NNNNN" of the RTU-over-TCP and Modbus TCP listeners; empty
    // when the simulator was not started with --tcp / --modbus-tcp.
    QString tcpAddress() const { return launcher.tcpAddress(); }
    QString modbusTcpAddress() const { return launcher.modbusTcpAddress(); }
    // What the simulator wrote on stderr.
    QString errorText() const;

    // Sends one control line ("fault noreply 3", "set input 0 1234", ...)
    // and waits for its acknowledgement.  Returns the lines printed before
    // the "OK" (e.g. "HOLDING 1005 200"), or an empty list on ERR/time-out.
    QStringList send(const QString &line, bool *ok = nullptr);
    // Convenience reads through "get holding" / "get input" ("@N get ..."
    // for the detector at `address`); -1 on failure.
    int holding(int reg, int address = -1);
    int input(int reg, int address = -1);

    // Request frames a device received since the last clearLog(), as bytes;
    // with `address`, only those with that address byte (0: broadcasts).
    QList<QByteArray> rxFrames(int address = -1);
    // Every request on the line since the last clearLog(), to the device's
    // address or another one ("RX" and "RXOTHER" lines), as bytes; and the
    // same as (address, function) pairs.
    QList<QByteArray> allRequests();
    QList<QPair<int, int>> requestHeads();
    // Every log line since the last clearLog() ("RX ...", "TX ...", "RAW ...", "CMD ...").
    QStringList log();
    void clearLog();
    // Waits until a log line starting with `prefix` has arrived (or timeout).
    bool waitForLog(const QString &prefix, int timeoutMs = 3000);

    // Command codes written to 0x1020 since the last clearLog(); with
    // `address`, only those the detector at that address of a multi-drop
    // line carried out.
    QList<quint16> commands(int address = -1);

private:
    void pump(int waitMs);
    // The simulator's output goes to files in logDir, so a test that blocks
    // in an exchange for long never stalls the simulator on a full pipe.
    QTemporaryDir logDir;
    SimLauncher launcher;
    QStringList lines;
};

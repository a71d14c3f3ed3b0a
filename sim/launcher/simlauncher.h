// Starts tl02-sim and talks to its control channel: the one way tlctl
// --simulate, the tests and the benchmarks run the simulated detector.
//
// It only runs the process.  It knows the lines tl02-sim prints on start
// ("PORT /dev/pts/N", and "TCP ADDR:PORT" / "MODBUS-TCP ADDR:PORT" for the
// listeners asked for with --tcp / --modbus-tcp), passes control lines on
// and hands back what the simulator prints; it builds and checks no frames,
// so the simulator stays independent of the master it is used to test.
//
// tl02-sim is started as a direct child: it asks the kernel for SIGTERM when
// its parent goes (PR_SET_PDEATHSIG), so a crashed or killed user leaves no
// simulator behind.  A launcher stops its simulator when it is destroyed.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

class SimLauncher
{
public:
    SimLauncher();
    ~SimLauncher();
    SimLauncher(const SimLauncher &) = delete;
    SimLauncher &operator=(const SimLauncher &) = delete;

    // tl02-sim in `dir` (normally the directory of the running program),
    // else the one on PATH; empty when there is none.
    static QString findExecutable(const QString &dir);

    // Before start(): the simulator's stdout and stderr go to files in `dir`
    // (sim-stdout.log, sim-stderr.log) instead of pipes, so that a user that
    // does not read for a long time never stalls a logging simulator on a
    // full pipe.  Empty: pipes (the default).
    void setOutputDirectory(const QString &dir);
    // Before start(): the simulator's stderr goes to this process's stderr
    // instead of being kept for errorOutput().
    void setForwardErrors(bool forward);

    // Starts `program` with `args` and waits up to `timeoutMs` for its port
    // line and for the listener lines that `args` ask for.  On failure the
    // simulator is stopped and errorString() says why.  Lines printed before
    // the port lines are kept for readLines().
    bool start(const QString &program, const QStringList &args, int timeoutMs = 10000);
    // "quit" on the control channel; terminate, then kill, if it does not end.
    void stop();
    bool isRunning() const;

    QString portPath() const { return port; }
    // "127.0.0.1:NNNNN"; empty when not asked for.
    QString tcpAddress() const { return tcpAddr; }
    QString modbusTcpAddress() const { return modbusTcpAddr; }
    // Why start() failed.
    QString errorString() const { return error; }
    // What the simulator printed on stderr so far (nothing when forwarded).
    QString errorOutput() const;

    // Sends one control line ("set holding 0x1005 200", ...); the newline is
    // added.  False when it could not be written.
    bool writeLine(const QString &line);
    // The stdout lines (trimmed) that came since the last call.  When none
    // is complete yet it waits up to `waitMs` for more output.
    QStringList readLines(int waitMs);

private:
    QByteArray readFresh(int waitMs);

    // Mutable: taking what the simulator printed out of the buffer does not
    // change the simulator.
    mutable QProcess proc;
    QString outputDir;
    bool forwardErrors = false;
    QFile outFile;              // the stdout file, read as it grows
    QByteArray pending;         // a line not yet complete
    QStringList held;           // lines start() read past
    mutable QByteArray errors;  // stderr read from the pipe
    QString port;
    QString tcpAddr;
    QString modbusTcpAddr;
    QString error;
};

#include "simlauncher.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

namespace {

const char StdoutName[] = "sim-stdout.log";
const char StderrName[] = "sim-stderr.log";

} // namespace

SimLauncher::SimLauncher()
{
    proc.setReadChannel(QProcess::StandardOutput);
}

SimLauncher::~SimLauncher()
{
    stop();
}

QString SimLauncher::findExecutable(const QString &dir)
{
    const QString beside = QDir(dir).filePath(QStringLiteral("tl02-sim"));
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("tl02-sim"));
}

void SimLauncher::setOutputDirectory(const QString &dir)
{
    outputDir = dir;
}

void SimLauncher::setForwardErrors(bool forward)
{
    forwardErrors = forward;
}

bool SimLauncher::start(const QString &program, const QStringList &args, int timeoutMs)
{
    stop();
    error.clear();
    errors.clear();
    proc.setProcessChannelMode(forwardErrors ? QProcess::ForwardedErrorChannel : QProcess::SeparateChannels);
    proc.setStandardOutputFile(QString());
    proc.setStandardErrorFile(QString());
    if (!outputDir.isEmpty()) {
        const QDir dir(outputDir);
        QFile::remove(dir.filePath(QLatin1String(StdoutName)));
        proc.setStandardOutputFile(dir.filePath(QLatin1String(StdoutName)), QIODevice::Truncate);
        if (!forwardErrors)
            proc.setStandardErrorFile(dir.filePath(QLatin1String(StderrName)), QIODevice::Truncate);
        outFile.setFileName(dir.filePath(QLatin1String(StdoutName)));
    }
    proc.start(program, args);
    if (!proc.waitForStarted(5000)) {
        error = QStringLiteral("%1 did not start: %2").arg(program, proc.errorString());
        stop();
        return false;
    }

    // The port line comes first, then one line per TCP listener asked for.
    const bool wantTcp = args.contains(QStringLiteral("--tcp"));
    const bool wantModbusTcp = args.contains(QStringLiteral("--modbus-tcp"));
    auto take = [](const QString &line, const QString &prefix, QString &into) {
        if (!into.isEmpty() || !line.startsWith(prefix))
            return false;
        into = line.mid(prefix.size()).trimmed();
        return true;
    };
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const QString &line : readLines(50)) {
            if (!take(line, QStringLiteral("PORT "), port) && !take(line, QStringLiteral("TCP "), tcpAddr)
                && !take(line, QStringLiteral("MODBUS-TCP "), modbusTcpAddr))
                held.append(line);
        }
        if (!port.isEmpty() && (!wantTcp || !tcpAddr.isEmpty()) && (!wantModbusTcp || !modbusTcpAddr.isEmpty()))
            return true;
        if (proc.state() != QProcess::Running)
            break;
    }
    error = QStringLiteral("%1 gave no port: %2").arg(program, errorOutput().trimmed());
    stop();
    return false;
}

void SimLauncher::stop()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.write("quit\n");
        proc.closeWriteChannel();
        if (!proc.waitForFinished(2000)) {
            proc.terminate();
            if (!proc.waitForFinished(2000)) {
                proc.kill();
                proc.waitForFinished(2000);
            }
        }
    }
    // What it said before it ended stays readable through errorOutput().
    if (!forwardErrors && outputDir.isEmpty() && proc.isOpen())
        errors += proc.readAllStandardError();
    outFile.close();
    pending.clear();
    held.clear();
    port.clear();
    tcpAddr.clear();
    modbusTcpAddr.clear();
}

bool SimLauncher::isRunning() const
{
    return proc.state() == QProcess::Running;
}

QString SimLauncher::errorOutput() const
{
    if (forwardErrors)
        return QString();
    if (outputDir.isEmpty()) {
        if (proc.isOpen())
            errors += proc.readAllStandardError();
        return QString::fromLocal8Bit(errors);
    }
    QFile f(QDir(outputDir).filePath(QLatin1String(StderrName)));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

bool SimLauncher::writeLine(const QString &line)
{
    if (proc.state() != QProcess::Running)
        return false;
    const QByteArray bytes = line.toUtf8() + '\n';
    if (proc.write(bytes) != bytes.size())
        return false;
    proc.waitForBytesWritten(2000);
    return true;
}

QByteArray SimLauncher::readFresh(int waitMs)
{
    if (outputDir.isEmpty()) {
        if (!proc.isOpen())
            return QByteArray();
        QByteArray fresh = proc.readAllStandardOutput();
        if (fresh.isEmpty() && waitMs > 0 && proc.state() == QProcess::Running && proc.waitForReadyRead(waitMs))
            fresh = proc.readAllStandardOutput();
        return fresh;
    }
    // The file is there once the simulator runs; reading it as it grows.
    if (!outFile.isOpen())
        outFile.open(QIODevice::ReadOnly);
    QByteArray fresh = outFile.isOpen() ? outFile.readAll() : QByteArray();
    QDeadlineTimer deadline(waitMs);
    while (fresh.isEmpty() && !deadline.hasExpired() && proc.state() == QProcess::Running) {
        QThread::msleep(2);
        if (!outFile.isOpen())
            outFile.open(QIODevice::ReadOnly);
        if (outFile.isOpen())
            fresh = outFile.readAll();
    }
    return fresh;
}

QStringList SimLauncher::readLines(int waitMs)
{
    QStringList out;
    out.swap(held);
    pending += readFresh(out.isEmpty() && !pending.contains('\n') ? waitMs : 0);
    int nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
        out.append(QString::fromUtf8(pending.left(nl)).trimmed());
        pending.remove(0, nl + 1);
    }
    return out;
}

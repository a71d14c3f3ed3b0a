#include "simprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QtTest>

SimProcess::SimProcess()
{
    proc.setProcessChannelMode(QProcess::SeparateChannels);
    proc.setReadChannel(QProcess::StandardOutput);
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList &args)
{
    stop();
    logFile.close();
    const QString logPath = logDir.filePath(QStringLiteral("sim-stdout.log"));
    QFile::remove(logPath);
    proc.setStandardOutputFile(logPath, QIODevice::Truncate);
    proc.setStandardErrorFile(logDir.filePath(QStringLiteral("sim-stderr.log")), QIODevice::Truncate);
    proc.start(QStringLiteral(TL_SIM_PATH), args);
    if (!proc.waitForStarted(5000)) {
        QWARN("tl02-sim did not start");
        return false;
    }
    // The port line comes first, then one line per TCP listener asked for.
    const bool wantTcp = args.contains(QStringLiteral("--tcp"));
    const bool wantModbusTcp = args.contains(QStringLiteral("--modbus-tcp"));
    auto take = [this](const QString &prefix, QString &into) {
        for (int i = 0; into.isEmpty() && i < lines.size(); ++i) {
            if (lines[i].startsWith(prefix)) {
                into = lines[i].mid(prefix.size()).trimmed();
                lines.removeAt(i);
            }
        }
    };
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        pump(50);
        take(QStringLiteral("PORT "), port);
        take(QStringLiteral("TCP "), tcpAddr);
        take(QStringLiteral("MODBUS-TCP "), modbusTcpAddr);
        if (!port.isEmpty() && (!wantTcp || !tcpAddr.isEmpty()) && (!wantModbusTcp || !modbusTcpAddr.isEmpty()))
            return true;
        if (proc.state() != QProcess::Running)
            break;
    }
    QWARN(qPrintable(QStringLiteral("tl02-sim gave no port line: ") + errorText()));
    return false;
}

static QString readTextFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QString SimProcess::errorText() const
{
    return readTextFile(logDir.filePath(QStringLiteral("sim-stderr.log")));
}

void SimProcess::stop()
{
    if (proc.state() != QProcess::NotRunning) {
        proc.write("quit\n");
        if (!proc.waitForFinished(2000)) {
            proc.terminate();
            if (!proc.waitForFinished(2000)) {
                proc.kill();
                proc.waitForFinished(2000);
            }
        }
    }
    logFile.close();
    port.clear();
    tcpAddr.clear();
    modbusTcpAddr.clear();
    pending.clear();
    lines.clear();
}

void SimProcess::pump(int waitMs)
{
    if (!logFile.isOpen()) {
        logFile.setFileName(logDir.filePath(QStringLiteral("sim-stdout.log")));
        logFile.open(QIODevice::ReadOnly);
    }
    QByteArray fresh = logFile.isOpen() ? logFile.readAll() : QByteArray();
    QDeadlineTimer deadline(waitMs);
    while (fresh.isEmpty() && !deadline.hasExpired() && proc.state() == QProcess::Running) {
        QThread::msleep(2);
        if (!logFile.isOpen())
            logFile.open(QIODevice::ReadOnly);
        if (logFile.isOpen())
            fresh = logFile.readAll();
    }
    pending += fresh;
    int nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
        lines.append(QString::fromUtf8(pending.left(nl)).trimmed());
        pending.remove(0, nl + 1);
    }
}

QStringList SimProcess::send(const QString &line, bool *ok)
{
    if (ok)
        *ok = false;
    proc.write(line.toUtf8() + '\n');
    proc.waitForBytesWritten(2000);
    const QString okLine = QStringLiteral("OK ") + line;
    const QString errLine = QStringLiteral("ERR ") + line;
    QDeadlineTimer deadline(5000);
    int from = lines.size();
    while (!deadline.hasExpired()) {
        pump(20);
        for (int i = from; i < lines.size(); ++i) {
            if (lines[i] == okLine || lines[i] == errLine) {
                QStringList before;
                for (int j = from; j < i; ++j) {
                    // Answers to "get" are not log lines.
                    if (lines[j].startsWith(QLatin1String("HOLDING ")) || lines[j].startsWith(QLatin1String("INPUT ")))
                        before.append(lines[j]);
                }
                const bool good = lines[i] == okLine;
                lines.removeAt(i);
                for (const QString &b : before)
                    lines.removeOne(b);
                if (ok)
                    *ok = good;
                return good ? before : QStringList();
            }
        }
        if (proc.state() != QProcess::Running)
            break;
    }
    QWARN(qPrintable(QStringLiteral("tl02-sim did not acknowledge: ") + line));
    return {};
}

int SimProcess::holding(int reg)
{
    const QStringList r = send(QStringLiteral("get holding 0x%1").arg(reg, 4, 16, QLatin1Char('0')));
    if (r.isEmpty())
        return -1;
    return r.last().section(QLatin1Char(' '), 2, 2).toInt();
}

int SimProcess::input(int reg)
{
    const QStringList r = send(QStringLiteral("get input %1").arg(reg));
    if (r.isEmpty())
        return -1;
    return r.last().section(QLatin1Char(' '), 2, 2).toInt();
}

QStringList SimProcess::log()
{
    pump(0);
    // Let lines already on their way arrive.
    for (int i = 0; i < 3; ++i)
        pump(10);
    return lines;
}

QList<QByteArray> SimProcess::rxFrames()
{
    QList<QByteArray> out;
    for (const QString &l : log()) {
        if (l.startsWith(QLatin1String("RX ")))
            out.append(QByteArray::fromHex(l.mid(3).toLatin1()));
    }
    return out;
}

QList<quint16> SimProcess::commands()
{
    QList<quint16> out;
    for (const QString &l : log()) {
        if (l.startsWith(QLatin1String("CMD ")))
            out.append(quint16(l.mid(4).toUInt(nullptr, 16)));
    }
    return out;
}

void SimProcess::clearLog()
{
    log();
    lines.clear();
}

bool SimProcess::waitForLog(const QString &prefix, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        pump(20);
        for (const QString &l : lines)
            if (l.startsWith(prefix))
                return true;
    } while (!deadline.hasExpired());
    return false;
}

#include "simprocess.h"

#include <QDeadlineTimer>
#include <QtTest>

namespace {

// A log line "KIND HEX" or, from a multi-drop line, "KIND @N HEX" ("CMD @5
// 6060" likewise): its kind, the address it names (-1 none) and the rest.
struct LogLine {
    QString kind;
    int address = -1;
    QString rest;
};

LogLine splitLine(const QString &l)
{
    LogLine out;
    QStringList parts = l.split(QLatin1Char(' '));
    out.kind = parts.takeFirst();
    if (!parts.isEmpty() && parts.first().startsWith(QLatin1Char('@')))
        out.address = parts.takeFirst().mid(1).toInt();
    out.rest = parts.join(QLatin1Char(' '));
    return out;
}

QString prefixed(const QString &line, int address)
{
    return address < 0 ? line : QStringLiteral("@%1 %2").arg(address).arg(line);
}

} // namespace

SimProcess::SimProcess()
{
    launcher.setOutputDirectory(logDir.path());
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::start(const QStringList &args)
{
    stop();
    if (!launcher.start(QStringLiteral(TL_SIM_PATH), args)) {
        QWARN(qPrintable(launcher.errorString()));
        return false;
    }
    return true;
}

QString SimProcess::errorText() const
{
    return launcher.errorOutput();
}

void SimProcess::stop()
{
    launcher.stop();
    lines.clear();
}

void SimProcess::pump(int waitMs)
{
    lines += launcher.readLines(waitMs);
}

QStringList SimProcess::send(const QString &line, bool *ok)
{
    if (ok)
        *ok = false;
    if (!launcher.writeLine(line)) {
        QWARN(qPrintable(QStringLiteral("tl02-sim is not running: ") + line));
        return {};
    }
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
        if (!launcher.isRunning())
            break;
    }
    QWARN(qPrintable(QStringLiteral("tl02-sim did not acknowledge: ") + line));
    return {};
}

int SimProcess::holding(int reg, int address)
{
    const QStringList r = send(prefixed(QStringLiteral("get holding 0x%1").arg(reg, 4, 16, QLatin1Char('0')), address));
    if (r.isEmpty())
        return -1;
    return r.last().section(QLatin1Char(' '), 2, 2).toInt();
}

int SimProcess::input(int reg, int address)
{
    const QStringList r = send(prefixed(QStringLiteral("get input %1").arg(reg), address));
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

QList<QByteArray> SimProcess::rxFrames(int address)
{
    QList<QByteArray> out;
    for (const QString &l : log()) {
        const LogLine line = splitLine(l);
        const QByteArray frame = QByteArray::fromHex(line.rest.toLatin1());
        if (line.kind == QLatin1String("RX") && (address < 0 || (!frame.isEmpty() && quint8(frame[0]) == address)))
            out.append(frame);
    }
    return out;
}

QList<QByteArray> SimProcess::allRequests()
{
    QList<QByteArray> out;
    for (const QString &l : log()) {
        const LogLine line = splitLine(l);
        if (line.kind == QLatin1String("RX") || line.kind == QLatin1String("RXOTHER"))
            out << QByteArray::fromHex(line.rest.toLatin1());
    }
    return out;
}

QList<QPair<int, int>> SimProcess::requestHeads()
{
    QList<QPair<int, int>> out;
    for (const QByteArray &f : allRequests())
        out.append({f.size() > 0 ? quint8(f[0]) : -1, f.size() > 1 ? quint8(f[1]) : -1});
    return out;
}

QList<quint16> SimProcess::commands(int address)
{
    QList<quint16> out;
    for (const QString &l : log()) {
        const LogLine line = splitLine(l);
        if (line.kind == QLatin1String("CMD") && (address < 0 || line.address == address))
            out.append(quint16(line.rest.toUInt(nullptr, 16)));
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

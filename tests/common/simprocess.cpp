#include "simprocess.h"

#include <QDeadlineTimer>
#include <QtTest>

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

QList<QByteArray> SimProcess::allRequests()
{
    QList<QByteArray> out;
    for (const QString &l : log()) {
        const int sp = l.indexOf(QLatin1Char(' '));
        const QString kind = l.left(sp);
        if (kind == QLatin1String("RX") || kind == QLatin1String("RXOTHER"))
            out << QByteArray::fromHex(l.mid(sp + 1).toLatin1());
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

#include "lines.h"

#include "command.h"
#include "lineworker.h"
#include "session.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <csignal>
#include <memory>
#include <vector>

namespace Tlctl {

// ------------------------------------------------------------ backup names

BackupNames::BackupNames(const QStringList &linePorts, const QDate &today)
    : ports(linePorts), day(today), settled(linePorts.size(), false)
{
}

QString BackupNames::fileName(const QString &serial, const QDate &day, int number)
{
    const QString base = serial + QLatin1Char('_') + day.toString(QStringLiteral("yyyy-MM-dd"));
    return number > 1 ? QStringLiteral("%1_%2.hex").arg(base).arg(number) : base + QStringLiteral(".hex");
}

QString BackupNames::take(int line, const QString &dir, const QString &serial, QString *clash)
{
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] {
        for (int i = 0; i < line; ++i)
            if (!settled[i])
                return false;
        return true;
    });
    QString name = fileName(serial, day);
    const auto first = takenBy.constFind(name);
    clash->clear();
    if (first != takenBy.constEnd()) {
        *clash = ports.value(first.value());
        for (int n = 2; takenBy.contains(name); ++n)
            name = fileName(serial, day, n);
    }
    takenBy.insert(name, line);
    settled[line] = true;
    lock.unlock();
    changed.notify_all();
    return QDir(dir).filePath(name);
}

void BackupNames::settle(int line)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        settled[line] = true;
    }
    changed.notify_all();
}

// ------------------------------------------------------------------- lines

namespace {

bool isInterruptCode(int code)
{
    return code == ExitInterrupted || code == 128 + SIGTERM || code == 128 + SIGHUP;
}

const QString MessageStart = QStringLiteral("tlctl: ");

// The lines of a text, without the empty one after its last line end.
QStringList textLines(const QString &text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// One line's stderr as it goes out: every message names the port (those
// that do not name it already get it after "tlctl: "); a group holding more
// than messages (--frames) starts with the line's header, as its output does.
QString stderrGroup(const QString &err, const QString &port)
{
    const QStringList lines = textLines(err);
    QString group;
    bool onlyMessages = true;
    for (const QString &line : lines) {
        if (!line.startsWith(MessageStart)) {
            onlyMessages = false;
            group += line + QLatin1Char('\n');
        } else if (line.contains(port)) {
            group += line + QLatin1Char('\n');
        } else {
            group += MessageStart + port + QStringLiteral(": ") + line.mid(MessageStart.size()) + QLatin1Char('\n');
        }
    }
    if (!onlyMessages)
        group.prepend(QStringLiteral("== %1 ==\n").arg(port));
    return group;
}

// A line's messages for its JSON entry, without "tlctl: ".
QJsonValue messagesJson(const QString &err)
{
    QStringList messages;
    for (const QString &line : textLines(err))
        if (line.startsWith(MessageStart))
            messages << line.mid(MessageStart.size());
    return messages.isEmpty() ? QJsonValue() : QJsonValue(messages.join(QLatin1Char('\n')));
}

struct LineOutput {
    QString out;
    QString err;
    int code = ExitOk;
};

} // namespace

int worstExitCode(const QVector<int> &codes)
{
    int worst = ExitOk;
    for (const int code : codes) {
        if (isInterruptCode(code))
            return code;
        worst = qMax(worst, code);
    }
    return worst;
}

int runOnLines(const Options &o, const QStringList &given, Io &io, const LineRun &runOne)
{
    auto refuse = [&io](int code, const QString &message) {
        io.out.flush();
        io.err << MessageStart << message << "\n";
        io.err.flush();
        return code;
    };
    // Resolved here, once, as a single run resolves its --port: the lines
    // are then named the same in the headers, in the messages and in JSON.
    QStringList ports;
    for (const QString &text : given) {
        const QString port = resolvePortPath(text);
        if (ports.contains(port))
            return refuse(ExitUsage, QStringLiteral("the line %1 is given twice; give each line once").arg(port));
        ports << port;
    }
    const QString folder = o.args.value(0);
    if (o.command == QLatin1String("backup") && !QFileInfo(folder).isDir())
        return refuse(ExitUsage, QStringLiteral("backup on several lines saves one file per device into a folder, "
                                                "and %1 is no folder; give an existing folder (nothing was read)")
                                     .arg(folder));

    // One login for every line: the password is asked (and checked) once,
    // here, and each line is given the same answer.  The lines never ask
    // on the terminal themselves.
    QString password;
    if (!o.user.isEmpty()) {
        Command account;
        if (const int rc = login(account, o, io, false, QString()); rc != ExitOk)
            return rc;
        password = account.Password;
    }

    QVector<LineOutput> lines(ports.size());
    BackupNames names(ports, QDate::currentDate());
    {
        std::vector<std::unique_ptr<LineWorker>> workers;
        for (int i = 0; i < ports.size(); ++i) {
            Options one = o;
            one.port = ports[i];
            one.ports = QStringList{ports[i]};
            one.portsFile.clear();
            LineOutput *line = &lines[i];
            const bool loggingIn = !o.user.isEmpty();
            workers.push_back(std::make_unique<LineWorker>(ports[i]));
            // The job runs on the worker's thread: the session opens the
            // worker's link there, and its streams are the line's own.
            workers.back()->post([one, line, i, loggingIn, password, &names, &runOne](Command &link) {
                QTextStream out(&line->out);
                QTextStream err(&line->err);
                Io lineIo{out, err, false, false, nullptr, nullptr};
                if (loggingIn)
                    lineIo.askSecret = [password](const QString &, QString &answer) {
                        answer = password;
                        return true;
                    };
                const LinePlace place{i, &names};
                line->code = runOne(one, lineIo, &link, &place);
                out.flush();
                err.flush();
                names.settle(i);
            });
        }
        // Ctrl-C reaches every line through the interrupt flag, which each
        // session's exchanges look at: the lines end, and with them the wait.
        // On a terminal a line tells how many lines have ended meanwhile.
        for (;;) {
            LineWorker *busy = nullptr;
            int ended = 0;
            for (const auto &worker : workers) {
                if (worker->waitIdle(0))
                    ++ended;
                else if (!busy)
                    busy = worker.get();
            }
            if (!busy)
                break;
            if (io.errIsTerminal) {
                io.err << QStringLiteral("\r%1 of %2 lines done").arg(ended).arg(workers.size());
                io.err.flush();
            }
            busy->waitIdle(250);
        }
        if (io.errIsTerminal) {
            io.err << "\r\033[K";
            io.err.flush();
        }
    }

    QVector<int> codes;
    for (const LineOutput &line : qAsConst(lines))
        codes << line.code;
    if (o.json && o.command != QLatin1String("backup")) {
        QJsonArray all;
        for (int i = 0; i < ports.size(); ++i) {
            QJsonObject entry;
            entry.insert(QStringLiteral("port"), ports[i]);
            entry.insert(QStringLiteral("exit_code"), lines[i].code);
            QJsonParseError parsed{};
            const QJsonDocument doc = QJsonDocument::fromJson(lines[i].out.toUtf8(), &parsed);
            entry.insert(QStringLiteral("result"), parsed.error == QJsonParseError::NoError && doc.isObject()
                                                       ? QJsonValue(doc.object()) : QJsonValue());
            entry.insert(QStringLiteral("error"), messagesJson(lines[i].err));
            all.append(entry);
        }
        io.out << QString::fromUtf8(QJsonDocument(all).toJson());
        io.out.flush();
        for (int i = 0; i < ports.size(); ++i)
            io.err << stderrGroup(lines[i].err, ports[i]);
        io.err.flush();
        return worstExitCode(codes);
    }
    // Each line's output, then its messages: with stderr on the same
    // terminal (or 2>&1) a line's messages stand under its own header.
    for (int i = 0; i < ports.size(); ++i) {
        QString text = lines[i].out;
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        io.out << (i > 0 ? QStringLiteral("\n") : QString()) << QStringLiteral("== %1 ==\n").arg(ports[i]) << text;
        io.out.flush();
        io.err << stderrGroup(lines[i].err, ports[i]);
        io.err.flush();
    }
    return worstExitCode(codes);
}

} // namespace Tlctl

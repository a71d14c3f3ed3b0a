// Several lines at once: scan, read and backup on every port given, each
// line on a thread of its own (a LineWorker) with a link of its own, all in
// parallel.  What a line prints is kept apart and printed, once every line
// has ended, grouped by line in the order the ports were given.
#pragma once

#include "cli.h"
#include "console.h"

#include <QDate>
#include <QHash>
#include <QStringList>
#include <QVector>
#include <condition_variable>
#include <functional>
#include <mutex>

class Command;

namespace Tlctl {

// The files of `backup DIR`: DIR/SERIAL_yyyy-MM-dd.hex, SERIAL as tlctl shows
// the serial number (TL02ID0004711).  On several lines the names go by the
// order of the ports, whichever line finishes reading first, so the same
// command line always gives the same files: a name an earlier line took
// gets _2, _3, ... before .hex.
class BackupNames
{
public:
    BackupNames(const QStringList &ports, const QDate &day);

    // "TL02ID0004711_2024-05-31.hex"; with a number above 1
    // "TL02ID0004711_2024-05-31_2.hex".
    static QString fileName(const QString &serial, const QDate &day, int number = 1);

    // The file in `dir` for the device of line `line`.  Waits until every
    // earlier line has taken its name or ended.  When an earlier line took
    // the plain name, `clash` is set to that line's port.
    QString take(int line, const QString &dir, const QString &serial, QString *clash);
    // Line `line` takes no name (any more): later lines need not wait for it.
    void settle(int line);

private:
    const QStringList ports;
    const QDate day;
    std::mutex mutex;
    std::condition_variable changed;
    QVector<bool> settled;
    QHash<QString, int> takenBy;   // file name -> line
};

// Where a run stands among the lines of one command line; none for a run on
// a single line.
struct LinePlace {
    int index = 0;
    BackupNames *backupNames = nullptr;
};

// Runs one command on one line: the options name the line's port only.
using LineRun = std::function<int(const Options &options, Io &io, Command *link, const LinePlace *place)>;

// Runs the command of `options` on every one of `ports` at once through
// `runOne`, then prints the lines' output grouped by line: text under a
// "== PORT ==" header each; --json as one array of {port, exit_code, result,
// error}.  Every message on stderr names its port.  Returns the worst line's
// exit code (worstExitCode).
int runOnLines(const Options &options, const QStringList &ports, Io &io, const LineRun &runOne);

// The exit code of several lines: an interrupt's (130, 143, 129) when any
// line was interrupted, else the highest code; 0 only when every line
// succeeded.
int worstExitCode(const QVector<int> &codes);

} // namespace Tlctl

// Command line of tlctl: the commands, their options, help texts and the
// exit codes every command keeps to.
#pragma once

#include <QString>
#include <QStringList>

namespace Tlctl {

enum Exit {
    ExitOk = 0,
    ExitUsage = 2,        // bad command line or value
    ExitPort = 3,         // the port (or the simulated detector) could not be opened
    ExitExchange = 4,     // an exchange failed, the device did not take a value, or the
                          // device is not in a state for the command (bootloader, unknown type)
    ExitAccess = 5,       // login or factory password refused or missing
    ExitFile = 6,         // a file cannot be read or written, or is incomplete / empty
    ExitInterrupted = 130 // stopped by Ctrl-C (flash, scan)
};

struct Options {
    QString command;          // "read", "set", ... (empty: none given)
    QStringList args;         // the command's own words (NAME=VALUE, FILE, store|restore)
    QString port;             // the last --port
    QStringList ports;        // every --port, in the order given (several: one line each)
    QString portsFile;        // --ports: a file naming the lines, one port a line
    int address = 1;
    bool addressGiven = false;
    bool simulate = false;
    QString user;
    bool json = false;
    bool frames = false;      // print every frame on stderr
    double interval = 1.0;    // watch
    int count = 0;            // watch: 0 = until Ctrl-C
    int from = 1;             // scan, site survey
    int to = 247;
    bool help = false;
    bool version = false;     // --version: print the version, nothing else
    bool yes = false;         // restore, flash: go ahead without asking
    bool anyImage = false;    // flash: an image that does not look like an application may go
    bool dryRun = false;      // restore: only show what would change
    bool clone = false;       // restore: copy the detector's own fields too
    QString serial;           // journal: only this serial number
    bool csv = false;         // journal: CSV instead of the listing
    // gas: the library file (empty: the program's own), the unit and
    // discreteness the thresholds are in (-1: not given), which thresholds
    // are decreasing (add) and the row of the entry (apply; 0: by name only).
    QString library;
    int unit = -1;
    int discreteness = -1;
    bool decreasing1 = false;
    bool decreasing2 = false;
    int row = 0;
    int days = 30;            // site due: detectors due within this many days
    // site apply: where the values come from (a parameter file, a gas-library
    // entry or NAME=VALUE words; exactly one kind), the detectors by serial
    // number (empty: all of the site's) and whether the first failure stops
    // the others.
    QString file;
    QString gas;
    QStringList sets;
    QStringList only;
    bool stopAtFirst = false;
    QString journal;          // --journal: the journal's location (empty: not given)
    // check: the test gas (--gas, its concentration in the detector's unit,
    // the cylinder and its last day of use), the organisation, how long the
    // reading may take to settle and to return, and whether an expired
    // cylinder may be used without asking.
    double conc = 0;
    bool concGiven = false;
    QString cylinder;
    QString expires;          // YYYY-MM-DD as given; empty: not given
    QString organisation;
    int timeout = 180;        // seconds
    bool acceptExpired = false;
};

struct Parsed {
    Options options;
    QString error;            // set when the command line is not usable
};

// Parses the words after the program name.
Parsed parseArguments(const QStringList &words);

// Whether the command may work on several lines at once (several --port,
// or --ports).
bool takesSeveralLines(const QString &command);

// The ports a --ports file names, in its order: one port text a line, blank
// lines and lines starting with # left out.  False, with `error` saying
// why, when the file cannot be read.
bool readPortsFile(const QString &path, QStringList *ports, QString *error);

// Whether the command needs a QGuiApplication (it paints: site report to a
// PDF); the others run with a QCoreApplication and no display.
bool needsGui(const QStringList &words);

// Whether the command reads or writes the calibration journal.
bool usesJournal(const QString &command);

// The journal's location for `o`: --journal, else $TLCTL_JOURNAL, else the
// user's file (Journal::defaultPath()).
QString journalLocation(const Options &o);

// Known command names, in the order --help lists them.
const QStringList &commandNames();

// Help of one command, or the overview for an empty or unknown name.
QString helpText(const QString &command);

} // namespace Tlctl

#include "cli.h"

#include "journal.h"
#include "journallocation.h"
#include "options.h"
#include "paramtable.h"

#include <QDate>
#include <QFile>
#include <QHash>
#include <QSet>
#include <cmath>

namespace Tlctl {

using namespace Params;

namespace {

// Options each command takes besides the common ones.
const QHash<QString, QSet<QString>> &commandOptions()
{
    static const QHash<QString, QSet<QString>> table = {
        {QStringLiteral("ports"), {QStringLiteral("--json")}},
        {QStringLiteral("identify"), {QStringLiteral("--json")}},
        {QStringLiteral("read"), {QStringLiteral("--json"), QStringLiteral("--ports")}},
        {QStringLiteral("set"), {}},
        {QStringLiteral("watch"), {QStringLiteral("--json"), QStringLiteral("--interval"), QStringLiteral("--count")}},
        {QStringLiteral("backup"), {QStringLiteral("--ports")}},
        {QStringLiteral("restore"), {QStringLiteral("--yes"), QStringLiteral("--dry-run"), QStringLiteral("--clone")}},
        {QStringLiteral("factory"), {}},
        {QStringLiteral("flash"), {QStringLiteral("--yes"), QStringLiteral("--any-image")}},
        {QStringLiteral("scan"), {QStringLiteral("--json"), QStringLiteral("--from"), QStringLiteral("--to"),
                                  QStringLiteral("--ports")}},
        {QStringLiteral("journal"), {QStringLiteral("--serial"), QStringLiteral("--csv")}},
        {QStringLiteral("check"), {QStringLiteral("--gas"), QStringLiteral("--conc"), QStringLiteral("--cylinder"),
                                   QStringLiteral("--expires"), QStringLiteral("--timeout"), QStringLiteral("--org"),
                                   QStringLiteral("--accept-expired")}},
        {QStringLiteral("site"), {QStringLiteral("--json"), QStringLiteral("--ports"), QStringLiteral("--days"),
                                  QStringLiteral("--from"), QStringLiteral("--to"), QStringLiteral("--file"),
                                  QStringLiteral("--gas"), QStringLiteral("--row"), QStringLiteral("--library"),
                                  QStringLiteral("--set"), QStringLiteral("--only"), QStringLiteral("--yes"),
                                  QStringLiteral("--dry-run"), QStringLiteral("--stop-at-first")}},
        {QStringLiteral("gas"), {QStringLiteral("--json"), QStringLiteral("--library"), QStringLiteral("--unit"),
                                 QStringLiteral("--discreteness"), QStringLiteral("--decreasing"),
                                 QStringLiteral("--row")}},
    };
    return table;
}

// The gas library's own options, by what is done with it.
const QHash<QString, QSet<QString>> &gasOptions()
{
    static const QSet<QString> file = {QStringLiteral("--json"), QStringLiteral("--library")};
    static const QHash<QString, QSet<QString>> table = {
        {QStringLiteral("list"), file},
        {QStringLiteral("search"), file},
        {QStringLiteral("add"), file + QSet<QString>{QStringLiteral("--unit"), QStringLiteral("--discreteness"),
                                                     QStringLiteral("--decreasing")}},
        {QStringLiteral("apply"), file + QSet<QString>{QStringLiteral("--unit"), QStringLiteral("--discreteness"),
                                                       QStringLiteral("--row")}},
    };
    return table;
}

// The site register's own options, by sub-command.
const QHash<QString, QSet<QString>> &siteOptions()
{
    static const QSet<QString> json = {QStringLiteral("--json")};
    static const QHash<QString, QSet<QString>> table = {
        {QStringLiteral("list"), json},
        {QStringLiteral("show"), json},
        {QStringLiteral("due"), json + QSet<QString>{QStringLiteral("--days")}},
        {QStringLiteral("survey"), json + QSet<QString>{QStringLiteral("--ports"), QStringLiteral("--from"),
                                                        QStringLiteral("--to")}},
        {QStringLiteral("backup"), json},
        {QStringLiteral("apply"), json + QSet<QString>{QStringLiteral("--file"), QStringLiteral("--gas"),
                                                       QStringLiteral("--row"), QStringLiteral("--library"),
                                                       QStringLiteral("--set"), QStringLiteral("--only"),
                                                       QStringLiteral("--yes"), QStringLiteral("--dry-run"),
                                                       QStringLiteral("--stop-at-first")}},
        {QStringLiteral("report"), json},
    };
    return table;
}

bool isPdf(const QString &path)
{
    return path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
}

// "%LEL", "%lel" -> 2; "X,X" or "X.X" -> 1; -1 when unknown.
int choiceIndex(const QStringList &names, QString text)
{
    text = text.trimmed();
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    for (int i = 0; i < names.size(); ++i)
        if (names.at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool takesValue(const QString &option)
{
    static const QSet<QString> withValue = {
        QStringLiteral("--port"),     QStringLiteral("--ports"),   QStringLiteral("--address"), QStringLiteral("--user"),
        QStringLiteral("--interval"), QStringLiteral("--count"),   QStringLiteral("--from"),
        QStringLiteral("--to"),       QStringLiteral("--serial"),  QStringLiteral("--library"),
        QStringLiteral("--unit"),     QStringLiteral("--discreteness"), QStringLiteral("--decreasing"),
        QStringLiteral("--row"),      QStringLiteral("--days"),  QStringLiteral("--file"),
        QStringLiteral("--gas"),      QStringLiteral("--set"),   QStringLiteral("--only"),
        QStringLiteral("--journal"),  QStringLiteral("--conc"),  QStringLiteral("--cylinder"),
        QStringLiteral("--expires"),  QStringLiteral("--timeout"), QStringLiteral("--org"),
    };
    return withValue.contains(option);
}

bool wholeNumber(const QString &text, int lo, int hi, int &out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

QString checkCommandWords(const Options &o)
{
    const QString &c = o.command;
    const int n = o.args.size();
    if (c == QLatin1String("ports") || c == QLatin1String("identify") || c == QLatin1String("read")
        || c == QLatin1String("watch") || c == QLatin1String("scan")) {
        if (n > 0)
            return QStringLiteral("%1 takes no words, got \"%2\"").arg(c, o.args.first());
    } else if (c == QLatin1String("journal")) {
        if (n >= 1 && o.args[0] == QLatin1String("protocol")) {
            if (n != 3)
                return QStringLiteral("journal protocol needs a record's number or UUID and FILE.pdf");
            if (!isPdf(o.args[2]))
                return QStringLiteral("journal protocol writes FILE.pdf, not \"%1\"").arg(o.args[2]);
        } else if (n > 1 || (n == 1 && o.args[0] != QLatin1String("init") && o.args[0] != QLatin1String("sync")
                             && o.args[0] != QLatin1String("verify"))) {
            return QStringLiteral("journal takes no words but init, sync, verify or protocol ID FILE.pdf, got \"%1\"")
                .arg(o.args.join(QLatin1Char(' ')));
        }
        if (n >= 1 && (o.csv || !o.serial.isEmpty()))
            return QStringLiteral("journal %1 lists nothing: --serial and --csv do not apply to it").arg(o.args[0]);
    } else if (c == QLatin1String("check")) {
        if (n > 0)
            return QStringLiteral("check takes no words, got \"%1\"").arg(o.args.first());
        if (o.gas.isEmpty() || !o.concGiven)
            return QStringLiteral("check needs the test gas: --gas NAME and --conc VALUE (in the detector's unit)");
        if (o.user.isEmpty())
            return QStringLiteral("check needs --user NAME: the login the function check is recorded under");
        if (!o.expires.isEmpty() && !QDate::fromString(o.expires, Qt::ISODate).isValid())
            return QStringLiteral("--expires takes a date as YYYY-MM-DD, not \"%1\"").arg(o.expires);
        if (o.acceptExpired && o.expires.isEmpty())
            return QStringLiteral("--accept-expired goes with --expires DATE");
    } else if (c == QLatin1String("set")) {
        if (n == 0)
            return QStringLiteral("set needs at least one NAME=VALUE (tlctl set --help lists the names)");
    } else if (c == QLatin1String("backup") || c == QLatin1String("restore") || c == QLatin1String("flash")) {
        if (n != 1)
            return QStringLiteral("%1 needs exactly one FILE").arg(c);
    } else if (c == QLatin1String("gas")) {
        const QString sub = o.args.value(0);
        static const QHash<QString, int> words = {{QStringLiteral("list"), 1}, {QStringLiteral("search"), 2},
                                                  {QStringLiteral("add"), 4}, {QStringLiteral("apply"), 2}};
        if (!words.contains(sub))
            return QStringLiteral("gas needs list, search TEXT, add NAME LIMIT1 LIMIT2 or apply NAME");
        if (n != words.value(sub)) {
            static const QHash<QString, QString> usage = {
                {QStringLiteral("list"), QStringLiteral("gas list takes no more words")},
                {QStringLiteral("search"), QStringLiteral("gas search needs exactly one TEXT")},
                {QStringLiteral("add"), QStringLiteral("gas add needs NAME LIMIT1 LIMIT2")},
                {QStringLiteral("apply"), QStringLiteral("gas apply needs exactly one NAME")},
            };
            return usage.value(sub);
        }
        if (sub == QLatin1String("apply") && ((o.unit < 0) != (o.discreteness < 0)))
            return QStringLiteral("gas apply takes --unit and --discreteness together: the library does not record "
                                  "which unit and discreteness an entry's thresholds are in");
    } else if (c == QLatin1String("site")) {
        const QString sub = o.args.value(0);
        static const QHash<QString, int> words = {{QStringLiteral("list"), 1},   {QStringLiteral("show"), 2},
                                                  {QStringLiteral("survey"), 2}, {QStringLiteral("due"), 1},
                                                  {QStringLiteral("backup"), 3}, {QStringLiteral("apply"), 2},
                                                  {QStringLiteral("report"), 3}};
        if (!words.contains(sub) || n != words.value(sub))
            return QStringLiteral("site needs list, show NAME, survey NAME, due, backup NAME DIR, apply NAME or "
                                  "report NAME FILE.pdf|FILE.csv");
        if (sub == QLatin1String("report") && !isPdf(o.args[2])
            && !o.args[2].endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
            return QStringLiteral("site report writes FILE.pdf or FILE.csv, not \"%1\"").arg(o.args[2]);
        if (sub == QLatin1String("apply")) {
            const int kinds = int(!o.file.isEmpty()) + int(!o.gas.isEmpty()) + int(!o.sets.isEmpty());
            if (kinds != 1)
                return QStringLiteral("site apply takes the values from one of --file F, --gas NAME or --set "
                                      "NAME=VALUE (several)");
            if (o.row != 0 && o.gas.isEmpty())
                return QStringLiteral("--row picks a gas-library entry and goes with --gas");
        }
    } else if (c == QLatin1String("factory")) {
        if (n != 1 || (o.args[0] != QLatin1String("store") && o.args[0] != QLatin1String("restore")))
            return QStringLiteral("factory needs store or restore");
    }
    return QString();
}

} // namespace

bool usesJournal(const QString &command)
{
    static const QSet<QString> users = {QStringLiteral("journal"), QStringLiteral("site"), QStringLiteral("restore"),
                                        QStringLiteral("factory"), QStringLiteral("flash"), QStringLiteral("check")};
    return users.contains(command);
}

QString journalLocation(const Options &o)
{
    if (!o.journal.isEmpty())
        return o.journal;
    const QString fromEnvironment = qEnvironmentVariable("TLCTL_JOURNAL");
    if (!fromEnvironment.trimmed().isEmpty())
        return fromEnvironment;
    return Journal::defaultPath();
}

const QStringList &commandNames()
{
    static const QStringList names = {
        QStringLiteral("ports"),  QStringLiteral("identify"), QStringLiteral("read"),
        QStringLiteral("set"),    QStringLiteral("watch"),    QStringLiteral("backup"),
        QStringLiteral("restore"), QStringLiteral("factory"), QStringLiteral("flash"),
        QStringLiteral("scan"),   QStringLiteral("check"),    QStringLiteral("journal"),
        QStringLiteral("gas"),    QStringLiteral("site"),
    };
    return names;
}

Parsed parseArguments(const QStringList &words)
{
    Parsed p;
    Options &o = p.options;
    QStringList given;   // options seen, to check them against the command
    bool optionsDone = false;

    for (int i = 0; i < words.size(); ++i) {
        QString w = words[i];
        if (!optionsDone && w == QLatin1String("--")) {
            optionsDone = true;
            continue;
        }
        if (optionsDone || !w.startsWith(QLatin1String("--"))) {
            if (o.command.isEmpty() && w == QLatin1String("help")) {
                o.help = true;
                continue;
            }
            if (o.command.isEmpty())
                o.command = w;
            else
                o.args << w;
            continue;
        }
        QString value;
        bool hasValue = false;
        const int eq = w.indexOf(QLatin1Char('='));
        if (eq > 0) {
            value = w.mid(eq + 1);
            w = w.left(eq);
            hasValue = true;
        }
        if (takesValue(w) && !hasValue) {
            if (i + 1 >= words.size()) {
                p.error = QStringLiteral("%1 needs a value").arg(w);
                return p;
            }
            value = words[++i];
            hasValue = true;
        } else if (!takesValue(w) && hasValue) {
            p.error = QStringLiteral("%1 takes no value").arg(w);
            return p;
        }
        given << w;

        if (w == QLatin1String("--help")) {
            o.help = true;
        } else if (w == QLatin1String("--version")) {
            o.version = true;
        } else if (w == QLatin1String("--port")) {
            if (value.isEmpty()) {
                p.error = QStringLiteral("--port needs a path");
                return p;
            }
            o.port = value;
            o.ports << value;
        } else if (w == QLatin1String("--ports")) {
            if (value.isEmpty()) {
                p.error = QStringLiteral("--ports needs a file");
                return p;
            }
            o.portsFile = value;
        } else if (w == QLatin1String("--address")) {
            if (!wholeNumber(value, 0, 255, o.address)) {
                p.error = QStringLiteral("--address takes 0 to 255, not \"%1\"").arg(value);
                return p;
            }
            o.addressGiven = true;
        } else if (w == QLatin1String("--simulate")) {
            o.simulate = true;
        } else if (w == QLatin1String("--user")) {
            o.user = value;
        } else if (w == QLatin1String("--json")) {
            o.json = true;
        } else if (w == QLatin1String("--frames")) {
            o.frames = true;
        } else if (w == QLatin1String("--yes")) {
            o.yes = true;
        } else if (w == QLatin1String("--any-image")) {
            o.anyImage = true;
        } else if (w == QLatin1String("--dry-run")) {
            o.dryRun = true;
        } else if (w == QLatin1String("--clone")) {
            o.clone = true;
        } else if (w == QLatin1String("--serial")) {
            if (value.trimmed().isEmpty()) {
                p.error = QStringLiteral("--serial needs a serial number");
                return p;
            }
            o.serial = value.trimmed();
        } else if (w == QLatin1String("--file") || w == QLatin1String("--gas")) {
            if (value.trimmed().isEmpty()) {
                p.error = QStringLiteral("%1 needs %2").arg(w, w == QLatin1String("--file") ? QStringLiteral("a file")
                                                                                           : QStringLiteral("a name"));
                return p;
            }
            (w == QLatin1String("--file") ? o.file : o.gas) = value;
        } else if (w == QLatin1String("--set")) {
            o.sets << value;
        } else if (w == QLatin1String("--only")) {
            for (const QString &serial : value.split(QLatin1Char(','))) {
                if (serial.trimmed().isEmpty()) {
                    p.error = QStringLiteral("--only needs serial numbers separated by commas, not \"%1\"").arg(value);
                    return p;
                }
                o.only << serial.trimmed();
            }
        } else if (w == QLatin1String("--stop-at-first")) {
            o.stopAtFirst = true;
        } else if (w == QLatin1String("--journal")) {
            if (value.trimmed().isEmpty()) {
                p.error = QStringLiteral("--journal needs a location: a file, a postgresql:// URL or service=NAME");
                return p;
            }
            o.journal = value;
        } else if (w == QLatin1String("--csv")) {
            o.csv = true;
        } else if (w == QLatin1String("--conc")) {
            bool ok = false;
            o.conc = value.trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
            if (!ok || !std::isfinite(o.conc) || o.conc <= 0) {
                p.error = QStringLiteral("--conc takes the test gas concentration, a number above 0, not \"%1\"")
                              .arg(value);
                return p;
            }
            o.concGiven = true;
        } else if (w == QLatin1String("--cylinder") || w == QLatin1String("--org")) {
            (w == QLatin1String("--cylinder") ? o.cylinder : o.organisation) = value.trimmed();
        } else if (w == QLatin1String("--expires")) {
            o.expires = value.trimmed();
        } else if (w == QLatin1String("--timeout")) {
            if (!wholeNumber(value, 1, 3600, o.timeout)) {
                p.error = QStringLiteral("--timeout takes seconds from 1 to 3600, not \"%1\"").arg(value);
                return p;
            }
        } else if (w == QLatin1String("--accept-expired")) {
            o.acceptExpired = true;
        } else if (w == QLatin1String("--days")) {
            if (!wholeNumber(value, 0, 3650, o.days)) {
                p.error = QStringLiteral("--days needs a number of days, 0 to 3650");
                return p;
            }
        } else if (w == QLatin1String("--interval")) {
            bool ok = false;
            o.interval = value.toDouble(&ok);
            if (!ok || !std::isfinite(o.interval) || o.interval < 0.05 || o.interval > 86400) {
                p.error = QStringLiteral("--interval takes seconds from 0.05 to 86400, not \"%1\"").arg(value);
                return p;
            }
        } else if (w == QLatin1String("--count")) {
            if (!wholeNumber(value, 1, 100000000, o.count)) {
                p.error = QStringLiteral("--count takes a positive whole number, not \"%1\"").arg(value);
                return p;
            }
        } else if (w == QLatin1String("--from")) {
            if (!wholeNumber(value, 1, 255, o.from)) {
                p.error = QStringLiteral("--from takes an address from 1 to 255, not \"%1\"").arg(value);
                return p;
            }
        } else if (w == QLatin1String("--to")) {
            if (!wholeNumber(value, 1, 255, o.to)) {
                p.error = QStringLiteral("--to takes an address from 1 to 255, not \"%1\"").arg(value);
                return p;
            }
        } else if (w == QLatin1String("--library")) {
            if (value.isEmpty()) {
                p.error = QStringLiteral("--library needs a file");
                return p;
            }
            o.library = value;
        } else if (w == QLatin1String("--unit")) {
            o.unit = choiceIndex(UnitNames, value);
            if (o.unit < 0) {
                p.error = QStringLiteral("--unit takes %1, not \"%2\"").arg(UnitNames.join(QStringLiteral(" | ")), value);
                return p;
            }
        } else if (w == QLatin1String("--discreteness")) {
            o.discreteness = choiceIndex(DiscretenessNames, value);
            if (o.discreteness < 0) {
                p.error = QStringLiteral("--discreteness takes %1, not \"%2\"")
                              .arg(DiscretenessNames.join(QStringLiteral(" | ")), value);
                return p;
            }
        } else if (w == QLatin1String("--decreasing")) {
            const QString t = value.trimmed();
            o.decreasing1 = t == QLatin1String("1") || t == QLatin1String("1,2") || t == QLatin1String("2,1");
            o.decreasing2 = t == QLatin1String("2") || t == QLatin1String("1,2") || t == QLatin1String("2,1");
            if (!o.decreasing1 && !o.decreasing2) {
                p.error = QStringLiteral("--decreasing takes 1, 2 or 1,2 (the thresholds that fall), not \"%1\"")
                              .arg(value);
                return p;
            }
        } else if (w == QLatin1String("--row")) {
            if (!wholeNumber(value, 1, 1048576, o.row)) {
                p.error = QStringLiteral("--row takes a sheet row from 1, not \"%1\"").arg(value);
                return p;
            }
        } else {
            p.error = QStringLiteral("unknown option %1").arg(w);
            return p;
        }
    }

    if (o.help || o.version)
        return p;   // help (or the version) is given for whatever else is on the line
    if (o.command.isEmpty()) {
        p.error = QStringLiteral("no command given");
        return p;
    }
    if (!commandOptions().contains(o.command)) {
        p.error = QStringLiteral("unknown command \"%1\"").arg(o.command);
        return p;
    }
    static const QSet<QString> common = {QStringLiteral("--help"), QStringLiteral("--port"),
                                         QStringLiteral("--address"), QStringLiteral("--simulate"),
                                         QStringLiteral("--user"), QStringLiteral("--frames"),
                                         QStringLiteral("--journal")};
    for (const QString &g : given) {
        if (!common.contains(g) && !commandOptions().value(o.command).contains(g)) {
            p.error = QStringLiteral("%1 does not apply to %2").arg(g, o.command);
            return p;
        }
    }
    if (o.command == QLatin1String("gas") && gasOptions().contains(o.args.value(0))) {
        for (const QString &g : given) {
            if (commandOptions().value(o.command).contains(g) && !gasOptions().value(o.args.value(0)).contains(g)) {
                p.error = QStringLiteral("%1 does not apply to gas %2").arg(g, o.args.value(0));
                return p;
            }
        }
    }
    if (o.command == QLatin1String("site") && siteOptions().contains(o.args.value(0))) {
        for (const QString &g : given) {
            if (commandOptions().value(o.command).contains(g) && !siteOptions().value(o.args.value(0)).contains(g)) {
                p.error = QStringLiteral("%1 does not apply to site %2").arg(g, o.args.value(0));
                return p;
            }
        }
    }
    if (o.simulate && !o.port.isEmpty()) {
        p.error = QStringLiteral("--simulate and --port exclude each other");
        return p;
    }
    if (o.simulate && !o.portsFile.isEmpty()) {
        p.error = QStringLiteral("--simulate and --ports exclude each other: the simulated detector is one line");
        return p;
    }
    if (!o.port.isEmpty() && !o.portsFile.isEmpty()) {
        p.error = QStringLiteral("--port and --ports exclude each other: name every line in the file, or give "
                                 "--port once per line");
        return p;
    }
    if (o.ports.size() > 1 && !takesSeveralLines(o.command) && o.command != QLatin1String("site")) {
        p.error = QStringLiteral("%1 works on one line, but --port is given %2 times (scan, read and backup "
                                 "take several)").arg(o.command).arg(o.ports.size());
        return p;
    }
    if (o.yes && o.dryRun) {
        p.error = QStringLiteral("--yes and --dry-run exclude each other");
        return p;
    }
    if (o.from > o.to) {
        p.error = QStringLiteral("--from %1 is above --to %2").arg(o.from).arg(o.to);
        return p;
    }
    p.error = checkCommandWords(o);
    return p;
}

bool needsGui(const QStringList &words)
{
    const Options o = parseArguments(words).options;
    if (o.help)
        return false;
    if (o.command == QLatin1String("journal") && o.args.value(0) == QLatin1String("protocol"))
        return true;
    return o.command == QLatin1String("site") && o.args.value(0) == QLatin1String("report")
           && isPdf(o.args.value(2));
}

bool takesSeveralLines(const QString &command)
{
    return command == QLatin1String("scan") || command == QLatin1String("read")
           || command == QLatin1String("backup");
}

bool readPortsFile(const QString &path, QStringList *ports, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = file.errorString();
        return false;
    }
    // A list of ports is short; anything much longer is not one.
    const qint64 limit = 1 << 20;
    const QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit) {
        *error = QStringLiteral("larger than 1 MiB, not a list of ports");
        return false;
    }
    ports->clear();
    for (const QString &line : QString::fromUtf8(bytes).split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (!text.isEmpty() && !text.startsWith(QLatin1Char('#')))
            *ports << text;
    }
    return true;
}

QString helpText(const QString &command)
{
    const QString common = QStringLiteral(
        "Common options:\n"
        "  --port PATH      serial port to use (any path, also a virtual port);\n"
        "                   default: $TLCTL_PORT.  A relative path is taken from the\n"
        "                   working directory; a bare name (ttyUSB0) means /dev/NAME\n"
        "                   unless only the working directory has a file of that name;\n"
        "                   tcp://HOST:PORT reaches a serial device server (RTU\n"
        "                   frames over TCP), modbus-tcp://HOST:PORT a Modbus TCP gateway;\n"
        "                   scan, read and backup take it once per line, for several\n"
        "                   lines at once\n"
        "  --address N      Modbus address of the detector, 0..255 (default 1)\n"
        "  --simulate       start a simulated detector (tl02-sim) and work on it\n"
        "  --user NAME      log in as User, Admin or Velta; the password comes from\n"
        "                   $TLCTL_PASSWORD or from a prompt on the terminal (not echoed)\n"
        "  --frames         print every frame sent (>) and received (<) on stderr, in\n"
        "                   hex, each with a line that decodes it (registers by name)\n"
        "                   and after each attempt its result (= ok, = no reply, ...)\n"
        "  --journal LOCATION  the calibration journal that restore, factory, flash,\n"
        "                   check, journal and site use: an SQLite file, a team's\n"
        "                   server as postgresql://USER@HOST[:PORT]/DB or service=NAME\n"
        "                   (never with a password: libpq takes it from ~/.pgpass);\n"
        "                   default: $TLCTL_JOURNAL, else the user's file (tlctl\n"
        "                   journal --help)\n"
        "  --help           this text; tlctl COMMAND --help for one command\n");
    const QString severalLines = QStringLiteral(
        "Several lines at once: give --port once per line, or --ports FILE.\n"
        "  --ports FILE     the lines, one port a line as --port takes it (a relative\n"
        "                   path from the working directory); blank lines and lines\n"
        "                   starting with # are skipped\n"
        "Each line runs on a thread of its own with a link of its own, all at once, and\n"
        "a line that fails does not stop the others.  The output comes once every line\n"
        "has ended, grouped by line in the order the ports were given: a header\n"
        "\"== PORT ==\", then what that line printed; every message on stderr names its\n"
        "port.  The exit code is the worst line's: an interrupt's when a line was\n"
        "interrupted (Ctrl-C stops every line), else the highest code of the lines;\n"
        "0 only when every line succeeded.  --user asks for the password once, for\n"
        "every line.  --simulate works on one line only.\n\n");
    const QString severalJson = QStringLiteral(
        "With --json on several lines tlctl prints one JSON array, an object per line\n"
        "in the order given: {\"port\": the port, \"exit_code\": the line's exit code,\n"
        "\"result\": the object the command prints on one line (null when it printed\n"
        "none), \"error\": the line's messages without \"tlctl: \" (null when none)}.\n\n");

    if (command == QLatin1String("ports")) {
        return QStringLiteral(
            "usage: tlctl ports [--json]\n\n"
            "Lists the serial ports the system reports (path, description, maker, serial\n"
            "number).  Pseudo-terminals and other virtual ports are not listed; give\n"
            "them with --port.\n");
    }
    if (command == QLatin1String("identify")) {
        return QStringLiteral(
            "usage: tlctl identify [--json] [common options]\n\n"
            "Tells what answers at the address: detector type 1 or 2, or the bootloader;\n"
            "for a detector also the identification texts (vendor, model, firmware\n"
            "version and date, ...), the board version and the serial number.\n\n") + common;
    }
    if (command == QLatin1String("read")) {
        return QStringLiteral(
            "usage: tlctl read [--json] [common options]\n"
            "       tlctl read [--json] --port PATH --port PATH... | --ports FILE [common options]\n\n"
            "Reads the detector as the program's read command does (identification, the\n"
            "holding block, the live values) and lists every parameter of the holding\n"
            "block by name with its value as the pages show it, its unit, its register\n"
            "and the raw register value, then the live values (input registers 0-9).\n"
            "The names are the ones tlctl set takes.\n\n"
            "--json prints one object: address, device_type, kind, port, write_count,\n"
            "identification {name: text}, parameters {name: {value, text, unit, register,\n"
            "space, raw}}, live {name: {...the same}}; register is a number (4101 for\n"
            "0x1005), space \"holding\" or \"input\", raw the whole register.  Keys are\n"
            "sorted; values are numbers, texts or true/false as they mean.\n\n") + severalLines + severalJson
            + common;
    }
    if (command == QLatin1String("set")) {
        QString names;
        for (const ParamDef &d : parameters()) {
            if (d.level == SetLevel::ReadOnly)
                continue;
            ParamBlock none{};
            QString allowed = allowedValues(d, none);
            if (d.kind == Kind::Scaled || d.kind == Kind::LimitValue)
                allowed = QStringLiteral("number in the device's unit and discreteness");
            names += QStringLiteral("  %1 %2%3\n")
                         .arg(QLatin1String(d.name), -19)
                         .arg(allowed, d.level == SetLevel::Production ? QStringLiteral("  [Velta]") : QString());
        }
        return QStringLiteral(
            "usage: tlctl set NAME=VALUE... --user NAME [common options]\n\n"
            "Reads the detector, changes the named parameters with the conversions and\n"
            "limits of the program's pages, writes the holding block, reads it back and\n"
            "fails (exit 4) when the device did not keep a value.  A value outside its\n"
            "limits, or with more decimals than the discreteness shows, is refused\n"
            "(exit 2) and nothing is written.  unit and discreteness are applied first,\n"
            "so the other values are read in the unit and discreteness the device will\n"
            "have.  The values are then judged together: a threshold (limit1, limit2)\n"
            "above range_max could never trip and is refused (exit 2, nothing written),\n"
            "also one that a lowered range_max would leave above it.  Needs a login;\n"
            "names marked [Velta] need the production level.\n\n"
            "Names:\n") + names + QStringLiteral("\n") + common;
    }
    if (command == QLatin1String("watch")) {
        return QStringLiteral(
            "usage: tlctl watch [--interval S] [--count N] [--json] [common options]\n\n"
            "Reads the detector once, then polls its live values (input registers 0-9)\n"
            "every S seconds (default 1) like the program's automatic reading, one line\n"
            "per poll, until N polls (default: until Ctrl-C).  A failed poll is reported\n"
            "on stderr and polling goes on; the exit code is then 4.  --json prints one\n"
            "object per line.\n\n") + common;
    }
    if (command == QLatin1String("backup")) {
        return QStringLiteral(
            "usage: tlctl backup FILE|DIR [common options]\n"
            "       tlctl backup DIR --port PATH --port PATH... | --ports FILE [common options]\n\n"
            "Reads the detector and saves its parameter structure (140 bytes) as the\n"
            "program's hex-line parameter file: 20 bytes per line in upper-case hex, CR LF.\n"
            "The program loads such a file with \"load configuration into device\".\n\n"
            "Into an existing folder DIR the file is DIR/SERIAL_DATE.hex: SERIAL the serial\n"
            "number as tlctl shows it (TL02ID0004711), DATE today's local date\n"
            "(2024-05-31).  A file of that name is replaced, as FILE is.  On several\n"
            "lines DIR must be a folder.  The names then go by the order of the ports,\n"
            "whichever line is read first: a serial number an earlier line saved already\n"
            "is saved as SERIAL_DATE_2.hex (then _3, ...), with a note on stderr, so no\n"
            "line's file replaces another's.\n\n") + severalLines + common;
    }
    if (command == QLatin1String("restore")) {
        return QStringLiteral(
            "usage: tlctl restore FILE --user NAME [--dry-run | --yes] [--clone] [common options]\n\n"
            "Loads a hex-line parameter file (written by the program or by tlctl backup)\n"
            "into the detector.  The file must be a whole, sound parameter file (hex\n"
            "digits, an optional \":\" before them, blanks and line ends only, 140 bytes,\n"
            "at most 64 KiB) holding values a TL-02 can have (network address 1-247,\n"
            "known unit, discreteness, output type and line speed, thresholds within the\n"
            "upper range value, delays and dead zones within the pages' limits); else\n"
            "nothing is written (exit 6).\n\n"
            "Lists every value that would change (old -> new, as the pages show them) and\n"
            "the values kept from the device, then asks on the terminal; without a\n"
            "terminal it needs --yes.  --dry-run only lists.  The concentration\n"
            "simulation is always written as off.  The detector's own fields (serial\n"
            "number, network address, board version, calibration codes and calibration\n"
            "concentration) are kept unless --clone is given, and a value that tlctl set\n"
            "would refuse at the login's level is never written.  Writes the holding\n"
            "block, reads it back and checks every register.  Needs a login.\n\n") + common;
    }
    if (command == QLatin1String("factory")) {
        return QStringLiteral(
            "usage: tlctl factory store|restore --user NAME [common options]\n\n"
            "store    writes the parameters just read back into the device and tells it\n"
            "         to keep them as its factory settings (command 0x3003).\n"
            "restore  tells the device to take up its factory settings (command 0x6006)\n"
            "         and reads them.  At the level User it needs the factory password\n"
            "         ($TLCTL_FACTORY_PASSWORD or a prompt).\n"
            "Both need a login.\n\n") + common;
    }
    if (command == QLatin1String("flash")) {
        return QStringLiteral(
            "usage: tlctl flash FILE.bin --user NAME [--yes] [--any-image] [common options]\n\n"
            "Updates the firmware through the bootloader: the raw image goes in 200-byte\n"
            "blocks from 0x08001C00, framed by 0x5555 (start) and 0x6060 (restart).  A\n"
            "detector that answers is switched to its bootloader first.  An image larger\n"
            "than the application flash (254976 bytes: 256 KiB less the bootloader's\n"
            "0x1C00) is refused with nothing sent (exit 6).\n\n"
            "Before anything goes to the device tlctl shows the image's size in bytes and\n"
            "blocks, the load address and its SHA-256, and asks yes/no on the terminal;\n"
            "\"no\" sends nothing (exit 0).  Without a terminal it needs --yes (else exit 2,\n"
            "nothing sent); --yes goes ahead without asking.  Shows a progress bar on a\n"
            "terminal and plain lines otherwise, and a final status.  Ctrl-C stops between\n"
            "blocks (exit 130; the device stays in its bootloader).  Needs a login.\n\n"
            "The image must look like an application for 0x08001C00: its first word (the\n"
            "initial stack pointer) in RAM, 0x20000000-0x2003FFFF, and its second (the\n"
            "reset address) odd and within the image and the 256 KiB of flash.  tlctl\n"
            "names the word that is wrong; such an image goes only with --any-image\n"
            "besides --yes (else exit 6, nothing sent), or, on a terminal, after \"yes\" to\n"
            "a second question.  The journal records the image's size and SHA-256.\n\n"
            "  --yes            write without asking (scripts, production lines)\n"
            "  --any-image      write an image that does not look like an application\n\n") + common;
    }
    if (command == QLatin1String("site")) {
        return QStringLiteral(
            "usage: tlctl site list|show NAME|due [--days N] [--json]\n"
            "       tlctl site survey NAME --port PATH... | --ports FILE [--from A] [--to B] [--json]\n"
            "       tlctl site backup NAME DIR [--json]\n"
            "       tlctl site apply NAME --user NAME (--file F | --gas NAME [--row N] [--library FILE]\n"
            "                        | --set NAME=VALUE...) [--only SERIAL,...] [--dry-run | --yes]\n"
            "                        [--stop-at-first] [--json]\n"
            "       tlctl site report NAME FILE.pdf|FILE.csv [--user NAME] [--json]\n\n"
            "The register of a site's detectors, kept in the journal's database.\n\n"
            "  site list            the sites, with their calibration interval and detectors\n"
            "  site show NAME       the detectors of a site: tag, line, address, serial,\n"
            "                       type, firmware, unit, range, thresholds, next calibration\n"
            "  site survey NAME     scans every line given (--port, several times, or\n"
            "                       --ports FILE) at addresses --from A to --to B (default\n"
            "                       1-247), all lines at once, reads each detector found in\n"
            "                       full and updates the register (the site is made on its\n"
            "                       first survey); prints what changed since the last\n"
            "                       survey: new and missing detectors, a changed line or\n"
            "                       address, changed firmware, and values that differ from\n"
            "                       the detector's last backup.  Only reads go to the\n"
            "                       detectors.\n"
            "  site due             detectors of every site whose calibration is overdue or\n"
            "                       due within --days N days (default 30)\n"
            "  site backup NAME DIR reads every detector of the register where the register\n"
            "                       has it (line, address; it must still carry its serial\n"
            "                       number) and saves DIR/SERIAL_DATE.hex for each, as tlctl\n"
            "                       backup does (the simulation written as off; a file of\n"
            "                       that name is replaced); the register keeps each backup,\n"
            "                       which site show, survey and report measure drift against.\n"
            "                       DIR is made when missing.  One line per detector, then\n"
            "                       \"N backed up, N failed, N skipped\".\n"
            "  site apply NAME      writes the same change into every detector of the\n"
            "                       register, or those --only names, all lines at once:\n"
            "    --file F           the settings of a parameter file, checked as tlctl\n"
            "                       restore checks it (the detectors' own fields never)\n"
            "    --gas NAME         the thresholds of a gas-library entry, found as tlctl\n"
            "                       gas apply finds it (--row, --library); its words mean\n"
            "                       thresholds in each detector's own unit and discreteness;\n"
            "                       at the level User also the factory password\n"
            "    --set NAME=VALUE   a parameter as tlctl set takes it (several times)\n"
            "    --only SERIALS     only these detectors: serial numbers, as digits or text\n"
            "                       (4711, TL02ID0004711), separated by commas\n"
            "    --stop-at-first    after a failure no further detector is started\n"
            "                       First a preview from the register's last read of each\n"
            "                       detector: every value that changes (old -> new in the\n"
            "                       detector's units), the values kept (and why) and those\n"
            "                       refused.  --dry-run stops there.  Otherwise tlctl asks\n"
            "                       once on the terminal (without one it needs --yes; else\n"
            "                       exit 2 and nothing is written).  Each detector is read\n"
            "                       again before its write and skipped when it is not the\n"
            "                       one registered or its changes differ from the preview\n"
            "                       (survey the site again); the write is read back, the\n"
            "                       concentration simulation is never switched on, and the\n"
            "                       journal records each write.  One line per detector (done,\n"
            "                       failed or skipped, and why), then a summary.  Needs a\n"
            "                       login; a value the level may not change is not written.\n"
            "  site report NAME FILE  the site's report (\"Отчёт по объекту\"): every\n"
            "                       detector with its place, settings, calibration dates,\n"
            "                       due state and drift against its last backup, as FILE.pdf\n"
            "                       (landscape A4, no display needed) or FILE.csv (\";\"-\n"
            "                       separated, UTF-8); the technician named is --user, else\n"
            "                       the login name ($USER).  The file is replaced only by a\n"
            "                       complete one.\n\n"
            "  --json               the listing, or what was done, as JSON\n"
            "  --days N             site due: how many days ahead (0 to 3650)\n"
            "  --from A, --to B     site survey: the addresses asked, 1 to 255\n\n"
            "Exit codes: 2 for a site that is not in the register, an unknown --only\n"
            "serial number, or apply without --yes and without a terminal; 6 for a\n"
            "database that cannot be read and a DIR or FILE that cannot be made or\n"
            "written; 3 for a survey on which no line could be opened.  4 for a survey\n"
            "on which a detector could not be read, a backup that was not done for every\n"
            "detector, and an apply on which a detector failed or was skipped for any\n"
            "reason but \"nothing to change\": a value refused for it, another detector\n"
            "at its place, values changed since the survey, a stop after a failure.  A\n"
            "detector that already holds the values is no failure.  5 for a login that\n"
            "is refused or a parameter the level may not change.\n");
    }
    if (command == QLatin1String("check")) {
        return QStringLiteral(
            "usage: tlctl check --user NAME --gas NAME --conc VALUE [--cylinder N] [--expires DATE]\n"
            "                   [--accept-expired] [--org NAME] [--timeout S] [common options]\n\n"
            "A function check (bump test) of the detector with a test gas: nothing is\n"
            "written to the device.  tlctl reads the parameter block once (range,\n"
            "thresholds, unit, discreteness, serial number, firmware), prints the\n"
            "detector and its thresholds, then reads the concentration about every\n"
            "500 ms.  It says \"apply the test gas now\" and counts down on stderr while\n"
            "the reading settles (it must stay within 1 % of the range for 10 s and\n"
            "have moved from where it was by more than the tolerance); then it says\n"
            "\"remove the test gas now\" and waits until every threshold crossed has been\n"
            "left again.  Then it prints the figures (baseline, peak, settled reading,\n"
            "t90, the tolerance, when Limit1 and Limit2 were crossed and left) and the\n"
            "verdict with its reasons, writes one record (function check) into the\n"
            "journal and prints its UUID; tlctl journal protocol makes its protocol.\n\n"
            "  --gas NAME       the test gas, as it is to appear on the protocol\n"
            "  --conc VALUE     its concentration, in the detector's unit (PPM, mg/m3,\n"
            "                   %LEL or %VOL, whichever the detector is set to)\n"
            "  --cylinder N     the cylinder's number\n"
            "  --expires DATE   the cylinder's last day of use, YYYY-MM-DD.  An expired\n"
            "                   cylinder must be confirmed: on a terminal tlctl asks,\n"
            "                   otherwise it needs --accept-expired (else exit 2 before\n"
            "                   anything goes to the device); the protocol says so\n"
            "  --accept-expired use an expired cylinder without asking\n"
            "  --org NAME       the organisation named on the protocol\n"
            "  --timeout S      how long the reading may take to settle, and again to\n"
            "                   return after the gas is removed, 1 to 3600 (default 180)\n\n"
            "The technician on the protocol is the login name ($USER) with the level of\n"
            "--user.  Needs a login (the password in $TLCTL_PASSWORD or at the prompt).\n"
            "Exit 0 when the detector passed, 4 when it failed the check (or an exchange\n"
            "failed: then nothing is recorded), 3 when the port cannot be opened, 6 when\n"
            "the journal could not take the record (the verdict is printed all the same),\n"
            "130 for Ctrl-C (nothing is recorded).\n\n") + common;
    }
    if (command == QLatin1String("journal")) {
        return QStringLiteral(
            "usage: tlctl journal [--serial N] [--csv] [--journal LOCATION]\n"
            "       tlctl journal init [--journal LOCATION]\n"
            "       tlctl journal sync [--journal LOCATION]\n"
            "       tlctl journal verify [--journal LOCATION]\n"
            "       tlctl journal protocol ID FILE.pdf [--journal LOCATION]\n\n"
            "Lists the calibration journal, oldest first: every calibration step of the\n"
            "program, every parameter-file load, factory store and restore and firmware\n"
            "update of the program and of tlctl (restore, factory, flash), every function\n"
            "check (tlctl check), with the device, the level, the gas or current used,\n"
            "the values before -> after and the outcome.  A record written before a\n"
            "device write shows as \"started\", or as \"NOT COMPLETED\" when no record of\n"
            "its end followed (the program was stopped in the middle of the write).\n"
            "Needs no device.\n\n"
            "  --serial N       only the records of serial number N (the number, or its\n"
            "                   text such as TL02ID0001234)\n"
            "  --csv            the records as CSV (comma-separated, UTF-8, with a header);\n"
            "                   the last columns are each record's UUID, login and host\n\n"
            "init     makes the journal or brings an older one up to date.  On a server,\n"
            "         run by the owner of the database (with CREATEROLE while a role is\n"
            "         missing), it also makes the group roles tl_technician (reads, adds\n"
            "         records and register rows, updates detectors; deletes nothing) and\n"
            "         tl_admin (also names sites and sets their intervals), grants them\n"
            "         that, and guards the records: only their owner may change or\n"
            "         remove one.  Running it again does no harm.  A technician's login\n"
            "         is then CREATE ROLE name LOGIN IN ROLE tl_technician.  Prints what\n"
            "         was done.\n\n"
            "sync     sends what waits on this computer to the server and reads back\n"
            "         what the rest of the team sent, records and the site register's\n"
            "         changes alike.  Prints \"sent N records and M register changes to\n"
            "         SERVER; K were there already; received ...; W wait\".  A send cut\n"
            "         off (Ctrl-C, a lost connection) loses nothing and makes no\n"
            "         duplicate: run it again.  A register change the login may not make\n"
            "         (a technician's interval) is refused by the server, counted, kept\n"
            "         on this computer and not sent again.  Exit 6, with the reason and\n"
            "         what still waits, when the server cannot be reached or the send\n"
            "         stops.  For a file there is nothing to send (exit 0).\n\n"
            "protocol writes the protocol of the calibration or function check that\n"
            "         record ID (its number or UUID; any record of the work) belongs to,\n"
            "         the same PDF the program makes, to FILE.pdf (replaced only by a\n"
            "         complete file; no display needed).  Exit 6 when the journal cannot\n"
            "         be read or the record belongs to no such work.\n\n"
            "verify   recomputes the chain of a team server's records: each record holds\n"
            "         the SHA-256 of the hash before it and of its own text, in the order\n"
            "         the server took them in.  Names the first record that was altered,\n"
            "         inserted or removed (exit 4), else says the chain is intact and\n"
            "         gives the last hash (exit 0).  Certificates print each record's\n"
            "         UUID and hash, so a paper copy can be checked against the server.\n\n"
            "With a server, every command works on this computer's copy\n"
            "(the user's file below) and nothing on a device waits on the network:\n"
            "records and register changes are written to the copy first and wait there\n"
            "until they are sent.  journal and every site command sync before they\n"
            "read (a server that cannot be reached is one warning: they show this\n"
            "computer's copy); restore, factory, flash and site survey, backup and\n"
            "apply sync once the device work is done (a warning says how many wait).\n\n"
            "The journal is --journal LOCATION, else $TLCTL_JOURNAL, else\n"
            "$XDG_DATA_HOME/tl-configuration/journal.sqlite (by default\n"
            "~/.local/share/tl-configuration/journal.sqlite), shared with the program.  A\n"
            "location is an SQLite file, postgresql://USER@HOST[:PORT]/DB[?sslmode=...]\n"
            "or service=NAME; one with a password is refused (exit 2): libpq takes the\n"
            "password from ~/.pgpass.  A journal that cannot be read (locked, damaged,\n"
            "a server that cannot be reached or refuses) gives exit 6.  restore, factory\n"
            "and flash write their record after the device work; when that fails they\n"
            "print a warning and keep the exit code of the device work.  Each record\n"
            "carries a UUID, the login name and the computer's host name.\n");
    }
    if (command == QLatin1String("scan")) {
        return QStringLiteral(
            "usage: tlctl scan [--from A] [--to B] [--json] [common options]\n"
            "       tlctl scan [options] --port PATH --port PATH... | --ports FILE\n\n"
            "Looks for detectors at addresses A..B (default 1..247): one short request\n"
            "(input register 4) with a single attempt per address, so a silent address\n"
            "costs one reply time-out (150 ms) instead of ten.  Lists address, type and\n"
            "serial number of each device found, and the time the scan took.  With\n"
            "--simulate the simulated detector answers at --address.\n\n") + severalLines + severalJson
            + common;
    }

    if (command == QLatin1String("gas")) {
        return QStringLiteral(
            "usage: tlctl gas list [--json] [--library FILE]\n"
            "       tlctl gas search TEXT [--json] [--library FILE]\n"
            "       tlctl gas add NAME LIMIT1 LIMIT2 [--unit U] [--discreteness D]\n"
            "                 [--decreasing 1|2|1,2] [--json] [--library FILE]\n"
            "       tlctl gas apply NAME --user NAME [--unit U --discreteness D] [--row N]\n"
            "                 [--json] [--library FILE] [common options]\n\n"
            "The program's gas library: a spreadsheet with one entry per row of its active\n"
            "sheet, the gas name in column A and the two threshold words in columns B and\n"
            "C (bits 0-14 the threshold times the scale of the discreteness, bit 15 set\n"
            "for a decreasing threshold).  Row 1 usually holds titles.  The row does not\n"
            "record the unit and discreteness its thresholds were made for.\n\n"
            "list     every used row: row number, name and the two words as stored.\n"
            "search   the rows whose name contains TEXT, ignoring case, as the program's\n"
            "         library dialog finds them.\n"
            "add      appends an entry after the last used row, as the dialog does: NAME\n"
            "         (1 to 20 characters) as text and the words as numbers, in the row's\n"
            "         format.  LIMIT1 and LIMIT2 are thresholds in --unit (default PPM) and\n"
            "         --discreteness (default X), with at most its decimals and within\n"
            "         0..32767/scale (3276.7 at X,X); --decreasing names the thresholds that\n"
            "         fall (default: both rise).  The library keeps the words only, so note\n"
            "         the unit.  A name already there is added again, as the dialog allows;\n"
            "         apply then needs --row.\n"
            "apply    writes the entry's two words into Limit1 and Limit2 of the detector\n"
            "         (registers 0x1005-0x1006, nothing else), reads the device back and\n"
            "         fails (exit 4) when it did not keep them.  NAME is the whole name,\n"
            "         ignoring case; --row picks one of several entries of that name.\n"
            "         Without --unit and --discreteness the words are taken in the\n"
            "         device's own unit and discreteness, as the library dialog takes\n"
            "         them, and tlctl says so; with them, a device set to another unit or\n"
            "         discreteness is refused.  A threshold above the device's range_max\n"
            "         is always refused.  Refused: nothing is written (exit 2).\n"
            "         Needs a login; the level User also needs the factory\n"
            "         password ($TLCTL_FACTORY_PASSWORD or a prompt), as the program asks\n"
            "         before it opens the library.\n\n"
            "  --library FILE   the library to use; default: the program's own (beside\n"
            "                   the program when its folder may be written, else the\n"
            "                   user's copy in ~/.local/share/tl-configuration)\n"
            "A library that cannot be read, or a failed save, is exit 6 (the file is left\n"
            "as it was).  --json prints one object: library and entries [{row, name,\n"
            "limit1, limit2, limit1_cell, limit2_cell}] (a word is null when its cell\n"
            "holds none); for add and apply the entry written.\n\n") + common;
    }

    return QStringLiteral(
        "usage: tlctl COMMAND [options]\n"
        "       tlctl --version\n\n"
        "Command-line companion of %1 %2 for TL-02 gas detectors on a Modbus RTU line.\n\n"
        "Commands:\n"
        "  ports                    serial ports found on the system\n"
        "  identify                 device type, identification texts, board version, serial number\n"
        "  read [--json]            every parameter and the live values\n"
        "  set NAME=VALUE...        change parameters, write them and read them back\n"
        "  watch [--interval S] [--count N]   live values, one line per poll\n"
        "  backup FILE|DIR          save the parameter block as a hex-line file\n"
        "  restore FILE             load a hex-line file into the device (asks first)\n"
        "  factory store|restore    keep / take up the factory settings\n"
        "  flash FILE.bin [--yes]   firmware update through the bootloader (asks first)\n"
        "  scan [--from A --to B]   look for detectors on the line(s)\n"
        "  check --gas NAME --conc VALUE   function check (bump test) with a test gas\n"
        "  journal [--serial N] [--csv]   the calibration journal\n"
        "  journal init             make or update the journal; a server's roles\n"
        "  journal sync             send what waits to the server, read what it has\n"
        "  journal verify           check a server's chain of records\n"
        "  journal protocol ID FILE.pdf   the protocol of a calibration or check\n"
        "  site list|show|survey|due|backup|apply|report\n"
        "                           a site's register of detectors; backup, change\n"
        "                           and report of all of them\n"
        "  gas list|search|add|apply   the gas library; apply writes an entry's limits\n\n")
               .arg(ProgramName, ProgramVersion)
        + common
        + QStringLiteral(
            "\nSeveral lines: scan, read and backup DIR work on several lines at once, each\n"
            "given by its own --port or all by --ports FILE, a thread and a link per line;\n"
            "the output is grouped by line (tlctl scan --help says more).\n"
            "\nAccess: reading (ports, identify, read, watch, scan, backup, journal) and the\n"
            "gas library's file commands (gas list, search, add) need no login.  Every\n"
            "command that changes the device (set, restore, factory, flash, gas apply,\n"
            "site apply) needs --user, as the program asks for a login before it\n"
            "connects; so does check, whose record names the level.  The serial number, calibration codes and simulation need the\n"
            "level Velta; factory restore, gas apply and site apply --gas at the level\n"
            "User need the factory password.\n\n"
            "Exit codes: 0 success, 2 usage error, 3 port cannot be opened, 4 exchange\n"
            "failed, the device did not take a value or a check failed (journal\n"
            "verify, check), 5 access refused, 6 bad or\n"
            "incomplete file, 130 interrupted by Ctrl-C (143 by SIGTERM, 129 by SIGHUP).\n"
            "A signal cuts a running exchange short within a fraction of a second.  On\n"
            "several lines the code is the worst line's: an interrupt's when a line was\n"
            "interrupted, else the highest of the lines' codes.\n");
}

} // namespace Tlctl

// The installed program: the tree `cmake --install` makes under /usr (the
// Debian package packs the same), the program and tlctl run from it keeping
// the user's files in the user's folders and taking no plug-in from the
// working directory, the bash completion and the manual page of tlctl against
// tlctl's own help, the lean start, the program's identity on the desktop and
// the one version everything carries.
#include "startenv.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
        const QString &workDir = QString(), int timeoutMs = 120000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    p.closeWriteChannel();
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err += QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString tlctlHelp(const QString &command = QString())
{
    QStringList args;
    if (!command.isEmpty())
        args << command;
    args << QStringLiteral("--help");
    return run(QStringLiteral(TL_RUNTIME_DIR "/tlctl"), args).out;
}

// The lines of one section of tlctl's overview ("Commands:"), up to the
// blank line that ends it.
QStringList helpSection(const QString &help, const QString &title)
{
    const QStringList lines = help.split(QLatin1Char('\n'));
    const int start = lines.indexOf(title);
    QStringList section;
    for (int i = start + 1; start >= 0 && i < lines.size() && !lines[i].isEmpty(); ++i)
        section << lines[i];
    return section;
}

QStringList firstWords(const QStringList &lines, const QString &pattern)
{
    QStringList words;
    const QRegularExpression re(pattern);
    for (const QString &line : lines) {
        const QRegularExpressionMatch m = re.match(line);
        if (m.hasMatch())
            words << m.captured(1);
    }
    return words;
}

QSet<QString> allMatches(const QString &text, const QString &pattern)
{
    QSet<QString> found;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
    while (it.hasNext())
        found.insert(it.next().captured(1));
    return found;
}

// What the completion offers for the command line typed so far, through
// bash without the bash-completion package.
QStringList complete(const QString &line)
{
    const QString script = QStringLiteral(
        ". \"$1\"\n"
        "COMP_LINE=\"$2\"; COMP_POINT=${#COMP_LINE}\n"
        "read -ra COMP_WORDS <<<\"$COMP_LINE\"; [[ \"$COMP_LINE\" == *' ' ]] && COMP_WORDS+=('')\n"
        "COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n"
        "_tlctl\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), QStringLiteral(TL_RUNTIME_DIR ":") + env.value(QStringLiteral("PATH")));
    const Run r = run(QStringLiteral("bash"),
                      {QStringLiteral("-c"), script, QStringLiteral("bash"),
                       QStringLiteral(TL_SOURCE_DIR "/packaging/tlctl.bash-completion"), line},
                      env);
    if (r.code != 0)
        return {QStringLiteral("<bash failed: %1>").arg(r.err)};
    return r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString manSection(const QString &page, const QString &name)
{
    const int start = page.indexOf(QStringLiteral("\n.SH ") + name + QLatin1Char('\n'));
    if (start < 0)
        return QString();
    const int end = page.indexOf(QStringLiteral("\n.SH "), start + 1);
    return page.mid(start, end < 0 ? -1 : end - start);
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT
private slots:
    void leanStartKeepsTheUsersChoice()
    {
        qunsetenv("QT_XCB_GL_INTEGRATION");
        QVERIFY(StartEnvironment::skipUnusedOpenGl());
        QCOMPARE(qgetenv("QT_XCB_GL_INTEGRATION"), QByteArray("none"));

        qputenv("QT_XCB_GL_INTEGRATION", "xcb_glx");
        QVERIFY(!StartEnvironment::skipUnusedOpenGl());
        QCOMPARE(qgetenv("QT_XCB_GL_INTEGRATION"), QByteArray("xcb_glx"));

        // Set but empty is a choice too (Qt then takes its default).
        qputenv("QT_XCB_GL_INTEGRATION", "");
        QVERIFY(!StartEnvironment::skipUnusedOpenGl());
        QVERIFY(qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"));
        QVERIFY(qgetenv("QT_XCB_GL_INTEGRATION").isEmpty());
        qunsetenv("QT_XCB_GL_INTEGRATION");
    }

    void completionFollowsTlctl()
    {
        const QString overview = tlctlHelp();
        const QStringList commands = firstWords(helpSection(overview, QStringLiteral("Commands:")),
                                                QStringLiteral("^  ([a-z]+)\\b"));
        QVERIFY2(commands.contains(QStringLiteral("read")) && commands.size() >= 10, qPrintable(overview));
        const QStringList common = firstWords(helpSection(overview, QStringLiteral("Common options:")),
                                              QStringLiteral("^  (--[a-z-]+)"));
        QVERIFY2(common.contains(QStringLiteral("--port")), qPrintable(overview));

        // Every command tlctl knows, and none it does not.
        QSet<QString> offered = QSet<QString>(commands.begin(), commands.end());
        offered.insert(QStringLiteral("help"));
        const QStringList first = complete(QStringLiteral("tlctl "));
        QCOMPARE(QSet<QString>(first.begin(), first.end()), offered);
        QCOMPARE(complete(QStringLiteral("tlctl --address 3 sc")), QStringList{QStringLiteral("scan")});

        // Each command's options (its usage line) and the common ones.
        for (const QString &command : commands) {
            const QString usage = tlctlHelp(command).section(QLatin1Char('\n'), 0, 0);
            QSet<QString> wanted = allMatches(usage, QStringLiteral("(--[a-z-]+)"));
            for (const QString &o : common)
                wanted.insert(o);
            const QStringList got = complete(QStringLiteral("tlctl %1 --").arg(command));
            const QSet<QString> missing = wanted - QSet<QString>(got.begin(), got.end());
            QVERIFY2(missing.isEmpty(), qPrintable(command + QStringLiteral(": not offered ")
                                                   + QStringList(missing.values()).join(QLatin1Char(' '))));
        }
        QCOMPARE(complete(QStringLiteral("tlctl read --js")), QStringList{QStringLiteral("--json")});
        QCOMPARE(complete(QStringLiteral("tlctl backup --js")), QStringList());

        // Words: parameter names from tlctl set --help, fixed words, ports.
        QCOMPARE(complete(QStringLiteral("tlctl set limit1_d")), QStringList{QStringLiteral("limit1_direction=")});
        QCOMPARE(complete(QStringLiteral("tlctl factory r")), QStringList{QStringLiteral("restore")});
        QCOMPARE(complete(QStringLiteral("tlctl --user A")), QStringList{QStringLiteral("Admin")});
        QStringList ports;
        for (const QString &p : QDir(QStringLiteral("/dev")).entryList({QStringLiteral("ttyS*")}, QDir::System | QDir::Files))
            ports << QStringLiteral("/dev/") + p;
        QStringList got = complete(QStringLiteral("tlctl read --port=/dev/ttyS"));
        std::sort(ports.begin(), ports.end());
        std::sort(got.begin(), got.end());
        QCOMPARE(got, ports);
    }

    void manPageCoversTlctl()
    {
        QFile f(QStringLiteral(TL_BINARY_DIR "/packaging/tlctl.1"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString page = QString::fromUtf8(f.readAll());
        const QString overview = tlctlHelp();
        const QStringList commands = firstWords(helpSection(overview, QStringLiteral("Commands:")),
                                                QStringLiteral("^  ([a-z]+)\\b"));
        QVERIFY(commands.size() >= 10);

        const QString commandSection = manSection(page, QStringLiteral("COMMANDS"));
        const QSet<QString> described = allMatches(commandSection, QStringLiteral("\\n\\.B[IR]? \"?([a-z]+)"));
        for (const QString &c : commands)
            QVERIFY2(described.contains(c), qPrintable(QStringLiteral("the manual page lacks the command ") + c));

        // Every option and variable any help text names.
        QString allHelp = overview;
        for (const QString &c : commands)
            allHelp += tlctlHelp(c);
        const QString options = manSection(page, QStringLiteral("OPTIONS"));
        for (const QString &o : allMatches(allHelp, QStringLiteral("(--[a-z][a-z-]+)"))) {
            QString escaped = o;
            escaped.replace(QLatin1Char('-'), QStringLiteral("\\-"));
            QVERIFY2(options.contains(QStringLiteral(" ") + escaped), qPrintable(QStringLiteral("OPTIONS lacks ") + o));
        }
        const QString environment = manSection(page, QStringLiteral("ENVIRONMENT"));
        const QSet<QString> variables = allMatches(allHelp, QStringLiteral("\\$(TLCTL_[A-Z_]+)"));
        QVERIFY(variables.contains(QStringLiteral("TLCTL_PASSWORD")));
        for (const QString &v : variables)
            QVERIFY2(environment.contains(QStringLiteral(".B ") + v), qPrintable(QStringLiteral("ENVIRONMENT lacks ") + v));

        const QString codesText = overview.mid(overview.indexOf(QStringLiteral("Exit codes:")));
        const QSet<QString> codes = allMatches(codesText, QStringLiteral("(\\d+) [a-z]"));
        QVERIFY2(codes.contains(QStringLiteral("130")) && codes.size() >= 7, qPrintable(codesText));
        const QString status = manSection(page, QStringLiteral("EXIT STATUS"));
        for (const QString &code : codes)
            QVERIFY2(status.contains(QStringLiteral("\n.B ") + code + QLatin1Char('\n')),
                     qPrintable(QStringLiteral("EXIT STATUS lacks ") + code));
    }

    void installedTreeKeepsUserFilesInHome()
    {
        QTemporaryDir dest;
        QVERIFY(dest.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DESTDIR"), dest.path());
        const Run install = run(QStringLiteral(TL_CMAKE),
                                {QStringLiteral("--install"), QStringLiteral(TL_BINARY_DIR), QStringLiteral("--prefix"),
                                 QStringLiteral("/usr")},
                                env);
        QVERIFY2(install.code == 0, qPrintable(install.out + install.err));

        const QString usr = dest.filePath(QStringLiteral("usr"));
        const QStringList expected = {
            "bin/tl-configuration", "bin/tlctl", "bin/tl02-sim",
            "share/tl-configuration/TL_Program_en_US.qm", "share/tl-configuration/TL_Program_en_RU.qm",
            "share/tl-configuration/setting.xlsx", "share/applications/tl-configuration.desktop",
            "share/icons/hicolor/scalable/apps/tl-configuration.svg",
            "share/metainfo/internal.tl02.tl_configuration.metainfo.xml", "share/man/man1/tlctl.1.gz",
            "share/bash-completion/completions/tlctl", "share/doc/tl-configuration/copyright"};
        for (const QString &f : expected)
            QVERIFY2(QFileInfo(usr + QLatin1Char('/') + f).isFile(), qPrintable(f + QStringLiteral(" not installed")));
        QCOMPARE(QDir(usr + QStringLiteral("/bin")).entryList(QDir::Files | QDir::NoDotAndDotDot),
                 (QStringList{"tl-configuration", "tl02-sim", "tlctl"}));
        QFile desktop(usr + QStringLiteral("/share/applications/tl-configuration.desktop"));
        QVERIFY(desktop.open(QIODevice::ReadOnly));
        const QByteArray entry = desktop.readAll();
        QVERIFY(entry.contains("\nExec=tl-configuration\n") && entry.contains("\nIcon=tl-configuration\n"));
        QVERIFY(!entry.contains("\nPath="));

        // tlctl from the tree starts the tl02-sim beside it.
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment user = QProcessEnvironment::systemEnvironment();
        for (const char *k : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TLCTL_PORT"})
            user.remove(QLatin1String(k));
        user.insert(QStringLiteral("HOME"), home.path());
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("run")));
        QFile::setPermissions(home.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        user.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        user.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const Run identify = run(usr + QStringLiteral("/bin/tlctl"), {"--simulate", "identify"}, user, home.path());
        QVERIFY2(identify.code == 0 && identify.out.contains(QStringLiteral("detector type 1")),
                 qPrintable(identify.out + identify.err));

        // The program makes its ini file in the user's folder as its window is
        // built, and writes it there again when SIGTERM ends it.  Of two
        // plugins folders, the one beside the program is looked into, the one
        // in the working directory is not.
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("plugins/platforms")));
        QVERIFY(QDir(usr).mkpath(QStringLiteral("bin/plugins/platforms")));
        user.insert(QStringLiteral("QT_DEBUG_PLUGINS"), QStringLiteral("1"));
        QProcess program;
        program.setProcessEnvironment(user);
        program.setWorkingDirectory(home.path());
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(usr + QStringLiteral("/bin/tl-configuration"), QStringList());
        QVERIFY(program.waitForStarted(30000));
        const QString ini = home.filePath(QStringLiteral(".config/tl-configuration/ini"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(ini) || program.state() == QProcess::NotRunning, 60000);
        // (The output is read only on failure: the plug-in check below reads it.)
        const bool running = program.state() == QProcess::Running;
        QVERIFY2(running, running ? "" : program.readAll().constData());
        QTest::qWait(300);
        program.terminate();
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QFile iniFile(ini);
        QVERIFY(iniFile.open(QIODevice::ReadOnly));
        QCOMPARE(iniFile.readAll().count("\r\n"), 6);
        QVERIFY(!QFileInfo::exists(usr + QStringLiteral("/bin/ini")));
        QVERIFY(!QFileInfo::exists(usr + QStringLiteral("/bin/setting.xlsx")));
        const QString log = QString::fromLocal8Bit(program.readAll());
        QVERIFY2(log.contains(QStringLiteral("\"%1/bin/plugins/platforms\"").arg(usr)), qPrintable(log.left(3000)));
        QVERIFY2(!log.contains(home.filePath(QStringLiteral("plugins"))), qPrintable(log.left(3000)));
    }

    void pluginFolderIsBesideTheProgram()
    {
        const QString before = QDir::currentPath();
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        const QString plugins = StartEnvironment::pluginFolder();
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(plugins, QCoreApplication::applicationDirPath() + QStringLiteral("/plugins"));
    }

    // --version and --help print and succeed with or without a display (the
    // application object would abort without one).
    void versionFromProjectEverywhere()
    {
        const QString version = QStringLiteral(TL_PROJECT_VERSION);
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        for (const char *k : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            noDisplay.remove(QLatin1String(k));
        QProcessEnvironment offscreen = noDisplay;
        offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString program = QStringLiteral(TL_RUNTIME_DIR "/tl-configuration");
        for (const QProcessEnvironment &env : {noDisplay, offscreen}) {
            Run r = run(program, {QStringLiteral("--version")}, env, QString(), 60000);
            QCOMPARE(r.code, 0);
            QCOMPARE(r.out, QStringLiteral("tl-configuration (TL Configuration) %1\n").arg(version));
            r = run(program, {QStringLiteral("--help")}, env, QString(), 60000);
            QCOMPARE(r.code, 0);
            QVERIFY2(r.out.startsWith(QStringLiteral("usage: tl-configuration")) && r.out.contains(version), qPrintable(r.out));
        }
        const Run tlctl = run(QStringLiteral(TL_RUNTIME_DIR "/tlctl"), {QStringLiteral("--version")}, noDisplay);
        QCOMPARE(tlctl.code, 0);
        QCOMPARE(tlctl.out, QStringLiteral("tlctl (TL Configuration) %1\n").arg(version));

        // The manual pages, the metainfo and the Debian changelog as built.
        const QString built = QStringLiteral(TL_BINARY_DIR "/packaging/");
        const QStringList carriers = {"tlctl.1", "tl-configuration.1", "tl02-sim.1",
                                      "internal.tl02.tl_configuration.metainfo.xml", "changelog.Debian"};
        const QStringList marks = {"\"TL Configuration %1\"", "\"TL Configuration %1\"", "\"TL Configuration %1\"",
                                   "<release version=\"%1\"", "tl-configuration (%1-1)"};
        for (int i = 0; i < carriers.size(); ++i) {
            QFile f(built + carriers[i]);
            QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(carriers[i]));
            const QString text = QString::fromUtf8(f.readAll());
            QVERIFY2(text.contains(marks[i].arg(version)) && !text.contains(QRegularExpression(QStringLiteral("@[A-Z_]+@"))),
                     qPrintable(carriers[i]));
        }
    }

    // The desktop knows the windows as tl-configuration.desktop's, with the
    // icon theme's icon of that name, or the program's own when no theme has it.
    void identityOnTheDesktop()
    {
        QTemporaryDir icons;
        QVERIFY(QDir(icons.path()).mkpath(QStringLiteral("tltheme/48x48/apps")));
        QFile index(icons.filePath(QStringLiteral("tltheme/index.theme")));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write("[Icon Theme]\nName=tltheme\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n");
        index.close();
        QImage image(48, 48, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(icons.filePath(QStringLiteral("tltheme/48x48/apps/tl-configuration.png"))));
        const QStringList paths = QIcon::themeSearchPaths();
        const QString theme = QIcon::themeName();

        QIcon::setThemeSearchPaths({icons.path()});
        QIcon::setThemeName(QStringLiteral("tltheme"));
        StartEnvironment::setIdentity();
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("tl-configuration"));
        QCOMPARE(QGuiApplication::windowIcon().name(), QStringLiteral("tl-configuration"));
        QVERIFY(!QGuiApplication::windowIcon().pixmap(48, 48).isNull());

        QIcon::setThemeSearchPaths({icons.filePath(QStringLiteral("none"))});
        StartEnvironment::setIdentity();
        QCOMPARE(QGuiApplication::windowIcon().name(), QString());
        QVERIFY(!QGuiApplication::windowIcon().pixmap(48, 48).isNull());   // drawn by Qt's SVG plug-in
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(theme);
    }
};

QTEST_MAIN(TestPackage)
#include "test_package.moc"

#include "startenv.h"

#include "options.h"

#include <QByteArray>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QtGlobal>

#include <cstring>

// The resources of a static library are made known by hand, outside any
// namespace.
static void initIconResource()
{
    Q_INIT_RESOURCE(tlicon);
}

namespace StartEnvironment {

bool skipUnusedOpenGl()
{
    if (qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        return false;
    return qputenv("QT_XCB_GL_INTEGRATION", QByteArrayLiteral("none"));
}

QString programFolder()
{
    // The link's target is absolute, so the working directory plays no part.
    const QString file = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return file.isEmpty() ? QString() : QFileInfo(file).absolutePath();
}

QString pluginFolder()
{
    const QString folder = programFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/plugins");
}

bool commandLineAnswer(int argc, const char *const *argv, QString *text)
{
    bool help = false;
    bool version = false;
    for (int i = 1; i < argc; ++i) {
        help = help || std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
        version = version || std::strcmp(argv[i], "--version") == 0;
    }
    if (help) {
        *text = QStringLiteral(
                    "usage: tl-configuration [--help | --version] [Qt options]\n\n"
                    "%1 %2: service and configuration of TL-02 gas detectors on an RS-485\n"
                    "line (Modbus RTU).  A desktop program: it needs a display (X11 or Wayland);\n"
                    "tlctl does the same work on the command line.\n\n"
                    "  --help      this text\n"
                    "  --version   the program's version\n\n"
                    "Qt's own options (-platform NAME, -style NAME, ...) are taken as usual.\n"
                    "See tl-configuration(1).\n")
                    .arg(ProgramName, ProgramVersion);
    } else if (version) {
        *text = QStringLiteral("tl-configuration (%1) %2\n").arg(ProgramName, ProgramVersion);
    }
    return help || version;
}

void setIdentity()
{
    initIconResource();
    QGuiApplication::setDesktopFileName(QStringLiteral("tl-configuration"));
    QGuiApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tl-configuration"), QIcon(QStringLiteral(":/icons/tl-configuration.svg"))));
}

} // namespace StartEnvironment

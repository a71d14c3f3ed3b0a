#include "startenv.h"

#include <QByteArray>
#include <QFileInfo>
#include <QtGlobal>

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

} // namespace StartEnvironment

#include "startenv.h"

#include <QByteArray>
#include <QtGlobal>

namespace StartEnvironment {

bool skipUnusedOpenGl()
{
    if (qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        return false;
    return qputenv("QT_XCB_GL_INTEGRATION", QByteArrayLiteral("none"));
}

} // namespace StartEnvironment

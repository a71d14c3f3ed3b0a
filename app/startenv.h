// What the program sets in its own environment before the application
// object exists.
#pragma once

#include <QString>

namespace StartEnvironment {

// The program paints with QPainter only and never uses OpenGL, yet on X the
// xcb platform loads its GLX integration by default, and with it the GL
// driver libraries: about 50 MB more memory after start, and a slower start,
// with no visible difference.  Unless the user has chosen an integration
// (QT_XCB_GL_INTEGRATION set, even empty), none is loaded.
// Returns whether it changed the environment.
bool skipUnusedOpenGl();

// The folder the running program's file is in, as the kernel names it
// (/proc/self/exe): the folder QCoreApplication::applicationDirPath() gives
// once the application object exists, known already before it.  Empty when
// it cannot be told.
QString programFolder();

// The plug-ins shipped with a copy of the program (platform, serial port):
// "plugins" beside the program file, whatever the working directory is.  The
// platform plug-in is chosen while the application object is made, so the
// folder is added to the library path before that, which is why it is not
// asked of applicationDirPath().  Empty when the program's folder is unknown.
QString pluginFolder();

// --version and --help are answered from the command line alone, before the
// application object, which needs a display, exists.  Returns whether the
// arguments ask for one of them; `text` is then what to print.
bool commandLineAnswer(int argc, const char *const *argv, QString *text);

// Who the program is to the desktop, once the application object exists:
// the desktop entry it belongs to (tl-configuration.desktop) and the window
// icon, the installed theme's tl-configuration or else the program's own copy.
void setIdentity();

} // namespace StartEnvironment

// What the program sets in its own environment before the application
// object exists.
#pragma once

namespace StartEnvironment {

// The program paints with QPainter only and never uses OpenGL, yet on X the
// xcb platform loads its GLX integration by default, and with it the GL
// driver libraries: about 50 MB more memory after start, and a slower start,
// with no visible difference.  Unless the user has chosen an integration
// (QT_XCB_GL_INTEGRATION set, even empty), none is loaded.
// Returns whether it changed the environment.
bool skipUnusedOpenGl();

} // namespace StartEnvironment

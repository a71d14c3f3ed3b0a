// The tlctl commands.  run() is the whole program apart from setting up the
// streams and the application object, so tests can drive it in-process.
#pragma once

#include "console.h"

#include <QStringList>

namespace Tlctl {

// Runs one command line (the words after the program name) and returns the
// exit code.  Leaves `command` closed and the simulated detector stopped.
int run(const QStringList &words, Io &io);

} // namespace Tlctl

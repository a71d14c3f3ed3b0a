// The tlctl commands.  run() is the whole program apart from setting up the
// streams and the application object, so tests can drive it in-process.
#pragma once

#include "console.h"

#include <QStringList>

class Command;

namespace Tlctl {

// Runs one command line (the words after the program name) and returns the
// exit code.  Leaves `command` closed and the simulated detector stopped.
// `link`, when given, is the link the run works through (tests watch it);
// otherwise the run makes its own.
int run(const QStringList &words, Io &io, Command *link = nullptr);

} // namespace Tlctl

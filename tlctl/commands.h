// The tlctl commands.  run() is the whole program apart from setting up the
// streams and the application object, so tests can drive it in-process.
#pragma once

#include "console.h"

#include <QStringList>

class Command;

namespace Tlctl {

// Runs one command line (the words after the program name) and returns the
// exit code.  Leaves `command` closed and the simulated detector stopped.
// `link`, when given, is the link the run works through (tests watch it, a
// line's worker lends its own); otherwise the run makes its own.  A run on
// several lines (scan, read, backup with several ports) makes a link per
// line on a thread of its own and leaves `link` alone.
int run(const QStringList &words, Io &io, Command *link = nullptr);

} // namespace Tlctl

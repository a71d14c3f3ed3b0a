// The program's own link: the one detector its windows show.  It is the
// only global link; the windows (pages, dialogs, the main window) use it
// under the name `command`.  Nothing below the windows (the link library,
// the file formats, the journal, tlctl) reads it: those take the link they
// work on as an argument.
#pragma once

#include "command.h"

extern Command command;

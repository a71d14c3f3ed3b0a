#include "programlink.h"

Command command;

// --dry-run: what a run of the selection would do, printed on standard
// output; nothing is written.
#pragma once

#include "options.h"
#include "terminal_platform.h"

// The selection, each selected sector's neighbours present and missing and
// its ray range, the estimated time and the output folder. Exit status 0,
// or 2 where a real run would refuse.
int DryRun(TerminalPlatform& plat, const BatchOptions& o);

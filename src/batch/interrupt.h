// Ctrl-C handling shared by veltano-batch and its companion program.
#pragma once

// Ctrl-C asks the run to stop at its next check. A second Ctrl-C ends the
// process at once (the handler resets itself); no restart, so a pending
// y/N question returns.
void InstallInterruptHandler();

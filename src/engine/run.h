// The processing run: every selected sector to the session folder.
#pragma once

#include <string>

// Body of the worker thread. `st.working` is 1 when it starts and 0 when it
// returns, whichever way it ends. Stops early, writing nothing more and
// saying nothing more to the user, once st.stoprequest is set.
void ProcessData();

// Session folder of the current project: szDirPath + "/Session" + sesion.
std::string SessionFolder();

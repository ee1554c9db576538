#include "engine/run.h"

#include "terrain/state.h"

std::string SessionFolder() { return st.szDirPath + "/Session" + st.sesion; }

void ProcessData() { st.working = 0; }

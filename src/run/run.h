// The processing run: every selected sector to the session folder.
#pragma once

#include <string>

// Body of the worker thread. `st.working` is 1 when it starts and 0 when it
// returns, whichever way it ends. Reads the selection of the sector list,
// the project (szDirPath, sesion, cu_ext, proj_w/h, geoxi/geoyi and their
// validity) and the engine choice (reference_engine, shade_threads).
//
// Output files are compressed by helper threads while the next month is
// shaded and put on disk by the worker, in order, at its hour steps and at
// the sector's end (all of a sector's files are on disk, their error lines
// given, before the next sector starts); the files and the console lines
// are those of writing each file on the spot.
//
// Stops early once st.stoprequest is set: it checks at every hour step and
// before every file, and from then on writes no file, makes no platform()
// call, releases the per-sector buffers, waits for its helper threads and
// returns. The caller clears
// st.stoprequest before starting a run; the run never clears it, so a stop
// asked for before the worker got going is not lost.
void ProcessData();

// Session folder of the current project: szDirPath + "/Session" + sesion.
std::string SessionFolder();

// Output names inside the session folder.
std::string PackageName(const std::string& sector_id, int n);  // vto_package_<id>_<n>.vtp
std::string ElevationName(const std::string& sector_id);       // <id>.png

// Sector id of a list entry: the text without its four-character extension.
std::string SectorId(const std::string& entry);

// The long-job warning: minutes estimated for n sectors of w x h pixels,
// counted in 64 bits (99 x 99 sectors of 600 x 600 overflow 32 bits).
double EstimateMinutes(int n, int w, int h);

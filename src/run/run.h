// The processing run: every selected sector to the session folder.
#pragma once

#include <string>
#include <string_view>

// Body of the worker thread. `st.working` is 1 when it starts and 0 when it
// returns, whichever way it ends. Reads the selection of the sector list,
// the project (szDirPath, sesion, cu_ext, proj_w/h, geoxi/geoyi and their
// validity) and the engine choice (reference_engine, shade_threads).
//
// Output files are compressed by helper threads while the next month is
// shaded and put on disk by the worker, in order, at its hour steps and at
// the sector's end (all of a sector's files are on disk, their error lines
// given, before the next sector starts, and before the sector's first hour
// step, which may give its height warnings); the files and the console
// lines are those of writing each file on the spot.
//
// A session folder that cannot be made ("ERROR creating session folder
// <path>: <reason>") or a coordinates file that cannot be written ("ERROR
// saving pr_data.vtd") is reported on the console and sets finderror, like
// a package that cannot be written; the run goes on.
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

// Output names inside the session folder, the one pattern the run writes
// and the session check reads: "vto_package_<id>_<n>.vtp" and "<id>.png".
inline constexpr std::string_view kPackagePrefix = "vto_package_";
inline constexpr std::string_view kPackageSuffix = ".vtp";
inline constexpr std::string_view kElevationSuffix = ".png";
std::string PackageName(const std::string& sector_id, int n);
std::string ElevationName(const std::string& sector_id);

// Sector id of a list entry: the text without its four-character extension.
std::string SectorId(const std::string& entry);

// The long-job warning: minutes estimated for n sectors of w x h pixels,
// counted in 64 bits (99 x 99 sectors of 600 x 600 overflow 32 bits).
double EstimateMinutes(int n, int w, int h);

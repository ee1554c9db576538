// The processing run: every selected sector to the session folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
// returns. With st.resume set, the run first removes the session folder's
// leftover temporary files (one console line each) and skips every sector
// whose outputs already pass verify's checks ("Sector <id> already
// complete, skipped"); the others are made as usual. The caller clears
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

// Seconds of one shading thread per pixel and hour step over a whole run,
// loading the neighbourhood and writing the files included. Measured on
// the 2-core build machine (Release, fast engine, avx2 kernel): on the
// project of `veltano-bench --make-project`, `veltano-batch --quiet --yes
// --lon 1 --lat 40 --sectors 0202 --threads 1` (600 x 600, 139 steps,
// 50,040,000 pixel-steps) took 2.62 s of processor time, 5.2e-8 s per
// pixel-step (veltano-bench alone: 1.45 s for the shading). Processor
// time, not the wall clock: the machine was shared while measuring. The
// demo's nine 200 x 200 sectors come out at about 1.3 s on two threads.
inline constexpr double kSecondsPerPixelStep = 5.2e-8;

// The long-job estimate in minutes for n sectors of w x h pixels at
// `latitude` degrees, shaded on `threads` threads (0: all cores): pixels x
// the year's hour steps x kSecondsPerPixelStep / threads, the pixels
// counted in 64 bits (99 x 99 sectors of 600 x 600 overflow 32 bits).
double EstimateMinutes(int64_t n, int w, int h, double latitude, int threads);

// What the last run did with each sector it reached, in order, for the
// reports of the front ends. Filled as the run goes; read it once
// ProcessData has returned (or from the worker's own thread).
struct SectorOutcome {
  enum class Status { kDone, kSkipped, kStopped };
  std::string id;
  Status status = Status::kStopped;
  int32_t range = -1;  // ray range; -1 when the neighbourhood was not loaded
  double seconds = 0;
  int files = 0;  // the sector's outputs in the session folder at its end
};
struct RunSummary {
  double estimated_minutes = 0;  // of the run's selection, 0 before the checks
  std::vector<SectorOutcome> sectors;
};
const RunSummary& LastRun();

// The sixteen packages and the elevation image of a sector that exist in
// `folder`, and whether all of them pass verify's checks.
int SectorFilesPresent(const std::string& folder, const std::string& sector_id);
bool SectorComplete(const std::string& folder, const std::string& sector_id);

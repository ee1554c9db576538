#include "run/run.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "catalogue/coords_file.h"
#include "catalogue/heights.h"
#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "engine/accumulate.h"
#include "engine/row_pool.h"
#include "engine/shade.h"
#include "platform/platform.h"
#include "run/output.h"
#include "run/verify.h"
#include "solar/solar.h"
#include "terrain/file.h"
#include "terrain/graph.h"
#include "terrain/state.h"

namespace {

constexpr const char* kNoSelection = "There are no selected files to process in the list";
constexpr const char* kBadCoordinates = "Longitud and Latitude must be a valid value";
constexpr const char* kIndexError = "Fatal error allocating index of files to process";
constexpr const char* kLongJob =
    "Warning! Depending the size of your data, selecting too many sectors to process could take "
    "long time.\n We recommend process the data in various steps.\n Estimated time: ";
constexpr const char* kPreliminary = "Preliminary tasks (This could take few seconds)...";

bool StopRequested() { return st.stoprequest.load(); }

RunSummary g_summary;

// Clears `working` however ProcessData is left, a fatal path's exception in
// the tests included.
struct WorkingReset {
  WorkingReset() = default;
  WorkingReset(const WorkingReset&) = delete;
  WorkingReset& operator=(const WorkingReset&) = delete;
  ~WorkingReset() { st.working = 0; }
};

// Releases what a run or a sector holds however it is left: a stopped run
// leaves nobody to release the buffers later. Shading() marks the point
// from which the engine holds a sector; Finished() a sector that ended
// normally, whose buffers the next sector or the run's end reuses.
class SectorRelease {
 public:
  SectorRelease() = default;
  SectorRelease(const SectorRelease&) = delete;
  SectorRelease& operator=(const SectorRelease&) = delete;
  ~SectorRelease() {
    if (shading_) ShadeEndSector();
    if (!finished_) {
      CleanSurfaces();
      ReleaseCounters();
    }
  }
  void Shading() { shading_ = true; }
  void Finished() { finished_ = true; }

 private:
  bool shading_ = false, finished_ = false;
};

void SetCoordinateControls(bool locked) {
  platform().SetReadOnly(ctl::kLongitude, locked);
  platform().SetReadOnly(ctl::kLatitude, locked);
  platform().SetEnabled(ctl::kFileType, !locked);
}

// What every sector of a run shares, and where it stands.
struct SectorJob {
  std::string entry, folder, id;
  int32_t i = 0, n = 0;  // the sector's place in the selection
  double phi = 0;
  int32_t S_tot = 0;
  int32_t R = 0;     // ray range, once the neighbourhood is loaded
  int32_t done = 0;  // hour steps shaded
  uint8_t warnflags = 0;
};

// The neighbourhood and the ray range. False when a stop was seen.
bool Preliminaries(SectorJob& job) {
  platform().SetStatusText(kPreliminary);
  if (StopRequested()) return false;
  matriz_entorno(job.entry);
  Inicia_BuildEntorno(st.szDirPath + "/" + job.entry);
  job.R = SelecRango();
  return !StopRequested();
}

std::string PackagePath(const SectorJob& job, int n) { return job.folder + "/" + PackageName(job.id, n); }
std::string ElevationPath(const SectorJob& job) { return job.folder + "/" + ElevationName(job.id); }

// The packed counts of months 0-3 and 4-7 are final once their last month
// is in them: compressed while the rest of the year is shaded, they do not
// hold up the sector's end.
void PrepareFinished(const SectorJob& job, int32_t m, RunOutput& out) {
  if (m % 4 != 3 || m == 11) return;
  const int p = 13 + m / 4;
  out.Prepare(PackagePath(job, p), MonthImage(m), p);
}

// Shades month m hour by hour and hands its package over. False when a
// stop was seen.
bool ShadeMonth(SectorJob& job, SectorShading& sector, int32_t m, RunOutput& out) {
  const SolarDayRec day = SolarDay(15 + kMonthStart[m], job.phi);
  uint32_t b = 1;
  for (int32_t k = 0; k < day.steps; ++k) {
    // The files of earlier months that are ready go to disk here, at a
    // point where the run looks for a stop anyway. Before the sector's
    // first step, which may give the height warnings, all of them: their
    // failure lines come first, as when each file is written on the spot.
    if (StopRequested() || !out.Commit(job.done == 0)) return false;
    ShadeHour(sector, SunPosition(day, k), job.R, job.id, job.warnflags, m, b);
    HourStepFrame();
    // The elevation image is complete after the sector's first step.
    if (++job.done == 1) out.Prepare(ElevationPath(job), st.elev2png.get(), RunOutput::kElevation);
    platform().SetProgress(ProgressPosition(job.i, job.n, job.done, job.S_tot));
    b <<= 1;
  }
  ShadeMonthEnd(sector, m);
  if (StopRequested()) return false;
  if (!out.Add(PackagePath(job, m), st.shoras.get(), m)) return false;
  PrepareFinished(job, m, out);
  ShadeClearMonth(sector);
  return true;
}

// Packages 12 to 15 and the elevation image, all on disk and their console
// lines given before the next sector can say anything or end the process.
bool WriteYearEnd(const SectorJob& job, SectorShading& sector, RunOutput& out) {
  ShadeYearEnd(sector);
  SDL_Surface* const counts[4] = {st.sfsuma.get(), st.sfwhsinf.get(), st.sfwhscen.get(), st.sfwhssup.get()};
  for (int p = 12; p <= 15; ++p)
    if (!out.Add(PackagePath(job, p), counts[p - 12], p)) return false;
  return out.Add(ElevationPath(job), st.elev2png.get(), RunOutput::kElevation) &&
         out.Commit(true);
}

// Shades and writes one sector. Returns false when a stop was seen, with
// the sector's buffers already released; the caller then leaves without
// another word to the user.
bool ProcessSector(SectorJob& job, RunOutput& out) {
  SectorRelease release;
  if (!Preliminaries(job)) return false;

  SectorStartFrame();
  platform().SetStatusText("Processing sector " + job.id);
  SetCoordinateControls(true);
  SectorShading sector(job.S_tot);
  release.Shading();
  for (int32_t m = 0; m < 12; ++m)
    if (!ShadeMonth(job, sector, m, out)) return false;
  if (!WriteYearEnd(job, sector, out)) return false;
  release.Finished();
  return true;
}

// The checks before anything is committed: the selection, the coordinates
// and, for a long job, the user's consent. Fills `index`; false (after one
// box at most) when the run is not to go ahead.
bool ReadyToStart(std::vector<int>& index) {
  const int32_t n = platform().ListSelectedCount();
  if (n <= 0) {
    platform().MessageBox(kNoSelection, "Error", BoxIcon::Warning, BoxButtons::Ok, true);
    return false;
  }
  if (st.val_long != 1 || st.val_lat != 1) {
    platform().MessageBox(kBadCoordinates, "Error", BoxIcon::Warning, BoxButtons::Ok, true);
    return false;
  }
  index = platform().ListSelectedIndices();
  if (static_cast<int32_t>(index.size()) != n) {
    platform().MessageBox(kIndexError, "Error", BoxIcon::Error, BoxButtons::Ok, true);
    return false;
  }
  const double e = EstimateMinutes(n, st.proj_w, st.proj_h, st.geoyi, st.shade_threads);
  g_summary.estimated_minutes = e;
  if (e > 10.0 && n > 1) {
    char minutes[64];
    std::snprintf(minutes, sizeof minutes, "%.2f", e);
    const BoxResult answer = platform().MessageBox(std::string(kLongJob) + minutes + " minutes", "Warning!",
                                                   BoxIcon::Warning, BoxButtons::OkCancel, true);
    if (answer != BoxResult::Ok) return false;
  }
  return !StopRequested();
}

// The session folder, usually there already (same day, same folder). One
// that cannot be made is named with the reason, so that the package errors
// that follow are explained.
void MakeSessionFolder(const std::string& folder) {
  if (mkdir(folder.c_str(), 0777) == 0) return;
  int err = errno;
  if (err == EEXIST) {
    if (DirectoryExists(folder)) return;
    err = ENOTDIR;
  }
  toconsole("ERROR creating session folder " + folder + ": " + std::strerror(err));
  st.finderror = 1;
}

// A resumed run starts from whole files only: what an earlier run left
// under a temporary name goes, each named on the console.
void RemoveLeftovers(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> leftovers;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (IsTempName(entry.path().filename().string())) leftovers.push_back(entry.path());
  for (const fs::path& p : leftovers) {
    if (fs::remove(p, ec))
      toconsole("Removed leftover temporary file " + p.filename().string());
  }
}

// One sector of the run, its outcome recorded: skipped when resuming and
// its outputs are whole already, else made. False when a stop was seen.
bool RunSector(SectorJob job, RunOutput& out) {
  SectorOutcome& o = g_summary.sectors.emplace_back();
  o.id = job.id = SectorId(job.entry);
  const auto start = std::chrono::steady_clock::now();
  bool go_on = true;
  if (st.resume && SectorComplete(job.folder, job.id)) {
    o.status = SectorOutcome::Status::kSkipped;
    toconsole("Sector " + job.id + " already complete, skipped");
    platform().SetProgress(ProgressPosition(job.i, job.n, job.S_tot, job.S_tot));
  } else {
    go_on = ProcessSector(job, out);
    o.range = job.R > 0 ? job.R : -1;
    if (go_on) o.status = SectorOutcome::Status::kDone;
  }
  o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  o.files = SectorFilesPresent(job.folder, job.id);
  return go_on;
}

// The run's start: flags cleared, the session folder and the coordinates
// file written, failures reported like those of the packages.
void CommitStart(const std::string& folder) {
  st.finderror = 0;
  st.glbwarning = 0;
  MakeSessionFolder(folder);
  if (st.resume) RemoveLeftovers(folder);
  if (!WriteCoordinatesFile(st.szDirPath + "/" + kCoordinatesFile, st.geoxi, st.geoyi)) {
    toconsole(std::string("ERROR saving ") + kCoordinatesFile);
    st.finderror = 1;
  }
  platform().SetProgress(0);
}

// The report, then the controls handed back.
void FinishRun(const std::string& folder) {
  platform().CompletionDialog({folder, st.finderror != 0, st.glbwarning != 0});
  st.finderror = 0;
  if (!StopRequested()) {
    platform().SetStatusText("");
    SetCoordinateControls(false);
  }
}

}  // namespace

std::string SessionFolder() { return st.szDirPath + "/Session" + st.sesion; }

std::string PackageName(const std::string& sector_id, int n) {
  return std::string(kPackagePrefix) + sector_id + "_" + std::to_string(n) + std::string(kPackageSuffix);
}

std::string ElevationName(const std::string& sector_id) { return sector_id + std::string(kElevationSuffix); }

std::string SectorId(const std::string& entry) {
  return entry.size() > 4 ? entry.substr(0, entry.size() - 4) : entry;
}

double EstimateMinutes(int64_t n, int w, int h, double latitude, int threads) {
  const int64_t pixel_steps = n * w * h * DaylightSteps(deg2rad(latitude));
  return static_cast<double>(pixel_steps) * kSecondsPerPixelStep / ShadeThreadCount(threads) / 60.0;
}

const RunSummary& LastRun() { return g_summary; }

int SectorFilesPresent(const std::string& folder, const std::string& sector_id) {
  int present = 0;
  struct stat sb {};
  for (int p = 0; p <= 16; ++p) {
    const std::string name = p < 16 ? PackageName(sector_id, p) : ElevationName(sector_id);
    if (stat((folder + "/" + name).c_str(), &sb) == 0 && S_ISREG(sb.st_mode)) ++present;
  }
  return present;
}

bool SectorComplete(const std::string& folder, const std::string& sector_id) {
  if (SectorFilesPresent(folder, sector_id) != 17) return false;
  return VerifySector(folder, sector_id, [](const std::string&) {}).problems == 0;
}

void ProcessData() {
  WorkingReset reset;
  g_summary = RunSummary();
  if (StopRequested()) return;
  SectorJob job;
  job.phi = deg2rad(st.geoyi);
  std::vector<int> index;
  if (!ReadyToStart(index)) return;

  const std::string folder = SessionFolder();
  CommitStart(folder);
  job.folder = folder;
  job.n = static_cast<int32_t>(index.size());
  job.S_tot = DaylightSteps(job.phi);

  // Whichever way the run ends its buffers are released, and (declared
  // after) the writer goes first: nothing is written once it is gone.
  SectorRelease release;
  RunOutput output(ShadeThreadCount(st.shade_threads));
  for (job.i = 0; job.i < job.n; ++job.i) {
    if (StopRequested()) return;
    job.entry = platform().ListText(index[job.i]);
    if (!RunSector(job, output)) return;
  }
  if (StopRequested()) return;
  FinishRun(folder);
}

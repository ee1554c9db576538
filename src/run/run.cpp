#include "run/run.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "catalogue/heights.h"
#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "engine/row_pool.h"
#include "run/output.h"
#include "engine/shade.h"
#include "solar/solar.h"
#include "platform/platform.h"
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

// Clears `working` however ProcessData is left, a fatal path's exception in
// the tests included.
struct WorkingReset {
  WorkingReset() = default;
  WorkingReset(const WorkingReset&) = delete;
  WorkingReset& operator=(const WorkingReset&) = delete;
  ~WorkingReset() { st.working = 0; }
};

// The way out of a stopped run: the sector's buffers go now, since nobody
// may be left to release them, and nothing more reaches the user.
void ReleaseSector(bool sector_begun) {
  if (sector_begun) ShadeEndSector();
  CleanSurfaces();
  ReleaseCounters();
}

void SetCoordinateControls(bool locked) {
  platform().SetReadOnly(ctl::kLongitude, locked);
  platform().SetReadOnly(ctl::kLatitude, locked);
  platform().SetEnabled(ctl::kFileType, !locked);
}

// Shades and writes one sector. Returns false when a stop was seen, with
// the sector's buffers already released; the caller then leaves without
// another word to the user.
bool ProcessSector(const std::string& entry, const std::string& folder, int32_t i, int32_t n,
                   double phi, int32_t S_tot, RunOutput& out) {
  const std::string id = SectorId(entry);
  const std::string path = st.szDirPath + "/" + entry;

  platform().SetStatusText(kPreliminary);
  if (StopRequested()) {
    ReleaseSector(false);
    return false;
  }
  matriz_entorno(entry);
  Inicia_BuildEntorno(path);
  const int32_t R = SelecRango();
  if (StopRequested()) {
    ReleaseSector(false);
    return false;
  }

  SectorStartFrame();
  platform().SetStatusText("Processing sector " + id);
  SetCoordinateControls(true);

  SectorShading sector(S_tot);
  int32_t done = 0;
  uint8_t warnflags = 0;
  for (int32_t m = 0; m < 12; ++m) {
    const SolarDayRec day = SolarDay(15 + kMonthStart[m], phi);
    uint32_t b = 1;
    for (int32_t k = 0; k < day.steps; ++k) {
      // The files of earlier months that are ready go to disk here, at a
      // point where the run looks for a stop anyway.
      if (StopRequested() || !out.Commit(false)) {
        ReleaseSector(true);
        return false;
      }
      const SunPos sun = SunPosition(day, k);
      ShadeHour(sector, sun, R, id, warnflags, m, b);
      HourStepFrame();
      ++done;
      platform().SetProgress(ProgressPosition(i, n, done, S_tot));
      b <<= 1;
    }
    ShadeMonthEnd(sector, m);
    if (StopRequested()) {
      ReleaseSector(true);
      return false;
    }
    if (!out.Add(folder + "/" + PackageName(id, m), st.shoras.get(), m)) {
      ReleaseSector(true);
      return false;
    }
    ShadeClearMonth(sector);
  }

  ShadeYearEnd(sector);
  SDL_Surface* const counts[4] = {st.sfsuma.get(), st.sfwhsinf.get(), st.sfwhscen.get(),
                                  st.sfwhssup.get()};
  for (int p = 12; p <= 15; ++p) {
    if (!out.Add(folder + "/" + PackageName(id, p), counts[p - 12], p)) {
      ReleaseSector(true);
      return false;
    }
  }
  // The sector's files all on disk, and their console lines given, before
  // the next sector can say anything or end the process.
  if (!out.Add(folder + "/" + ElevationName(id), st.elev2png.get(), RunOutput::kElevation) || !out.Commit(true)) {
    ReleaseSector(true);
    return false;
  }
  ShadeEndSector();
  return true;
}

}  // namespace

std::string SessionFolder() { return st.szDirPath + "/Session" + st.sesion; }

std::string PackageName(const std::string& sector_id, int n) {
  return "vto_package_" + sector_id + "_" + std::to_string(n) + ".vtp";
}

std::string ElevationName(const std::string& sector_id) { return sector_id + ".png"; }

std::string SectorId(const std::string& entry) {
  return entry.size() > 4 ? entry.substr(0, entry.size() - 4) : entry;
}

double EstimateMinutes(int n, int w, int h) {
  // Whole blocks of 10,000 pixels first, then 0.28 minutes per block.
  const int64_t blocks = static_cast<int64_t>(n) * w * h / 10000;
  return static_cast<double>(blocks) * 0.28;
}

void ProcessData() {
  WorkingReset reset;
  if (StopRequested()) return;

  // Start: what the run needs, or a refusal that touches nothing else.
  const double phi = deg2rad(st.geoyi);
  const int32_t W = st.proj_w, H = st.proj_h;
  const int32_t n = platform().ListSelectedCount();
  if (n <= 0) {
    platform().MessageBox(kNoSelection, "Error", BoxIcon::Warning, BoxButtons::Ok, true);
    return;
  }
  if (st.val_long != 1 || st.val_lat != 1) {
    platform().MessageBox(kBadCoordinates, "Error", BoxIcon::Warning, BoxButtons::Ok, true);
    return;
  }
  const std::vector<int> index = platform().ListSelectedIndices();
  if (static_cast<int32_t>(index.size()) != n) {
    platform().MessageBox(kIndexError, "Error", BoxIcon::Error, BoxButtons::Ok, true);
    return;
  }
  const double e = EstimateMinutes(n, W, H);
  if (e > 10.0 && n > 1) {
    char minutes[64];
    std::snprintf(minutes, sizeof minutes, "%.2f", e);
    const BoxResult answer =
        platform().MessageBox(std::string(kLongJob) + minutes + " minutes", "Warning!",
                              BoxIcon::Warning, BoxButtons::OkCancel, true);
    if (answer != BoxResult::Ok) return;
  }
  if (StopRequested()) return;

  // Committed: flags, session folder, coordinates file.
  st.finderror = 0;
  st.glbwarning = 0;
  const std::string folder = SessionFolder();
  mkdir(folder.c_str(), 0777);  // usually exists already: same day, same folder
  WriteCoordinatesFile(st.szDirPath + "/" + kCoordinatesFile, st.geoxi, st.geoyi);
  platform().SetProgress(0);
  const int32_t S_tot = DaylightSteps(phi);

  // Files are compressed while the next month is shaded; whichever way the
  // run ends, nothing is written once this is gone.
  RunOutput output(ShadeThreadCount(st.shade_threads));
  for (int32_t i = 0; i < n; ++i) {
    if (StopRequested()) {
      ReleaseSector(false);
      return;
    }
    const std::string entry = platform().ListText(index[i]);
    if (!ProcessSector(entry, folder, i, n, phi, S_tot, output)) return;
  }
  if (StopRequested()) {
    ReleaseSector(false);
    return;
  }

  // End: report, then hand the controls back.
  platform().CompletionDialog({folder, st.finderror != 0, st.glbwarning != 0});
  st.finderror = 0;
  if (!StopRequested()) {
    platform().SetStatusText("");
    SetCoordinateControls(false);
  }
  CleanSurfaces();
  ReleaseCounters();
}

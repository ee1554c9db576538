#include "dry_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "catalogue/heights.h"
#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "engine/row_pool.h"
#include "run/run.h"
#include "terrain/state.h"

namespace {

// The loaders' own trace goes to standard output; a dry run keeps that
// for its report.
class MuteStdout {
 public:
  MuteStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  ~MuteStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  MuteStdout(const MuteStdout&) = delete;
  MuteStdout& operator=(const MuteStdout&) = delete;

 private:
  int saved_ = -1;
};

// One sector's line: its neighbours as the run would load them and its ray
// range, the neighbourhood released again.
std::string SectorLine(const std::string& entry, const std::string& folder, bool resume) {
  const std::string id = SectorId(entry);
  if (resume && SectorComplete(folder, id)) return "sector " + id + ": already complete, would be skipped";
  int32_t range = 0;
  {
    MuteStdout mute;
    matriz_entorno(entry);
    Inicia_BuildEntorno(st.szDirPath + "/" + entry);
    range = SelecRango();
  }
  std::string present, missing;
  for (const int cell : kNeighbourCells) {
    if (CellColumnCode(cell).empty() || CellRowNumber(cell) == 0) continue;
    const std::string name = SectorId(NeighbourName(CellColumnCode(cell), CellRowNumber(cell), st.admext));
    (st.matflgarea[cell] == 1 ? present : missing) += " " + name;
  }
  CleanSurfaces();
  ReleaseCounters();
  return "sector " + id + ": range " + std::to_string(range) + "; neighbours present:" +
         (present.empty() ? " none" : present) + "; missing:" + (missing.empty() ? " none" : missing);
}

}  // namespace

int DryRun(TerminalPlatform& plat, const BatchOptions& o) {
  const std::vector<int> index = plat.ListSelectedIndices();
  const int n = static_cast<int>(index.size());
  if (st.val_long != 1 || st.val_lat != 1) {
    plat.Say("veltano-batch: Longitud and Latitude must be a valid value");
    return kExitRefused;
  }
  const std::string folder = SessionFolder();
  std::printf("dry run: %d sector%s of %dx%d, longitude %f, latitude %f\n", n, n == 1 ? "" : "s", st.proj_w,
              st.proj_h, st.geoxi, st.geoyi);
  for (const int i : index) std::printf("%s\n", SectorLine(plat.ListText(i), folder, o.resume).c_str());
  const int threads = ShadeThreadCount(st.shade_threads);
  const double e = EstimateMinutes(n, st.proj_w, st.proj_h, st.geoyi, threads);
  const bool asks = e > 10.0 && n > 1;
  std::printf("estimated time: %.2f minutes on %d shading thread%s%s\n", e, threads, threads == 1 ? "" : "s",
              asks ? " (the long-job warning would ask)" : "");
  std::printf("output folder: %s%s\n", folder.c_str(), DirectoryExists(folder) ? "" : " (would be created)");
  std::printf("nothing written (dry run)\n");
  std::fflush(stdout);
  // Without --yes and without a terminal to answer, the real run stops at
  // the long-job warning.
  return asks && !o.yes && isatty(STDIN_FILENO) != 1 ? kExitRefused : kExitDone;
}

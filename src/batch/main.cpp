// veltano-batch: the processing run from a terminal, for many sectors,
// scripts and servers; and `verify`, the check of a session folder before
// upload.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "run/run.h"
#include "run/session.h"
#include "run/verify.h"
#include "dry_run.h"
#include "interrupt.h"
#include "options.h"
#include "summary.h"
#include "terminal_platform.h"
#include "terrain/graph.h"
#include "terrain/state.h"

namespace {

std::string StripTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The summary file of --json, when asked for; a summary that cannot be
// written turns a clean exit into the errors status.
int WithSummary(const std::string& path, const std::string& text, int code) {
  if (path.empty() || WriteSummary(path, text)) return code;
  std::fprintf(stderr, "veltano-batch: cannot write the summary %s\n", path.c_str());
  return code == kExitDone ? kExitErrors : code;
}

int Verify(const BatchOptions& o) {
  const std::string& dir = o.dir;
  std::vector<std::string> problems;
  // The report is the command's output proper: standard output.
  const VerifyResult r = VerifySession(dir, [&](const std::string& line) {
    std::printf("problem: %s\n", line.c_str());
    problems.push_back(line);
  });
  std::printf("verify %s: %d sector%s, %d file%s checked, %d problem%s\n", dir.c_str(), r.sectors,
               r.sectors == 1 ? "" : "s", r.files, r.files == 1 ? "" : "s", r.problems,
               r.problems == 1 ? "" : "s");
  std::fflush(stdout);
  SummaryHead head = VerifyHead(dir);
  head.exit_status = r.problems == 0 ? kExitDone : kExitErrors;
  return WithSummary(o.json, VerifyJson(head, problems, r.sectors, r.files), head.exit_status);
}

// Selects the sectors named on the command line; false at the first name
// the scan did not admit.
bool SelectSectors(TerminalPlatform& plat, const std::vector<std::string>& sectors) {
  if (sectors.empty()) {
    plat.ListSelectAll(true);
    return true;
  }
  for (const std::string& s : sectors) {
    const std::string name = s.find('.') == std::string::npos ? s + st.admext : s;
    const int index = plat.ListFindExact(name);
    if (index < 0) {
      plat.Say("veltano-batch: unknown sector '" + s + "': not among the admitted " + st.admext + " rasters");
      return false;
    }
    plat.ListSelect(index, true);
  }
  return true;
}

// The project state the options choose.
void ApplyOptions(const BatchOptions& o) {
  st.sesion = o.session_id.empty() ? MakeSessionId(std::time(nullptr)) : o.session_id;
  st.cu_ext = static_cast<uint8_t>(o.type);
  st.admext = st.list_ext[st.cu_ext];
  st.szDirPath = StripTrailingSlashes(o.dir);
  st.reference_engine = o.reference;
  st.shade_threads = o.threads;
  st.resume = o.resume;
}

// Scans the work directory, takes the coordinates and selects the sectors
// to run. False, with the reason said, when there is nothing to run.
bool PrepareProject(TerminalPlatform& plat, const BatchOptions& o) {
  if (!DirectoryExists(st.szDirPath)) {
    plat.Say("veltano-batch: " + o.dir + ": not a directory");
    return false;
  }
  if (!listdirect(st.szDirPath, st.admext)) {
    plat.Say("veltano-batch: There are no files to process in the directory " + st.szDirPath);
    return false;
  }
  if (o.has_coords) {
    st.geoxi = o.lon;
    st.geoyi = o.lat;
    st.val_long = 1;
    st.val_lat = 1;
  } else if (st.val_long != 1 || st.val_lat != 1) {
    plat.Say("veltano-batch: no " + std::string(kCoordinatesFile) + " in the work directory; give --lon and --lat");
  }
  return SelectSectors(plat, o.sectors);
}

// "12.3 s" under a minute, else "4.56 minutes".
std::string Duration(double seconds) {
  char buf[64];
  if (seconds < 60.0)
    std::snprintf(buf, sizeof buf, "%.1f s", seconds);
  else
    std::snprintf(buf, sizeof buf, "%.2f minutes", seconds / 60.0);
  return buf;
}

// Runs the selected sectors and turns the outcome into the exit status;
// `seconds` is the run's time.
int RunSelected(TerminalPlatform& plat, double& seconds) {
  const int n = plat.ListSelectedCount();
  char line[512];
  std::snprintf(line, sizeof line, "veltano-batch: %d sector%s of %dx%d, longitude %f, latitude %f, into %s", n,
                n == 1 ? "" : "s", st.proj_w, st.proj_h, st.geoxi, st.geoyi, SessionFolder().c_str());
  plat.Say(line);

  plat.StartRun(n);
  st.working = 1;
  const auto start = std::chrono::steady_clock::now();
  ProcessData();
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  plat.EndProgress();

  // A Ctrl-C that comes after the completion report stopped nothing: the
  // run is done and says so.
  const std::vector<CompletionReport> done = plat.completions();
  if (done.empty() && st.stoprequest.load()) {
    plat.Say("veltano-batch: stopped; every file written so far is complete");
    return kExitStopped;
  }
  if (done.empty()) return kExitRefused;
  plat.Say("veltano-batch: estimated " + Duration(LastRun().estimated_minutes * 60.0) + ", took " + Duration(seconds));
  return done.back().finderror ? kExitErrors : kExitDone;
}

int Process(const BatchOptions& o) {
  TerminalPlatform plat(o.quiet, o.yes);
  SetPlatform(&plat);
  // A terminal program: the graph window goes to SDL's dummy driver.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  Inicia_SDL();
  PrepareWatermark();
  InstallInterruptHandler();

  ApplyOptions(o);
  int code = kExitRefused;
  double seconds = 0;
  if (PrepareProject(plat, o)) code = o.dry_run ? DryRun(plat, o) : RunSelected(plat, seconds);
  plat.EndProgress();
  if (!o.dry_run) {
    const SummaryHead head{st.szDirPath, st.sesion, st.val_long == 1 && st.val_lat == 1, st.geoxi, st.geoyi, code};
    code = WithSummary(o.json, RunJson(head, LastRun(), plat.run_lines(), seconds), code);
  }
  CloseGraph();
  SetPlatform(nullptr);
  return code;
}

// `import` and `preview` are run by the companion program next to this one,
// with the same command line; it comes back only when that cannot start.
int RunCompanion(char** argv) {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::string companion = (self.parent_path() / "veltano-batch-tools").string();
  std::fflush(stdout);
  execv(companion.c_str(), argv);
  std::fprintf(stderr, "veltano-batch: cannot start %s: %s\n", companion.c_str(), std::strerror(errno));
  return kExitRefused;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "import") return RunCompanion(argv);
#if VDB_PREVIEW
  if (!args.empty() && args[0] == "preview") return RunCompanion(argv);
#endif
  std::string error;
  const std::optional<BatchOptions> o = ParseBatchArgs(args, error);
  if (!o) {
    std::fprintf(stderr, "veltano-batch: %s\n%s", error.c_str(), kUsage);
    return kExitRefused;
  }
  if (o->help) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (o->verify) return Verify(*o);
  return Process(*o);
}

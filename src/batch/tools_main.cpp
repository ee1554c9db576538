// veltano-batch-tools: `veltano-batch import` and `veltano-batch preview`,
// which veltano-batch hands over to this program. Kept apart so that the
// processing run does not load, at every start, the geodata and graphics
// libraries only these two commands use.

#include <cstdio>
#include <string>
#include <vector>

#include "import/import.h"
#include "interrupt.h"
#include "options.h"
#if VDB_PREVIEW
#include "preview/overview.h"
#endif
#include "terminal_platform.h"
#include "terrain/state.h"

namespace {

// `veltano-batch import ...`: an elevation model cut into a work directory.
int Import(const std::vector<std::string>& args) {
  std::string error;
  const std::optional<ImportOptions> o = ParseImportArgs(args, error);
  if (!o) {
    std::fprintf(stderr, "veltano-batch import: %s\nusage: %s", error.c_str(), kImportUsage);
    return kExitRefused;
  }
  if (o->help) {
    std::printf("usage: %s", kImportUsage);
    return kExitDone;
  }
  TerminalPlatform plat(o->quiet, false);
  plat.StartRun(1);
  InstallInterruptHandler();
  const ImportReport report{[&](const std::string& line) { plat.Say(line); },
                            [&](const std::string& line) { plat.Say("veltano-batch import: " + line); },
                            [&](int percent) { plat.SetProgress(percent); },
                            [] { return st.stoprequest.load(); }};
  const int code = RunImport(*o, report);
  plat.EndProgress();
  return code;
}

}  // namespace

// Started as veltano-batch's own command line: the command comes first.
int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::vector<std::string> rest(args.empty() ? args.end() : args.begin() + 1, args.end());
  if (!args.empty() && args[0] == "import") return Import(rest);
#if VDB_PREVIEW
  if (!args.empty() && args[0] == "preview") return PreviewCommand(rest);
#endif
  std::fprintf(stderr, "veltano-batch-tools: started by veltano-batch for its import and preview commands\n");
  return kExitRefused;
}

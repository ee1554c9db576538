// Import: any elevation model GDAL reads, cut into the sector rasters and
// the coordinates file of a work directory the program can process.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class ImportResampling { Bilinear, Cubic, Nearest };

struct ImportOptions {
  std::vector<std::string> dems;  // one or more rasters, mosaicked when several
  std::string workdir;
  int size = 600;    // sector side in pixels, 120..600
  bool png = false;  // false: 32-bit float TIFF; true: 24-bit RGB PNG in whole metres
  bool has_bounds = false;
  double xmin = 0, ymin = 0, xmax = 0, ymax = 0;  // in the DEM's coordinate system
  ImportResampling resampling = ImportResampling::Bilinear;
  bool overwrite = false;
  bool quiet = false;
  bool help = false;
};

// Parses the arguments after "import". On a usage error returns nullopt with
// the reason in `error`.
std::optional<ImportOptions> ParseImportArgs(const std::vector<std::string>& args, std::string& error);

extern const char* const kImportUsage;

// Where the import reports. `line`: the summary and warnings, one line each;
// `refusal`: the one line that explains a refusal or a stop; `progress`:
// percent done, 0..100, after each row of sectors; `stop` (may be empty):
// asked after each row of sectors, true ends the import there.
struct ImportReport {
  std::function<void(const std::string&)> line;
  std::function<void(const std::string&)> refusal;
  std::function<void(int)> progress;
  std::function<bool()> stop;
};

// Exit statuses of the import.
inline constexpr int kImportDone = 0;
inline constexpr int kImportRefused = 2;  // bad usage or bad input; nothing written
inline constexpr int kImportFailed = 4;   // a write failed; the files already written are whole
inline constexpr int kImportStopped = 130;  // stopped on request; the files already written are whole

// Imports `o.dems` into `o.workdir` (created when missing). Every check runs
// before the first file is written; each raster goes to a temporary name and
// is renamed when complete. Returns one of the exit statuses above.
int RunImport(const ImportOptions& o, const ImportReport& report);

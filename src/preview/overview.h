// The session overview: one north-up picture of every sector of a session
// folder, coloured by the share of hour steps each pixel is shaded, over a
// hillshade of the elevation images.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PreviewOptions {
  std::string session_dir;  // WORKDIR/Session<id>
  std::string output;       // empty: <session_dir>/overview.png
  int month = -1;           // -1: the year; 0..11: that month alone
  bool hillshade = true;    // off: the share colours alone
};

struct PreviewResult {
  bool session = false;  // the folder is a session folder with a latitude and sectors
  bool written = false;  // the picture was written
  std::string error;     // why not, when either is false
  int sectors = 0;       // sectors drawn, whole or not
  int failed = 0;        // of them missing or failing verification
  int width = 0, height = 0;            // the picture
  int map_left = 0, map_top = 0;        // the map's top-left corner in it
  int cell_w = 0, cell_h = 0;           // one sector's cell, scaled
  int first_column = 0, last_row = 0;   // the sector at the map's top-left
};

// The longer side of the picture never exceeds this.
inline constexpr int kOverviewMaxSide = 4096;

// The colour of a shaded share 0..1 (as 0xRRGGBB) before the hillshade:
// red falls linearly with the share, so a region's mean red gives its mean
// share back.
uint32_t ShareColour(double share);

// Draws the overview and writes it as a plain PNG through the atomic
// writer. Sectors that are missing or fail verification are drawn grey and
// crossed; each is reported through `problem` as one line.
PreviewResult WriteSessionOverview(const PreviewOptions& options,
                                   const std::function<void(const std::string&)>& problem);

// The session folder the desktop program would show for a work directory:
// Session<session_id> when it exists, else the newest Session* folder;
// empty when there is none.
std::string FindSessionFolder(const std::string& workdir, const std::string& session_id);

// `veltano-batch preview ...`: the exit status (0 written, 4 written with
// sectors missing or failed, 2 bad usage or no session folder, 1 not
// written).
int PreviewCommand(const std::vector<std::string>& args);
extern const char* const kPreviewUsage;

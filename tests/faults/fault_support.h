// Kept while the old tests move to support.h.
#pragma once
#include "support/support.h"

namespace faults {
constexpr const char* kLon = "6.8694";
constexpr const char* kLat = "45.9237";
using ::BatchChild;
using ::BatchExe;
using ::Contains;
using ::CountLines;
using ::FolderBytes;
using ::OutputNames;
using ::Outcome;
using ::RunBatch;
using ::SessionProblems;
// The 3 x 3 grid 0101..0303 in `work`, PNG or float TIFF rasters.
inline void MakeGrid(const fs::path& work, bool tif = false, int size = 120) {
  MakeProject(work, 3, 3, size, tif ? ".tif" : ".png", [tif](int gx, int gy) {
    return 1000 + (static_cast<int>(Hill(gx, gy, 0, 0)) - 1000) / 4 + (tif ? 0.25 : 0.0);
  });
}
}  // namespace faults

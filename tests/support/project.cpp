// Needs the catalogue and run libraries: only programs that call these link
// this object.
#include <cmath>

#include "catalogue/coords_file.h"
#include "run/run.h"
#include "support/support.h"

void MakeProject(const fs::path& work, int cols, int rows, int size, const std::string& ext, const GridFn& height,
                 std::optional<std::pair<double, double>> lonlat) {
  const GridFn h = height ? height : [](int gx, int gy) { return static_cast<double>(Hill(gx, gy, 0, 0)); };
  for (int c = 1; c <= cols; ++c)
    for (int r = 1; r <= rows; ++r) {
      const int ox = (c - 1) * size, oy = (rows - r) * size;
      const fs::path path = work / SectorName(c, r, ext);
      if (ext == ".tif")
        WriteTiffFloat(path, size, size, [&](int x, int y) { return static_cast<float>(h(x + ox, y + oy)); });
      else
        WritePngRgb(path, size, size,
                    [&](int x, int y) { return static_cast<uint32_t>(std::lround(h(x + ox, y + oy))); });
    }
  if (lonlat) {
    ASSERT_TRUE(WriteCoordinatesFile((work / "pr_data.vtd").string(), lonlat->first, lonlat->second));
  }
}

std::set<std::string> OutputNames(const std::vector<std::string>& ids) {
  std::set<std::string> names;
  for (const std::string& id : ids) {
    for (int p = 0; p < 16; ++p) names.insert(PackageName(id, p));
    names.insert(ElevationName(id));
  }
  return names;
}

// Every committed fuzz corpus file, the inputs that once found faults
// included, replayed through the properties the fuzz targets check.
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "fuzz/properties.h"
#include "support/support.h"

namespace {

fs::path CorpusDir(const std::string& target) {
  const char* src = std::getenv("VDB_SOURCE_DIR");
  return fs::path(src ? src : VDB_DEFAULT_SOURCE_DIR) / "fuzz" / "corpus" / target;
}

TEST(CorpusReplay, EveryInputKeepsItsTargetsPromises) {
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  const std::pair<const char*, std::string (*)(const uint8_t*, size_t)> targets[] = {
      {"tiff_loader", TiffLoaderProperty}, {"png_loader", PngLoaderProperty},
      {"coords_file", CoordsFileProperty}, {"checklonlat", ChecklonlatProperty}};
  for (const auto& [target, property] : targets) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(CorpusDir(target))) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    EXPECT_GE(files.size(), 8u) << target;
    for (const fs::path& file : files) {
      const std::vector<uint8_t> bytes = ReadFileBytes(file);
      // In a child process: a crash or a hang fails this input only.
      EXPECT_TRUE(EndsWithin(10, [&] {
        std::freopen("/dev/null", "w", stdout);
        const std::string why = property(bytes.data(), bytes.size());
        if (!why.empty()) {
          std::fprintf(stderr, "%s\n", why.c_str());
          std::abort();
        }
      })) << target << "/" << file.filename().string() << " broke a promise, crashed or hung (see above)";
    }
  }
}

}  // namespace

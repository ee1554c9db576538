// Every committed fuzz corpus file, the inputs that once found faults
// included, replayed through the properties the fuzz targets check.
#include "fuzz/properties.h"
#include "support/support.h"

namespace {

// In process, as the fuzzer runs them: a crash, a hang or a program exit
// fails the test.
TEST(CorpusReplay, EveryInputKeepsItsTargetsPromises) {
  const std::pair<const char*, std::string (*)(const uint8_t*, size_t)> targets[] = {
      {"tiff_loader", TiffLoaderProperty}, {"png_loader", PngLoaderProperty},
      {"coords_file", CoordsFileProperty}, {"checklonlat", ChecklonlatProperty}};
  for (const auto& [target, property] : targets) {
    for (const auto& e : fs::directory_iterator(fs::path(VDB_DEFAULT_SOURCE_DIR) / "fuzz" / "corpus" / target)) {
      const std::vector<uint8_t> bytes = ReadFileBytes(e.path());
      EXPECT_EQ(property(bytes.data(), bytes.size()), "") << target << "/" << e.path().filename().string();
    }
  }
}

}  // namespace

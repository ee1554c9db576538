// The session-folder check: a run's folder passes, and each kind of damage
// gives its own problem line.

#include <gtest/gtest.h>

#include <functional>

#include "catalogue/coords_file.h"
#include "run/run.h"
#include "run/verify.h"
#include "support/support.h"
#include "terrain/file.h"

namespace {

// At latitude 40 January has 9 hour steps and February 10.
constexpr const char* kLat = "40";

// A package: a PNG (8-bit RGB unless `layout` says otherwise) with its
// signature replaced by the stamp.
void WritePackage(const fs::path& path, int w, int h, const HeightFn& f, const PngLayout& layout = {}) {
  WritePng(path, w, h, layout, [&](int x, int y, int c) { return (f(x, y) >> (16 - 8 * c)) & 0xFFu; });
  auto bytes = ReadFileBytes(path);
  std::copy_n("TSVLP", 5, bytes.begin());
  WriteFileBytes(path, bytes);
}

// Rewrites a package with `change` applied to its pixel values.
void EditPackage(const fs::path& path, const std::function<void(std::vector<uint32_t>&, int w)>& change) {
  auto image = ReadSessionImage(path.string(), true);
  ASSERT_TRUE(image);
  const int w = static_cast<int>(image->w);
  change(image->v, w);
  WritePackage(path, w, static_cast<int>(image->h), [&](int x, int y) { return image->v[y * w + x]; });
}

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeProject(work.path(), 1, 2, 120);
    ASSERT_EQ(RunBatch({"--lon", "6.87", "--lat", kLat, "--session-id", "P", "--quiet", work.str()}).code, 0);
  }
  fs::path Package(const std::string& id, int p) const { return session / PackageName(id, p); }
  TempDir work;
  const fs::path session = work.path() / "SessionV", pristine = work.path() / "SessionP";
};

TEST_F(VerifyTest, EachKindOfDamageIsReported) {
  struct Case {
    const char* label;
    std::function<void()> damage;
    std::vector<std::string> expect;  // parts of expected lines
  };
  const std::vector<Case> cases = {
      {"files damaged, each its own way",
       [&] {
         fs::remove(Package("0102", 7));
         fs::remove(session / "0101.png");
         WritePngRgb(Package("0101", 3), 120, 120, [](int x, int) { return x * 99u; });
         fs::resize_file(Package("0101", 4), fs::file_size(Package("0101", 4)) / 2);
         WritePackage(Package("0101", 5), 120, 120, [](int, int) { return 0u; }, {.colour_type = 0});
         WritePackage(Package("0102", 14), 121, 120, [](int, int) { return 0u; });
         // Unfinished temporary files, named as the writer names them.
         for (const fs::path& f : {Package("0101", 3), session / "0101.png"})
           WriteFileBytes(TempPathFor(f.string()), {1});
       },
       {"vto_package_0102_7.vtp: missing", "0101.png: missing",
        "vto_package_0101_3.vtp: does not start with the package stamp", "vto_package_0101_4.vtp: does not decode",
        "vto_package_0101_5.vtp: is not an 8-bit RGB image",
        "vto_package_0102_14.vtp: size 121x120 differs from the session's 120x120", ": an unfinished temporary file",
        ": an unfinished temporary file"}},
      {"pixels out of range: an hour bit at the month's step count, bits 20-23, a month count above its steps",
       [&] {
         EditPackage(Package("0101", 0), [](auto& v, int w) { v[w + 2] |= 1u << 9; });
         EditPackage(Package("0101", 15), [](auto& v, int w) { v[0] |= 0x100000u, v[2 * w + 3] |= 0x800000u; });
         EditPackage(Package("0102", 13), [](auto& v, int) { v[1] = (v[1] & ~(31u << 5)) | 11u << 5; });
       },
       {"vto_package_0101_0.vtp: 1 pixel use hour bits at or above the month's 9 steps (first at x 2, y 1",
        "vto_package_0101_12.vtp: 1 pixel whose annual count differs from the hour-mask bits",
        "vto_package_0101_15.vtp: 2 pixels have bits 20-23 set",
        "vto_package_0102_13.vtp: 1 pixel count more than the 10 steps of month 1",
        "vto_package_0102_12.vtp: 1 pixel whose annual count differs from the sum of the month counts"}},
      {"no outputs at all", [&] { fs::remove_all(session), fs::create_directories(session); },
       {"no sector outputs found"}},
      {"no session folder", [&] { fs::remove_all(session); }, {"not a directory"}},
      {"no coordinates file (the last case)", [&] { fs::remove(work / "pr_data.vtd"); },
       {"cannot read the project latitude"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(session);
    fs::copy(pristine, session);
    c.damage();
    std::vector<std::string> lines;
    const VerifyResult r = VerifySession(session.string() + "/", [&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(r.problems, static_cast<int>(lines.size()));
    std::string all;
    for (const std::string& l : lines) all += "\n  " + l;
    EXPECT_EQ(lines.size(), c.expect.size()) << all;
    for (const std::string& e : c.expect) EXPECT_TRUE(Contains(all, e)) << "no line with: " << e << all;
  }
}

}  // namespace

// The session-folder check on hand-built outputs: a consistent folder
// passes, and each kind of damage gives its own problem line.

#include <gtest/gtest.h>

#include <bit>
#include <functional>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "run/run.h"
#include "run/verify.h"
#include "solar/solar.h"
#include "support/support.h"

namespace {

constexpr double kLat = 40.0;  // 9, 10, 11, 13, 14, 14, 14, 13, 12, 11, 9, 9 steps
constexpr int kW = 16, kH = 12;

int32_t Steps(int m) { return SolarDay(15 + kMonthStart[m], deg2rad(kLat)).steps; }

// A package: the PNG with its signature replaced by the stamp.
void WritePackage(const fs::path& path, const HeightFn& f, int w = kW) {
  WritePngRgb(path, w, kH, f);
  auto bytes = ReadFileBytes(path);
  std::copy_n("TSVLP", 5, bytes.begin());
  WriteFileBytes(path, bytes);
}

// Hour mask of month m at (x, y): a few bits, all below the month's steps.
uint32_t Mask(int m, int x, int y) {
  const int32_t s = Steps(m);
  if ((x + y + m) % 3 != 0) return 0;
  return (1u << ((x * 5 + y) % s)) | (1u << ((x + 2 * y + m) % s));
}
uint32_t Count(int m, int x, int y) { return static_cast<uint32_t>(std::popcount(Mask(m, x, y))); }
// Packages 13-15: four months' counts in 5-bit fields.
uint32_t Packed(int p, int x, int y) {
  uint32_t v = 0;
  for (int f = 0; f < 4; ++f) v |= Count(4 * (p - 13) + f, x, y) << (5 * f);
  return v;
}
uint32_t Annual(int x, int y) {
  uint32_t a = 0;
  for (int m = 0; m < 12; ++m) a += Count(m, x, y);
  return a;
}

// A sector whose sixteen packages agree with each other.
void WriteSector(const fs::path& dir, const std::string& id) {
  for (int m = 0; m < 12; ++m) WritePackage(dir / PackageName(id, m), [m](int x, int y) { return Mask(m, x, y); });
  WritePackage(dir / PackageName(id, 12), Annual);
  for (int p = 13; p <= 15; ++p) WritePackage(dir / PackageName(id, p), [p](int x, int y) { return Packed(p, x, y); });
  WritePngRgb(dir / ElevationName(id), kW, kH, [](int x, int y) { return 1000u + x + y; });
}

TEST(VerifyTest, EachKindOfDamageIsReported) {
  TempDir work;
  const fs::path session = work.path() / "SessionV", pristine = work.path() / "pristine";
  fs::create_directories(pristine);
  WriteSector(pristine, "0101");
  WriteSector(pristine, "0102");
  auto pkg = [&](const std::string& id, int p) { return session / PackageName(id, p); };
  auto edit = [&](const fs::path& f, const std::function<void(std::vector<uint8_t>&)>& change) {
    auto b = ReadFileBytes(f);
    change(b);
    WriteFileBytes(f, b);
  };
  struct Case {
    const char* label;
    std::function<void()> damage;
    std::vector<std::string> expect;  // parts of expected lines
  };
  const std::vector<Case> cases = {
      {"untouched, path with a trailing slash", [] {}, {}},
      {"missing package", [&] { fs::remove(pkg("0102", 7)); }, {"vto_package_0102_7.vtp: missing"}},
      {"missing elevation image", [&] { fs::remove(session / "0101.png"); }, {"0101.png: missing"}},
      {"package without its stamp",
       [&] { edit(pkg("0101", 3), [](auto& b) { std::copy_n("\x89PNG\r", 5, b.begin()); }); },
       {"vto_package_0101_3.vtp: does not start with the package stamp"}},
      {"package cut short", [&] { edit(pkg("0101", 4), [](auto& b) { b.resize(b.size() / 2); }); },
       {"vto_package_0101_4.vtp: does not decode"}},
      {"package that is not 8-bit RGB", [&] { edit(pkg("0101", 5), [](auto& b) { b[25] = 0; }); },  // grey
       {"vto_package_0101_5.vtp: is not an 8-bit RGB image"}},
      {"package of another size", [&] { WritePackage(pkg("0102", 14), [](int, int) { return 0u; }, kW + 1); },
       {"vto_package_0102_14.vtp: size 17x12 differs from the session's 16x12"}},
      {"hour bit at the month's step count",
       [&] {
         WritePackage(pkg("0101", 0),
                      [](int x, int y) { return Mask(0, x, y) | (x == 2 && y == 1 ? 1u << Steps(0) : 0); });
       },
       {"vto_package_0101_0.vtp: 1 pixel use hour bits at or above the month's 9 steps (first at x 2, y 1",
        "vto_package_0101_12.vtp: 1 pixel whose annual count differs from the hour-mask bits"}},
      {"packed field bits 20-23",
       [&] {
         WritePackage(pkg("0101", 15), [](int x, int y) {
           return Packed(15, x, y) | (x + y == 0 ? 0x100000u : 0) | (x == 3 && y == 2 ? 0x800000u : 0);
         });
       },
       {"vto_package_0101_15.vtp: 2 pixels have bits 20-23 set"}},
      {"month count above the month's steps",
       [&] {
         WritePackage(pkg("0102", 13), [](int x, int y) {
           const uint32_t v = Packed(13, x, y);
           return x == 1 && y == 0 ? (v & ~(31u << 5)) | 20u << 5 : v;
         });
       },
       {"vto_package_0102_13.vtp: 1 pixel count more than the 10 steps of month 1",
        "vto_package_0102_12.vtp: 1 pixel whose annual count differs from the sum of the month counts"}},
      {"unfinished temporary file", [&] { WriteFileBytes(session / ".vto_package_0101_3.vtp.tmp-1-2", {1, 2, 3}); },
       {".vto_package_0101_3.vtp.tmp-1-2: an unfinished temporary file"}},
      {"no outputs at all", [&] { fs::remove_all(session), fs::create_directories(session); },
       {"no sector outputs found"}},
      {"no session folder", [&] { fs::remove_all(session); }, {"not a directory"}},
      {"no coordinates file", [&] { fs::remove(work.path() / "pr_data.vtd"); }, {"cannot read the project latitude"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(session);
    fs::copy(pristine, session);
    ASSERT_TRUE(WriteCoordinatesFile((work.path() / "pr_data.vtd").string(), 6.87, kLat));
    c.damage();
    std::vector<std::string> lines;
    const VerifyResult r = VerifySession(session.string() + "/", [&](const std::string& l) { lines.push_back(l); });
    EXPECT_EQ(r.problems, static_cast<int>(lines.size()));
    EXPECT_TRUE(!c.expect.empty() || std::pair(r.sectors, r.files) == std::pair(2, 34));
    std::string all;
    for (const std::string& l : lines) all += "\n  " + l;
    EXPECT_EQ(lines.size(), c.expect.size()) << all;
    for (const std::string& e : c.expect) EXPECT_TRUE(Contains(all, e)) << "no line with: " << e << all;
  }
}

}  // namespace

// The per-sector check that a resumed run relies on to skip a sector, and
// the decoder that pictures of the session read.
TEST(VerifyTest, OneSectorAtATimeAndDecodedImages) {
  TempDir work;
  const fs::path session = work.path() / "SessionV";
  fs::create_directories(session);
  WriteSector(session, "0101");
  WriteSector(session, "0102");
  ASSERT_TRUE(WriteCoordinatesFile((work.path() / "pr_data.vtd").string(), 6.87, kLat));
  fs::remove(session / PackageName("0102", 7));
  for (const auto& [id, bad] : {std::pair("0101", false), {"0102", true}, {"0103", true}})  // 0103: nothing at all
    EXPECT_EQ(VerifySector(session.string(), id, [](const std::string&) {}).problems > 0, bad) << id;

  const auto annual = ReadSessionImage((session / PackageName("0101", 12)).string(), true);
  ASSERT_TRUE(annual);
  ASSERT_EQ(std::pair(annual->w, annual->h), std::pair(uint32_t{kW}, uint32_t{kH}));
  EXPECT_EQ(annual->v[5 * kW + 7], Annual(7, 5));
  std::string why;
  EXPECT_FALSE(ReadSessionImage((session / ElevationName("0101")).string(), true, &why));  // no stamp
  EXPECT_NE(why.find("package stamp"), std::string::npos) << why;
}

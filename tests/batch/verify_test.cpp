// The session-folder check on hand-built outputs: a consistent folder
// passes, and each kind of damage gives its own problem line.

#include <gtest/gtest.h>

#include <bit>
#include <functional>

#include "catalogue/scan.h"
#include "engine/run.h"
#include "engine/run_verify.h"
#include "engine/solar.h"
#include "support/fixtures.h"

namespace {

constexpr double kLat = 40.0;  // 9, 10, 11, 13, 14, 14, 14, 13, 12, 11, 9, 9 steps
constexpr int kW = 16, kH = 12;

std::array<int32_t, 12> Steps() {
  std::array<int32_t, 12> s{};
  for (int m = 0; m < 12; ++m) s[m] = SolarDay(15 + kMonthStart[m], deg2rad(kLat)).steps;
  return s;
}

void Stamp(const fs::path& path) {
  auto bytes = ReadFileBytes(path);
  std::copy_n("TSVLP", 5, bytes.begin());
  WriteFileBytes(path, bytes);
}

void WritePackage(const fs::path& path, int w, int h, const HeightFn& f) {
  WritePngRgb(path, w, h, f);
  Stamp(path);
}

// Hour mask of month m at (x, y): a few bits, all below the month's steps.
uint32_t Mask(int m, int x, int y) {
  const int32_t s = Steps()[m];
  if ((x + y + m) % 3 != 0) return 0;
  return (1u << ((x * 5 + y) % s)) | (1u << ((x + 2 * y + m) % s));
}

// A sector whose sixteen packages agree with each other.
void WriteSector(const fs::path& dir, const std::string& id) {
  for (int m = 0; m < 12; ++m)
    WritePackage(dir / PackageName(id, m), kW, kH, [m](int x, int y) { return Mask(m, x, y); });
  WritePackage(dir / PackageName(id, 12), kW, kH, [](int x, int y) {
    uint32_t a = 0;
    for (int m = 0; m < 12; ++m) a += static_cast<uint32_t>(std::popcount(Mask(m, x, y)));
    return a;
  });
  for (int p = 13; p <= 15; ++p)
    WritePackage(dir / PackageName(id, p), kW, kH, [p](int x, int y) {
      uint32_t v = 0;
      for (int f = 0; f < 4; ++f)
        v |= static_cast<uint32_t>(std::popcount(Mask(4 * (p - 13) + f, x, y))) << (5 * f);
      return v;
    });
  WritePngRgb(dir / ElevationName(id), kW, kH, [](int x, int y) { return 1000u + x + y; });
}

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session = work.path() / "SessionV";
    fs::create_directories(session);
    ASSERT_TRUE(WriteCoordinatesFile((work.path() / "pr_data.vtd").string(), 6.87, kLat));
    WriteSector(session, "0101");
    WriteSector(session, "0102");
  }
  VerifyResult Verify(std::vector<std::string>& lines, const std::string& dir = "") {
    lines.clear();
    return VerifySession(dir.empty() ? session.string() : dir,
                         [&](const std::string& l) { lines.push_back(l); });
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& part) {
    for (const auto& l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  TempDir work;
  fs::path session;
};

TEST_F(VerifyTest, AConsistentFolderPasses) {
  std::vector<std::string> lines;
  for (const std::string& dir : {session.string(), session.string() + "/"}) {
    const VerifyResult r = Verify(lines, dir);
    EXPECT_EQ(r.sectors, 2);
    EXPECT_EQ(r.files, 34);
    EXPECT_EQ(r.problems, 0);
    EXPECT_TRUE(lines.empty()) << lines.front();
  }
}

TEST_F(VerifyTest, EachKindOfDamageIsReported) {
  const auto steps = Steps();
  struct Case {
    const char* label;
    std::function<void()> damage;
    std::vector<std::string> expect;  // parts of expected lines
  };
  const std::vector<Case> cases = {
      {"missing package", [&] { fs::remove(session / PackageName("0102", 7)); }, {"vto_package_0102_7.vtp: missing"}},
      {"missing elevation image", [&] { fs::remove(session / "0101.png"); }, {"0101.png: missing"}},
      {"package without its stamp",
       [&] {
         auto b = ReadFileBytes(session / PackageName("0101", 3));
         b[0] = 0x89, b[1] = 'P', b[2] = 'N', b[3] = 'G', b[4] = 0x0D;
         WriteFileBytes(session / PackageName("0101", 3), b);
       },
       {"vto_package_0101_3.vtp: does not start with the package stamp"}},
      {"package cut short",
       [&] {
         auto b = ReadFileBytes(session / PackageName("0101", 4));
         b.resize(b.size() / 2);
         WriteFileBytes(session / PackageName("0101", 4), b);
       },
       {"vto_package_0101_4.vtp: does not decode"}},
      {"package that is not 8-bit RGB",
       [&] {
         auto b = ReadFileBytes(session / PackageName("0101", 5));
         b[25] = 0;  // colour type: grey
         WriteFileBytes(session / PackageName("0101", 5), b);
       },
       {"vto_package_0101_5.vtp: is not an 8-bit RGB image"}},
      {"package of another size",
       [&] { WritePackage(session / PackageName("0102", 14), kW + 1, kH, [](int, int) { return 0u; }); },
       {"vto_package_0102_14.vtp: size 17x12 differs from the session's 16x12"}},
      {"hour bit at the month's step count",
       [&] {
         WritePackage(session / PackageName("0101", 0), kW, kH, [&](int x, int y) {
           return x == 2 && y == 1 ? Mask(0, x, y) | 1u << steps[0] : Mask(0, x, y);
         });
       },
       {"vto_package_0101_0.vtp: 1 pixel use hour bits at or above the month's 9 steps (first at x 2, y 1",
        "vto_package_0101_12.vtp: 1 pixel whose annual count differs from the hour-mask bits"}},
      {"packed field bits 20-23",
       [&] {
         WritePackage(session / PackageName("0101", 15), kW, kH, [](int x, int y) {
           uint32_t v = 0;
           for (int f = 0; f < 4; ++f) v |= static_cast<uint32_t>(std::popcount(Mask(8 + f, x, y))) << (5 * f);
           return x == 0 && y == 0 ? v | 0x100000u : v;
         });
       },
       {"vto_package_0101_15.vtp: 1 pixel have bits 20-23 set"}},
      {"month count above the month's steps",
       [&] {
         WritePackage(session / PackageName("0102", 13), kW, kH, [](int x, int y) {
           uint32_t v = 0;
           for (int f = 0; f < 4; ++f) v |= static_cast<uint32_t>(std::popcount(Mask(f, x, y))) << (5 * f);
           return x == 1 && y == 0 ? (v & ~(31u << 5)) | 20u << 5 : v;
         });
       },
       {"vto_package_0102_13.vtp: 1 pixel count more than the 10 steps of month 1",
        "vto_package_0102_12.vtp: 1 pixel whose annual count differs from the sum of the month counts"}},
      {"annual count off by one",
       [&] {
         WritePackage(session / PackageName("0101", 12), kW, kH, [](int x, int y) {
           uint32_t a = 0;
           for (int m = 0; m < 12; ++m) a += static_cast<uint32_t>(std::popcount(Mask(m, x, y)));
           return x == 3 && y == 3 ? a + 1 : a;
         });
       },
       {"differs from the sum of the month counts", "differs from the hour-mask bits"}},
      {"unfinished temporary file",
       [&] { WriteFileBytes(session / ".vto_package_0101_3.vtp.tmp-1-2", {1, 2, 3}); },
       {".vto_package_0101_3.vtp.tmp-1-2: an unfinished temporary file"}},
      {"no coordinates file", [&] { fs::remove(work.path() / "pr_data.vtd"); }, {"cannot read the project latitude"}},
  };
  const fs::path pristine = work.path() / "pristine";
  fs::copy(session, pristine);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(session);
    fs::copy(pristine, session);
    ASSERT_TRUE(WriteCoordinatesFile((work.path() / "pr_data.vtd").string(), 6.87, kLat));
    c.damage();
    std::vector<std::string> lines;
    const VerifyResult r = Verify(lines);
    EXPECT_EQ(r.problems, static_cast<int>(lines.size()));
    std::string all;
    for (const std::string& l : lines) all += "\n  " + l;
    EXPECT_EQ(lines.size(), c.expect.size()) << all;
    for (const std::string& e : c.expect) EXPECT_TRUE(Has(lines, e)) << "no line with: " << e << all;
  }
}

TEST_F(VerifyTest, AFolderWithoutOutputsIsAProblem) {
  fs::remove_all(session);
  fs::create_directories(session);
  std::vector<std::string> lines;
  EXPECT_EQ(Verify(lines).problems, 1);
  EXPECT_TRUE(Has(lines, "no sector outputs found"));
  EXPECT_EQ(Verify(lines, (work.path() / "nowhere").string()).problems, 1);
  EXPECT_TRUE(Has(lines, "not a directory"));
}

}  // namespace

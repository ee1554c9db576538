// The session overview of the demo project: placement of the sectors by
// their shares, the month counts, the grey crossed sector and the command.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "catalogue/coords_file.h"
#include "preview/overview.h"
#include "run/run.h"
#include "run/verify.h"
#include "solar/solar.h"
#include "support/support.h"

namespace {

// The build folder: the test program lives in its tests/ folder.
fs::path Build() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path(); }

int Batch(const std::string& args) {
  std::string cmd = "'";
  cmd.append((Build() / "src/batch/veltano-batch").string()).append("' ").append(args).append(" </dev/null >/dev/null 2>&1");
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Png {
  int w = 0, h = 0;
  std::vector<uint32_t> v;
  uint32_t at(int x, int y) const { return v[size_t(y) * w + x]; }
};
Png Read(const fs::path& p) {
  Png png;
  png.v = ReadPngValues(p, png.w, png.h);
  return png;
}

// The demo project run once for every test.
class Overview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir;
    fs::copy(VDB_DEMO_DIR, work(), fs::copy_options::recursive);
    ASSERT_EQ(Batch("--session-id t --yes --quiet '" + work().string() + "'"), 0);
    double lon = 0;
    ASSERT_TRUE(ReadCoordinatesFile((work() / "pr_data.vtd").string(), lon, lat));
  }
  static void TearDownTestSuite() { delete dir; }
  static fs::path work() { return dir->path() / "demo"; }
  static fs::path session() { return work() / "Sessiont"; }

  // Draws without the hillshade, so a cell's mean red is the red of its mean share.
  static std::pair<Png, PreviewResult> Draw(int month) {
    PreviewOptions o{session().string(), (dir->path() / "plain.png").string(), month, false};
    const PreviewResult r = WriteSessionOverview(o, [](const std::string& line) { ADD_FAILURE() << line; });
    EXPECT_TRUE(r.written) << r.error;
    return {Read(o.output), r};
  }

  // Mean share of sector (c, r) from its packages, and the cell's mean red,
  // both over the cell without its border and the name in the top rows.
  static void CompareCell(const Png& img, const PreviewResult& r, int c, int row, int month, double* share, double* mean_red) {
    char id[8];
    std::snprintf(id, sizeof id, "%02d%02d", c, row);
    const int package = month < 0 ? 12 : 13 + month / 4;
    int w = 0, h = 0;
    const auto counts = ReadPngValues(session() / PackageName(id, package), w, h);
    const int x0 = r.map_left + (c - r.first_column) * r.cell_w, y0 = r.map_top + (r.last_row - row) * r.cell_h;
    const double steps = month < 0 ? DaylightSteps(deg2rad(lat)) : SolarDay(15 + kMonthStart[month], deg2rad(lat)).steps;
    double s = 0, red = 0, n = 0;
    for (int y = 20; y < h - 1; ++y)
      for (int x = 1; x < w - 1; ++x, ++n) {
        const uint32_t v = counts[size_t(y) * w + x];
        s += (month < 0 ? v : v >> (5 * (month % 4)) & 31u) / steps;
        red += img.at(x0 + x, y0 + y) >> 16;
      }
    *share = s / n, *mean_red = red / n;
  }

  static void ExpectCellsMatch(int month, std::vector<double>* shares) {
    const auto [img, r] = Draw(month);
    const double r0 = ShareColour(0) >> 16, r1 = ShareColour(1) >> 16;
    for (int c = 1; c <= 3; ++c)
      for (int row = 1; row <= 3; ++row) {
        double share = 0, red = 0;
        CompareCell(img, r, c, row, month, &share, &red);
        EXPECT_NEAR(red, r0 + (r1 - r0) * share, 1.0) << "sector " << c << "," << row << " month " << month;
        shares->push_back(share);
      }
  }

  static inline TempDir* dir = nullptr;
  static inline double lat = 0;
};

TEST_F(Overview, CommandWritesTheDemoPictureThatVerifyIgnores) {
  ASSERT_EQ(Batch("preview '" + session().string() + "'"), 0);
  const Png img = Read(session() / "overview.png");
  const auto [plain, r] = Draw(-1);
  // The demo is small: sectors not scaled, 0103 at the top left.
  EXPECT_EQ(std::make_tuple(img.w, img.h, r.cell_w, r.cell_h, r.first_column, r.last_row),
            std::make_tuple(r.width, r.height, 200, 200, 1, 3));
  EXPECT_GE(std::min(img.w, img.h), 3 * 200);
  EXPECT_EQ(VerifySession(session().string(), [](const std::string& line) { ADD_FAILURE() << line; }).problems, 0);
}

TEST_F(Overview, EachCellShowsItsSectorsAnnualShare) {
  std::vector<double> year;
  ExpectCellsMatch(-1, &year);
}

TEST_F(Overview, MonthUsesThePackedMonthCounts) {
  std::vector<double> year;
  ExpectCellsMatch(-1, &year);
  for (int month : {0, 6}) {  // the first field of package 13, the third of 14
    std::vector<double> shares;
    ExpectCellsMatch(month, &shares);
    // The month's shadows differ from the year's, or the test proves nothing.
    double most = 0;
    for (size_t i = 0; i < year.size(); ++i) most = std::max(most, std::abs(year[i] - shares[i]));
    EXPECT_GT(most, 0.03) << month;
  }
}

TEST_F(Overview, SectorWithoutAPackageIsGreyAndCrossed) {
  TempDir copy;
  fs::copy(work(), copy.path(), fs::copy_options::recursive);
  const fs::path s = copy.path() / "Sessiont";
  fs::remove(s / PackageName("0202", 5));
  ASSERT_EQ(Batch("preview '" + s.string() + "' -o '" + (copy.path() / "o.png").string() + "'"), 4);
  const Png img = Read(copy.path() / "o.png");
  const auto [plain, r] = Draw(-1);
  const int x0 = r.map_left + r.cell_w, y0 = r.map_top + r.cell_h;  // 0202: the centre cell
  EXPECT_EQ(img.at(x0 + 100, y0 + 40), 0x969696u);                  // grey off the diagonals
  EXPECT_EQ(img.at(x0 + 40, y0 + 100), 0x969696u);
  EXPECT_EQ(img.at(x0 + 50, y0 + 50), 0x464646u);   // on the cross
  EXPECT_EQ(img.at(x0 + 50, y0 + 149), 0x464646u);
  EXPECT_NE(img.at(x0 - 100, y0 + 40), 0x969696u);  // 0102 beside it drawn
}

TEST_F(Overview, WideSessionScaledDownEvenlyToTheLongestSide) {
  TempDir copy;
  const fs::path s = copy.path() / "Session1";
  fs::create_directories(s);
  fs::copy_file(work() / "pr_data.vtd", copy.path() / "pr_data.vtd");
  for (int c = 1; c <= 25; ++c) {  // 25 copies of 0101 in a row: 5000 pixels wide
    char id[8];
    std::snprintf(id, sizeof id, "%02d01", c);
    for (int n = 0; n < 16; ++n) fs::copy_file(session() / PackageName("0101", n), s / PackageName(id, n));
    fs::copy_file(session() / ElevationName("0101"), s / ElevationName(id));
  }
  const PreviewResult r = WriteSessionOverview({s.string(), "", -1, true}, [](const std::string& l) { ADD_FAILURE() << l; });
  ASSERT_TRUE(r.written) << r.error;
  EXPECT_EQ(Read(s / "overview.png").w, r.width);
  EXPECT_LE(r.width, kOverviewMaxSide);
  EXPECT_GT(25 * r.cell_w, kOverviewMaxSide - 2 * 25 - 16);  // as large as fits, margins aside
  EXPECT_EQ(r.cell_h, r.cell_w);                               // evenly
}

TEST_F(Overview, CommandRefusals) {
  // Arguments after the session folder (none: the folder itself left out).
  const std::vector<std::tuple<bool, std::string, int>> cases = {
      {false, "", 2},          {true, "--month 13", 2}, {true, "--month 0", 2},
      {true, "--month", 2},    {true, "--bogus", 2},    {true, "-o /nonexistent-dir/o.png", 1},
      {true, "--month 12", 0}, {true, "x", 2}};
  for (const auto& [with_session, rest, code] : cases) {
    std::string args = "preview ";
    if (with_session) args.append("'").append(session().string()).append("' ");
    EXPECT_EQ(Batch(args.append(rest)), code) << args;
  }
  std::string missing = "preview '";
  EXPECT_EQ(Batch(missing.append(work().string()).append("/NoSuchSession'")), 2);
}

}  // namespace

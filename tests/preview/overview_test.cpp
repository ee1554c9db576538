// The session overview of the demo project: placement of the sectors by
// their shares, the month counts, the grey crossed sector and the command.

#include <gtest/gtest.h>

#include <tuple>

#include "catalogue/coords_file.h"
#include "preview/overview.h"
#include "run/run.h"
#include "run/verify.h"
#include "solar/solar.h"
#include "support/support.h"

namespace {

struct Png {
  int w = 0, h = 0;
  std::vector<uint32_t> v;
  explicit Png(const fs::path& p) { v = ReadPngValues(p, w, h); }
  uint32_t at(int x, int y) const { return v[size_t(y) * w + x]; }
};

void NoLine(const std::string& line) { ADD_FAILURE() << line; }

// The demo project run once for every test.
class Overview : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new TempDir;
    fs::copy(VDB_DEMO_DIR, work(), fs::copy_options::recursive);
    ASSERT_EQ(RunBatch({"--session-id", "t", "--yes", "--quiet", work().string()}).code, 0);
    ASSERT_TRUE(ReadCoordinatesFile((work() / "pr_data.vtd").string(), lon, lat));
  }
  static void TearDownTestSuite() { delete dir; }
  static fs::path work() { return dir->path() / "demo"; }
  static fs::path session() { return work() / "Sessiont"; }

  // Draws without the hillshade, so that a cell's mean red is the red of
  // its sector's mean share, both over the cell without its border and the
  // name in the top rows; the shares of the 3 x 3 sectors come from their
  // packages, counts divided by the sun's steps of the year or mid-month.
  // Returns the drawing's layout.
  static PreviewResult ExpectCellsMatch(int month) {
    PreviewOptions o{session().string(), (dir->path() / "plain.png").string(), month, false};
    const PreviewResult r = WriteSessionOverview(o, NoLine);
    EXPECT_TRUE(r.written) << r.error;
    const Png img(o.output);
    const double r0 = ShareColour(0) >> 16, r1 = ShareColour(1) >> 16;
    const double phi = deg2rad(lat);
    const double steps = month < 0 ? DaylightSteps(phi) : SolarDay(15 + kMonthStart[month], phi).steps;
    for (int c = 1; c <= 3; ++c)
      for (int row = 1; row <= 3; ++row) {
        const Png counts(session() / PackageName(SectorName(c, row, ""), month < 0 ? 12 : 13 + month / 4));
        const int x0 = r.map_left + (c - r.first_column) * r.cell_w, y0 = r.map_top + (r.last_row - row) * r.cell_h;
        double s = 0, red = 0, n = 0;
        for (int y = 20; y < counts.h - 1; ++y)
          for (int x = 1; x < counts.w - 1; ++x, ++n) {
            s += (month < 0 ? counts.at(x, y) : counts.at(x, y) >> (5 * (month % 4)) & 31u) / steps;
            red += img.at(x0 + x, y0 + y) >> 16;
          }
        EXPECT_NEAR(red / n, r0 + (r1 - r0) * s / n, 1.0) << "sector " << c << row << " month " << month;
      }
    return r;
  }

  static inline TempDir* dir = nullptr;
  static inline double lon = 0, lat = 0;
};

// The command's exit codes; each cell shows its sector's share of the year
// or of a month; verify ignores the command's picture. A sector without a
// package is drawn grey and crossed, and the command says so with its exit
// code. A wide session is scaled down evenly to the longest side.
TEST_F(Overview, CellsShowTheSharesAndASectorWithoutAPackageIsCrossed) {
  const std::string s = session().string();
  const std::vector<std::pair<std::vector<std::string>, int>> cases = {
      {{"preview"}, 2}, {{"preview", s, "--month", "13"}, 2}, {{"preview", s, "--month", "0"}, 2},
      {{"preview", s, "--month"}, 2}, {{"preview", s, "--bogus"}, 2}, {{"preview", s, "-o", "/nonexistent/o.png"}, 1},
      {{"preview", s, "--month", "12"}, 0}, {{"preview", s, "x"}, 2}, {{"preview", s}, 0},
      {{"preview", work().string() + "/NoSuchSession"}, 2}};
  for (const auto& [args, code] : cases) EXPECT_EQ(RunBatch(args).code, code) << ::testing::PrintToString(args);
  const PreviewResult r = ExpectCellsMatch(-1);
  // The demo is small: sectors not scaled, 0103 at the top left.
  const Png shown(session() / "overview.png");
  EXPECT_EQ(std::make_tuple(shown.w, shown.h, r.cell_w, r.cell_h, r.first_column, r.last_row),
            std::make_tuple(r.width, r.height, 200, 200, 1, 3));
  EXPECT_EQ(VerifySession(session().string(), NoLine).problems, 0);
  for (int month : {0, 6}) ExpectCellsMatch(month);  // the first field of package 13, the third of 14
  TempDir copy;
  fs::copy(work(), copy.path(), fs::copy_options::recursive);
  fs::remove(copy / "Sessiont" / PackageName("0202", 5));
  ASSERT_EQ(RunBatch({"preview", (copy / "Sessiont").string(), "-o", (copy / "o.png").string()}).code, 4);
  const Png img(copy / "o.png");
  const int x0 = r.map_left + r.cell_w, y0 = r.map_top + r.cell_h;  // 0202: the centre cell
  EXPECT_EQ(std::make_tuple(img.at(x0 + 100, y0 + 40), img.at(x0 + 50, y0 + 149)),  // grey off the diagonals, the cross
            std::make_tuple(0x969696u, 0x464646u));
  EXPECT_NE(img.at(x0 - 100, y0 + 40), 0x969696u);                  // 0102 beside it drawn
  const fs::path wide = copy / "wide" / "Session1";  // beside the coordinates alone
  fs::create_directories(wide);
  fs::copy_file(work() / "pr_data.vtd", copy / "wide" / "pr_data.vtd");
  for (int c = 1; c <= 25; ++c) {  // 25 copies of 0101 in a row: 5000 pixels wide
    const std::string id = SectorName(c, 1, "");
    for (int n = 0; n < 16; ++n) fs::copy_file(session() / PackageName("0101", n), wide / PackageName(id, n));
    fs::copy_file(session() / ElevationName("0101"), wide / ElevationName(id));
  }
  const PreviewResult w = WriteSessionOverview({wide.string(), "", -1, false}, NoLine);
  EXPECT_TRUE(w.width <= kOverviewMaxSide && w.cell_h == w.cell_w &&  // evenly, as large as fits, margins aside
              25 * w.cell_w > kOverviewMaxSide - 2 * 25 - 16) << w.error << w.width << " " << w.cell_w;
}

}  // namespace

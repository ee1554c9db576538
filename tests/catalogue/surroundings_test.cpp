#include "catalogue/surroundings.h"

#include <algorithm>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "support/support.h"

namespace {

using LoaderTest = StateTest;

// Sector cc rr gets one rise of 10 * cc + rr at pixel (cc, rr), so every
// sector's statistics are told apart. Warnings and fatal loads of changed
// rasters are seen by the run tests.
TEST_F(LoaderTest, OneSetAtATimeAndCleanOnce) {
  TempDir dir;
  st.szDirPath = dir.str();
  for (const std::string name : {"0101.png", "0102.png", "0201.png", "0202.png", "0301.png"}) {
    const int c = std::stoi(name.substr(0, 2)), r = std::stoi(name.substr(2, 2));
    WritePngRgb(dir / name, 120, 120, [&](int x, int y) { return x == c && y == r ? 10u * c + r : 0u; });
  }
  ASSERT_EQ(listdirect(dir.str(), ".png"), 1);
  auto load = [&](const std::string& name) {
    matriz_entorno(name);
    Inicia_BuildEntorno((dir / name).string());
    return std::vector<int>(st.matflgarea, st.matflgarea + 9);
  };
  auto hmax = [&](const std::string& name) { return st.prmaxheight.at(plat.ListFindExact(name)).hmax; };
  auto nothing_held = [] {
    for (int cell = 0; cell < 9; ++cell)
      if (st.AreaSurface(cell) || st.AreaRaster(cell)) return false;
    return !st.shoras && !st.sfsuma && !st.sfwhssup && !st.sfwhscen && !st.sfwhsinf && !st.sftmp && !st.elev2png;
  };
  const std::vector<int> flags = load("0101.png");
  EXPECT_EQ(flags, (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 1, 1}));
  for (int cell = 0; cell < 9; ++cell) EXPECT_EQ(st.AreaSurface(cell) != nullptr, flags[cell] == 1) << cell;
  EXPECT_TRUE(plat.boxes().empty() && st.sftmp->w == 600);
  // Statistics of the centre and each loaded neighbour, once.
  EXPECT_EQ(std::vector<int>({hmax("0101.png"), hmax("0102.png"), hmax("0202.png"), hmax("0301.png")}),
            std::vector<int>({11, 12, 22, 0}));

  EXPECT_EQ(st.presum.size(), 14400u);
  st.presum[5] = 7;
  EXPECT_EQ(load("0102.png"), (std::vector<int>{0, 0, 0, 1, 1, 0, 1, 1, 0}));
  EXPECT_TRUE(!st.sent5 && !st.sent8 && st.sent4 && st.sent6 && st.sent7);
  EXPECT_TRUE(std::all_of(st.presum.begin(), st.presum.end(), [](int32_t v) { return v == 0; }));
  for (int twice = 0; twice < 2; ++twice) {
    CleanSurfaces();
    ReleaseCounters();
    EXPECT_TRUE(nothing_held() && st.presum.empty());
  }
  // A failed centre load releases the previous set first.
  load("0101.png");
  WriteFileBytes(dir / "0102.png", {'j', 'u', 'n', 'k'});
  EXPECT_EQ(ExitCodeOf([&] { load("0102.png"); }), 1);
  EXPECT_TRUE(nothing_held());
}

}  // namespace

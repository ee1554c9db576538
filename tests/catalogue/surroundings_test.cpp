#include "catalogue/surroundings.h"

#include <algorithm>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "support/support.h"

namespace {

const std::string kWarning = "Warning! error loading additional data\n Results could be corrupt or not enough accurate";

class LoaderTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.szDirPath = dir.str();
  }
  // Sector cc rr gets one rise of 10 * cc + rr at pixel (cc, rr), so every
  // sector's statistics are told apart.
  void Scan(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      const int c = std::stoi(name.substr(0, 2)), r = std::stoi(name.substr(2, 2));
      auto f = [&](int x, int y) { return x == c && y == r ? 10 * c + r : 0; };
      if (st.cu_ext == 0)
        WritePngRgb(dir / name, 120, 120, [&](int x, int y) { return static_cast<uint32_t>(f(x, y)); });
      else
        WriteTiffFloat(dir / name, 120, 120, [&](int x, int y) { return static_cast<float>(f(x, y)); });
    }
    ASSERT_EQ(listdirect(dir.str(), st.admext), 1);
  }
  void Load(const std::string& name) {
    matriz_entorno(name);
    Inicia_BuildEntorno((dir / name).string());
  }
  std::vector<int> Flags() { return std::vector<int>(st.matflgarea, st.matflgarea + 9); }
  int32_t Hmax(const std::string& name) { return st.prmaxheight.at(plat.ListFindExact(name)).hmax; }
  bool NothingHeld() {
    for (int cell = 0; cell < 9; ++cell)
      if (st.AreaSurface(cell) || st.AreaRaster(cell)) return false;
    return !st.shoras && !st.sfsuma && !st.sfwhssup && !st.sfwhscen && !st.sfwhsinf && !st.sftmp && !st.elev2png;
  }
  TempDir dir;
};

TEST_F(LoaderTest, OneSetAtATimeAndCleanOnce) {
  Scan({"0101.png", "0102.png", "0201.png", "0202.png", "0301.png"});
  Load("0101.png");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 1, 1}));
  for (int cell = 0; cell < 9; ++cell) EXPECT_EQ(st.AreaSurface(cell) != nullptr, Flags()[cell] == 1) << cell;
  EXPECT_TRUE(plat.boxes().empty());
  EXPECT_EQ(st.sftmp->w, 600);
  // Statistics of the centre and each loaded neighbour, once.
  EXPECT_EQ(std::vector<int>({Hmax("0101.png"), Hmax("0102.png"), Hmax("0202.png"), Hmax("0301.png")}),
            std::vector<int>({11, 12, 22, 0}));

  EXPECT_EQ(st.presum.size(), 14400u);
  st.presum[5] = 7;
  Load("0102.png");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 1, 1, 0, 1, 1, 0}));
  EXPECT_TRUE(!st.sent5 && !st.sent8 && st.sent4 && st.sent6 && st.sent7);
  EXPECT_TRUE(std::all_of(st.presum.begin(), st.presum.end(), [](int32_t v) { return v == 0; }));
  for (int twice = 0; twice < 2; ++twice) {
    CleanSurfaces();
    ReleaseCounters();
    EXPECT_TRUE(NothingHeld());
    EXPECT_TRUE(st.presum.empty());
  }
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 1, 1, 0, 1, 1, 0}));  // not CleanSurfaces' business
}

TEST_F(LoaderTest, RastersOfAnotherSize) {
  WritePngRgb(dir / "0102.png", 130, 130, [](int, int) { return 0u; });  // in the folder, discarded by the scan
  Scan({"0101.png", "0201.png", "0202.png"});
  fs::remove(dir / "0202.png");
  WritePngRgb(dir / "0201.png", 130, 130, [](int, int) { return 0u; });  // changed after the scan
  Load("0101.png");
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, kWarning);
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Hmax("0201.png"), 0);
  EXPECT_FALSE(st.sent7);

  // The centre of another size ends the run.
  WritePngRgb(dir / "0101.png", 130, 130, [](int, int) { return 0u; });
  EXPECT_EQ(ExitCodeOf([&] { Load("0101.png"); }), -1);
  ASSERT_EQ(plat.boxes().size(), 2u);
  EXPECT_EQ(plat.boxes()[1].text, std::string("Fatal error loading data") + kFatalTail + kSupportAddress);
  EXPECT_TRUE(plat.boxes()[1].owned);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(LoaderTest, TiffRastersLoadAndUnreadableOnesWarnOrEndTheRun) {
  st.cu_ext = 1;
  st.admext = ".tif";
  Scan({"0101.tif", "0102.tif", "0201.tif"});
  Load("0101.tif");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 1, 0}));
  EXPECT_TRUE(st.sfdata_tif && st.sent5_tif && st.sent7_tif && !st.sfdata);
  EXPECT_EQ(Hmax("0201.tif"), 21);

  WriteFileBytes(dir / "0102.tif", {'j', 'u', 'n', 'k'});
  Load("0101.tif");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 1, 0}));
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, kWarning);
  EXPECT_THROW(Load("0102.tif"), ProcessExit);
  EXPECT_TRUE(NothingHeld());  // the previous set was released before the failed load
}

}  // namespace

#include "catalogue/surroundings.h"

#include <algorithm>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "support/support.h"

namespace {

const std::string kWarning = "Warning! error loading additional data\n Results could be corrupt or not enough accurate";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Sector cc rr gets one rise of 10 * cc + rr at pixel (cc, rr), so every
// sector's statistics are told apart.
uint32_t SectorHeight(const std::string& name, int x, int y) {
  const int c = std::stoi(name.substr(0, 2)), r = std::stoi(name.substr(2, 2));
  return x == c && y == r ? static_cast<uint32_t>(10 * c + r) : 0u;
}

class LoaderTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.szDirPath = dir.str();
  }
  void WriteSector(const std::string& name, int side = 120) {
    if (st.cu_ext == 0)
      WritePngRgb(dir / name, side, side, [&](int x, int y) { return SectorHeight(name, x, y); });
    else
      WriteTiffFloat(dir / name, side, side,
                     [&](int x, int y) { return x == 0 && y == 0 ? 612.5f : static_cast<float>(SectorHeight(name, x, y)); });
  }
  void Scan(const std::vector<std::string>& names) {
    for (const auto& n : names) WriteSector(n);
    ASSERT_EQ(listdirect(dir.str(), st.admext), 1);
  }
  // Loads a sector as the run does and returns what it printed.
  std::string Load(const std::string& name) {
    matriz_entorno(name);
    testing::internal::CaptureStdout();
    try {
      Inicia_BuildEntorno((dir / name).string());
    } catch (...) {
      testing::internal::GetCapturedStdout();
      throw;
    }
    return testing::internal::GetCapturedStdout();
  }
  std::vector<int> Flags() { return std::vector<int>(st.matflgarea, st.matflgarea + 9); }
  const HeightRecord& Record(const std::string& name) { return st.prmaxheight.at(plat.ListFindExact(name)); }
  bool NothingHeld() {
    for (int cell = 0; cell < 9; ++cell)
      if (st.AreaSurface(cell) || st.AreaRaster(cell)) return false;
    return !st.shoras && !st.sfsuma && !st.sfwhssup && !st.sfwhscen && !st.sfwhsinf && !st.sftmp && !st.elev2png;
  }
  TempDir dir;
};

TEST_F(LoaderTest, FirstRowAndColumn) {
  Scan({"0101.png", "0102.png", "0201.png", "0202.png", "0301.png"});
  const std::string out = Load("0101.png");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 1, 1}));
  for (int cell = 0; cell < 9; ++cell) EXPECT_EQ(st.AreaSurface(cell) != nullptr, Flags()[cell] == 1) << cell;
  EXPECT_TRUE(plat.boxes().empty());

  // Only the three possible neighbours are looked for.
  EXPECT_EQ(Count(out, "Buscando("), 3u);
  EXPECT_EQ(st.sftmp->w, 600);
  EXPECT_EQ(st.presum.size(), 14400u);
  // Statistics of the centre and each loaded neighbour, once.
  EXPECT_EQ(Record("0101.png").hmax, 11);
  EXPECT_EQ(Record("0102.png").y, 2);
  EXPECT_EQ(Record("0202.png").hmax, 22);
  EXPECT_EQ(Record("0301.png").hmax, 0);  // not a neighbour: not computed
}

TEST_F(LoaderTest, OneSetAtATimeAndCleanOnce) {
  Scan({"0101.png", "0102.png", "0201.png", "0202.png"});
  Load("0101.png");
  st.presum[5] = 7;
  Load("0102.png");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 1, 1, 0, 1, 1, 0}));
  EXPECT_FALSE(st.sent5);
  EXPECT_FALSE(st.sent8);
  EXPECT_TRUE(st.sent4 && st.sent6 && st.sent7);
  EXPECT_TRUE(std::all_of(st.presum.begin(), st.presum.end(), [](int32_t v) { return v == 0; }));

  CleanSurfaces();
  EXPECT_TRUE(NothingHeld());
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 1, 1, 0, 1, 1, 0}));  // not CleanSurfaces' business
  CleanSurfaces();
  EXPECT_TRUE(NothingHeld());
  ReleaseCounters();
  ReleaseCounters();
  EXPECT_TRUE(st.presum.empty());
}

TEST_F(LoaderTest, NeighbourOfAnotherSizeWarnsAndMissingOnesAreSilent) {
  WriteSector("0102.png", 130);  // in the folder, discarded by the scan
  Scan({"0101.png", "0201.png", "0202.png"});
  fs::remove(dir / "0202.png");
  WritePngRgb(dir / "0201.png", 130, 130, [](int, int) { return 0u; });  // changed after the scan
  Load("0101.png");
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, kWarning);
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(st.sent7);
  EXPECT_EQ(Record("0201.png").hmax, 0);
}

TEST_F(LoaderTest, CentreOfAnotherSizeIsFatal) {
  Scan({"0101.png", "0102.png"});
  WritePngRgb(dir / "0101.png", 130, 130, [](int, int) { return 0u; });
  try {
    Load("0101.png");
    FAIL() << "expected the process to end";
  } catch (const ProcessExit& e) {
    EXPECT_EQ(e.code, -1);
  }
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, std::string("Fatal error loading data") + kFatalTail + kSupportAddress);
  EXPECT_TRUE(plat.boxes()[0].owned);
  EXPECT_TRUE(NothingHeld());
}

TEST_F(LoaderTest, TiffRastersLoadAndUnreadableOnesWarnOrEndTheRun) {
  st.cu_ext = 1;
  st.admext = ".tif";
  Scan({"0101.tif", "0102.tif", "0201.tif"});
  Load("0101.tif");
  EXPECT_EQ(Flags(), (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 1, 0}));
  EXPECT_TRUE(st.sfdata_tif && st.sent5_tif && st.sent7_tif);
  EXPECT_FALSE(st.sfdata);
  EXPECT_EQ(Record("0201.tif").hmax, 21);

  WriteFileBytes(dir / "0102.tif", {'j', 'u', 'n', 'k'});
  Load("0101.tif");
  EXPECT_EQ(st.matflgarea[5], 0);
  EXPECT_EQ(st.matflgarea[7], 1);
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, kWarning);
  EXPECT_THROW(Load("0102.tif"), ProcessExit);
  EXPECT_TRUE(NothingHeld());  // the previous set was released before the failed load
}

}  // namespace

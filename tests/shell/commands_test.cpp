// The raster type choice, adopting a picked folder and the session id,
// on the recording platform.
#include <gtest/gtest.h>

#include <ctime>

#include "shell/commands.h"
#include "support/fixtures.h"

namespace {

class CommandsTest : public StateTest {
 protected:
  void AddPng(const std::string& name, int side = 200) {
    WritePngRgb(dir / name, side, side, [](int x, int y) { return static_cast<uint32_t>(x + y); });
  }
  int WarningBoxes() const {
    int n = 0;
    for (const auto& b : plat.boxes())
      if (b.text == "There are no files to process in the directory") {
        EXPECT_EQ(b.caption, "Warning!");
        EXPECT_EQ(b.icon, BoxIcon::Warning);
        EXPECT_FALSE(b.owned);
        ++n;
      }
    return n;
  }
  TempDir dir;
};

TEST_F(CommandsTest, TypeChangeBeforeAnyFolderOnlySwitchesTheType) {
  plat.ListAdd("0101.png");
  ChangeFileType(1);
  EXPECT_EQ(st.cu_ext, 1);
  EXPECT_EQ(st.admext, ".tif");
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0101.png"});
  EXPECT_TRUE(plat.console().empty());
  EXPECT_TRUE(plat.boxes().empty());
}

TEST_F(CommandsTest, TypeChangeRescansAnExistingFolder) {
  AddPng("0102.png");
  AddPng("0101.png");
  st.szDirPath = dir.str();
  st.geoxi = -3.5;
  st.val_long = 1;
  plat.SetControlText(ctl::kLongitude, "-3.5");

  ChangeFileType(1);  // no .tif rasters there
  EXPECT_TRUE(plat.list().empty());
  ASSERT_FALSE(plat.console().empty());
  EXPECT_EQ(plat.console().back(), "WARNING: There are no files to process in the directory");
  EXPECT_EQ(plat.ControlText(ctl::kLongitude), "Type here the Longitude");
  EXPECT_EQ(plat.ControlText(ctl::kLatitude), "Type here the Latitude");
  EXPECT_EQ(WarningBoxes(), 1);
  // Only the texts are reset, not the coordinates behind them.
  EXPECT_EQ(st.geoxi, -3.5);
  EXPECT_EQ(st.val_long, 1);

  ChangeFileType(0);
  EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.png", "0102.png"}));
  EXPECT_EQ(st.proj_w, 200);
  EXPECT_EQ(WarningBoxes(), 1);
}

TEST_F(CommandsTest, TypeChangeWithAFileAsWorkDirectoryDoesNotScan) {
  AddPng("0101.png");
  st.szDirPath = (dir / "0101.png").string();
  plat.ListAdd("kept");
  ChangeFileType(1);
  EXPECT_EQ(st.admext, ".tif");
  EXPECT_EQ(plat.list(), std::vector<std::string>{"kept"});
  EXPECT_TRUE(plat.boxes().empty());
}

TEST(SessionId, IsTheLocalDateAsYearMonthDay) {
  std::tm t{};
  t.tm_year = 2016 - 1900;
  t.tm_mon = 3;
  t.tm_mday = 4;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  EXPECT_EQ(MakeSessionId(std::mktime(&t)), "160404");
  t.tm_year = 2009 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  EXPECT_EQ(MakeSessionId(std::mktime(&t)), "091231");
}

}  // namespace

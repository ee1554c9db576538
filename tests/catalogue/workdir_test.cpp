// The raster type choice and the work directory, on the recording platform.
#include <gtest/gtest.h>

#include "catalogue/workdir.h"
#include "support/support.h"

namespace {

using CommandsTest = StateTest;

TEST_F(CommandsTest, WorkDirectoryAndTypeChange) {
  TempDir dir;
  WritePngRgb(dir / "0101.png", 120, 120, [](int, int) { return 7u; });
  UseWorkDirectory(dir.str());
  EXPECT_EQ(plat.console(), std::vector<std::string>{"Work directoy selected: " + dir.str()});
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0101.png"});
  EXPECT_EQ(st.szDirName, dir.path().filename().string());

  // Only the field texts are reset; no .tif rasters there: a warning.
  st.geoxi = -3.5;
  st.val_long = 1;
  ChangeFileType(1);
  EXPECT_TRUE(plat.list().empty());
  EXPECT_EQ(plat.ControlText(ctl::kLongitude) + "|" + plat.ControlText(ctl::kLatitude),
            "Type here the Longitude|Type here the Latitude");
  EXPECT_EQ(st.geoxi + st.val_long, -2.5);
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_TRUE(plat.boxes()[0].caption == "Warning!" && !plat.boxes()[0].owned);

  // A file where the work folder was: the type changes, nothing is scanned.
  st.szDirPath = (dir / "0101.png").string();
  plat.ListAdd("kept");
  ChangeFileType(0);
  EXPECT_EQ(st.admext + plat.list().at(0), ".pngkept");
  EXPECT_EQ(plat.boxes().size(), 1u);
}

}  // namespace

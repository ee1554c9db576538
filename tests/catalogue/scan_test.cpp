#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "catalogue/workdir.h"

#include <sys/stat.h>
#include <tiffio.h>

#include "support/support.h"

namespace {

const std::string kName = "DISCARDED: The name of the file doesn't match requirements (see manual) - ";
const std::string kWidthRange = "DISCARDED: The raster must be between 120 and 600 px width - ";
const std::string kHeightRange = "DISCARDED: The raster must be between 120 and 600 px height - ";
const std::string kWidthMismatch = "DISCARDED: All the raster in a project must have the same dimension - ";
const std::string kHeightMismatch = "DISCARDED: All raster in a project must have the same dimension - ";

uint32_t Flat(int, int) { return 0; }
float FlatF(int, int) { return 0.0f; }

class ScanTest : public StateTest {
 protected:
  uint8_t Scan() { return listdirect(dir.str(), st.admext); }
  TempDir dir;
};

TEST_F(ScanTest, NameRuleAndNameOrder) {
  // Rejected names are never decoded, so their content does not matter.
  for (const char* bad : {"0001.png", "1000.png", "0100.png", "101.png", "A101.png", "01010.png", "0101.PNG"})
    WriteFileBytes(dir / bad, {1, 2, 3});
  for (const char* good : {"9999.png", "0199.png", "0110.png"}) WritePngRgb(dir / good, 200, 200, Flat);
  WriteFileBytes(dir / "0103.tif", {1});   // another type: not seen
  plat.SetProgress(40);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), (std::vector<std::string>{"0110.png", "0199.png", "9999.png"}));
  // Byte order of the names fixes the order of the lines.
  std::vector<std::string> lines;
  for (const char* n : {"0001.png", "0100.png", "0101.PNG", "01010.png", "1000.png", "101.png", "A101.png"})
    lines.push_back(kName + n);
  EXPECT_EQ(plat.console(), lines);
  // No coordinates file: coordinates untouched.
  EXPECT_EQ(std::vector<int>({st.proj_w, st.flagname, int(st.prmaxheight.size()), plat.progress(), st.val_long,
                              int(plat.boxes().size())}),
            std::vector<int>({200, 1, 3, 0, 2, 0}));
}

TEST_F(ScanTest, SizeRulesRunInOrder) {
  for (auto [name, h] : {std::pair{"0101.png", 700}, {"0102.png", 300}, {"0103.png", 300}, {"0104.png", 250}})
    WritePngRgb(dir / name, std::string(name) == "0102.png" ? 300 : 200, h, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(std::vector<int>({st.proj_w, st.proj_h}), std::vector<int>({200, 300}));
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.png"});

  // Sides are held to 120..600 while the size is still open; a claimed size
  // out of range is rejected from the header, never decoded.
  TempDir other;
  WritePngRgb(other / "0101.png", 119, 200, Flat);
  WriteFileBytes(other / "0102.png", PngClaiming(40000, 40000));
  WriteFileBytes(other / "0103.png", PngClaiming(200, 90000));
  WritePngRgb(other / "0104.png", 200, 600, Flat);
  EXPECT_EQ(listdirect(other.str(), ".png"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0104.png"});
  EXPECT_EQ(plat.console(), (std::vector<std::string>{kHeightRange + "0101.png", kWidthMismatch + "0102.png",
                                                      kHeightMismatch + "0104.png", kWidthRange + "0101.png",
                                                      kWidthRange + "0102.png", kHeightRange + "0103.png"}));
}

// Folders as users have them: a name in no encoding at a path longer than
// old limits scans; a directory named like a raster, through a link, is
// skipped without a word; pipes named like a raster or the coordinates file
// must not hang the scan. A file that is no TIFF at all is told in a box;
// an 8-bit RGB TIFF opens fine but holds no heights.
TEST_F(ScanTest, OddFolderContent) {
  fs::path odd = dir / "Añón \xff\xfe 山";
  while (odd.string().size() < 3900) odd /= std::string(200, 'd');
  fs::create_directories(odd);
  WriteTiffFloat(odd / "0102.tif", 150, 140, FlatF);
  fs::create_directory_symlink(".", odd / "0103.tif");
  for (const char* name : {"0101.tif", kCoordinatesFile}) ASSERT_EQ(mkfifo((odd / name).c_str(), 0600), 0);
  WriteFileBytes(odd / "0104.tif", {'x', 'y', 'z', 'z', 'y'});
  WriteTiff(odd / "0105.tif", 200, 200, {8, SAMPLEFORMAT_UINT, 3, PHOTOMETRIC_RGB},
            [](uint32_t, uint32_t) { return 7; });
  st.cu_ext = 1;
  st.admext = ".tif";
  ASSERT_TRUE(EndsWithin(5, [&] { listdirect(odd.string(), ".tif"); })) << "the scan waits on a pipe";
  EXPECT_EQ(listdirect(odd.string(), ".tif"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(std::vector<int>({st.proj_w, st.proj_h}), std::vector<int>({150, 140}));
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text + plat.boxes()[0].caption, "Fatal Error. TIF error loading imageError!");
  ASSERT_EQ(plat.console().size(), 2u);
  EXPECT_EQ(plat.console()[0], "DISCARDED: The file is not a regular file - 0101.tif");
  const std::string line = plat.console()[1];
  EXPECT_TRUE(line.starts_with("DISCARDED: ") && line.ends_with(" - 0105.tif") && line.size() > 25) << line;
  const fs::path saved = dir / kCoordinatesFile;
  EXPECT_TRUE(WriteCoordinatesFile(saved.string(), -3.5, 40.25) &&
              !WriteCoordinatesFile((dir / "missing" / kCoordinatesFile).string(), 1, 2));
  // Little-endian binary64: -3.5 is 0xC00C000000000000.
  EXPECT_EQ(Cut(ReadFileBytes(saved), 9), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x0C, 0xC0, 0}));
}

// The raster type choice and the work directory, on the recording platform.
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

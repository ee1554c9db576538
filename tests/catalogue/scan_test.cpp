#include "catalogue/coords_file.h"
#include "catalogue/scan.h"

#include <sys/stat.h>
#include <tiffio.h>

#include "support/support.h"

namespace {

const std::string kNameMsg = "DISCARDED: The name of the file doesn't match requirements (see manual) - ";
const std::string kWidthRange = "DISCARDED: The raster must be between 120 and 600 px width - ";
const std::string kHeightRange = "DISCARDED: The raster must be between 120 and 600 px height - ";
const std::string kWidthMismatch = "DISCARDED: All the raster in a project must have the same dimension - ";
const std::string kHeightMismatch = "DISCARDED: All raster in a project must have the same dimension - ";

uint32_t Flat(int, int) { return 0; }
float FlatF(int, int) { return 0.0f; }

// The first 24 bytes of a PNG (signature and IHDR) claiming a size, with
// nothing after them: decoding it would fail.
void WritePngHeaderOnly(const fs::path& p, uint32_t w, uint32_t h) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h})
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
  WriteFileBytes(p, b);
}

class ScanTest : public StateTest {
 protected:
  void UseTiff() {
    st.cu_ext = 1;
    st.admext = ".tif";
  }
  uint8_t Scan() { return listdirect(dir.str(), st.admext); }
  TempDir dir;
};

TEST_F(ScanTest, NameRuleAndNameOrder) {
  // Rejected names are never decoded, so their content does not matter.
  for (const char* bad : {"0001.png", "1000.png", "0100.png", "101.png", "A101.png", "01010.png", "0101.PNG"})
    WriteFileBytes(dir / bad, {1, 2, 3});
  for (const char* good : {"9999.png", "0199.png", "0110.png"}) WritePngRgb(dir / good, 200, 200, Flat);
  fs::create_directory(dir / "0102.png");  // a folder named like a sector: skipped silently
  WriteFileBytes(dir / "0103.tif", {1});   // another type: not seen
  plat.SetProgress(40);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), (std::vector<std::string>{"0110.png", "0199.png", "9999.png"}));
  // Byte order of the names fixes the order of the lines.
  EXPECT_EQ(plat.console(), (std::vector<std::string>{kNameMsg + "0001.png", kNameMsg + "0100.png",
                                                      kNameMsg + "0101.PNG", kNameMsg + "01010.png",
                                                      kNameMsg + "1000.png", kNameMsg + "101.png",
                                                      kNameMsg + "A101.png"}));
  EXPECT_EQ(st.proj_w, 200);
  EXPECT_EQ(st.flagname, 1);
  EXPECT_EQ(st.prmaxheight.size(), 3u);
  EXPECT_EQ(plat.progress(), 0);
  EXPECT_TRUE(plat.boxes().empty());
  EXPECT_EQ(st.val_long, 2);  // no coordinates file: coordinates untouched
}

TEST_F(ScanTest, NothingOfTheTypeLeavesTheProjectAsItWas) {
  WritePngRgb(dir / "0101.png", 200, 200, Flat);
  fs::create_directory(dir / "0102.tif");
  UseTiff();
  st.proj_w = st.proj_h = 300;
  st.prmaxheight.assign(3, HeightRecord{5, 0, 0, 0});
  plat.ListAdd("0909.tif");
  EXPECT_EQ(Scan(), 0);
  EXPECT_TRUE(plat.list().empty());
  EXPECT_EQ(st.prmaxheight.size(), 3u);
  EXPECT_EQ(st.flagname, 0);
  EXPECT_TRUE(plat.console().empty());
  EXPECT_EQ(listdirect((dir / "missing").string(), ".tif"), 0);
  EXPECT_EQ(::DirectoryExists(dir.str()), 1);
  EXPECT_EQ(::DirectoryExists((dir / "0101.png").string()), 0);
  EXPECT_EQ(::DirectoryExists((dir / "missing").string()), 0);
}

TEST_F(ScanTest, SizeRulesRunInOrder) {
  WritePngRgb(dir / "0101.png", 200, 700, Flat);
  WritePngRgb(dir / "0102.png", 300, 300, Flat);
  WritePngRgb(dir / "0103.png", 200, 300, Flat);
  WritePngRgb(dir / "0104.png", 200, 250, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(st.proj_w, 200);
  EXPECT_EQ(st.proj_h, 300);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.png"});

  // Sides are held to 120..600 while the size is still open; a claimed size
  // out of range is rejected from the header, never decoded.
  TempDir other;
  WritePngRgb(other / "0101.png", 119, 200, Flat);
  WritePngHeaderOnly(other / "0102.png", 40000, 40000);
  WritePngHeaderOnly(other / "0103.png", 200, 90000);
  WritePngRgb(other / "0104.png", 200, 600, Flat);
  EXPECT_EQ(listdirect(other.str(), ".png"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0104.png"});
  EXPECT_EQ(plat.console(), (std::vector<std::string>{kHeightRange + "0101.png", kWidthMismatch + "0102.png",
                                                      kHeightMismatch + "0104.png", kWidthRange + "0101.png",
                                                      kWidthRange + "0102.png", kHeightRange + "0103.png"}));
}

TEST_F(ScanTest, UndecodablePngInRangeIsFatal) {
  WritePngHeaderOnly(dir / "0101.png", 200, 200);
  try {
    Scan();
    FAIL() << "expected the process to end";
  } catch (const ProcessExit& e) {
    EXPECT_EQ(e.code, 1);
  }
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text.rfind("Fatal Error Loading Data.", 0), 0u);
}

TEST_F(ScanTest, UnreadableTiffShowsBoxAndTiffWithoutHeightsIsDiscarded) {
  UseTiff();
  WriteFileBytes(dir / "0101.tif", {'x', 'y', 'z', 'z', 'y'});
  // An 8-bit RGB TIFF opens fine but holds no heights.
  TIFF* t = TIFFOpen((dir / "0102.tif").c_str(), "w");
  ASSERT_NE(t, nullptr);
  for (auto [tag, value] : {std::pair{TIFFTAG_IMAGEWIDTH, 200}, {TIFFTAG_IMAGELENGTH, 200}, {TIFFTAG_SAMPLESPERPIXEL, 3},
                            {TIFFTAG_BITSPERSAMPLE, 8}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB}})
    TIFFSetField(t, tag, value);
  std::vector<uint8_t> row(600, 7);
  for (int y = 0; y < 200; ++y) ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
  TIFFClose(t);
  WriteTiffFloat(dir / "0103.tif", 150, 140, FlatF);

  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.tif"});
  EXPECT_EQ(st.proj_w, 150);
  EXPECT_EQ(st.proj_h, 140);
  ASSERT_EQ(plat.boxes().size(), 1u);
  EXPECT_EQ(plat.boxes()[0].text, "Fatal Error. TIF error loading image");
  EXPECT_EQ(plat.boxes()[0].caption, "Error!");
  // One line in the discard style, naming a reason and the file.
  const auto lines = plat.console();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("DISCARDED: ", 0), 0u);
  EXPECT_GT(lines[0].size(), std::string("DISCARDED:  - 0102.tif").size());
  EXPECT_TRUE(lines[0].ends_with(" - 0102.tif"));
}

TEST_F(ScanTest, LoadsSavedCoordinates) {
  WritePngRgb(dir / "0101.png", 120, 120, Flat);
  const fs::path f = dir / kCoordinatesFile;
  ASSERT_TRUE(WriteCoordinatesFile(f.string(), -3.5, 40.25));
  // Little-endian binary64: -3.5 is 0xC00C000000000000.
  const auto bytes = ReadFileBytes(f);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0x0C, 0xC0}));
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.ControlText(ctl::kLongitude), "-3.500000");
  EXPECT_EQ(plat.ControlText(ctl::kLatitude), "40.250000");
  EXPECT_EQ(st.geoxi, -3.5);
  EXPECT_EQ(st.geoyi, 40.25);
  EXPECT_EQ(st.val_long, 1);
  EXPECT_EQ(st.val_lat, 1);
  EXPECT_FALSE(WriteCoordinatesFile((dir / "missing" / "pr_data.vtd").string(), 1, 2));
}

// Folders as users have them. Directories named like rasters, also through
// a link, are skipped without a word; a link that cannot be followed is an
// unreadable file (a box for TIFF, the fatal load box for PNG); a pipe
// named like a raster or the coordinates file must not hang the scan; a
// name in no encoding at a path longer than old limits scans.
TEST_F(ScanTest, LinksPipesAndOddNames) {
  WritePngRgb(dir / "0102.png", 130, 130, Flat);
  WriteTiffFloat(dir / "0102.tif", 130, 130, FlatF);
  fs::create_directory(dir / "0101.png");
  fs::create_directory_symlink(".", dir / "0103.png");
  fs::create_symlink(kCoordinatesFile, dir / kCoordinatesFile);
  st.val_long = 2;
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.png"});
  EXPECT_EQ(st.val_long, 2);
  EXPECT_TRUE(plat.console().empty());
  fs::create_symlink("0105.tif", dir / "0104.tif");
  fs::create_symlink("0104.tif", dir / "0105.tif");
  fs::create_symlink("absent.tif", dir / "0107.tif");
  UseTiff();
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(plat.boxes().size(), 3u);
  for (const char* name : {"0101.tif", "0101.png", kCoordinatesFile}) {
    TempDir folder;
    ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
    const std::string ext = std::string(name) == "0101.tif" ? ".tif" : ".png";
    WriteTiffFloat(folder / "0102.tif", 120, 120, FlatF);
    WritePngRgb(folder / "0102.png", 120, 120, Flat);
    EXPECT_TRUE(EndsWithin(5, [&] { listdirect(folder.str(), ext); })) << name << ": the scan waits on the pipe";
  }
  fs::path odd = dir / "Añón \xff\xfe 山";
  while (odd.string().size() < 3900) odd /= std::string(200, 'd');
  fs::create_directories(odd);
  WritePngRgb(odd / "0101.png", 120, 120, Flat);
  st.cu_ext = 0;
  st.admext = ".png";
  EXPECT_EQ(listdirect(odd.string(), ".png"), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0101.png"});
}

}  // namespace

#include "catalogue/scan.h"

#include <tiffio.h>

#include <cmath>

#include "support/fixtures.h"

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

// An 8-bit RGB TIFF: opens fine but holds no heights.
void WriteTiffRgb(const fs::path& p, int w, int h) {
  TIFF* t = TIFFOpen(p.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(w));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(h));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3, 7);
  for (int y = 0; y < h; ++y) ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
  TIFFClose(t);
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

TEST_F(ScanTest, AdmitsMatchingRastersInNameOrder) {
  WritePngRgb(dir / "0102.png", 200, 200, Flat);
  WritePngRgb(dir / "0101.png", 200, 200, Flat);
  plat.SetProgress(40);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.png", "0102.png"}));
  EXPECT_EQ(st.proj_w, 200);
  EXPECT_EQ(st.proj_h, 200);
  EXPECT_EQ(st.flagname, 1);
  ASSERT_EQ(st.prmaxheight.size(), 2u);
  EXPECT_EQ(st.prmaxheight[1].hmax, 0);
  EXPECT_EQ(plat.progress(), 0);
  EXPECT_TRUE(plat.console().empty());
  // No coordinates file: coordinates untouched.
  EXPECT_EQ(st.val_long, 2);
  EXPECT_EQ(st.val_lat, 2);
  EXPECT_EQ(plat.ControlText(ctl::kLongitude), "");
}

TEST_F(ScanTest, NameRule) {
  // Rejected names are never decoded, so their content does not matter.
  for (const char* bad : {"0001.png", "1000.png", "0100.png", "101.png", "A101.png", "01010.png", "0101.PNG"})
    WriteFileBytes(dir / bad, {1, 2, 3});
  for (const char* good : {"0110.png", "0199.png", "9999.png"}) WritePngRgb(dir / good, 120, 120, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), (std::vector<std::string>{"0110.png", "0199.png", "9999.png"}));
  // Byte order of the names fixes the order of the lines.
  EXPECT_EQ(plat.console(), (std::vector<std::string>{kNameMsg + "0001.png", kNameMsg + "0100.png",
                                                      kNameMsg + "0101.PNG", kNameMsg + "01010.png",
                                                      kNameMsg + "1000.png", kNameMsg + "101.png",
                                                      kNameMsg + "A101.png"}));
}

TEST_F(ScanTest, OtherTypeIsNotSeenAndLeavesProjectAsItWas) {
  WritePngRgb(dir / "0101.png", 200, 200, Flat);
  UseTiff();
  st.proj_w = st.proj_h = 300;
  st.prmaxheight.assign(3, HeightRecord{5, 0, 0, 0});
  plat.ListAdd("0909.tif");
  plat.SetProgress(70);
  EXPECT_EQ(Scan(), 0);
  EXPECT_TRUE(plat.list().empty());
  EXPECT_EQ(plat.progress(), 0);
  EXPECT_EQ(st.proj_w, 300);
  EXPECT_EQ(st.proj_h, 300);
  EXPECT_EQ(st.prmaxheight.size(), 3u);
  EXPECT_EQ(st.flagname, 0);
  EXPECT_TRUE(plat.console().empty());
  EXPECT_EQ(listdirect((dir / "missing").string(), ".tif"), 0);
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
  EXPECT_EQ(plat.console(), (std::vector<std::string>{kHeightRange + "0101.png", kWidthMismatch + "0102.png",
                                                      kHeightMismatch + "0104.png"}));
}

TEST_F(ScanTest, SideLimits) {
  WritePngRgb(dir / "0101.png", 119, 200, Flat);
  WritePngRgb(dir / "0102.png", 601, 200, Flat);
  WritePngRgb(dir / "0103.png", 120, 600, Flat);
  WritePngRgb(dir / "0104.png", 120, 600, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.console(),
            (std::vector<std::string>{kWidthRange + "0101.png", kWidthRange + "0102.png"}));
  EXPECT_EQ(plat.list().size(), 2u);
  EXPECT_EQ(st.proj_w, 120);
  EXPECT_EQ(st.proj_h, 600);

  // A rescan after the rasters changed size takes the new size.
  WritePngRgb(dir / "0103.png", 150, 160, Flat);
  WritePngRgb(dir / "0104.png", 150, 160, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(st.proj_w, 150);
  EXPECT_EQ(st.proj_h, 160);
}

TEST_F(ScanTest, OversizedPngIsRejectedFromItsHeader) {
  // Decoding either of these would end the process; the header is enough.
  WritePngHeaderOnly(dir / "0101.png", 40000, 40000);
  WritePngHeaderOnly(dir / "0102.png", 200, 90000);
  WritePngRgb(dir / "0103.png", 200, 200, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.console(),
            (std::vector<std::string>{kWidthRange + "0101.png", kHeightRange + "0102.png"}));
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.png"});
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

  // No PNG header at all: the decoder decides, and fails.
  TempDir other;
  WriteFileBytes(other / "0101.png", {'n', 'o', 't'});
  EXPECT_THROW(listdirect(other.str(), ".png"), ProcessExit);
}

TEST_F(ScanTest, DirectoriesAreSkippedSilently) {
  fs::create_directory(dir / "0101.png");
  st.proj_w = st.proj_h = 300;
  EXPECT_EQ(Scan(), 0);
  EXPECT_TRUE(plat.console().empty());
  // The search found an entry, so the size was reset.
  EXPECT_EQ(st.proj_w, 0);

  WritePngRgb(dir / "0102.png", 130, 130, Flat);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.png"});
  EXPECT_TRUE(plat.console().empty());
}

TEST_F(ScanTest, UnopenableTiffShowsBoxAndScanGoesOn) {
  UseTiff();
  WriteFileBytes(dir / "0101.tif", {'x', 'y', 'z', 'z', 'y'});
  // A dangling link and a link loop fail to open like any unreadable file.
  fs::create_symlink(dir / "nowhere.tif", dir / "0102.tif");
  fs::create_symlink(dir / "0103.tif", dir / "0103.tif");
  WriteTiffFloat(dir / "0104.tif", 150, 140, FlatF);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0104.tif"});
  EXPECT_TRUE(plat.console().empty());
  const auto boxes = plat.boxes();
  ASSERT_EQ(boxes.size(), 3u);
  for (const auto& b : boxes) {
    EXPECT_EQ(b.text, "Fatal Error. TIF error loading image");
    EXPECT_EQ(b.caption, "Error!");
    EXPECT_EQ(b.icon, BoxIcon::Error);
    EXPECT_FALSE(b.owned);
  }
  EXPECT_EQ(st.proj_w, 150);
  EXPECT_EQ(st.proj_h, 140);
}

TEST_F(ScanTest, TiffWithoutHeightsIsDiscardedAndFixesNoSize) {
  UseTiff();
  WriteTiffRgb(dir / "0101.tif", 200, 200);
  WriteTiffFloat(dir / "0102.tif", 130, 130, FlatF);
  EXPECT_EQ(Scan(), 1);
  const auto lines = plat.console();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("DISCARDED: ", 0), 0u);
  EXPECT_GT(lines[0].size(), std::string("DISCARDED:  - 0101.tif").size());
  EXPECT_EQ(lines[0].substr(lines[0].size() - 11), " - 0101.tif");
  EXPECT_TRUE(plat.boxes().empty());
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(st.proj_w, 130);
}

TEST_F(ScanTest, AllRejectedKeepsTableAndCoordinates) {
  WritePngRgb(dir / "0101.png", 100, 100, Flat);
  ASSERT_TRUE(WriteCoordinatesFile((dir / kCoordinatesFile).string(), 1.0, 2.0));
  st.prmaxheight.assign(4, HeightRecord{});
  EXPECT_EQ(Scan(), 0);
  EXPECT_EQ(st.prmaxheight.size(), 4u);
  EXPECT_EQ(st.val_long, 2);
  EXPECT_EQ(plat.console().size(), 1u);
}

TEST_F(ScanTest, LoadsSavedCoordinates) {
  WritePngRgb(dir / "0101.png", 120, 120, Flat);
  const fs::path f = dir / kCoordinatesFile;
  ASSERT_TRUE(WriteCoordinatesFile(f.string(), -3.5, 40.25));
  // Little-endian binary64: -3.5 is 0xC00C000000000000.
  const auto bytes = ReadFileBytes(f);
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[7], 0xC0);
  EXPECT_EQ(bytes[6], 0x0C);
  EXPECT_EQ(bytes[0], 0x00);

  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.ControlText(ctl::kLongitude), "-3.500000");
  EXPECT_EQ(plat.ControlText(ctl::kLatitude), "40.250000");
  EXPECT_EQ(st.geoxi, -3.5);
  EXPECT_EQ(st.geoyi, 40.25);
  EXPECT_EQ(st.val_long, 1);
  EXPECT_EQ(st.val_lat, 1);

  // No range check, full precision, trailing bytes ignored.
  ASSERT_TRUE(WriteCoordinatesFile(f.string(), 500.0, 0.1234567891));
  auto longer = ReadFileBytes(f);
  longer.push_back(0xFF);
  WriteFileBytes(f, longer);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(st.geoxi, 500.0);
  EXPECT_EQ(st.geoyi, 0.1234567891);
  EXPECT_EQ(plat.ControlText(ctl::kLatitude), "0.123457");
}

TEST_F(ScanTest, ShortOrNonFiniteCoordinatesCountAsMissing) {
  WritePngRgb(dir / "0101.png", 120, 120, Flat);
  const fs::path f = dir / kCoordinatesFile;
  ASSERT_TRUE(WriteCoordinatesFile(f.string(), -3.5, 40.25));
  auto bytes = ReadFileBytes(f);
  bytes.pop_back();
  WriteFileBytes(f, bytes);
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(st.val_long, 2);

  for (double bad : {std::nan(""), HUGE_VAL}) {
    ASSERT_TRUE(WriteCoordinatesFile(f.string(), 10.0, bad));
    EXPECT_EQ(Scan(), 1);
    EXPECT_EQ(st.val_lat, 2);
    EXPECT_EQ(st.geoxi, 0.0);
    EXPECT_EQ(plat.ControlText(ctl::kLongitude), "");
  }
  double lon = 0, lat = 0;
  EXPECT_FALSE(ReadCoordinatesFile((dir / "absent").string(), lon, lat));
}

TEST_F(ScanTest, CoordinatesWriteFailureIsReported) {
  EXPECT_FALSE(WriteCoordinatesFile((dir / "no" / kCoordinatesFile).string(), 1, 2));
  EXPECT_FALSE(WriteCoordinatesFile("/dev/full", 1, 2));
}

TEST_F(ScanTest, DirectoryExists) {
  WriteFileBytes(dir / "file", {1});
  EXPECT_EQ(::DirectoryExists(dir.str()), 1);
  EXPECT_EQ(::DirectoryExists((dir / "file").string()), 0);
  EXPECT_EQ(::DirectoryExists((dir / "absent").string()), 0);
  EXPECT_EQ(::DirectoryExists(""), 0);
}

}  // namespace

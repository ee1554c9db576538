// TIFF rasters of every sample layout, cut short, and not TIFFs at all,
// through the scan and through loading a sector for the run.
#include <sys/resource.h>
#include <tiffio.h>

#include <cmath>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "hardening/corpus.h"
#include "terrain/raster.h"
#include "terrain/tiff.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;
using corpus::TiffLayout;

const std::string kCentreFatal = std::string("Fatal error loading data") + kFatalTail + kSupportAddress;

constexpr uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE;
constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK, kRgb = PHOTOMETRIC_RGB, kPalette = PHOTOMETRIC_PALETTE;
constexpr uint16_t kInt = SAMPLEFORMAT_INT, kUint = SAMPLEFORMAT_UINT, kFloat = SAMPLEFORMAT_IEEEFP;

class TiffCorpusTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.cu_ext = 1;
    st.admext = ".tif";
    st.szDirPath = dir.str();
  }
  // Scans the folder with a good sector 0102 of w x h next to whatever 0101 is.
  uint8_t ScanNextToGood(int w = 120, int h = 120) {
    WriteTiffFloat(dir / "0102.tif", w, h, [](int, int) { return 100.0f; });
    return listdirect(dir.str(), ".tif");
  }
  // Loads `name` as the run does, with its diagnostics kept off the log.
  int LoadSector(const std::string& name) {
    matriz_entorno(name);
    testing::internal::CaptureStdout();
    const int code = ExitCodeOf([&] { Inicia_BuildEntorno((dir / name).string()); });
    testing::internal::GetCapturedStdout();
    return code;
  }
  FloatRasterPtr Load(const std::string& name) {
    testing::internal::CaptureStdout();
    FloatRasterPtr r = Carga_Imagen_tif((dir / name).string());
    testing::internal::GetCapturedStdout();
    return r;
  }
  std::vector<uint8_t> Written(const TiffLayout& layout) {
    corpus::WriteTiff(dir / "tmp.tif", 120, 120, layout, [](uint32_t x, uint32_t y) { return (x * 13 + y * 7) % 200 * 1.5; });
    std::vector<uint8_t> b = ReadFileBytes(dir / "tmp.tif");
    fs::remove(dir / "tmp.tif");
    return b;
  }
  TempDir dir;
};

// Heights equal the file's samples converted to float, whatever their type,
// byte order, compression or organisation.
TEST_F(TiffCorpusTest, EverySupportedLayoutScansAndLoadsItsSamples) {
  struct Case {
    const char* name;
    TiffLayout layout;
    double lo, hi;  // the samples run from lo (first pixel) to hi (last)
  };
  const Case cases[] = {
      {"int8", {8, kInt}, -128, 127},
      {"uint8", {8, kUint}, 0, 255},
      {"int16", {16, kInt}, -32768, 32767},
      {"uint16", {16, kUint}, 0, 65535},
      {"int32", {32, kInt}, -2147483648.0, 2147483647.0},
      {"uint32", {32, kUint}, 0, 4294967295.0},
      {"float32", {32, kFloat}, -431.25, 8848.75},
      {"float64", {64, kFloat}, -1e-3, 1e30},
      {"lzw float32 predictor 3", {32, kFloat, 1, kGrey, kLzw, 3}, -10.25, 3000.5},
      {"deflate int16 predictor 2", {16, kInt, 1, kGrey, kDeflate, 2}, -500, 4000},
      {"tiled float32, edge tiles padded", {32, kFloat, 1, kGrey, kNone, 0, 16}, 0.5, 8000.5},
      {"tiled lzw int32", {32, kInt, 1, kGrey, kLzw, 0, 32}, -9000, 9000},
      {"big-endian uint32", {32, kUint, 1, kGrey, kNone, 0, 0, true}, 0, 4294967295.0},
      {"big-endian float64", {64, kFloat, 1, kGrey, kNone, 0, 0, true}, -1e-3, 1e30},
      {"big-endian tiled deflate int16", {16, kInt, 1, kGrey, kDeflate, 0, 16, true}, -32768, 32767},
  };
  const uint32_t w = 120, h = 130;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.layout.format == kFloat ? v : std::floor(v);
    };
    corpus::WriteTiff(dir / "0101.tif", w, h, c.layout, value);
    ASSERT_EQ(ScanNextToGood(w, h), 1);
    EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.tif", "0102.tif"}));
    ASSERT_EQ(LoadSector("0101.tif"), kNoExit);
    ASSERT_TRUE(st.sfdata_tif);
    EXPECT_TRUE(st.sent5_tif);  // 0102 lies north
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(TIFGetPixel(st.sfdata_tif.get(), static_cast<int32_t>(x), static_cast<int32_t>(y)),
                  static_cast<float>(value(x, y)))
            << x << "," << y;
    CleanSurfaces();
    ReleaseCounters();
  }
  EXPECT_TRUE(plat.boxes().empty());
}

// Files named like sectors that give no single height per pixel: not TIFFs
// at all, cut before their tags are whole (libtiff writes the directory
// last, so any cut of its own files loses it), or of a layout the program
// doesn't take. The scan skips each with the box for a file that can't be
// opened or a discard line, leaving no descriptor open; the same file put
// in place after the scan admitted a good one stops the load.
TEST_F(TiffCorpusTest, FilesWithoutOneHeightPerPixelAreSkippedAndNeverLoaded) {
  const std::vector<uint8_t> native = Written({});
  size_t data = 0;
  const std::vector<uint8_t> front = corpus::DirectoryFirst(native, data);
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"empty", {}},
      {"text", {'1', '0', '0', '0', ' ', '1', '0', '0', '1', '\n'}},
      {"big-endian magic, directory past the end", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0}},
      {"directory pointing at itself", {'I', 'I', 42, 0, 4, 0, 0, 0}},
      {"zero entries", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"bigtiff magic only", {'I', 'I', 43, 0, 8, 0, 0, 0}},
      {"a png", corpus::PngClaiming(120, 120)},
      {"magic only", corpus::Cut(native, 4)},
      {"header only", corpus::Cut(native, 8)},
      {"half", corpus::Cut(native, native.size() / 2)},
      {"one byte short", corpus::Cut(native, native.size() - 1)},
      {"directory first, cut inside it", corpus::Cut(front, 10)},
      {"directory first, cut before the pixels", corpus::Cut(front, data - 1)},
  };
  const size_t unreadable = cases.size();
  for (const auto& [name, layout] : std::initializer_list<std::pair<const char*, TiffLayout>>{
           {"rgb 8", {8, kUint, 3, kRgb}},
           {"big-endian rgb 16 lzw", {16, kUint, 3, kRgb, kLzw, 0, 0, true}},
           {"palette 8", {8, kUint, 1, kPalette}},
           {"palette 4", {4, kUint, 1, kPalette}},
           {"1-bit", {1, kUint}},
           {"1-bit white is zero", {1, kUint, 1, PHOTOMETRIC_MINISWHITE}},
           {"grey and alpha", {16, kUint, 2}},
           {"12-bit", {12, kUint}},
           {"16-bit float", {16, kFloat}},
           {"untyped 32-bit", {32, SAMPLEFORMAT_VOID}},
           {"complex int 32-bit", {32, SAMPLEFORMAT_COMPLEXINT}}})
    cases.push_back({name, Written(layout)});
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    Tried();
    const size_t fds = corpus::OpenFiles();
    WriteFileBytes(dir / "0101.tif", cases[i].second);
    EXPECT_FALSE(Load("0101.tif"));
    const size_t events = plat.boxes().size() + plat.console().size();
    ASSERT_EQ(ExitCodeOf([&] { EXPECT_EQ(ScanNextToGood(), 1); }), kNoExit);
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
    EXPECT_EQ(plat.boxes().size() + plat.console().size(), events + 1);
    if (i >= unreadable) { EXPECT_EQ(plat.console().back(), "DISCARDED: unsupported TIFF sample layout - 0101.tif"); }
    EXPECT_EQ(corpus::OpenFiles(), fds);
    fs::rename(dir / "0101.tif", dir / "0102.tif");
    EXPECT_EQ(LoadSector("0102.tif"), -1);
    EXPECT_EQ(plat.boxes().back().text, kCentreFatal);
    EXPECT_FALSE(st.sfdata_tif);
  }
}

// Cut in the pixel data with the tags whole: the scan admits the file and
// only the load finds it short. As a neighbour it is left out with a
// warning; as the centre it ends the program with nothing held.
TEST_F(TiffCorpusTest, FilesShortOfPixelDataFailCleanlyOnLoad) {
  const std::pair<const char*, TiffLayout> layouts[] = {
      {"float32 strips", {32, kFloat}},
      {"lzw float32", {32, kFloat, 1, kGrey, kLzw, 3}},
      {"tiled deflate int16", {16, kInt, 1, kGrey, kDeflate, 0, 32}},
      {"big-endian float64", {64, kFloat, 1, kGrey, kNone, 0, 0, true}},
  };
  for (const auto& [name, layout] : layouts) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> native = Written(layout);
    size_t data = 0;
    const std::vector<uint8_t> front = corpus::DirectoryFirst(native, data);
    WriteFileBytes(dir / "0101.tif", front);  // whole, the relaid file loads
    ASSERT_TRUE(Load("0101.tif"));
    for (size_t n : {data, data + 1, (data + front.size()) / 2, front.size() - 1}) {
      SCOPED_TRACE("cut at " + std::to_string(n));
      Tried();
      const size_t fds = corpus::OpenFiles();
      WriteFileBytes(dir / "0101.tif", corpus::Cut(front, n));
      EXPECT_FALSE(Load("0101.tif"));
      ASSERT_EQ(ScanNextToGood(), 1);
      EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.tif", "0102.tif"}));
      EXPECT_EQ(LoadSector("0102.tif"), kNoExit);
      EXPECT_EQ(plat.boxes().back().text,
                "Warning! error loading additional data\n Results could be corrupt or not enough accurate");
      EXPECT_EQ(st.matflgarea[3], 0);
      EXPECT_FALSE(st.sent4_tif);
      EXPECT_EQ(LoadSector("0101.tif"), -1);
      EXPECT_EQ(plat.boxes().back().text, kCentreFatal);
      EXPECT_FALSE(st.sfdata_tif);
      EXPECT_FALSE(st.sent5_tif);
      EXPECT_EQ(corpus::OpenFiles(), fds);
    }
  }
}

// Directories claiming sizes no raster has: the scan reads only their size
// tags and the size rules refuse them like any other raster (one whose
// width is in range still fixes the project's width); a direct load fails
// at its first missing row without taking memory for the whole claim.
TEST_F(TiffCorpusTest, HugeClaimedSizesGoThroughTheSizeRulesWithoutReading) {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const long rss = ru.ru_maxrss;
  const std::string range = "DISCARDED: The raster must be between 120 and 600 px ";
  const std::string width_mismatch = "DISCARDED: All the raster in a project must have the same dimension - 0102.tif";
  struct Case {
    uint32_t w, h;
    std::vector<std::string> lines;  // the scan's console
    int proj_w;
  };
  const Case cases[] = {
      {100000, 100000, {range + "width - 0101.tif"}, 200},
      {0xFFFFFFFF, 1, {range + "width - 0101.tif"}, 200},
      {60000, 60000, {range + "width - 0101.tif"}, 200},
      {200, 65535, {range + "height - 0101.tif"}, 200},
      {300, 70000, {range + "height - 0101.tif", width_mismatch}, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    Tried();
    // A header and directory over one short strip.
    TIFF* t = TIFFOpen((dir / "0101.tif").c_str(), "w");
    ASSERT_TRUE(t);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, c.w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, c.h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::max<uint32_t>(c.h, 1));
    std::vector<float> row(std::clamp<uint32_t>(c.w, 1, 1024), 1.0f);
    TIFFWriteRawStrip(t, 0, row.data(), static_cast<tmsize_t>(row.size() * 4));
    TIFFClose(t);
    const size_t before = plat.console().size(), boxes = plat.boxes().size();
    testing::internal::CaptureStderr();  // libtiff's own warnings about the odd sizes
    const uint8_t found = ScanNextToGood(200, 200);
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> console = plat.console();
    EXPECT_EQ(std::vector<std::string>(console.begin() + static_cast<ptrdiff_t>(before), console.end()), c.lines);
    EXPECT_EQ(found, c.lines.size() == 1 ? 1 : 0);
    EXPECT_EQ(plat.list(), c.lines.size() == 1 ? std::vector<std::string>{"0102.tif"} : std::vector<std::string>{});
    EXPECT_EQ(st.proj_w, c.proj_w);
    EXPECT_EQ(plat.boxes().size(), boxes);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Load("0101.tif"));
    testing::internal::GetCapturedStderr();
  }
  getrusage(RUSAGE_SELF, &ru);
  EXPECT_LT(ru.ru_maxrss - rss, 128 * 1024);
}

}  // namespace

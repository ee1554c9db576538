// TIFF rasters of every sample layout, cut short, and not TIFFs at all,
// through the scan and through loading a sector for the run.
#include <tiffio.h>
#include <sys/resource.h>

#include <cmath>

#include "catalogue/neighbours.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "hardening/corpus.h"
#include "terrain/raster.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;
using corpus::TiffSpec;

const std::string kTifBox = "Fatal Error. TIF error loading image";
const std::string kNeighbourWarning =
    "Warning! error loading additional data\n Results could be corrupt or not enough accurate";
const std::string kCentreFatal = std::string("Fatal error loading data") + kFatalTail + kSupportAddress;

constexpr uint16_t kNone = COMPRESSION_NONE, kLzw = COMPRESSION_LZW, kDeflate = COMPRESSION_ADOBE_DEFLATE,
                   kPackBits = COMPRESSION_PACKBITS;
constexpr uint16_t kGrey = PHOTOMETRIC_MINISBLACK;
constexpr uint16_t kInt = SAMPLEFORMAT_INT, kUint = SAMPLEFORMAT_UINT, kFloat = SAMPLEFORMAT_IEEEFP;

float Flat(int, int) { return 100.0f; }

class TiffCorpusTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.cu_ext = 1;
    st.admext = ".tif";
    st.szDirPath = dir.str();
  }
  uint8_t Scan() { return listdirect(dir.str(), ".tif"); }
  // Loads `name` as the run does, with its diagnostics kept off the log.
  int LoadSector(const std::string& name) {
    matriz_entorno(name);
    testing::internal::CaptureStdout();
    const int code = ExitCodeOf([&] { Inicia_BuildEntorno((dir / name).string()); });
    testing::internal::GetCapturedStdout();
    return code;
  }
  FloatRasterPtr Load(const fs::path& p) {
    testing::internal::CaptureStdout();
    FloatRasterPtr r = Carga_Imagen_tif(p.string());
    testing::internal::GetCapturedStdout();
    return r;
  }
  std::vector<uint8_t> Written(const TiffSpec& spec, uint32_t w = 120, uint32_t h = 120) {
    WriteTiffCase(spec, w, h);
    std::vector<uint8_t> b = ReadFileBytes(dir / "tmp.tif");
    fs::remove(dir / "tmp.tif");
    return b;
  }
  void WriteTiffCase(const TiffSpec& spec, uint32_t w, uint32_t h) {
    corpus::WriteTiff(dir / "tmp.tif", w, h, spec, [](uint32_t x, uint32_t y) { return (x * 13 + y * 7) % 200 * 1.5; });
  }
  TempDir dir;
};

// Heights equal the file's samples converted to float, whatever their type,
// byte order, compression or organisation.
TEST_F(TiffCorpusTest, EverySupportedLayoutScansAndLoadsItsSamples) {
  struct Case {
    const char* name;
    TiffSpec spec;
    double lo, hi;  // the samples run from lo (first pixel) to hi (last)
  };
  std::vector<Case> cases = {
      {"int8", {8, kInt}, -128, 127},
      {"uint8", {8, kUint}, 0, 255},
      {"int16", {16, kInt}, -32768, 32767},
      {"uint16", {16, kUint}, 0, 65535},
      {"int32", {32, kInt}, -2147483648.0, 2147483647.0},
      {"uint32", {32, kUint}, 0, 4294967295.0},
      {"float32", {32, kFloat}, -431.25, 8848.75},
      {"float64", {64, kFloat}, -1e-3, 1e30},
      {"lzw float32", {32, kFloat, 1, kGrey, kLzw}, -10.25, 3000.5},
      {"lzw float32 predictor 3", {32, kFloat, 1, kGrey, kLzw, 3}, -10.25, 3000.5},
      {"deflate int16 predictor 2", {16, kInt, 1, kGrey, kDeflate, 2}, -500, 4000},
      {"deflate float64 predictor 3", {64, kFloat, 1, kGrey, kDeflate, 3}, 0.125, 2500.5},
      {"packbits uint8", {8, kUint, 1, kGrey, kPackBits}, 0, 255},
      {"tiled float32, edge tiles padded", {32, kFloat, 1, kGrey, kNone, 0, 16}, 0.5, 8000.5},
      {"tiled lzw int32", {32, kInt, 1, kGrey, kLzw, 0, 32}, -9000, 9000},
      {"big-endian int16", {16, kInt, 1, kGrey, kNone, 0, 0, true}, -32768, 32767},
      {"big-endian uint32", {32, kUint, 1, kGrey, kNone, 0, 0, true}, 0, 4294967295.0},
      {"big-endian float32", {32, kFloat, 1, kGrey, kNone, 0, 0, true}, -431.25, 8848.75},
      {"big-endian float64", {64, kFloat, 1, kGrey, kNone, 0, 0, true}, -1e-3, 1e30},
      {"big-endian lzw float32 predictor 3", {32, kFloat, 1, kGrey, kLzw, 3, 0, true}, -10.25, 3000.5},
      {"big-endian tiled deflate uint16", {16, kUint, 1, kGrey, kDeflate, 0, 16, true}, 0, 65535},
  };
  for (uint16_t codec : {uint16_t{COMPRESSION_ZSTD}, uint16_t{COMPRESSION_LZMA}})
    if (TIFFIsCODECConfigured(codec)) cases.push_back({"zstd/lzma float32", {32, kFloat, 1, kGrey, codec}, -5, 5000});

  const uint32_t w = 120, h = 130;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    auto value = [&](uint32_t x, uint32_t y) {
      const double v = c.lo + (c.hi - c.lo) * (y * w + x) / (w * h - 1);
      return c.spec.format == kFloat ? v : std::floor(v);
    };
    corpus::WriteTiff(dir / "0101.tif", w, h, c.spec, value);
    WriteTiffFloat(dir / "0102.tif", w, h, Flat);
    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.tif", "0102.tif"}));
    EXPECT_TRUE(plat.console().empty());
    EXPECT_EQ(st.proj_w, static_cast<int32_t>(w));
    EXPECT_EQ(st.proj_h, static_cast<int32_t>(h));

    ASSERT_EQ(LoadSector("0101.tif"), kNoExit);
    ASSERT_TRUE(st.sfdata_tif);
    ASSERT_TRUE(st.sent5_tif);  // 0102 lies north
    EXPECT_EQ(st.matflgarea[5], 1);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(TIFGetPixel(st.sfdata_tif.get(), static_cast<int32_t>(x), static_cast<int32_t>(y)),
                  static_cast<float>(value(x, y)))
            << x << "," << y;
    EXPECT_EQ(TIFGetPixel(st.sfdata_tif.get(), w - 1, h - 1), static_cast<float>(c.hi));
    EXPECT_NE(st.prmaxheight[0].hmax, 0);
    CleanSurfaces();
    ReleaseCounters();
  }
  EXPECT_TRUE(plat.boxes().empty());
}

// Layouts that hold no single height per pixel: the scan says why and lists
// the others; the same file put in place after the scan stops the load with
// its message.
TEST_F(TiffCorpusTest, UnsupportedLayoutsAreDiscardedAndNeverLoaded) {
  struct Case {
    const char* name;
    TiffSpec spec;
  };
  const Case cases[] = {
      {"rgb 8", {8, kUint, 3, PHOTOMETRIC_RGB}},
      {"rgb 16", {16, kUint, 3, PHOTOMETRIC_RGB}},
      {"rgb lzw", {8, kUint, 3, PHOTOMETRIC_RGB, kLzw}},
      {"palette 8", {8, kUint, 1, PHOTOMETRIC_PALETTE}},
      {"palette 4", {4, kUint, 1, PHOTOMETRIC_PALETTE}},
      {"1-bit black is zero", {1, kUint}},
      {"1-bit white is zero", {1, kUint, 1, PHOTOMETRIC_MINISWHITE}},
      {"grey and alpha", {16, kUint, 2}},
      {"12-bit", {12, kUint}},
      {"16-bit float", {16, kFloat}},
      {"24-bit float", {24, kFloat}},
      {"untyped 32-bit", {32, SAMPLEFORMAT_VOID}},
      {"complex int 32-bit", {32, SAMPLEFORMAT_COMPLEXINT}},
      {"big-endian rgb 16", {16, kUint, 3, PHOTOMETRIC_RGB, kNone, 0, 0, true}},
  };
  const std::string line = "DISCARDED: unsupported TIFF sample layout - 0101.tif";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    WriteTiffCase(c.spec, 120, 120);
    fs::rename(dir / "tmp.tif", dir / "0101.tif");
    WriteTiffFloat(dir / "0102.tif", 120, 120, Flat);
    const size_t lines = plat.console().size();
    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
    ASSERT_EQ(plat.console().size(), lines + 1);
    EXPECT_EQ(plat.console().back(), line);
    EXPECT_FALSE(Load(dir / "0101.tif"));

    // The same file under 0102's name after the scan admitted a good one.
    fs::copy_file(dir / "0101.tif", dir / "0102.tif", fs::copy_options::overwrite_existing);
    const size_t boxes = plat.boxes().size();
    EXPECT_EQ(LoadSector("0102.tif"), -1);
    ASSERT_EQ(plat.boxes().size(), boxes + 1);
    EXPECT_EQ(plat.boxes().back().text, kCentreFatal);
    EXPECT_FALSE(st.sfdata_tif);
    fs::remove(dir / "0101.tif");
  }
}

// Files cut at every kind of place. With the directory at the end, as
// libtiff writes it, any cut loses the directory and the file can't be
// opened; with the directory in front, a cut in the pixel data leaves the
// tags readable, so the scan admits the file and only the load finds it
// short.
TEST_F(TiffCorpusTest, TruncatedFilesFailCleanlyInScanAndLoad) {
  struct Layout {
    const char* name;
    TiffSpec spec;
  };
  const Layout layouts[] = {
      {"float32 strips", {32, kFloat}},
      {"lzw float32", {32, kFloat, 1, kGrey, kLzw, 3}},
      {"tiled deflate int16", {16, kInt, 1, kGrey, kDeflate, 0, 32}},
      {"big-endian float64", {64, kFloat, 1, kGrey, kNone, 0, 0, true}},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const std::vector<uint8_t> native = Written(l.spec);
    const std::vector<uint8_t> front = corpus::DirectoryFirst(native);
    ASSERT_EQ(front.size(), native.size());
    const size_t data = corpus::FirstDataByte(front);
    // The relaid file is whole and reads exactly as the original.
    WriteFileBytes(dir / "a.tif", native);
    WriteFileBytes(dir / "b.tif", front);
    FloatRasterPtr a = Load(dir / "a.tif"), b = Load(dir / "b.tif");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->samples, b->samples);
    fs::remove(dir / "a.tif");
    fs::remove(dir / "b.tif");

    struct Cut {
      const std::vector<uint8_t>* file;
      size_t n;
      bool tags_readable;
    };
    const Cut cuts[] = {
        {&native, 0, false},        {&native, 4, false},         {&native, 8, false},
        {&native, native.size() / 2, false}, {&native, native.size() - 1, false},
        {&front, 10, false},        {&front, data - 1, false},   {&front, data, true},
        {&front, data + 1, true},   {&front, (data + front.size()) / 2, true}, {&front, front.size() - 1, true},
    };
    for (const Cut& cut : cuts) {
      SCOPED_TRACE("cut at " + std::to_string(cut.n) + (cut.file == &native ? " (directory last)" : " (directory first)"));
      Tried();
      const std::vector<uint8_t> bytes = corpus::Cut(*cut.file, cut.n);
      const size_t fds = corpus::OpenFiles();
      WriteFileBytes(dir / "0101.tif", bytes);
      EXPECT_FALSE(Load(dir / "0101.tif"));
      uint32_t cw = 0, ch = 0;
      bool opened = false;
      const std::string reason = CheckTiffLayout((dir / "0101.tif").string(), cw, ch, opened);
      EXPECT_EQ(corpus::OpenFiles(), fds);

      WriteTiffFloat(dir / "0102.tif", 120, 120, Flat);
      const auto before = corpus::Snapshot(dir.path());
      const size_t boxes = plat.boxes().size();
      ASSERT_EQ(Scan(), 1);
      EXPECT_EQ(corpus::Snapshot(dir.path()), before);
      if (!cut.tags_readable) {
        // Unreadable: the box, nothing listed, the scan goes on.
        EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
        if (!opened) {
          ASSERT_EQ(plat.boxes().size(), boxes + 1);
          EXPECT_EQ(plat.boxes().back().text, kTifBox);
        } else {
          EXPECT_EQ(plat.console().back().rfind("DISCARDED: ", 0), 0u);
        }
        continue;
      }
      EXPECT_EQ(reason, "");
      EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.tif", "0102.tif"}));
      // As a neighbour: a warning, and the sector goes on without it.
      EXPECT_EQ(LoadSector("0102.tif"), kNoExit);
      EXPECT_EQ(plat.boxes().back().text, kNeighbourWarning);
      EXPECT_EQ(st.matflgarea[3], 0);
      EXPECT_FALSE(st.sent4_tif);
      // As the centre: the load ends the program, with nothing held.
      EXPECT_EQ(LoadSector("0101.tif"), -1);
      EXPECT_EQ(plat.boxes().back().text, kCentreFatal);
      EXPECT_FALSE(st.sfdata_tif);
      EXPECT_FALSE(st.sent5_tif);
      EXPECT_EQ(corpus::Snapshot(dir.path()), before);
    }
  }
}

// Files named like TIFF sectors that are not TIFFs, or not files.
TEST_F(TiffCorpusTest, NonTiffsWithSectorNamesAreSkipped) {
  WritePngRgb(dir / "x.png", 120, 120, [](int, int) { return 1000u; });
  const std::vector<uint8_t> png = ReadFileBytes(dir / "x.png");
  fs::remove(dir / "x.png");
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> contents = {
      {"empty", {}},
      {"text", {'1', '0', '0', '0', ' ', '1', '0', '0', '1', '\n'}},
      {"little-endian magic then nothing", {'I', 'I', 42, 0}},
      {"big-endian magic, directory past the end", {'M', 'M', 0, 42, 0x7F, 0xFF, 0xFF, 0xF0}},
      {"directory pointing at itself", {'I', 'I', 42, 0, 4, 0, 0, 0}},
      {"zero entries", {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"bigtiff magic only", {'I', 'I', 43, 0, 8, 0, 0, 0}},
      {"a png", png},
  };
  for (const auto& [what, bytes] : contents) {
    SCOPED_TRACE(what);
    Tried();
    WriteFileBytes(dir / "0101.tif", bytes);
    EXPECT_FALSE(Load(dir / "0101.tif"));
    WriteTiffFloat(dir / "0102.tif", 120, 120, Flat);
    const size_t boxes = plat.boxes().size(), lines = plat.console().size();
    ASSERT_EQ(ExitCodeOf([&] { EXPECT_EQ(Scan(), 1); }), kNoExit);
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
    // Either the box for a file that can't be opened or a discard line.
    EXPECT_EQ(plat.boxes().size() - boxes + plat.console().size() - lines, 1u);
  }
  Tried(2);
  fs::remove(dir / "0101.tif");
  fs::create_directory(dir / "0101.tif");
  fs::create_directory(dir / "0103.TIF");
  const size_t boxes = plat.boxes().size(), lines = plat.console().size();
  EXPECT_EQ(Scan(), 1);
  EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
  EXPECT_EQ(plat.boxes().size(), boxes);
  EXPECT_EQ(plat.console().size(), lines);
}

// Directories claiming sizes no raster has: refused from the tags, and a
// direct load of one fails at its first missing row without taking memory
// for the whole claim.
TEST_F(TiffCorpusTest, HugeClaimedSizesAreRejectedWithoutReading) {
  auto claim = [&](uint32_t w, uint32_t h) {
    // A header and directory over one short strip; libtiff writes the
    // strip arrays for the claimed size.
    TIFF* t = TIFFOpen((dir / "0101.tif").c_str(), "w");
    if (!t) return;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<float> row(std::min<uint32_t>(w, 1024), 1.0f);
    TIFFWriteRawStrip(t, 0, row.data(), static_cast<tmsize_t>(row.size() * 4));
    TIFFClose(t);
  };
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  const long rss = ru.ru_maxrss;
  struct Case {
    uint32_t w, h;
    std::string line;
  };
  const Case cases[] = {
      {100000, 100000, "DISCARDED: invalid TIFF image size - 0101.tif"},
      {0xFFFFFFFF, 1, "DISCARDED: invalid TIFF image size - 0101.tif"},
      {60000, 60000, "DISCARDED: The raster must be between 120 and 600 px width - 0101.tif"},
      {200, 65535, "DISCARDED: The raster must be between 120 and 600 px height - 0101.tif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    Tried();
    claim(c.w, c.h);
    ASSERT_TRUE(fs::exists(dir / "0101.tif"));
    WriteTiffFloat(dir / "0102.tif", 200, 200, Flat);
    ASSERT_EQ(Scan(), 1);
    EXPECT_EQ(plat.console().back(), c.line);
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0102.tif"});
    EXPECT_FALSE(Load(dir / "0101.tif"));
  }
  getrusage(RUSAGE_SELF, &ru);
  EXPECT_LT(ru.ru_maxrss - rss, 128 * 1024);
}

}  // namespace

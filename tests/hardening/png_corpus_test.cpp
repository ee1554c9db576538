// PNG rasters as users really have them: every colour type and depth,
// files cut short, files that are not images, sizes no raster has.
#include <png.h>
#include <sys/resource.h>

#include <cstdio>

#include "catalogue/scan.h"
#include "hardening/corpus.h"
#include "terrain/raster.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;

const std::string kLoadFatal = std::string("Fatal Error Loading Data.") + kFatalTail + kSupportAddress;
const std::string kWidthRange = "DISCARDED: The raster must be between 120 and 600 px width - ";
const std::string kHeightRange = "DISCARDED: The raster must be between 120 and 600 px height - ";

long PeakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Something to compress that does not shrink to nothing.
uint32_t Busy(int x, int y) { return static_cast<uint32_t>((x * 7919 + y * 104729) % 9000); }

class PngCorpusTest : public StateTest {
 protected:
  // Scans `dir` for PNG rasters; returns the exit code of a fatal path or
  // kNoExit, and the scan result in `result`.
  int ScanExit(uint8_t& result) {
    result = 0;
    return ExitCodeOf([&] { result = listdirect(dir.str(), ".png"); });
  }
  // The last box is the loader's fatal message, shown without an owner.
  void ExpectLoadFatalBox() {
    const auto boxes = plat.boxes();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back().text, kLoadFatal);
    EXPECT_EQ(boxes.back().caption, "Error!");
    EXPECT_EQ(boxes.back().icon, BoxIcon::Error);
    EXPECT_FALSE(boxes.back().owned);
  }
  TempDir dir;
};

// The heights each kind of PNG gives: the display-format value of the
// colour the decoder makes of it. Grey levels of any depth are scaled to
// 8 bits and become grey colours; 16-bit samples keep their high byte;
// alpha is dropped; palette indices give their entry's colour.
TEST_F(PngCorpusTest, EveryColourTypeAndDepthLoadsAsColourValues) {
  struct Case {
    const char* name;
    corpus::PngSpec spec;
    std::vector<std::vector<uint32_t>> pixels;  // channels of the 4 pixels of each row
    std::vector<uint32_t> heights;
  };
  constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyA = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
                kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPal = PNG_COLOR_TYPE_PALETTE;
  auto spec = [](int type, int depth, bool interlace = false, std::vector<uint32_t> palette = {},
                 std::vector<uint8_t> trns = {}) {
    corpus::PngSpec p;
    p.colour_type = type;
    p.bit_depth = depth;
    p.interlace = interlace;
    p.palette = std::move(palette);
    p.trns = std::move(trns);
    return p;
  };
  std::vector<uint32_t> pal256(256);
  for (uint32_t i = 0; i < 256; ++i) pal256[i] = i * 0x010203u & 0xFFFFFFu;
  const uint32_t g = 0x010101;
  const Case cases[] = {
      {"grey 1", spec(kGrey, 1), {{0}, {1}, {1}, {0}}, {0, 255 * g, 255 * g, 0}},
      {"grey 2", spec(kGrey, 2), {{0}, {1}, {2}, {3}}, {0, 85 * g, 170 * g, 255 * g}},
      {"grey 4", spec(kGrey, 4), {{0}, {1}, {7}, {15}}, {0, 17 * g, 119 * g, 255 * g}},
      {"grey 8", spec(kGrey, 8), {{0}, {10}, {128}, {255}}, {0, 657930, 128 * g, 255 * g}},
      {"grey 16", spec(kGrey, 16), {{0}, {0x01FF}, {0x8000}, {0xFFFF}}, {0, 1 * g, 0x80 * g, 255 * g}},
      {"grey+alpha 8", spec(kGreyA, 8), {{10, 255}, {20, 0}, {30, 128}, {255, 255}}, {10 * g, 20 * g, 30 * g, 255 * g}},
      {"grey+alpha 16", spec(kGreyA, 16), {{0x0AFF, 0xFFFF}, {0x1400, 0}, {0, 0x8000}, {0xFFFF, 0xFFFF}},
       {10 * g, 20 * g, 0, 255 * g}},
      {"rgb 8", spec(kRgb, 8), {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 34, 96}, {255, 255, 255}},
       {1000, 0x123456, 8800, 0xFFFFFF}},
      {"rgb 16", spec(kRgb, 16), {{0x00FF, 0x03FF, 0xE801}, {0x1234, 0x3456, 0x5678}, {0, 0, 0}, {0xFFFF, 0xFFFF, 0xFFFF}},
       {1000, 0x123456, 0, 0xFFFFFF}},
      {"rgba 8", spec(kRgba, 8), {{0, 3, 232, 0}, {0x12, 0x34, 0x56, 128}, {0, 0, 0, 255}, {1, 2, 3, 7}},
       {1000, 0x123456, 0, 0x010203}},
      {"rgba 16", spec(kRgba, 16), {{0x0000, 0x0300, 0xE800, 0}, {0x12FF, 0x34FF, 0x56FF, 0xFFFF}, {0, 0, 0, 0}, {0xFFFF, 0, 0, 1}},
       {1000, 0x123456, 0, 0xFF0000}},
      {"palette 1", spec(kPal, 1, false, {0x000000, 0x0003E8}), {{0}, {1}, {1}, {0}}, {0, 1000, 1000, 0}},
      {"palette 2", spec(kPal, 2, false, {0x0003E8, 0x002260, 0x123456, 0xFFFFFF}), {{0}, {1}, {2}, {3}},
       {1000, 8800, 0x123456, 0xFFFFFF}},
      {"palette 4", spec(kPal, 4, false, std::vector<uint32_t>(pal256.begin(), pal256.begin() + 16)), {{0}, {1}, {9}, {15}},
       {0, 0x010203, 9 * 0x010203u, 15 * 0x010203u}},
      {"palette 8", spec(kPal, 8, false, pal256), {{0}, {5}, {200}, {255}},
       {0, 5 * 0x010203u, 200 * 0x010203u & 0xFFFFFFu, 255 * 0x010203u & 0xFFFFFFu}},
      // Transparency chunks change how the decoder stores pixels, not
      // the colour they have.
      {"palette 8 + tRNS", spec(kPal, 8, false, pal256, {0, 128, 255}), {{0}, {1}, {2}, {3}},
       {0, 0x010203, 0x020406, 0x030609}},
      {"palette 8 + one transparent", spec(kPal, 8, false, pal256, {255, 0}), {{0}, {1}, {2}, {3}},
       {0, 0x010203, 0x020406, 0x030609}},
      {"rgb 8 interlaced", spec(kRgb, 8, true), {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 34, 96}, {255, 255, 255}},
       {1000, 0x123456, 8800, 0xFFFFFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    const fs::path p = dir / "0101.png";
    corpus::WritePng(p, 4, 3, c.spec, [&](int x, int, int ch) { return c.pixels[static_cast<size_t>(x)][static_cast<size_t>(ch)]; });
    SurfacePtr s;
    ASSERT_EQ(ExitCodeOf([&] { s = Carga_Imagen(p.string()); }), kNoExit);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->w, 4);
    EXPECT_EQ(s->h, 3);
    EXPECT_EQ(s->format->BytesPerPixel, st.pantalla->format->BytesPerPixel);
    std::printf("png %-28s heights", c.name);
    for (int x = 0; x < 4; ++x) {
      std::printf(" %u", SDLGetPixel(s.get(), x, 2));
      for (int y = 0; y < 3; ++y) EXPECT_EQ(HeightOfPixel(s.get(), nullptr, x, y), static_cast<float>(c.heights[x])) << x << "," << y;
    }
    std::printf("\n");
  }
  EXPECT_TRUE(plat.boxes().empty());
}

// A good raster cut at every kind of place: inside the signature, inside
// IHDR, at the start of the pixel data, in its middle, before the end chunk.
TEST_F(PngCorpusTest, TruncatedFilesEndCleanlyWithTheLoadMessage) {
  WritePngRgb(dir / "good.png", 200, 200, Busy);
  const std::vector<uint8_t> whole = ReadFileBytes(dir / "good.png");
  fs::remove(dir / "good.png");
  ASSERT_GT(whole.size(), 1000u);
  const size_t cuts[] = {0, 1, 7, 8, 16, 23, 24, 33, 40, 100, whole.size() / 2, whole.size() - 13, whole.size() - 12,
                         whole.size() - 1};
  for (size_t n : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(n) + " of " + std::to_string(whole.size()));
    Tried();
    const fs::path p = dir / "0101.png";
    WriteFileBytes(p, corpus::Cut(whole, n));
    const size_t boxes = plat.boxes().size();
    const size_t fds = corpus::OpenFiles();

    // The loader alone: a whole image or the fatal message, nothing between.
    SurfacePtr s;
    const int code = ExitCodeOf([&] { s = Carga_Imagen(p.string()); });
    if (code == kNoExit) {
      // Only a file missing nothing but its end chunk still decodes.
      EXPECT_GE(n, whole.size() - 12);
      ASSERT_TRUE(s);
      EXPECT_EQ(s->w, 200);
      EXPECT_EQ(SDLGetPixel(s.get(), 199, 199), Busy(199, 199));
    } else {
      EXPECT_EQ(code, 1);
      ASSERT_EQ(plat.boxes().size(), boxes + 1);
      ExpectLoadFatalBox();
    }
    EXPECT_EQ(corpus::OpenFiles(), fds);

    // The scan: the same file in a folder next to a good one.
    WritePngRgb(dir / "0102.png", 200, 200, Busy);
    const auto before = corpus::Snapshot(dir.path());
    uint8_t result = 0;
    const int scan_code = ScanExit(result);
    EXPECT_EQ(scan_code, code);
    if (scan_code == kNoExit) {
      EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.png", "0102.png"}));
    } else {
      ExpectLoadFatalBox();
    }
    EXPECT_EQ(corpus::Snapshot(dir.path()), before);
  }
}

// Files with sector names whose contents are not rasters: the scan cannot
// learn their size without decoding them, so it ends the program with the
// load message, as for any undecodable raster.
TEST_F(PngCorpusTest, NonImagesWithSectorNamesEndCleanly) {
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> contents = {
      {"empty", {}},
      {"text", {'h', 'e', 'i', 'g', 'h', 't', 's', ' ', '1', '0', '0', '0', '\n'}},
      {"html", [] {
         const std::string s = "<!DOCTYPE html><html><body>404 Not Found</body></html>\n";
         return std::vector<uint8_t>(s.begin(), s.end());
       }()},
      {"signature only", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}},
      {"zeros", std::vector<uint8_t>(4096, 0)},
      {"stamped package", [] {
         std::vector<uint8_t> b = corpus::PngClaiming(200, 200);
         std::copy_n("TSVLP", 5, b.begin());
         return b;
       }()},
  };
  for (const auto& [what, bytes] : contents) {
    SCOPED_TRACE(what);
    Tried();
    TempDir folder;
    WriteFileBytes(folder / "0101.png", bytes);
    WritePngRgb(folder / "0102.png", 150, 150, Busy);
    const auto before = corpus::Snapshot(folder.path());
    const size_t fds = corpus::OpenFiles();
    EXPECT_EQ(ExitCodeOf([&] { listdirect(folder.str(), ".png"); }), 1);
    ExpectLoadFatalBox();
    EXPECT_EQ(corpus::OpenFiles(), fds);
    EXPECT_EQ(corpus::Snapshot(folder.path()), before);
    // The same file under a name the scan rejects is only reported.
    fs::rename(folder / "0101.png", folder / "0001.png");
    uint8_t result = 0;
    ASSERT_EQ(ExitCodeOf([&] { result = listdirect(folder.str(), ".png"); }), kNoExit);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(plat.console().back(), "DISCARDED: The name of the file doesn't match requirements (see manual) - 0001.png");
  }
}

// Headers claiming sizes no raster has. The scan rejects them by the
// header alone; the loader on its own fails cleanly, without the claimed
// gigabytes ever being taken.
TEST_F(PngCorpusTest, HugeClaimedSizesAreRejectedWithoutDecoding) {
  struct Case {
    uint32_t w, h;
    const char* line;  // the scan's line, before the name
  };
  const Case cases[] = {{100000, 100000, "width"}, {200, 100000, "height"}, {100000, 200, "width"},
                        {0x7FFFFFFF, 0x7FFFFFFF, "width"}, {21846, 1, "width"}, {601, 601, "width"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + " x " + std::to_string(c.h));
    Tried(2);
    TempDir folder;
    const size_t lines = plat.console().size();
    WriteFileBytes(folder / "0101.png", corpus::PngClaiming(c.w, c.h));
    WriteFileBytes(folder / "0102.png", corpus::PngHeader(c.w, c.h));
    // The first file fixes the width when its width is in range.
    const int good_w = c.w >= 120 && c.w <= 600 ? static_cast<int>(c.w) : 120;
    WritePngRgb(folder / "0103.png", good_w, 120, Busy);
    uint8_t result = 0;
    ASSERT_EQ(ExitCodeOf([&] { result = listdirect(folder.str(), ".png"); }), kNoExit);
    EXPECT_EQ(result, 1);
    const std::string msg = std::string(c.line) == "width" ? kWidthRange : kHeightRange;
    const auto console = plat.console();
    EXPECT_EQ(std::vector<std::string>(console.begin() + static_cast<ptrdiff_t>(lines), console.end()),
              (std::vector<std::string>{msg + "0101.png", msg + "0102.png"}));
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.png"});
  }
  // Straight into the loader: the decoder refuses, or finds the rows
  // missing, before the claimed size is ever touched.
  const long rss = PeakRssKb();
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{100000, 100000}, {21846, 2}, {0x7FFFFFFF, 1},
                             {5000, 100000}, {20000, 20000}, {3000, 30000}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Tried();
    WriteFileBytes(dir / "big.png", corpus::PngClaiming(w, h));
    EXPECT_EQ(ExitCodeOf([&] { Carga_Imagen((dir / "big.png").string()); }), 1);
    ExpectLoadFatalBox();
  }
  EXPECT_LT(PeakRssKb() - rss, 64 * 1024);
}

// A chunk whose length runs past the end of the file. The decoder's reader
// ignores short reads, so the PNG library goes on parsing stale bytes past
// the end and never stops: the loader must refuse such a file up front.
TEST_F(PngCorpusTest, ChunkRunningPastTheEndDoesNotHang) {
  WritePngRgb(dir / "good.png", 120, 120, Busy);
  std::vector<uint8_t> bytes = corpus::Cut(ReadFileBytes(dir / "good.png"), 33);  // signature and IHDR
  fs::remove(dir / "good.png");
  for (uint8_t b : std::vector<uint8_t>{0x00, 0x38, 0x00, 0x01, 's', 'R', 'G', 'B', 0x00, 0xAE, 0xCE, 0x1C}) bytes.push_back(b);
  WriteFileBytes(dir / "0101.png", bytes);
  Tried(2);
  EXPECT_TRUE(corpus::EndsWithin(10, [&] { Carga_Imagen((dir / "0101.png").string()); }))
      << "the loader still runs after 10 s";
  EXPECT_TRUE(corpus::EndsWithin(10, [&] { listdirect(dir.str(), ".png"); })) << "the scan still runs after 10 s";
}

}  // namespace

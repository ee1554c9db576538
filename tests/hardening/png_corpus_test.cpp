// PNG rasters as users really have them: every colour type and depth,
// files cut short, files that are not images, sizes no raster has.
#include <png.h>
#include <sys/resource.h>

#include "catalogue/scan.h"
#include "hardening/corpus.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;

const std::string kLoadFatal = std::string("Fatal Error Loading Data.") + kFatalTail + kSupportAddress;

long PeakRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Something to compress that does not shrink to nothing.
uint32_t Busy(int x, int y) { return static_cast<uint32_t>((x * 7919 + y * 104729) % 9000); }

class PngCorpusTest : public StateTest {
 protected:
  void ExpectLoadFatalBox() {
    ASSERT_FALSE(plat.boxes().empty());
    EXPECT_EQ(plat.boxes().back().text, kLoadFatal);
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
    corpus::PngLayout layout;
    std::vector<std::vector<uint32_t>> pixels;  // channels of the 4 pixels of each row
    std::vector<uint32_t> heights;
  };
  constexpr int kGrey = PNG_COLOR_TYPE_GRAY, kGreyA = PNG_COLOR_TYPE_GRAY_ALPHA, kRgb = PNG_COLOR_TYPE_RGB,
                kRgba = PNG_COLOR_TYPE_RGB_ALPHA, kPal = PNG_COLOR_TYPE_PALETTE;
  std::vector<uint32_t> pal256(256);
  for (uint32_t i = 0; i < 256; ++i) pal256[i] = i * 0x010203u & 0xFFFFFFu;
  const std::vector<uint32_t> pal16(pal256.begin(), pal256.begin() + 16);
  const uint32_t g = 0x010101, p = 0x010203;
  const std::vector<std::vector<uint32_t>> rgb8 = {{0, 3, 232}, {0x12, 0x34, 0x56}, {0, 34, 96}, {255, 255, 255}};
  const Case cases[] = {
      {"grey 1", {kGrey, 1}, {{0}, {1}, {1}, {0}}, {0, 255 * g, 255 * g, 0}},
      {"grey 2", {kGrey, 2}, {{0}, {1}, {2}, {3}}, {0, 85 * g, 170 * g, 255 * g}},
      {"grey 4", {kGrey, 4}, {{0}, {1}, {7}, {15}}, {0, 17 * g, 119 * g, 255 * g}},
      {"grey 8", {kGrey, 8}, {{0}, {10}, {128}, {255}}, {0, 10 * g, 128 * g, 255 * g}},
      {"grey 16", {kGrey, 16}, {{0}, {0x01FF}, {0x8000}, {0xFFFF}}, {0, 1 * g, 0x80 * g, 255 * g}},
      {"grey+alpha 8", {kGreyA, 8}, {{10, 255}, {20, 0}, {30, 128}, {255, 255}}, {10 * g, 20 * g, 30 * g, 255 * g}},
      {"grey+alpha 16", {kGreyA, 16}, {{0x0AFF, 0xFFFF}, {0x1400, 0}, {0, 0x8000}, {0xFFFF, 0xFFFF}}, {10 * g, 20 * g, 0, 255 * g}},
      {"rgb 8", {kRgb, 8}, rgb8, {1000, 0x123456, 8800, 0xFFFFFF}},
      {"rgb 16", {kRgb, 16}, {{0x00FF, 0x03FF, 0xE801}, {0x1234, 0x3456, 0x5678}, {0, 0, 0}, {0xFFFF, 0xFFFF, 0xFFFF}},
       {1000, 0x123456, 0, 0xFFFFFF}},
      {"rgba 8", {kRgba, 8}, {{0, 3, 232, 0}, {0x12, 0x34, 0x56, 128}, {0, 0, 0, 255}, {1, 2, 3, 7}}, {1000, 0x123456, 0, p}},
      {"rgba 16", {kRgba, 16}, {{0, 0x0300, 0xE800, 0}, {0x12FF, 0x34FF, 0x56FF, 0xFFFF}, {0, 0, 0, 0}, {0xFFFF, 0, 0, 1}},
       {1000, 0x123456, 0, 0xFF0000}},
      {"palette 1", {kPal, 1, false, {0x000000, 0x0003E8}}, {{0}, {1}, {1}, {0}}, {0, 1000, 1000, 0}},
      {"palette 2", {kPal, 2, false, {1000, 8800, 0x123456, 0xFFFFFF}}, {{0}, {1}, {2}, {3}}, {1000, 8800, 0x123456, 0xFFFFFF}},
      {"palette 4", {kPal, 4, false, pal16}, {{0}, {1}, {9}, {15}}, {0, p, 9 * p, 15 * p}},
      {"palette 8", {kPal, 8, false, pal256}, {{0}, {5}, {200}, {255}}, {0, 5 * p, 200 * p & 0xFFFFFF, 255 * p & 0xFFFFFF}},
      // Transparency changes how the decoder stores pixels, not their colour.
      {"palette 8 + tRNS", {kPal, 8, false, pal256, {0, 128, 255}}, {{0}, {1}, {2}, {3}}, {0, p, 2 * p, 3 * p}},
      {"rgb 8 interlaced", {kRgb, 8, true}, rgb8, {1000, 0x123456, 8800, 0xFFFFFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    const fs::path path = dir / "0101.png";
    corpus::WritePng(path, 4, 3, c.layout, [&](int x, int, int ch) { return c.pixels[static_cast<size_t>(x)][static_cast<size_t>(ch)]; });
    SurfacePtr s;
    ASSERT_EQ(ExitCodeOf([&] { s = Carga_Imagen(path.string()); }), kNoExit);
    ASSERT_TRUE(s);
    for (int x = 0; x < 4; ++x)
      for (int y = 0; y < 3; ++y) EXPECT_EQ(HeightOfPixel(s.get(), nullptr, x, y), static_cast<float>(c.heights[x])) << x << "," << y;
  }
  EXPECT_TRUE(plat.boxes().empty());
}

// Rasters that don't decode, named like sectors: a good one cut at every
// kind of place, and files that are not images at all. The loader gives a
// whole image or the fatal message, nothing between; the scan, which can't
// learn their size without decoding them, does the same, and no descriptor
// is left open.
TEST_F(PngCorpusTest, UndecodableFilesEndCleanlyWithTheLoadMessage) {
  WritePngRgb(dir / "good.png", 200, 200, Busy);
  const std::vector<uint8_t> whole = ReadFileBytes(dir / "good.png");
  fs::remove(dir / "good.png");
  const std::string html = "<!DOCTYPE html><html><body>404 Not Found</body></html>\n";
  std::vector<uint8_t> stamped = corpus::PngClaiming(200, 200);
  std::copy_n("TSVLP", 5, stamped.begin());
  std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"text", {'h', 'e', 'i', 'g', 'h', 't', 's', ' ', '1', '0', '0', '0', '\n'}},
      {"html", std::vector<uint8_t>(html.begin(), html.end())},
      {"zeros", std::vector<uint8_t>(4096, 0)},
      {"stamped package", stamped},
  };
  // Empty, inside the signature, inside IHDR, at the start of the pixel
  // data, in its middle, before and inside the end chunk.
  for (size_t n : {size_t{0}, size_t{7}, size_t{8}, size_t{16}, size_t{24}, size_t{33}, size_t{40}, whole.size() / 2,
                   whole.size() - 13, whole.size() - 12, whole.size() - 1})
    cases.push_back({"cut at " + std::to_string(n) + " of " + std::to_string(whole.size()), corpus::Cut(whole, n)});
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    Tried();
    const fs::path path = dir / "0101.png";
    WriteFileBytes(path, bytes);
    const size_t fds = corpus::OpenFiles();
    SurfacePtr s;
    const int code = ExitCodeOf([&] { s = Carga_Imagen(path.string()); });
    if (code == kNoExit) {
      // Only a file missing nothing but (part of) its end chunk decodes.
      EXPECT_GE(bytes.size(), whole.size() - 12);
      ASSERT_TRUE(s);
      EXPECT_EQ(SDLGetPixel(s.get(), 199, 199), Busy(199, 199));
    } else {
      EXPECT_EQ(code, 1);
      ExpectLoadFatalBox();
    }
    EXPECT_EQ(corpus::OpenFiles(), fds);

    WritePngRgb(dir / "0102.png", 200, 200, Busy);
    EXPECT_EQ(ExitCodeOf([&] { listdirect(dir.str(), ".png"); }), code);
    if (code == kNoExit) {
      EXPECT_EQ(plat.list(), (std::vector<std::string>{"0101.png", "0102.png"}));
    } else {
      ExpectLoadFatalBox();
    }
    EXPECT_EQ(corpus::OpenFiles(), fds);
  }
}

// Headers claiming sizes no raster has. The scan rejects them by the
// header alone; the loader on its own fails cleanly, without the claimed
// gigabytes ever being taken.
TEST_F(PngCorpusTest, HugeClaimedSizesAreRejectedWithoutDecoding) {
  const std::tuple<uint32_t, uint32_t, std::string> cases[] = {
      {100000, 100000, "width"}, {200, 100000, "height"}, {0x7FFFFFFF, 0x7FFFFFFF, "width"}, {21846, 1, "width"}};
  for (const auto& [w, h, side] : cases) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    Tried(2);
    TempDir folder;
    const size_t lines = plat.console().size();
    WriteFileBytes(folder / "0101.png", corpus::PngClaiming(w, h));
    WriteFileBytes(folder / "0102.png", corpus::Cut(corpus::PngClaiming(w, h), 24));
    // The first file fixes the width when its width is in range.
    WritePngRgb(folder / "0103.png", w <= 600 ? static_cast<int>(w) : 120, 120, Busy);
    uint8_t result = 0;
    ASSERT_EQ(ExitCodeOf([&] { result = listdirect(folder.str(), ".png"); }), kNoExit);
    EXPECT_EQ(result, 1);
    const std::string msg = "DISCARDED: The raster must be between 120 and 600 px " + side + " - ";
    const auto console = plat.console();
    EXPECT_EQ(std::vector<std::string>(console.begin() + static_cast<ptrdiff_t>(lines), console.end()),
              (std::vector<std::string>{msg + "0101.png", msg + "0102.png"}));
    EXPECT_EQ(plat.list(), std::vector<std::string>{"0103.png"});
  }
  const long rss = PeakRssKb();
  for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{100000, 100000}, {21846, 2}, {0x7FFFFFFF, 1}, {20000, 20000}}) {
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
  std::vector<uint8_t> bytes = corpus::Cut(corpus::PngClaiming(120, 120), 33);  // signature and IHDR
  bytes.insert(bytes.end(), {0x00, 0x38, 0x00, 0x01, 's', 'R', 'G', 'B', 0x00, 0xAE, 0xCE, 0x1C});
  WriteFileBytes(dir / "0101.png", bytes);
  Tried(2);
  EXPECT_TRUE(corpus::EndsWithin(10, [&] { Carga_Imagen((dir / "0101.png").string()); }))
      << "the loader still runs after 10 s";
  EXPECT_TRUE(corpus::EndsWithin(10, [&] { listdirect(dir.str(), ".png"); })) << "the scan still runs after 10 s";
}

}  // namespace

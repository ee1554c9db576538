#include "terrain/pngfuncs.h"

#include <atomic>
#include <thread>

#include "support/support.h"
#include "terrain/raster.h"

namespace {

// Pixel values that exercise all three bytes and differ per row and column.
uint32_t Pattern(int x, int y, uint32_t seed = 0) {
  return (static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u ^ seed) & 0xFFFFFF;
}

SurfacePtr PatternSurface(int w, int h, uint32_t seed = 0) {
  SurfacePtr s = CreateResultSurface(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SDLPutPixel(s.get(), x, y, Pattern(x, y, seed));
  return s;
}

void ExpectPattern(const fs::path& p, int w, int h, uint32_t seed = 0) {
  int rw = 0, rh = 0;
  const std::vector<uint32_t> v = ReadPngValues(p, rw, rh);
  ASSERT_EQ(rw, w);
  ASSERT_EQ(rh, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(v[static_cast<size_t>(y) * w + x], Pattern(x, y, seed)) << x << "," << y;
}

class WriterTest : public StateTest {
 protected:
  TempDir dir;
};

TEST_F(WriterTest, PackageOfOddWidthDecodesToTheValuesWritten) {
  const fs::path p = dir / "vto_package_0101_3.vtp";
  WriteFileBytes(p, std::vector<uint8_t>(200000, 0x5A));  // an older, longer file is replaced whole
  SurfacePtr s = PatternSurface(121, 37);
  EXPECT_TRUE(save_package(p.string(), s.get(), 3));
  const std::vector<uint8_t> b = ReadFileBytes(p);
  // Stamp, the signature's last three bytes, then IHDR: length 13, 121 x 37,
  // depth 8, colour type 2, default compression and filter, no interlace.
  EXPECT_EQ(Cut(b, 29), (std::vector<uint8_t>{'T', 'S', 'V', 'L', 'P', 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D',
                                               'R', 0, 0, 0, 121, 0, 0, 0, 37, 8, 2, 0, 0, 0}));
  EXPECT_EQ(std::string(b.end() - 8, b.end() - 4), "IEND");
  ExpectPattern(p, 121, 37);  // signature restored by the reader
  EXPECT_TRUE(plat.console().empty());
  EXPECT_EQ(st.finderror, 0);
  EXPECT_EQ(FolderBytes(dir.path()).size(), 1u);  // no temporary file left behind
}

TEST_F(WriterTest, FailedWriteLeavesNoFileAndKeepsThePreviousOne) {
  const fs::path png = dir / "0101.png", pkg = dir / "vto_package_0101_2.vtp";
  SurfacePtr good = PatternSurface(12, 8);
  ASSERT_EQ(png_save_surface(png.string(), good.get()), 0);
  ASSERT_TRUE(save_package(pkg.string(), good.get(), 2));
  WriteFileBytes(dir / "Session", {1});  // a file where a folder should be
  const auto before = FolderBytes(dir.path());

  // A palette surface (libpng refuses it without a palette), 32 bits without
  // alpha, and red in the low byte (blue-green-red order would swap it).
  SurfacePtr pal(SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 8, 8, 0, 0, 0, 0));
  SurfacePtr rgbx(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0));
  SurfacePtr swapped(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 24, 0xFF, 0xFF00, 0xFF0000, 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(png_save_surface(png.string(), pal.get()), -1);
  EXPECT_FALSE(save_package(pkg.string(), pal.get(), 2));
  EXPECT_EQ(png_save_surface(png.string(), rgbx.get()), -1);
  EXPECT_EQ(png_save_surface(png.string(), swapped.get()), -1);
  EXPECT_FALSE(save_package((dir / "Session" / "vto_package_0101_13.vtp").string(), good.get(), 13));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("libpng: error: "), std::string::npos) << err;
  EXPECT_NE(err.find("fopen error: "), std::string::npos) << err;

  EXPECT_EQ(FolderBytes(dir.path()), before);
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 2", "ERROR saving package 13"}));
  EXPECT_EQ(st.finderror, 1);
}

// Whoever renames last, each final name must hold one whole image of one
// thread, and no temporary file may be left behind.
TEST_F(WriterTest, ConcurrentWritesToOneNameLeaveOneWholeImage) {
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      SurfacePtr s = PatternSurface(121, 50, t << 20);
      for (int n = 0; n < 4; ++n) {
        failures += !save_package((dir / "shared.vtp").string(), s.get(), n);
        failures += png_save_surface((dir / "shared.png").string(), s.get()) != 0;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  for (const char* name : {"shared.png", "shared.vtp"}) {
    int w = 0, h = 0;
    const std::vector<uint32_t> v = ReadPngValues(dir / name, w, h);
    ASSERT_EQ(v.size(), 121u * 50u);
    ExpectPattern(dir / name, 121, 50, v[1] ^ Pattern(1, 0));
  }
  EXPECT_EQ(FolderBytes(dir.path()).size(), 2u);
}

// The alpha layout goes through the same encoder (colour type 6, the colours
// kept); no surface at all is a refused write.
TEST_F(WriterTest, AlphaSurfaceRoundTripsAndNoSurfaceIsRefused) {
  SurfacePtr rgba(SDL_CreateRGBSurface(SDL_SWSURFACE, 5, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) SDLPutPixel(rgba.get(), x, y, Pattern(x, y) | 0xFF000000u);
  const fs::path p = dir / "alpha.png";
  ASSERT_EQ(png_save_surface(p.string(), rgba.get()), 0);
  EXPECT_EQ(ReadFileBytes(p).at(25), PNG_COLOR_TYPE_RGB_ALPHA);
  ExpectPattern(p, 5, 3);

  testing::internal::CaptureStderr();
  EXPECT_EQ(png_save_surface((dir / "none.png").string(), nullptr), -1);
  EXPECT_FALSE(save_package((dir / "none.vtp").string(), nullptr, 4));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 4"}));
  EXPECT_EQ(FolderBytes(dir.path()).size(), 1u);
}

}  // namespace

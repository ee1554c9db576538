#include "terrain/pngfuncs.h"

#include "support/support.h"
#include "terrain/raster.h"

namespace {

// Pixel values that exercise all three bytes and differ per row and column.
uint32_t Pattern(int x, int y) {
  return (static_cast<uint32_t>(x) * 2654435761u ^ static_cast<uint32_t>(y) * 40503u) & 0xFFFFFF;
}

SurfacePtr PatternSurface(int w, int h) {
  SurfacePtr s = CreateResultSurface(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SDLPutPixel(s.get(), x, y, Pattern(x, y));
  return s;
}

class WriterTest : public StateTest {
 protected:
  TempDir dir;
};

TEST_F(WriterTest, PackageOfOddWidthDecodesToTheValuesWritten) {
  const fs::path p = dir / "vto_package_0101_3.vtp";
  WriteFileBytes(p, std::vector<uint8_t>(200000, 0x5A));  // an older, longer file is replaced whole
  // A second name for it: a new file renamed over the name leaves it whole,
  // a write in place would change it.
  fs::create_hard_link(p, dir / "older");
  EXPECT_TRUE(save_package(p.string(), PatternSurface(121, 37).get(), 3));
  const std::vector<uint8_t> b = ReadFileBytes(p);
  // Stamp, the signature's last three bytes, then IHDR: length 13, 121 x 37,
  // depth 8, colour type 2, default compression and filter, no interlace.
  EXPECT_EQ(Cut(b, 29), (std::vector<uint8_t>{'T', 'S', 'V', 'L', 'P', 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D',
                                               'R', 0, 0, 0, 121, 0, 0, 0, 37, 8, 2, 0, 0, 0}));
  EXPECT_EQ(std::string(b.end() - 8, b.end() - 4), "IEND");
  int w = 0, h = 0;
  const std::vector<uint32_t> v = ReadPngValues(p, w, h);  // signature restored by the reader
  ASSERT_EQ(std::vector<int>({w, h}), std::vector<int>({121, 37}));
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(v[i], Pattern(i % w, i / w)) << i;
  EXPECT_EQ(ReadFileBytes(dir / "older"), std::vector<uint8_t>(200000, 0x5A));
  // No temporary file left behind.
  EXPECT_TRUE(plat.console().empty() && st.finderror == 0 && FolderBytes(dir.path()).size() == 2u);
}

TEST_F(WriterTest, FailedWriteLeavesNoFileAndKeepsThePreviousOne) {
  const fs::path png = dir / "0101.png", pkg = dir / "vto_package_0101_2.vtp";
  SurfacePtr good = PatternSurface(12, 8);
  ASSERT_TRUE(png_save_surface(png.string(), good.get()) == 0 && save_package(pkg.string(), good.get(), 2));
  WriteFileBytes(dir / "Session", {1});  // a file where a folder should be
  const auto before = FolderBytes(dir.path());

  // A palette surface (libpng refuses it without a palette), 32 bits without
  // alpha, and red in the low byte (blue-green-red order would swap it).
  SurfacePtr pal(SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 8, 8, 0, 0, 0, 0));
  SurfacePtr rgbx(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0));
  SurfacePtr swapped(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 24, 0xFF, 0xFF00, 0xFF0000, 0));
  testing::internal::CaptureStderr();
  for (SDL_Surface* bad : {pal.get(), rgbx.get(), swapped.get()}) EXPECT_EQ(png_save_surface(png.string(), bad), -1);
  EXPECT_FALSE(save_package(pkg.string(), pal.get(), 2));
  EXPECT_FALSE(save_package((dir / "Session" / "vto_package_0101_13.vtp").string(), good.get(), 13));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Contains(err, "libpng: error: ") && Contains(err, "fopen error: ")) << err;

  EXPECT_EQ(FolderBytes(dir.path()), before);
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 2", "ERROR saving package 13"}));
  EXPECT_EQ(st.finderror, 1);
}

}  // namespace

#include "terrain/pngfuncs.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "support/fixtures.h"
#include "terrain/raster.h"

namespace {

// Pixel values that exercise all three bytes, differ per row and column,
// and include the documented example 1000 = colour (0, 3, 232).
uint32_t Pattern(int x, int y, uint32_t seed = 0) {
  if (x == 0 && y == 0) return 1000;
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

// Every name in the folder: a write must leave no temporary file behind.
std::vector<std::string> Names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string PackageName(int t, int n) {
  char name[32];
  std::snprintf(name, sizeof name, "p%d_%d.vtp", t, n);
  return name;
}

class WriterTest : public StateTest {
 protected:
  TempDir dir;
};

TEST_F(WriterTest, PackageOfOddWidthDecodesToTheValuesWritten) {
  SurfacePtr s = PatternSurface(121, 37);
  const fs::path p = dir / "vto_package_0101_3.vtp";
  EXPECT_TRUE(save_package(p.string(), s.get(), 3));
  const std::vector<uint8_t> b = ReadFileBytes(p);
  // Stamp, the signature's last three bytes, then IHDR: length 13, 121 x 37,
  // depth 8, colour type 2, default compression and filter, no interlace.
  const std::vector<uint8_t> head = {'T', 'S', 'V', 'L', 'P', 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D',
                                     'R', 0, 0, 0, 121, 0, 0, 0, 37, 8, 2, 0, 0, 0};
  ASSERT_GT(b.size(), head.size());
  EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + head.size()), head);
  ExpectPattern(p, 121, 37);  // signature restored by the reader
  EXPECT_TRUE(plat.console().empty());
  EXPECT_EQ(st.finderror, 0);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"vto_package_0101_3.vtp"});
}

TEST_F(WriterTest, PlainPngReadsBackThroughTheRasterLoader) {
  SurfacePtr s = PatternSurface(130, 9);
  const fs::path p = dir / "0101.png";
  ASSERT_EQ(png_save_surface(p.string(), s.get()), 0);
  const std::vector<uint8_t> b = ReadFileBytes(p);
  EXPECT_EQ(b[0], 0x89);
  EXPECT_EQ(std::string(b.begin() + 1, b.begin() + 4), "PNG");
  SurfacePtr back = Carga_Imagen(p.string());
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 130; ++x) ASSERT_EQ(HeightOfPixel(back.get(), nullptr, x, y), Pattern(x, y));
}

TEST_F(WriterTest, ColourTypeFollowsTheSurface) {
  SurfacePtr rgba(SDL_CreateRGBSurface(SDL_SWSURFACE, 5, 3, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000));
  SurfacePtr pal(SDL_CreateRGBSurface(SDL_SWSURFACE, 2, 2, 8, 0, 0, 0, 0));
  EXPECT_EQ(png_colortype_from_surface(CreateResultSurface(2, 2).get()), 2);
  EXPECT_EQ(png_colortype_from_surface(rgba.get()), 6);
  EXPECT_EQ(png_colortype_from_surface(pal.get()), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) SDLPutPixel(rgba.get(), x, y, 0xFF000000u | Pattern(x, y));
  const fs::path p = dir / "a.png";
  ASSERT_EQ(png_save_surface(p.string(), rgba.get()), 0);
  EXPECT_EQ(ReadFileBytes(p)[25], 6);
  ExpectPattern(p, 5, 3);
}

TEST_F(WriterTest, EarlierFileIsReplacedWholeAndStampedAfresh) {
  const fs::path p = dir / "vto_package_0101_0.vtp";
  WriteFileBytes(p, std::vector<uint8_t>(200000, 0x5A));  // longer than the new package
  SurfacePtr s = PatternSurface(40, 30, 7);
  ASSERT_TRUE(save_package(p.string(), s.get(), 0));
  const std::vector<uint8_t> b = ReadFileBytes(p);
  EXPECT_LT(b.size(), 200000u);
  EXPECT_EQ(std::string(b.end() - 8, b.end() - 4), "IEND");
  EXPECT_EQ(std::string(b.begin(), b.begin() + 5), "TSVLP");
  ExpectPattern(p, 40, 30, 7);
}

TEST_F(WriterTest, FailedPackageIsReportedWithItsNumber) {
  // A regular file where the session folder should be: nothing can be
  // created below it.
  WriteFileBytes(dir / "Session", {1});
  SurfacePtr s = PatternSurface(10, 10);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(save_package((dir / "Session" / "vto_package_0101_13.vtp").string(), s.get(), 13));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("fopen error: ", 0), 0u) << err;
  EXPECT_EQ(plat.console(), std::vector<std::string>{"ERROR saving package 13"});
  EXPECT_EQ(st.finderror, 1);

  // The run goes on: the next package is written normally.
  EXPECT_TRUE(save_package((dir / "vto_package_0101_14.vtp").string(), s.get(), 14));
  EXPECT_EQ(plat.console().size(), 1u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"Session", "vto_package_0101_14.vtp"}));
}

TEST_F(WriterTest, DirectoryUnderTheFinalNameFailsWithoutLeftovers) {
  fs::create_directory(dir / "0101.png");
  SurfacePtr s = PatternSurface(10, 10);
  testing::internal::CaptureStderr();
  EXPECT_EQ(png_save_surface((dir / "0101.png").string(), s.get()), -1);
  EXPECT_FALSE(save_package((dir / "0101.png").string(), s.get(), 5));
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(fs::is_directory(dir / "0101.png"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"0101.png"});
  EXPECT_EQ(plat.console(), std::vector<std::string>{"ERROR saving package 5"});
}

TEST_F(WriterTest, LibraryErrorKeepsThePreviousFile) {
  const fs::path png = dir / "0101.png", pkg = dir / "vto_package_0101_2.vtp";
  SurfacePtr good = PatternSurface(12, 8);
  ASSERT_EQ(png_save_surface(png.string(), good.get()), 0);
  ASSERT_TRUE(save_package(pkg.string(), good.get(), 2));
  const std::vector<uint8_t> png_before = ReadFileBytes(png), pkg_before = ReadFileBytes(pkg);

  // A palette surface: no palette is written, so libpng refuses it.
  SurfacePtr pal(SDL_CreateRGBSurface(SDL_SWSURFACE, 12, 8, 8, 0, 0, 0, 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(png_save_surface(png.string(), pal.get()), -1);
  EXPECT_FALSE(save_package(pkg.string(), pal.get(), 2));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("libpng: error: "), std::string::npos) << err;

  EXPECT_EQ(ReadFileBytes(png), png_before);
  EXPECT_EQ(ReadFileBytes(pkg), pkg_before);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"0101.png", "vto_package_0101_2.vtp"}));
  EXPECT_EQ(plat.console(), std::vector<std::string>{"ERROR saving package 2"});
}

TEST_F(WriterTest, SurfaceWhoseBytesDoNotMatchTheColourTypeIsRefused) {
  // 32 bits per pixel without alpha: the rows would not be RGB triples.
  SurfacePtr s(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 32, 0xFF0000, 0xFF00, 0xFF, 0));
  // Red in the low byte: blue-green-red order would swap the channels.
  SurfacePtr swapped(SDL_CreateRGBSurface(SDL_SWSURFACE, 6, 4, 24, 0xFF, 0xFF00, 0xFF0000, 0));
  testing::internal::CaptureStderr();
  EXPECT_EQ(png_save_surface((dir / "a.png").string(), s.get()), -1);
  EXPECT_EQ(png_save_surface((dir / "b.png").string(), swapped.get()), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST_F(WriterTest, ConcurrentWritesKeepTheirOwnState) {
  // Distinct packages from several threads, and all of them racing for one
  // name: each write is complete, and the shared name ends up holding one
  // whole image.
  constexpr int kThreads = 4;
  std::vector<SurfacePtr> surfaces;
  for (int t = 0; t < kThreads; ++t) surfaces.push_back(PatternSurface(121, 50, static_cast<uint32_t>(t) << 20));
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int n = 0; n < 4; ++n) {
        const std::string own = (dir / PackageName(t, n)).string();
        if (!save_package(own, surfaces[t].get(), n)) ++failures;
        if (png_save_surface((dir / "shared.png").string(), surfaces[t].get()) != 0) ++failures;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  for (int t = 0; t < kThreads; ++t)
    for (int n = 0; n < 4; ++n) ExpectPattern(dir / PackageName(t, n), 121, 50, static_cast<uint32_t>(t) << 20);
  int w = 0, h = 0;
  const std::vector<uint32_t> shared = ReadPngValues(dir / "shared.png", w, h);
  ASSERT_EQ(shared.size(), 121u * 50u);
  const uint32_t seed = shared[1] ^ Pattern(1, 0);  // which thread's image it is
  ExpectPattern(dir / "shared.png", 121, 50, seed);
  EXPECT_EQ(Names(dir.path()).size(), kThreads * 4u + 1u);
}

}  // namespace

// The run's background writing: the encoded files are byte for byte those
// of the ordinary writers, a stop keeps everything not yet on disk off it,
// failures (a null surface, a full disk) are reported file by file and
// keep the earlier file.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <random>

#include "run/output.h"
#include "run/run.h"
#include "support/support.h"
#include "terrain/pngfuncs.h"
#include "terrain/raster.h"

namespace {

SurfacePtr RandomSurface(int w, int h, uint64_t seed) {
  SurfacePtr s = CreateResultSurface(w, h);
  std::mt19937_64 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      SDLPutPixel(s.get(), x, y, rng() % 4 == 0 ? static_cast<uint32_t>(rng() & 0xFFFFFF) : 0u);
  return s;
}

class RunOutputTest : public StateTest {
 protected:
  TempDir dir;
};

TEST_F(RunOutputTest, EncodedBytesAreThoseOfTheOrdinaryWriters) {
  for (auto [w, h] : {std::pair{1, 1}, {37, 5}, {600, 400}}) {
    SurfacePtr s = RandomSurface(w, h, static_cast<uint64_t>(w * 1000 + h));
    const fs::path png = dir / "plain.png", pkg = dir / "pkg.vtp", a = dir / "a.vtp", b = dir / "b.png";
    ASSERT_EQ(png_save_surface(png.string(), s.get()), 0);
    ASSERT_TRUE(save_package(pkg.string(), s.get(), 3));
    RunOutput out(2);
    ASSERT_TRUE(out.Add(a.string(), s.get(), 3));
    ASSERT_TRUE(out.Add(b.string(), s.get(), RunOutput::kElevation));
    // The copy is taken at hand-over: later changes do not reach the file.
    SDLPutPixel(s.get(), 0, 0, 0x123456);
    ASSERT_TRUE(out.Commit(true));
    EXPECT_EQ(ReadFileBytes(a), ReadFileBytes(pkg));
    EXPECT_EQ(ReadFileBytes(b), ReadFileBytes(png));
  }
}

TEST_F(RunOutputTest, AStopKeepsWhatIsNotOnDiskOffIt) {
  SurfacePtr s = RandomSurface(300, 300, 9);
  {
    RunOutput out(1);
    ASSERT_TRUE(out.Add((dir / "first.vtp").string(), s.get(), 0));
    ASSERT_TRUE(out.Commit(true));
    for (int n = 1; n < 6; ++n) ASSERT_TRUE(out.Add((dir / std::to_string(n)).string(), s.get(), n));
    st.stoprequest = true;
    EXPECT_FALSE(out.Commit(false));
    EXPECT_FALSE(out.Commit(true));
    EXPECT_FALSE(out.Add((dir / "late.vtp").string(), s.get(), 7));
  }  // waits for the helper, drops the rest
  EXPECT_EQ(Listing(dir.path()).size(), 1u);
  EXPECT_TRUE(fs::exists(dir / "first.vtp"));
  EXPECT_TRUE(plat.console().empty());
}

// A null surface, or a full disk (the file-size limit lowered): each write
// that fails has its line in its place and the error flag, keeps the earlier
// file as it was (same inode, same bytes) and leaves no temporary file; one
// that fits replaces the file whole.
TEST_F(RunOutputTest, FullDiskFailsEachFileAloneAndKeepsThePreviousOne) {
  SurfacePtr small = RandomSurface(4, 4, 1), big = RandomSurface(200, 200, 2);
  const fs::path kept = dir / "kept.png", replaced = dir / "replaced.vtp";
  WriteFileBytes(kept, {1, 2, 3});
  WriteFileBytes(replaced, {4, 5, 6});
  const auto prior = Listing(dir.path());
  ASSERT_TRUE(save_package((dir / "small.vtp").string(), small.get(), 3));
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlim_t unlimited = limit.rlim_cur;
  limit.rlim_cur = 4096;
  const auto xfsz = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  {
    RunOutput out(2);
    ASSERT_TRUE(out.Add(kept.string(), big.get(), RunOutput::kElevation));
    ASSERT_TRUE(out.Add(replaced.string(), small.get(), 3));
    ASSERT_TRUE(out.Add((dir / "null.vtp").string(), nullptr, 4));
    EXPECT_TRUE(out.Commit(true));
  }
  limit.rlim_cur = unlimited;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, xfsz);
  EXPECT_EQ(plat.console(),
            (std::vector<std::string>{"ERROR saving elev png", "ERROR saving package 4"}));
  EXPECT_EQ(st.finderror, 1);
  const auto after = Listing(dir.path());
  EXPECT_EQ(after.size(), 3u) << "no other file, no temporary left behind";
  EXPECT_EQ(ReadFileBytes(kept), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(after.at("kept.png").inode, prior.at("kept.png").inode);
  EXPECT_EQ(ReadFileBytes(replaced), ReadFileBytes(dir / "small.vtp"));
  EXPECT_NE(after.at("replaced.vtp").inode, prior.at("replaced.vtp").inode);
}

}  // namespace

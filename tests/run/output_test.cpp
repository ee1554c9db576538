// The run's background writing: the encoded files are byte for byte those
// of the ordinary writers, images handed over early keep their turn, a
// stop keeps everything not yet on disk off it, failures (a missing
// folder, a full disk) are reported file by file and keep the earlier file.

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
  for (int i = 0; i < w * h; ++i)
    SDLPutPixel(s.get(), i % w, i / w, rng() % 4 ? 0u : static_cast<uint32_t>(rng() >> 40));
  return s;
}

class RunOutputTest : public StateTest {
 protected:
  TempDir dir;
};

// The files are byte for byte those of the ordinary writers. An image handed
// over plainly is copied at once; one prepared early keeps its turn and is
// written with the pixels it holds then. Nothing is written after a stop.
TEST_F(RunOutputTest, EncodedBytesTurnsAndFinalPixels) {
  TempDir ref;
  SurfacePtr s = RandomSurface(64, 48, 5), t = CreateResultSurface(64, 48), u = RandomSurface(600, 400, 7);
  ASSERT_TRUE(save_package((ref / "c.vtp").string(), u.get(), 3));
  const std::string lost = (dir / "none").string() + "/";  // a missing folder: every write there fails
  {
    RunOutput out(2);
    out.Prepare(lost + "b.vtp", s.get(), 2);
    out.Prepare((dir / "d.vtp").string(), s.get(), 4);
    out.Prepare((dir / "e.png").string(), t.get(), RunOutput::kElevation);
    out.Prepare((dir / "never.vtp").string(), s.get(), 9);  // never claimed: never written
    SDLPutPixel(t.get(), 3, 5, 0xABCDEF);                    // changed after all
    ASSERT_TRUE(out.Add((dir / "c.vtp").string(), u.get(), 3));
    SDLPutPixel(u.get(), 0, 0, 0x123456);  // too late for c.vtp
    for (auto [path, n] : {std::pair{lost + "a.vtp", 1}, {lost + "b.vtp", 2}, {(dir / "d.vtp").string(), 4}})
      ASSERT_TRUE(out.Add(path, s.get(), n));
    ASSERT_TRUE(out.Add((dir / "e.png").string(), t.get(), RunOutput::kElevation));
    ASSERT_TRUE(out.Commit(true));
  }
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 1", "ERROR saving package 2"}));
  RunOutput late(1);
  ASSERT_TRUE(late.Add((dir / "late.vtp").string(), s.get(), 1));
  st.stoprequest = true;  // a stop keeps what is not yet on disk off it
  EXPECT_FALSE(late.Commit(true));
  ASSERT_TRUE(save_package((ref / "d.vtp").string(), s.get(), 4));
  ASSERT_EQ(png_save_surface((ref / "e.png").string(), t.get()), 0);
  EXPECT_EQ(FolderBytes(dir.path()), FolderBytes(ref.path()));
}

// A full disk (the file-size limit lowered): each write
// that fails has its line in its place and the error flag, keeps the earlier
// file as it was and leaves no temporary file; one
// that fits replaces the file whole.
TEST_F(RunOutputTest, FullDiskFailsEachFileAloneAndKeepsThePreviousOne) {
  SurfacePtr small = RandomSurface(4, 4, 1), big = RandomSurface(200, 200, 2), mid = RandomSurface(40, 40, 3);
  const fs::path kept = dir / "kept.png", replaced = dir / "replaced.vtp";
  WriteFileBytes(kept, {1, 2, 3});
  WriteFileBytes(replaced, {4, 5, 6});
  const auto prior = Listing(dir.path());
  ASSERT_TRUE(save_package((dir / "small.vtp").string(), small.get(), 3));
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit saved = limit;
  limit.rlim_cur = 1024;  // under the 4 KiB a stream buffers: a mid-sized file fails only when closed
  const auto xfsz = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limit);
  {
    RunOutput out(2);
    ASSERT_TRUE(out.Add(kept.string(), big.get(), RunOutput::kElevation));
    ASSERT_TRUE(out.Add((dir / "mid.vtp").string(), mid.get(), 5));
    ASSERT_TRUE(out.Add(replaced.string(), small.get(), 3));
    EXPECT_TRUE(out.Commit(true));
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, xfsz);
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving elev png", "ERROR saving package 5"}));
  EXPECT_EQ(st.finderror, 1);
  const auto after = Listing(dir.path());
  EXPECT_EQ(after.size(), 3u) << "no other file, no temporary left behind";
  EXPECT_EQ(ReadFileBytes(kept), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(ReadFileBytes(replaced), ReadFileBytes(dir / "small.vtp"));
  EXPECT_NE(after.at("replaced.vtp").inode, prior.at("replaced.vtp").inode);
}

}  // namespace

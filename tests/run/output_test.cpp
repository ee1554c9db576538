// The run's background writing: the encoded files are byte for byte those
// of the ordinary writers, a stop keeps everything not yet on disk off it,
// failures (a null surface, a full disk) are reported file by file and
// keep the earlier file, and temporary names are ones verify reports.

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>

#include "run/output.h"
#include "run/run.h"
#include "run/verify.h"
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
    const fs::path png = dir / "plain.png", pkg = dir / "pkg.vtp";
    ASSERT_EQ(png_save_surface(png.string(), s.get()), 0);
    ASSERT_TRUE(save_package(pkg.string(), s.get(), 3));
    RunOutput out(2);
    const fs::path a = dir / "a.vtp", b = dir / "b.png";
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
    for (int n = 1; n < 6; ++n) ASSERT_TRUE(out.Add((dir / std::string("p").append(std::to_string(n))).string(), s.get(), n));
    st.stoprequest = true;
    EXPECT_FALSE(out.Commit(false));
    EXPECT_FALSE(out.Commit(true));
    EXPECT_FALSE(out.Add((dir / "late.vtp").string(), s.get(), 7));
  }  // waits for the helper, drops the rest
  const auto files = Listing(dir.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->first, "first.vtp");
  EXPECT_TRUE(plat.console().empty());
}


// The names created in `dir` while `write` runs, seen through inotify.
std::vector<std::string> NamesCreatedBy(const fs::path& dir, const std::function<void()>& write) {
  const int fd = inotify_init1(IN_NONBLOCK);
  if (fd < 0) return {};
  inotify_add_watch(fd, dir.c_str(), IN_CREATE | IN_MOVED_TO);
  write();
  std::vector<std::string> names;
  alignas(inotify_event) char buf[8192];
  for (ssize_t got; (got = read(fd, buf, sizeof buf)) > 0;)
    for (char* p = buf; p < buf + got;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      if (e->len > 0 && (e->mask & IN_CREATE)) names.emplace_back(e->name);
      p += sizeof(inotify_event) + e->len;
    }
  close(fd);
  return names;
}

// A run cut short between the write and the rename leaves the writer's
// temporary file behind: the session check must call every such name, of
// a package and of the elevation image alike, a leftover temporary file.
TEST_F(RunOutputTest, TheWritersTemporaryNamesAreOnesVerifyReports) {
  const fs::path session = dir / "SessionV";
  fs::create_directories(session);
  SurfacePtr s = RandomSurface(20, 10, 5);
  const auto created = NamesCreatedBy(session, [&] {
    RunOutput out(1);
    ASSERT_TRUE(out.Add((session / PackageName("0101", 3)).string(), s.get(), 3));
    ASSERT_TRUE(out.Add((session / ElevationName("0101")).string(), s.get(), RunOutput::kElevation));
    ASSERT_TRUE(out.Commit(true));
  });
  ASSERT_EQ(created.size(), 2u);
  for (const std::string& name : created) WriteFileBytes(session / name, {1, 2, 3});
  std::vector<std::string> lines;
  VerifySession(session.string(), [&](const std::string& l) { lines.push_back(l); });
  for (const std::string& name : created) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), name + ": an unfinished temporary file"), lines.end())
        << name;
  }
}

// A null surface is a refused write: its failure line in its place, the
// error flag set, no file, and the files around it written.
TEST_F(RunOutputTest, ANullSurfaceIsAFailedWrite) {
  SurfacePtr s = RandomSurface(8, 8, 1);
  {
    RunOutput out(2);
    ASSERT_TRUE(out.Add((dir / "a.vtp").string(), s.get(), 2));
    ASSERT_TRUE(out.Add((dir / "b.vtp").string(), nullptr, 3));
    ASSERT_TRUE(out.Add((dir / "c.png").string(), nullptr, RunOutput::kElevation));
    ASSERT_TRUE(out.Commit(true));
  }
  EXPECT_EQ(plat.console(), (std::vector<std::string>{"ERROR saving package 3", "ERROR saving elev png"}));
  EXPECT_EQ(st.finderror, 1);
  const auto files = Listing(dir.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files.begin()->first, "a.vtp");
}

// A full disk: veltano-batch in a child whose file-size limit stops its
// writes. Each limit lets through exactly the files no longer than it.
// Half of the names hold a good file from an earlier run: a failed write
// keeps it as it was (same inode, same bytes) and leaves a missing one
// missing; a write that fits replaces the file whole. Every failure has
// its line, the run goes on and says so.
TEST_F(RunOutputTest, FullDiskFailsEachFileAloneAndKeepsThePreviousOne) {
  if (!fs::exists(BatchExe())) GTEST_SKIP() << "no batch driver at " << BatchExe();
  MakeProject(dir.path(), 3, 3, 120);
  auto args = [&](const std::string& id) {
    return std::vector<std::string>{"--lon", "6.8694", "--lat", "45.9237", "--threads", "2", "--quiet",
                                    "--session-id", id, "--sectors", "0202", dir.str()};
  };
  const auto good = RunBatch(args("good"));
  ASSERT_EQ(good.code, 0) << good.err;
  const auto reference = FolderBytes(dir / "Sessiongood");
  ASSERT_EQ(reference.size(), 17u);
  std::vector<long> sizes;
  for (const auto& [name, bytes] : reference) sizes.push_back(static_cast<long>(bytes.size()));
  std::sort(sizes.begin(), sizes.end());
  const long limits[] = {1024, sizes[8], sizes.back() - 1};
  for (size_t k = 0; k < std::size(limits); ++k) {
    SCOPED_TRACE("RLIMIT_FSIZE " + std::to_string(limits[k]));
    const std::string id = "limit" + std::to_string(k);
    const fs::path session = dir / ("Session" + id);
    fs::create_directories(session);
    size_t i = 0;
    for (const auto& [name, bytes] : reference)
      if (i++ % 2 == k % 2) WriteFileBytes(session / name, bytes);
    const auto prior = Listing(session);
    const auto o = RunBatch(args(id), limits[k]);
    EXPECT_EQ(o.code, 4) << o.err;
    EXPECT_TRUE(Contains(o.err, "Oops! It seems there was an Error during the process")) << o.err;
    EXPECT_EQ(SessionProblems(session), std::vector<std::string>{});
    const auto after = Listing(session);
    for (const auto& [name, bytes] : reference) {
      SCOPED_TRACE(name);
      const bool fits = static_cast<long>(bytes.size()) <= limits[k], had = prior.count(name) > 0;
      const size_t us = name.rfind('_');
      const std::string line = name.rfind("vto_", 0) == 0
                                   ? "console: ERROR saving package " + name.substr(us + 1, name.size() - us - 5)
                                   : "console: ERROR saving elev png";
      EXPECT_EQ(CountLines(o.err, line), fits ? 0 : 1);
      if (!fits && !had) {
        EXPECT_FALSE(fs::exists(session / name));
        continue;
      }
      EXPECT_TRUE(ReadFileBytes(session / name) == bytes);
      EXPECT_TRUE(!had || (after.at(name).inode == prior.at(name).inode) != fits) << "replaced whole, or kept";
    }
  }
}

}  // namespace

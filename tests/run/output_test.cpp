// The run's background writing: the encoded files are byte for byte those
// of the ordinary writers, the outputs do not depend on the number of
// threads, console lines keep the order of writing each file on the spot,
// and a stop keeps everything not yet on disk off it.

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <random>

#include "catalogue/scan.h"
#include "run/run.h"
#include "run/output.h"
#include "run/verify.h"
#include "support/run_support.h"
#include "support/fixtures.h"
#include "terrain/pngfuncs.h"
#include "terrain/raster.h"

namespace {

using namespace runtest;

SurfacePtr RandomSurface(int w, int h, uint64_t seed) {
  SurfacePtr s = CreateResultSurface(w, h);
  std::mt19937_64 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      SDLPutPixel(s.get(), x, y, rng() % 4 == 0 ? static_cast<uint32_t>(rng() & 0xFFFFFF) : 0u);
  return s;
}

// "p<n>.vtp" (built by appending: GCC 12 warns wrongly on literal + string).
std::string PackageFile(int n) {
  std::string name = "p";
  name += std::to_string(n);
  name += ".vtp";
  return name;
}

class RunOutputTest : public StateTest {
 protected:
  TempDir dir;
};

TEST_F(RunOutputTest, EncodedBytesAreThoseOfTheOrdinaryWriters) {
  for (auto [w, h] : {std::pair{1, 1}, {37, 5}, {600, 600}}) {
    SurfacePtr s = RandomSurface(w, h, static_cast<uint64_t>(w * 1000 + h));
    const fs::path png = dir / "plain.png", pkg = dir / "pkg.vtp";
    ASSERT_EQ(png_save_surface(png.string(), s.get()), 0);
    ASSERT_TRUE(save_package(pkg.string(), s.get(), 3));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(EncodePngRgb(static_cast<const uint8_t*>(s->pixels), w, h, s->pitch, bytes));
    EXPECT_EQ(bytes, ReadFileBytes(png)) << w << "x" << h;

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
    for (int n = 1; n < 6; ++n) ASSERT_TRUE(out.Add((dir / PackageFile(n)).string(), s.get(), n));
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

// Two sectors, write failures in both and a height warning in the second:
// each failure has its numbered line, in the order of a run that writes
// each file on the spot, every other file is written, the completion
// report carries the error and the warning, and the files are the same for
// one thread and for three.
TEST_F(RunOutputTest, RunOutputsAndConsoleOrderDoNotDependOnThreads) {
  WritePngRgb(dir / "0101.png", 120, 120, GridHill(1, 1, 120));
  WritePngRgb(dir / "0102.png", 120, 120,
              [](int x, int y) { return x == 0 && y == 0 ? 9000u : GridHill(1, 2, 120)(x, y); });
  std::map<std::string, std::vector<uint8_t>> first;
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    const size_t lines_before = plat.console().size();
    st.sesion = std::string("T").append(std::to_string(threads));
    st.shade_threads = threads;
    st.szDirPath = dir.str();
    ASSERT_EQ(listdirect(st.szDirPath, st.admext), 1);
    plat.ListSelectAll(true);
    st.geoxi = 6.8;
    st.geoyi = 45.9;
    st.val_long = st.val_lat = 1;
    const fs::path session = dir / ("Session" + st.sesion);
    fs::create_directories(session / PackageName("0101", 4));
    fs::create_directories(session / "0101.png");
    fs::create_directories(session / PackageName("0102", 0));
    st.working = 1;
    ProcessData();
    const std::vector<std::string> all = plat.console();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(lines_before), all.end()),
              (std::vector<std::string>{
                  "ERROR saving package 4", "ERROR saving elev png",
                  "WARNING!! Unexpected High values of elevations in 0102. Please check if your data are in the "
                  "supported format",
                  "ERROR saving package 0"}));
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& [name, e] : Listing(session))
      if (fs::is_regular_file(session / name)) files[name] = ReadFileBytes(session / name);
    EXPECT_EQ(files.size(), 31u);
    ASSERT_FALSE(plat.completions().empty());
    EXPECT_TRUE(plat.completions().back().finderror);
    EXPECT_TRUE(plat.completions().back().glbwarning);
    if (first.empty())
      first = files;
    else
      EXPECT_TRUE(files == first);
  }
}

}  // namespace

namespace {

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

}  // namespace

// Rasters that change on disk between the directory scan and the run: a
// neighbour that went away or became unreadable is done without, a centre
// that did is fatal, and in every case no file is written for a sector
// that could not be loaded.

#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "catalogue/scan.h"
#include "run/run.h"
#include "faults/fault_support.h"

namespace {

using namespace faults;

constexpr const char* kNeighbourWarning =
    "Warning! error loading additional data\n Results could be corrupt or not enough accurate";

class RasterChangeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ResetProjectState();
    SetPlatform(nullptr);
  }
  // Scans a fresh 3 x 3 grid and selects `sectors` (list texts), with a
  // fresh recording platform.
  void Scan(bool tif, const std::vector<std::string>& sectors) {
    ResetProjectState();
    recorder = std::make_unique<MemoryPlatform>();
    SetPlatform(recorder.get());
    work = std::make_unique<TempDir>();
    MakeGrid(work->path(), tif);
    st.cu_ext = tif ? 1 : 0;
    st.admext = st.list_ext[st.cu_ext];
    st.szDirPath = work->str();
    st.sesion = "T";
    st.shade_threads = 2;
    ASSERT_EQ(listdirect(st.szDirPath, st.admext), 1);
    for (const std::string& s : sectors) {
      const int i = recorder->ListFindExact(s);
      ASSERT_GE(i, 0) << s;
      recorder->ListSelect(i, true);
    }
    st.geoxi = 6.8694;
    st.geoyi = 45.9237;
    st.val_long = st.val_lat = 1;
  }
  // Runs; the exit code of a fatal path, or 0 when the run ended.
  int Run() {
    st.working = 1;
    try {
      ProcessData();
    } catch (const ProcessExit& e) {
      return e.code;
    }
    return 0;
  }
  fs::path Raster(const std::string& name) const { return work->path() / name; }
  fs::path Session() const { return work->path() / "SessionT"; }
  std::set<std::string> SessionNames() const {
    std::set<std::string> names;
    for (const auto& [name, bytes] : FolderBytes(Session())) names.insert(name);
    return names;
  }
  void WriteOtherSize(const std::string& name, bool tif) {
    if (tif)
      WriteTiffFloat(Raster(name), 150, 120, [](int, int) { return 1000.0f; });
    else
      WritePngRgb(Raster(name), 150, 120, [](int, int) { return 1000u; });
  }

  std::unique_ptr<MemoryPlatform> recorder;
  std::unique_ptr<TempDir> work;
};

// A neighbour deleted is absent, silently; one of another size or unreadable
// gets the warning box and is then absent too: the sector comes out exactly
// as without it, and the run goes on.
TEST_F(RasterChangeTest, ChangedNeighbourIsDoneWithout) {
  for (const bool tif : {false, true}) {
    const std::string ext = tif ? ".tif" : ".png";
    SCOPED_TRACE(ext);
    Scan(tif, {"0202" + ext, "0303" + ext});
    ASSERT_TRUE(fs::remove(Raster("0203" + ext)));
    ASSERT_EQ(Run(), 0);
    EXPECT_TRUE(recorder->boxes().empty());
    EXPECT_EQ(SessionNames(), OutputNames({"0202", "0303"}));
    const auto without = FolderBytes(Session());

    for (const bool truncate : {false, true}) {
      // A PNG that cannot be decoded ends the process in the loader itself.
      if (truncate && !tif) continue;
      SCOPED_TRACE(truncate ? "truncated" : "another size");
      Scan(tif, {"0202" + ext, "0303" + ext});
      if (truncate) {
        auto bytes = ReadFileBytes(Raster("0203" + ext));
        bytes.resize(bytes.size() / 3);
        WriteFileBytes(Raster("0203" + ext), bytes);
      } else {
        WriteOtherSize("0203" + ext, tif);
      }
      ASSERT_EQ(Run(), 0);
      const auto boxes = recorder->boxes();
      ASSERT_EQ(boxes.size(), 2u) << "once for each sector that has it as a neighbour";
      for (const auto& b : boxes) EXPECT_EQ(b.text, kNeighbourWarning);
      ASSERT_EQ(recorder->completions().size(), 1u);
      EXPECT_FALSE(recorder->completions()[0].finderror);
      EXPECT_EQ(FolderBytes(Session()), without);
    }
  }
}

// The sector being processed: deleted or of another size is fatal, with the
// first sector's files all whole on disk and none for the broken one.
TEST_F(RasterChangeTest, ChangedCentreIsFatalAndWritesNothingForIt) {
  struct Case {
    const char* label;
    bool tif;
    bool remove;  // else: another size
    int code;
    std::string text;
  };
  const std::string tail = "\n We are sorry but the application can't go on.";
  const std::vector<Case> cases = {
      {"png deleted", false, true, 1, "Fatal Error Loading Data." + tail},
      {"png of another size", false, false, -1, "Fatal error loading data" + tail},
      {"tif deleted", true, true, -1, "Fatal error loading data" + tail},
      {"tif of another size", true, false, -1, "Fatal error loading data" + tail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string ext = c.tif ? ".tif" : ".png";
    Scan(c.tif, {"0101" + ext, "0202" + ext});
    if (c.remove)
      ASSERT_TRUE(fs::remove(Raster("0202" + ext)));
    else
      WriteOtherSize("0202" + ext, c.tif);
    EXPECT_EQ(Run(), c.code);
    // 0202 is also a neighbour of 0101: of another size, it was already
    // left out there, with its warning.
    const auto boxes = recorder->boxes();
    ASSERT_EQ(boxes.size(), c.remove ? 1u : 2u);
    EXPECT_EQ(boxes.back().text.rfind(c.text, 0), 0u) << boxes.back().text;
    EXPECT_TRUE(recorder->completions().empty());
    EXPECT_EQ(SessionNames(), OutputNames({"0101"}));
    EXPECT_EQ(SessionProblems(Session()), std::vector<std::string>{});
    EXPECT_EQ(st.working.load(), 0);
  }
}

}  // namespace

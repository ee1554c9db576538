// The processing run driven through a recording platform: refusals, the
// long-job estimate, the session folder's files and their order, failures
// at the start, stopping at every point and rasters changed since the scan.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

#include "catalogue/scan.h"
#include "run/run.h"
#include "run/session.h"
#include "solar/solar.h"
#include "support/support.h"

namespace {

constexpr double kLat = 45.9237;

// Records the run's calls and lets a test act at any of them. Counts calls
// made once a stop was requested: the run must make none.
class Recorder : public MemoryPlatform {
 public:
  std::function<void(const std::string& call)> on_call;
  int progress_calls = 0, calls_after_stop = 0;

  void ConsoleLine(const std::string& t) override { Note("console"), MemoryPlatform::ConsoleLine(t); }
  void SetStatusText(const std::string& t) override { Note("status"), MemoryPlatform::SetStatusText(t); }
  void SetProgress(int p) override { ++progress_calls, MemoryPlatform::SetProgress(p), Note("progress"); }
  void CompletionDialog(const CompletionReport& r) override { Note("completion"), MemoryPlatform::CompletionDialog(r); }

 private:
  void Note(const std::string& call) {
    if (st.stoprequest.load()) ++calls_after_stop;
    if (on_call) on_call(call);
  }
};

class RunTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    Fresh();
  }
  // A new run's state; with `clear`, an empty work directory too.
  void Fresh(const std::string& session = "T1", bool clear = false) {
    if (clear) {
      fs::remove_all(dir.path());
      fs::create_directories(dir.path());
    }
    ResetProjectState();
    recorder_ = std::make_unique<Recorder>();
    SetPlatform(recorder_.get());
    st.sesion = session;
    st.szDirPath = dir.str();
  }
  Recorder& rec() { return *recorder_; }
  // Scans the work directory, selects `only` (every sector when empty),
  // sets valid coordinates.
  void Scan(const std::vector<std::string>& only = {}) {
    ASSERT_EQ(listdirect(st.szDirPath, st.admext), 1);
    rec().ListSelectAll(only.empty());
    for (const std::string& s : only) rec().ListSelect(rec().ListFindExact(s + ".png"), true);
    st.geoxi = 6.8694;
    st.geoyi = kLat;
    st.val_long = st.val_lat = 1;
  }
  // Runs; the exit code of a fatal path, or 0 when the run ended.
  int Run() {
    st.working = 1;
    const int code = ExitCodeOf(ProcessData);
    return code == kNoExit ? 0 : code;
  }
  fs::path Session() const { return dir / ("Session" + st.sesion); }
  // A list of sectors that exist only as names: enough for everything the
  // run decides before it loads the first sector.
  void ListByHand(int n, int size) {
    st.proj_w = st.proj_h = size;
    for (int i = 0; i < n; ++i) rec().ListAdd(SectorName(1, i + 1, ".png"));
    rec().ListSelectAll(true);
    st.val_long = st.val_lat = 1;
    st.geoyi = kLat;
    st.shade_threads = 1;
    rec().box_answer = BoxResult::Cancel;  // a long job is not started
  }

  TempDir dir;

 private:
  std::unique_ptr<Recorder> recorder_;
};

// Every way the run can decline before committing: one box, nothing on
// disk, the flags of the previous run untouched.
TEST_F(RunTest, RefusalsAndTheLongJobEstimate) {
  using Box = std::tuple<std::string, std::string, BoxIcon, BoxButtons>;
  const Box invalid{"Longitud and Latitude must be a valid value", "Error", BoxIcon::Warning, BoxButtons::Ok};
  const std::tuple<const char*, int, int, std::function<void()>, Box> cases[] = {
      {"nothing selected", 2, 120, [&] { rec().ListSelectAll(false); },
       {"There are no selected files to process in the list", "Error", BoxIcon::Warning, BoxButtons::Ok}},
      {"longitude never entered", 2, 120, [] { st.val_long = 2; }, invalid},
      {"latitude invalid", 2, 120, [] { st.val_lat = 0; }, invalid},
      {"long job cancelled", 4, 6000, [] {},
       {"Warning! Depending the size of your data, selecting too many sectors to process could take long "
        "time.\n We recommend process the data in various steps.\n Estimated time: 17.35 minutes",
        "Warning!", BoxIcon::Warning, BoxButtons::OkCancel}},
  };
  for (const auto& [label, sectors, size, arrange, box] : cases) {
    SCOPED_TRACE(label);
    Fresh();
    ListByHand(sectors, size);
    st.finderror = st.glbwarning = 1;
    arrange();
    Run();
    const auto boxes = rec().boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(std::tuple(boxes[0].text, boxes[0].caption, boxes[0].icon, boxes[0].buttons), box);
    EXPECT_EQ(st.finderror + st.glbwarning, 2);
    EXPECT_FALSE(st.working || fs::exists(Session()) || fs::exists(dir / "pr_data.vtd") || rec().progress_calls);
  }
  // 99 x 99 sectors of 600 x 600: 3,528,360,000 pixels, past 2^31; 139
  // hour steps at the test latitude; two threads halve the time.
  EXPECT_NEAR(EstimateMinutes(99 * 99, 600, 600, kLat, 2), 3528360000.0 * 139 * kSecondsPerPixelStep / 120, 1e-6);
}

TEST(SessionId, LettersDigitsDashesAndUnderscores) {
  const std::pair<std::string, bool> cases[] = {
      {"run_2-b", true}, {std::string(128, 'a'), true}, {"", false}, {std::string(129, 'a'), false},
      {"a b", false},    {"../x", false},                {"a/b", false}, {"caf\xc3\xa9", false}};
  for (const auto& [id, ok] : cases) EXPECT_EQ(ValidSessionId(id), ok) << id;
}

// A coordinates file or session folder that cannot be written has its line
// (the folder with the reason, before the package errors it causes) and
// the error flag. Far north the first months have no hour steps, so
// package 0 is written before the first step's height warning: the
// failure line must still come first.
TEST_F(RunTest, StartFailuresAndConsoleOrder) {
  const std::string high =
      "WARNING!! Unexpected High values of elevations in 0101. Please check if your data are in the supported format";
  const std::tuple<const char*, std::function<void()>, std::vector<std::string>> cases[] = {
      {"coordinates file unwritable", [&] { fs::create_directories(dir / "pr_data.vtd" / "x"); },
       {"ERROR saving pr_data.vtd"}},
      {"session folder blocked by a file", [&] { WriteFileBytes(Session(), {1}); },
       {"ERROR creating session folder " + Session().string() + ": Not a directory", high, "ERROR saving package 0"}},
      {"latitude 70", [&] { st.geoyi = 70, fs::create_directories(Session() / PackageName("0101", 0)); },
       {"ERROR saving package 0", high}},
  };
  ASSERT_EQ(SolarDay(15, deg2rad(70.0)).steps, 0);
  for (const auto& [label, arrange, first_lines] : cases) {
    SCOPED_TRACE(label);
    Fresh("T1", true);
    WritePngRgb(dir / "0101.png", 200, 200, [](int x, int y) { return x + y == 0 ? 9000u : 1000u; });
    Scan();
    arrange();
    Run();
    auto lines = rec().console();
    lines.resize(std::min(lines.size(), first_lines.size()));
    EXPECT_EQ(lines, first_lines);
    ASSERT_EQ(rec().completions().size(), 1u);
    EXPECT_TRUE(rec().completions()[0].finderror);
  }
}

// A stop at any point writes nothing further and makes no further call.
// The run stopped only in its completion dialog has made every file, the
// last packages of a sector before its elevation image.
TEST_F(RunTest, AStopWritesNothingFurtherAndACompleteRunWritesAllInOrder) {
  MakeProject(dir.path(), 1, 2, 120);
  const int32_t total = DaylightSteps(deg2rad(kLat));
  const struct {
    std::string label, call;
    int nth;  // stop at the nth call of that kind
  } points[] = {
      {"at the progress reset", "progress", 1},
      {"at the first hour step", "progress", 2},
      {"at January's last step, before package 0", "progress", 1 + SolarDay(15, deg2rad(kLat)).steps},
      {"mid-year", "progress", 1 + total / 2},
      {"at the sector's last step, before packages 11-15", "progress", 1 + total},
      {"during the second sector's preliminaries", "status", 3},
      {"at the last step of the run", "progress", 1 + 2 * total},
      {"in the completion dialog", "completion", 1},
  };
  for (const auto& p : points) {
    SCOPED_TRACE(p.label);
    Fresh(std::string("S").append(std::to_string(&p - points)));
    Scan();
    rec().progress_calls = 0;          // the scan resets the bar too
    st.finderror = st.glbwarning = 1;  // both flags start every run cleared
    int count = 0;
    std::map<std::string, Entry> at_stop;
    rec().on_call = [&](const std::string& call) {
      if (call != p.call || ++count != p.nth) return;
      st.stoprequest = true;
      at_stop = Listing(Session());
    };
    Run();
    ASSERT_TRUE(st.stoprequest.load());
    EXPECT_EQ(Listing(Session()), at_stop);
    EXPECT_EQ(rec().calls_after_stop, 0);
    for (const auto& [name, e] : at_stop) EXPECT_NE(name[0], '.') << "unfinished file " << name;
    EXPECT_EQ(rec().completions().size(), p.call == "completion" ? 1u : 0u);
  }
  EXPECT_EQ(rec().progress_calls, 1 + 2 * total);
  EXPECT_EQ(Names(Session()), OutputNames({"0101", "0102"}));
  const auto files = Listing(Session());
  for (int p = 11; p < 16; ++p)
    EXPECT_LE(files.at(PackageName("0102", p)).mtime_ns,
              files.at(p < 15 ? PackageName("0102", p + 1) : "0102.png").mtime_ns);
  int w = 0, h = 0;
  EXPECT_EQ(ReadPngValues(Session() / "0102.png", w, h), ReadPngValues(dir / "0102.png", w, h));
  EXPECT_FALSE(rec().completions()[0].finderror || rec().completions()[0].glbwarning || !rec().boxes().empty());
}

// A neighbour deleted since the scan is absent, silently; one of another
// size gets the warning box and is then absent too: the
// outputs are those without it. The centre deleted or of another size is
// fatal, with the earlier sector's files whole on disk and none for the
// broken one (of another size it was already left out of the earlier
// sector, with its warning).
TEST_F(RunTest, RastersChangedSinceTheScan) {
  const std::string warn = "Warning! error loading additional data\n Results could be corrupt or not enough accurate";
  const std::string fatal = "Fatal error loading data\n We are sorry but the application can't go on.";
  // Which raster changes, resized (else deleted); the run's exit code, its
  // boxes and the start of the last one.
  const std::tuple<const char*, std::string, bool, int, size_t, std::string> cases[] = {
      {"neighbour deleted", "0203", false, 0, 0, ""},
      {"neighbour of another size", "0203", true, 0, 1, warn},
      {"centre deleted", "0303", false, 1, 1, "Fatal Error Loading Data.\n We are sorry"},
      {"centre of another size", "0303", true, -1, 2, fatal},
  };
  std::map<std::string, std::vector<uint8_t>> without;
  for (const auto& [label, changed, resized, code, box_count, box] : cases) {
    SCOPED_TRACE(label);
    Fresh("T1", true);
    MakeProject(dir.path(), 3, 3, 120);
    st.shade_threads = 2;
    Scan(code ? std::vector<std::string>{"0202", "0303"} : std::vector<std::string>{"0303"});
    const fs::path raster = dir / (changed + ".png");
    fs::remove(raster);
    if (resized) WritePngRgb(raster, 150, 120, [](int, int) { return 1000u; });
    EXPECT_EQ(Run(), code);
    const auto boxes = rec().boxes();
    ASSERT_EQ(boxes.size(), box_count);
    EXPECT_TRUE(boxes.empty() || boxes.back().text.rfind(box, 0) == 0) << boxes.back().text;
    EXPECT_EQ(Names(Session()), OutputNames({code ? "0202" : "0303"}));
    EXPECT_EQ(SessionProblems(Session()), std::vector<std::string>{});
    EXPECT_EQ(rec().completions().size(), code ? 0u : 1u);
    if (code) continue;
    EXPECT_FALSE(rec().completions()[0].finderror);
    if (!resized) without = FolderBytes(Session());
    EXPECT_TRUE(FolderBytes(Session()) == without);
  }
}

}  // namespace

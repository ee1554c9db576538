// The processing run driven through a recording platform: refusals, the
// long-job estimate, the session folder's files and their order, write
// failures, the completion report and stopping.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "run/run.h"
#include "solar/solar.h"
#include "support/run_support.h"
#include "support/fixtures.h"

namespace {

using namespace runtest;

constexpr double kLat = 45.9237;
constexpr double kLon = 6.8694;

// Records every call the run makes and lets a test act at any of them
// (request a stop, look at the disk). Counts calls made once a stop was
// already requested: the run must make none.
class Recorder : public MemoryPlatform {
 public:
  std::function<void(const std::string& call)> on_call;
  int progress_calls = 0;
  int calls_after_stop = 0;
  bool short_indices = false;

  void ConsoleLine(const std::string& t) override { Note("console"); MemoryPlatform::ConsoleLine(t); }
  void SetStatusText(const std::string& t) override { Note("status"); MemoryPlatform::SetStatusText(t); }
  void SetProgress(int p) override {
    ++progress_calls;
    MemoryPlatform::SetProgress(p);
    Note("progress");
  }
  void SetReadOnly(int id, bool ro) override { Note("readonly"); MemoryPlatform::SetReadOnly(id, ro); }
  void SetEnabled(int id, bool en) override { Note("enabled"); MemoryPlatform::SetEnabled(id, en); }
  std::vector<int> ListSelectedIndices() override {
    Note("indices");
    std::vector<int> v = MemoryPlatform::ListSelectedIndices();
    if (short_indices) v.pop_back();
    return v;
  }
  BoxResult MessageBox(const std::string& text, const std::string& caption, BoxIcon icon, BoxButtons buttons,
                       bool owned) override {
    Note("box");
    return MemoryPlatform::MessageBox(text, caption, icon, buttons, owned);
  }
  void CompletionDialog(const CompletionReport& r) override {
    Note("completion");
    MemoryPlatform::CompletionDialog(r);
  }

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
  void Fresh() {
    ResetProjectState();
    recorder_ = std::make_unique<Recorder>();
    SetPlatform(recorder_.get());
    st.sesion = "T1";
  }
  Recorder& rec() { return *recorder_; }

  void MakeSectors(const std::vector<std::pair<int, int>>& sectors, int size) {
    for (auto [c, r] : sectors) WritePngRgb(dir / SectorName(c, r, ".png"), size, size, GridHill(c, r, size));
  }
  // Scans the work directory, selects every sector, sets valid coordinates.
  void Scan() {
    st.szDirPath = dir.str();
    ASSERT_EQ(listdirect(st.szDirPath, st.admext), 1);
    rec().ListSelectAll(true);
    st.geoxi = kLon;
    st.geoyi = kLat;
    st.val_long = st.val_lat = 1;
  }
  void Run() {
    st.working = 1;
    ProcessData();
  }
  fs::path Session() const { return dir / ("Session" + st.sesion); }
  // A list of sectors that exist only as names: enough for everything the
  // run decides before it loads the first sector.
  void ListByHand(int n, int size) {
    st.szDirPath = dir.str();
    st.proj_w = st.proj_h = size;
    for (int i = 0; i < n; ++i) rec().ListAdd(SectorName(1, i + 1, ".png"));
    rec().ListSelectAll(true);
    st.val_long = st.val_lat = 1;
  }
  void ExpectReleased() {
    EXPECT_EQ(st.working.load(), 0);
    EXPECT_FALSE(st.shoras || st.sfsuma || st.sfwhsinf || st.sfwhscen || st.sfwhssup || st.elev2png || st.sftmp);
    EXPECT_FALSE(st.sfdata || st.sent5 || st.sent7 || st.sent8);
    EXPECT_TRUE(st.presum.empty() && st.pmeswhs.empty());
  }

  TempDir dir;

 private:
  std::unique_ptr<Recorder> recorder_;
};

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& [name, e] : Listing(folder)) names.insert(name);
  return names;
}

// Number j when `names` is exactly packages 0..j-1 of the sector, else -1.
int PackagePrefix(const std::set<std::string>& names, const std::string& id) {
  const int j = static_cast<int>(names.size());
  for (int p = 0; p < j; ++p)
    if (!names.count(PackageName(id, p))) return -1;
  return j;
}

std::array<int32_t, 12> MonthSteps(double lat) {
  std::array<int32_t, 12> s{};
  for (int m = 0; m < 12; ++m) s[m] = SolarDay(15 + kMonthStart[m], deg2rad(lat)).steps;
  return s;
}

// ------------------------------------------------- refusals and the estimate

// Every way the run can decline before committing: one box, nothing on
// disk, the flags of the previous run untouched, `working` cleared.
TEST_F(RunTest, RefusalsShowOneBoxAndCommitNothing) {
  const std::string invalid = "Longitud and Latitude must be a valid value";
  struct Case {
    const char* label;
    int sectors, size;
    std::function<void()> arrange;
    std::string text, caption;
    BoxIcon icon;
    BoxButtons buttons;
  };
  const std::vector<Case> cases = {
      {"nothing selected", 2, 120, [&] { rec().ListSelectAll(false); },
       "There are no selected files to process in the list", "Error", BoxIcon::Warning, BoxButtons::Ok},
      {"longitude never entered", 2, 120, [] { st.val_long = 2; }, invalid, "Error", BoxIcon::Warning,
       BoxButtons::Ok},
      {"latitude invalid", 2, 120, [] { st.val_lat = 0; }, invalid, "Error", BoxIcon::Warning, BoxButtons::Ok},
      {"selection read short", 2, 120, [&] { rec().short_indices = true; },
       "Fatal error allocating index of files to process", "Error", BoxIcon::Error, BoxButtons::Ok},
      {"long job cancelled", 4, 600, [&] { rec().box_answer = BoxResult::Cancel; },
       "Warning! Depending the size of your data, selecting too many sectors to process could take long "
       "time.\n We recommend process the data in various steps.\n Estimated time: 40.32 minutes",
       "Warning!", BoxIcon::Warning, BoxButtons::OkCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    ListByHand(c.sectors, c.size);
    st.finderror = st.glbwarning = 1;
    c.arrange();
    Run();
    const auto boxes = rec().boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, c.caption);
    EXPECT_EQ(boxes[0].icon, c.icon);
    EXPECT_EQ(boxes[0].buttons, c.buttons);
    EXPECT_EQ(st.working.load(), 0);
    EXPECT_EQ(st.finderror + st.glbwarning, 2);
    EXPECT_FALSE(fs::exists(Session()) || fs::exists(dir / "pr_data.vtd"));
    EXPECT_EQ(rec().progress_calls, 0);
  }
}

TEST_F(RunTest, NoLongJobBoxForOneSectorOrAShortJob) {
  // 1 x 600 x 600 is 10.08 minutes but a single sector; 2 x 400 x 400 is
  // 8.96 minutes.
  for (auto [n, size] : {std::pair{1, 600}, std::pair{2, 400}}) {
    SCOPED_TRACE(std::to_string(n) + " x " + std::to_string(size));
    Fresh();
    ListByHand(n, size);
    // The first progress position (0) comes right after the commit; stop
    // there so no sector is loaded.
    rec().on_call = [](const std::string& call) {
      if (call == "progress") st.stoprequest = true;
    };
    Run();
    EXPECT_TRUE(rec().boxes().empty());
    EXPECT_TRUE(fs::is_directory(Session()));
  }
}

TEST(RunEstimate, CountsIn64Bits) {
  // 99 x 99 sectors of 600 x 600: 3,528,360,000 pixels, past 2^31.
  EXPECT_NEAR(EstimateMinutes(99 * 99, 600, 600), 352836 * 0.28, 1e-6);
  EXPECT_NEAR(EstimateMinutes(4, 600, 600), 40.32, 1e-9);
}

// ----------------------------------------------------------- one sector

TEST_F(RunTest, Sector0312WritesSeventeenFilesInOrder) {
  MakeSectors({{3, 12}}, 120);
  Scan();
  rec().progress_calls = 0;  // the scan resets the bar too
  st.finderror = st.glbwarning = 1;  // both flags start every run cleared
  const auto steps = MonthSteps(kLat);

  // At every hour step: which packages are on disk, and are the coordinate
  // controls locked.
  std::vector<std::set<std::string>> seen;
  bool locked_throughout = true;
  rec().on_call = [&](const std::string& call) {
    if (call != "progress" || rec().progress_calls == 1) return;  // the first is the reset to 0
    seen.push_back(Names(Session()));
    locked_throughout = locked_throughout && rec().read_only(ctl::kLongitude) && !rec().enabled(ctl::kFileType);
  };
  Run();

  ASSERT_EQ(static_cast<int32_t>(seen.size()), DaylightSteps(deg2rad(kLat)));
  EXPECT_TRUE(locked_throughout);
  // Packages are compressed while the next month is shaded, so a month's
  // package may appear some steps later; but never before its month ends,
  // never before the packages ahead of it, and never half written.
  size_t step = 0;
  int before = 0;
  for (int m = 0; m < 12; ++m)
    for (int k = 0; k < steps[m]; ++k, ++step) {
      SCOPED_TRACE("month " + std::to_string(m) + " step " + std::to_string(k));
      const int written = PackagePrefix(seen[step], "0312");
      ASSERT_GE(written, before);
      ASSERT_LE(written, m);
      before = written;
    }

  std::set<std::string> expected = {"0312.png"};
  for (int p = 0; p < 16; ++p) expected.insert("vto_package_0312_" + std::to_string(p) + ".vtp");
  const auto files = Listing(Session());
  EXPECT_EQ(Names(Session()), expected);
  // Packages 11 to 15, then the elevation image.
  const std::vector<std::string> tail = {PackageName("0312", 11), PackageName("0312", 12), PackageName("0312", 13),
                                         PackageName("0312", 14), PackageName("0312", 15), "0312.png"};
  for (size_t i = 1; i < tail.size(); ++i) EXPECT_LE(files.at(tail[i - 1]).mtime_ns, files.at(tail[i]).mtime_ns) << tail[i];

  int w = 0, h = 0;
  const auto elev = ReadPngValues(Session() / "0312.png", w, h);
  ASSERT_EQ(elev.size(), 120u * 120u);
  EXPECT_EQ(elev[5 * 120 + 7], Hill(7, 5, 240, -9 * 120));

  double lon = 0, lat = 0;
  ASSERT_TRUE(ReadCoordinatesFile((dir / "pr_data.vtd").string(), lon, lat));
  EXPECT_EQ(lat, kLat);
  EXPECT_EQ(rec().progress(), 100);
  EXPECT_FALSE(rec().read_only(ctl::kLongitude));
  EXPECT_TRUE(rec().enabled(ctl::kFileType));
  const auto done = rec().completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].folder, Session().string());
  EXPECT_FALSE(done[0].finderror || done[0].glbwarning);
  EXPECT_TRUE(rec().boxes().empty());
  ExpectReleased();
}

TEST_F(RunTest, SecondRunOverwritesTheSameSessionFolder) {
  MakeSectors({{1, 1}}, 120);
  Scan();
  Run();
  const auto first5 = ReadFileBytes(Session() / PackageName("0101", 5));
  const auto first_elev = ReadFileBytes(Session() / "0101.png");
  ASSERT_FALSE(first5.empty());

  WriteFileBytes(Session() / PackageName("0101", 5), {'j', 'u', 'n', 'k'});
  WriteFileBytes(Session() / "0101.png", {});
  st.geoxi = -3.5;
  Run();

  EXPECT_EQ(ReadFileBytes(Session() / PackageName("0101", 5)), first5);
  EXPECT_EQ(ReadFileBytes(Session() / "0101.png"), first_elev);
  double lon = 0, lat = 0;
  ASSERT_TRUE(ReadCoordinatesFile((dir / "pr_data.vtd").string(), lon, lat));
  EXPECT_EQ(lon, -3.5);
  ASSERT_EQ(rec().completions().size(), 2u);
  EXPECT_EQ(Listing(Session()).size(), 17u);
}

// ------------------------------------------------------- failures at start

// The coordinates file and the session folder are written like the
// packages: a failure has its console line and the error flag, never a
// silent success; a folder that cannot be made is named with the reason,
// before the package errors it causes.
TEST_F(RunTest, StartFailuresAreReported) {
  struct Case {
    const char* label;
    std::function<void()> arrange;
    std::string first_line;
  };
  const std::vector<Case> cases = {
      {"coordinates file unwritable", [&] { fs::create_directories(dir / "pr_data.vtd" / "x"); },
       "ERROR saving pr_data.vtd"},
      {"session folder blocked by a file", [&] { WriteFileBytes(Session(), {1}); },
       "ERROR creating session folder " + Session().string() + ": Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fresh();
    fs::remove_all(dir / "pr_data.vtd");
    fs::remove_all(Session());
    MakeSectors({{1, 1}}, 120);
    Scan();
    c.arrange();
    Run();
    const auto lines = rec().console();
    EXPECT_EQ(lines.empty() ? "" : lines[0], c.first_line);
    const auto done = rec().completions();
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].finderror);
    ExpectReleased();
  }
}

// Far north the first months have no hour steps, so package 0 is written
// before the sector's first step gives its height warning: the failure
// line must still come first, as when each file is written on the spot.
TEST_F(RunTest, ConsoleOrderHoldsWhenTheFirstMonthsHaveNoSteps) {
  WritePngRgb(dir / "0101.png", 200, 200, [](int x, int y) { return x == 0 && y == 0 ? 9000u : 1000u; });
  Scan();
  st.geoyi = 70.0;
  ASSERT_EQ(MonthSteps(70.0)[0], 0);
  fs::create_directories(Session() / PackageName("0101", 0));
  Run();
  const std::vector<std::string> expected = {
      "ERROR saving package 0",
      "WARNING!! Unexpected High values of elevations in 0101. Please check if your data are in the "
      "supported format"};
  EXPECT_EQ(rec().console(), expected);
}

// ---------------------------------------------------------------- stopping

TEST_F(RunTest, AStopWritesNothingFurtherAndSaysNothingFurther) {
  MakeSectors({{1, 1}, {1, 2}}, 120);
  Scan();
  const auto steps = MonthSteps(kLat);
  const int32_t total = DaylightSteps(deg2rad(kLat));

  struct Point {
    std::string label, call;
    int nth;  // stop at the nth call of that kind
  };
  const std::vector<Point> points = {
      {"at the progress reset", "progress", 1},
      {"at the first hour step", "progress", 2},
      {"at January's last step, before package 0", "progress", 1 + steps[0]},
      {"mid-year", "progress", 1 + total / 2},
      {"at the sector's last step, before packages 11-15", "progress", 1 + total},
      {"during the second sector's preliminaries", "status", 3},
      {"at the last step of the run", "progress", 1 + 2 * total},
      {"in the completion dialog", "completion", 1},
  };
  for (const Point& p : points) {
    SCOPED_TRACE(p.label);
    st.sesion = "S" + std::to_string(&p - points.data());
    st.stoprequest = false;
    rec().calls_after_stop = 0;
    int count = 0;
    std::map<std::string, Entry> at_stop;
    rec().on_call = [&](const std::string& call) {
      if (call != p.call || ++count != p.nth) return;
      st.stoprequest = true;
      at_stop = Listing(Session());
    };
    const size_t completions_before = rec().completions().size();
    Run();
    ASSERT_TRUE(st.stoprequest.load());
    EXPECT_EQ(Listing(Session()), at_stop);
    EXPECT_EQ(rec().calls_after_stop, 0);
    for (const auto& [name, e] : at_stop) EXPECT_NE(name[0], '.') << "unfinished file " << name;
    EXPECT_EQ(rec().completions().size(), completions_before + (p.call == "completion" ? 1 : 0));
    ExpectReleased();
  }
  EXPECT_FALSE(fs::exists(dir / "SessionS2" / PackageName("0101", 0)));
  EXPECT_FALSE(fs::exists(dir / "SessionS6" / "0102.png"));
}

}  // namespace

// The processing run driven through a recording platform: refusals, the
// long-job estimate, the session folder's files and their order, write
// failures, the completion report and stopping.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "catalogue/scan.h"
#include "catalogue/surroundings.h"
#include "engine/run.h"
#include "engine/solar.h"
#include "run_support.h"
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
  std::vector<std::string> statuses;
  int progress_calls = 0;
  int calls_after_stop = 0;
  bool short_indices = false;

  void ConsoleLine(const std::string& t) override { Note("console"); MemoryPlatform::ConsoleLine(t); }
  void SetStatusText(const std::string& t) override {
    Note("status");
    statuses.push_back(t);
    MemoryPlatform::SetStatusText(t);
  }
  void SetProgress(int p) override {
    ++progress_calls;
    MemoryPlatform::SetProgress(p);
    Note("progress");
  }
  void SetReadOnly(int id, bool ro) override { Note("readonly"); MemoryPlatform::SetReadOnly(id, ro); }
  void SetEnabled(int id, bool en) override { Note("enabled"); MemoryPlatform::SetEnabled(id, en); }
  std::string ListText(int i) override { Note("listtext"); return MemoryPlatform::ListText(i); }
  int ListFindExact(const std::string& name) override {
    Note("find");
    return MemoryPlatform::ListFindExact(name);
  }
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
    FreshRecorder();
    st.sesion = "T1";
  }
  void FreshRecorder() {
    recorder_ = std::make_unique<Recorder>();
    SetPlatform(recorder_.get());
  }
  Recorder& rec() { return *recorder_; }
  const Recorder& rec() const { return *recorder_; }

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
  std::vector<std::string> ConsoleMatching(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& l : rec().console())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
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
    EXPECT_TRUE(st.presum.empty());
    EXPECT_TRUE(st.pmeswhs.empty());
  }

  TempDir dir;

 private:
  std::unique_ptr<Recorder> recorder_;
};

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

// ---------------------------------------------------------------- refusals

TEST_F(RunTest, RefusalsShowTheirBoxAndTouchNothingButWorking) {
  struct Case {
    const char* label;
    std::function<void()> arrange;
    std::string text;
    BoxIcon icon;
  };
  const std::vector<Case> cases = {
      {"nothing selected", [&] { rec().ListSelectAll(false); },
       "There are no selected files to process in the list", BoxIcon::Warning},
      {"longitude never entered", [&] { st.val_long = 2; }, "Longitud and Latitude must be a valid value",
       BoxIcon::Warning},
      {"latitude invalid", [&] { st.val_lat = 0; }, "Longitud and Latitude must be a valid value",
       BoxIcon::Warning},
      {"selection read short", [&] { rec().short_indices = true; },
       "Fatal error allocating index of files to process", BoxIcon::Error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResetProjectState();
    FreshRecorder();
    st.sesion = "T1";
    ListByHand(2, 120);
    st.finderror = 1;
    st.glbwarning = 1;
    c.arrange();
    Run();
    const auto boxes = rec().boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].icon, c.icon);
    EXPECT_EQ(boxes[0].buttons, BoxButtons::Ok);
    EXPECT_TRUE(boxes[0].owned);
    EXPECT_EQ(st.working.load(), 0);
    EXPECT_EQ(st.finderror, 1);
    EXPECT_EQ(st.glbwarning, 1);
    EXPECT_FALSE(fs::exists(Session()));
    EXPECT_FALSE(fs::exists(dir / "pr_data.vtd"));
    EXPECT_EQ(rec().progress_calls, 0);
  }
}

TEST_F(RunTest, LongJobBoxCancelledCommitsNothing) {
  ListByHand(4, 600);
  rec().box_answer = BoxResult::Cancel;
  st.finderror = 1;
  st.glbwarning = 1;
  Run();
  const auto boxes = rec().boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Warning! Depending the size of your data, selecting too many sectors to process could take long "
            "time.\n We recommend process the data in various steps.\n Estimated time: 40.32 minutes");
  EXPECT_EQ(boxes[0].caption, "Warning!");
  EXPECT_EQ(boxes[0].icon, BoxIcon::Warning);
  EXPECT_EQ(boxes[0].buttons, BoxButtons::OkCancel);
  EXPECT_EQ(st.working.load(), 0);
  EXPECT_EQ(st.finderror, 1);
  EXPECT_EQ(st.glbwarning, 1);
  EXPECT_FALSE(fs::exists(Session()));
  EXPECT_FALSE(fs::exists(dir / "pr_data.vtd"));
  EXPECT_EQ(rec().progress_calls, 0);
}

TEST_F(RunTest, NoLongJobBoxForOneSectorOrAShortJob) {
  // (sectors, size): 1 x 600 x 600 is 10.08 minutes but a single sector;
  // 2 x 400 x 400 is 8.96 minutes.
  for (auto [n, size] : {std::pair{1, 600}, std::pair{2, 400}}) {
    SCOPED_TRACE(std::to_string(n) + " x " + std::to_string(size));
    ResetProjectState();
    FreshRecorder();
    st.sesion = "N" + std::to_string(n);
    ListByHand(n, size);
    // The first progress position (0) comes right after the commit; stop
    // there so no sector is loaded.
    rec().on_call = [](const std::string& call) {
      if (call == "progress") st.stoprequest = true;
    };
    Run();
    EXPECT_TRUE(rec().boxes().empty());
    EXPECT_TRUE(fs::is_directory(Session()));
    double lon = 0, lat = 0;
    EXPECT_TRUE(ReadCoordinatesFile((dir / "pr_data.vtd").string(), lon, lat));
    EXPECT_EQ(rec().calls_after_stop, 0);
    EXPECT_TRUE(rec().completions().empty());
    EXPECT_EQ(st.working.load(), 0);
  }
}

TEST(RunEstimate, CountsIn64Bits) {
  EXPECT_NEAR(EstimateMinutes(4, 600, 600), 40.32, 1e-9);
  EXPECT_NEAR(EstimateMinutes(2, 400, 400), 8.96, 1e-9);
  // 99 x 99 sectors of 600 x 600: 3,528,360,000 pixels, past 2^31.
  EXPECT_NEAR(EstimateMinutes(99 * 99, 600, 600), 352836 * 0.28, 1e-6);
  EXPECT_EQ(EstimateMinutes(1, 120, 120), 0.28);
}

// ----------------------------------------------------------- one sector

TEST_F(RunTest, Sector0312WritesSeventeenFilesInOrder) {
  MakeSectors({{3, 12}}, 120);
  Scan();
  rec().progress_calls = 0;  // the scan resets the bar too
  st.finderror = 1;  // both flags start every run cleared
  st.glbwarning = 1;
  const auto steps = MonthSteps(kLat);
  const int32_t total = DaylightSteps(deg2rad(kLat));

  // At every hour step: which packages are on disk, and are the coordinate
  // controls locked.
  std::vector<std::set<std::string>> seen;
  bool locked_throughout = true;
  rec().on_call = [&](const std::string& call) {
    if (call != "progress" || rec().progress_calls == 1) return;  // the first is the reset to 0
    std::set<std::string> names;
    for (const auto& [name, e] : Listing(Session())) names.insert(name);
    seen.push_back(names);
    locked_throughout = locked_throughout && rec().read_only(ctl::kLongitude) && rec().read_only(ctl::kLatitude) &&
                        !rec().enabled(ctl::kFileType);
  };
  Run();

  ASSERT_EQ(static_cast<int32_t>(seen.size()), total);
  EXPECT_TRUE(locked_throughout);
  // Packages are compressed while the next month is shaded, so a month's
  // package may appear some steps later; but never before its month ends,
  // never before the packages ahead of it, and never half written.
  size_t step = 0;
  int before = 0;
  for (int m = 0; m < 12; ++m) {
    for (int k = 0; k < steps[m]; ++k, ++step) {
      const int written = PackagePrefix(seen[step], "0312");
      ASSERT_GE(written, 0) << "month " << m << " step " << k << ": not the first packages in order";
      ASSERT_LE(written, m) << "month " << m << " step " << k;
      ASSERT_GE(written, before) << "month " << m << " step " << k;
      before = written;
    }
  }

  std::set<std::string> expected;
  for (int p = 0; p < 16; ++p) expected.insert("vto_package_0312_" + std::to_string(p) + ".vtp");
  expected.insert("0312.png");
  const auto files = Listing(Session());
  std::set<std::string> names;
  for (const auto& [name, e] : files) names.insert(name);
  EXPECT_EQ(names, expected);
  // Packages 11 to 15, then the elevation image.
  const std::vector<std::string> tail = {PackageName("0312", 11), PackageName("0312", 12),
                                         PackageName("0312", 13), PackageName("0312", 14),
                                         PackageName("0312", 15), "0312.png"};
  for (size_t i = 1; i < tail.size(); ++i) EXPECT_LE(files.at(tail[i - 1]).time, files.at(tail[i]).time) << tail[i];

  for (int p = 0; p < 16; ++p) {
    const auto bytes = ReadFileBytes(Session() / PackageName("0312", p));
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 5), "TSVLP");
    int w = 0, h = 0;
    ReadPngValues(Session() / PackageName("0312", p), w, h);
    EXPECT_EQ(w, 120);
    EXPECT_EQ(h, 120);
  }
  int w = 0, h = 0;
  const auto elev = ReadPngValues(Session() / "0312.png", w, h);
  ASSERT_EQ(elev.size(), 120u * 120u);
  EXPECT_EQ(elev[5 * 120 + 7], Hill(7, 5, 240, -9 * 120));

  double lon = 0, lat = 0;
  ASSERT_TRUE(ReadCoordinatesFile((dir / "pr_data.vtd").string(), lon, lat));
  EXPECT_EQ(lon, kLon);
  EXPECT_EQ(lat, kLat);

  const auto st_it = std::find(rec().statuses.begin(), rec().statuses.end(), "Processing sector 0312");
  ASSERT_NE(st_it, rec().statuses.end());
  ASSERT_NE(st_it, rec().statuses.begin());
  EXPECT_EQ(*(st_it - 1), "Preliminary tasks (This could take few seconds)...");
  EXPECT_EQ(rec().statuses.back(), "");
  EXPECT_EQ(rec().status(), "");
  EXPECT_EQ(rec().progress(), 100);
  EXPECT_FALSE(rec().read_only(ctl::kLongitude));
  EXPECT_FALSE(rec().read_only(ctl::kLatitude));
  EXPECT_TRUE(rec().enabled(ctl::kFileType));

  const auto done = rec().completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].folder, Session().string());
  EXPECT_FALSE(done[0].finderror);
  EXPECT_FALSE(done[0].glbwarning);
  EXPECT_EQ(st.finderror, 0);
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
  const auto done = rec().completions();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].folder, done[1].folder);
  EXPECT_EQ(Listing(Session()).size(), 17u);
}

TEST_F(RunTest, AFailedWriteIsLoggedAndTheRunGoesOn) {
  MakeSectors({{1, 1}}, 120);
  Scan();
  // A directory where the file must go: neither a PNG nor a stamp fits.
  fs::create_directories(Session() / PackageName("0101", 13));
  Run();

  EXPECT_EQ(ConsoleMatching("ERROR"), std::vector<std::string>{"ERROR saving package 13"});
  for (int p = 0; p < 16; ++p) {
    if (p == 13) continue;
    int w = 0, h = 0;
    ReadPngValues(Session() / PackageName("0101", p), w, h);
    EXPECT_EQ(w, 120) << p;
  }
  EXPECT_TRUE(fs::is_directory(Session() / PackageName("0101", 13)));
  EXPECT_TRUE(fs::is_regular_file(Session() / "0101.png"));
  const auto done = rec().completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_TRUE(done[0].finderror);
  EXPECT_EQ(st.finderror, 0);

  // The elevation image has its own line.
  fs::remove(Session() / PackageName("0101", 13));
  fs::remove(Session() / "0101.png");
  fs::create_directories(Session() / "0101.png");
  Run();
  EXPECT_EQ(ConsoleMatching("ERROR").back(), "ERROR saving elev png");
  EXPECT_TRUE(fs::is_regular_file(Session() / PackageName("0101", 13)));
  ASSERT_EQ(rec().completions().size(), 2u);
  EXPECT_TRUE(rec().completions()[1].finderror);
}

TEST_F(RunTest, CompletionReportsErrorsAndWarnings) {
  // One pixel far above any real summit: a height warning. At (0, 0) it
  // makes no rise in the scan order, so the ray range stays short.
  WritePngRgb(dir / "0101.png", 120, 120, [](int x, int y) { return x == 0 && y == 0 ? 9000u : Hill(x, y, 0, 0); });
  Scan();
  fs::create_directories(Session() / PackageName("0101", 2));
  Run();
  auto done = rec().completions();
  ASSERT_EQ(done.size(), 1u);
  EXPECT_TRUE(done[0].finderror);
  EXPECT_TRUE(done[0].glbwarning);
  EXPECT_EQ(st.finderror, 0);
  EXPECT_EQ(st.glbwarning, 1);  // kept until the next run starts
  EXPECT_EQ(ConsoleMatching("WARNING").size(), 1u);
}

TEST_F(RunTest, AnUnreadableSectorIsFatalAndClearsWorking) {
  MakeSectors({{1, 1}}, 120);
  Scan();
  fs::remove(dir / "0101.png");
  WriteFileBytes(dir / "0101.png", {'n', 'o', 't', ' ', 'p', 'n', 'g'});
  st.working = 1;
  EXPECT_THROW(ProcessData(), ProcessExit);
  EXPECT_EQ(st.working.load(), 0);
}

// ---------------------------------------------------------------- stopping

TEST_F(RunTest, AStopWritesNothingFurtherAndSaysNothingFurther) {
  MakeSectors({{1, 1}, {1, 2}}, 120);
  Scan();
  const auto steps = MonthSteps(kLat);
  const int32_t total = DaylightSteps(deg2rad(kLat));

  struct Point {
    std::string label;
    std::string call;
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
  // At the sector's last step the packages of the months before are on
  // disk in order, or still being compressed and then dropped by the stop.
  std::set<std::string> s4;
  for (const auto& [name, e] : Listing(dir / "SessionS4")) s4.insert(name);
  const int s4_written = PackagePrefix(s4, "0101");
  EXPECT_GE(s4_written, 0);
  EXPECT_LE(s4_written, 11);
  EXPECT_FALSE(fs::exists(dir / "SessionS6" / "0102.png"));
  // A stop in the completion dialog leaves the status as the run left it.
  EXPECT_EQ(rec().status(), "Processing sector 0102");
}

TEST_F(RunTest, AStopFromAnotherThreadEndsTheWorker) {
  MakeSectors({{1, 1}, {1, 2}}, 120);
  Scan();
  st.working = 1;
  std::thread worker(ProcessData);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (rec().progress() < 30 && st.working.load() == 1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  st.stoprequest = true;
  worker.join();
  // What the desktop's Cancel does next must be harmless.
  CleanSurfaces();
  ReleaseCounters();
  ExpectReleased();
  EXPECT_TRUE(rec().completions().empty());
  for (const auto& [name, e] : Listing(Session())) {
    ASSERT_NE(name[0], '.') << "unfinished file " << name;
    int w = 0, h = 0;
    ReadPngValues(Session() / name, w, h);
    EXPECT_EQ(w, 120) << name;
  }
}

}  // namespace

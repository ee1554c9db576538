// Resumed runs: stopped at random points, then resumed, the session folder
// is byte for byte that of one uninterrupted run; whole sectors are
// skipped, damaged ones made again, leftover temporary files removed.

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "catalogue/scan.h"
#include "run/run.h"
#include "support/run_support.h"
#include "terrain/file.h"

namespace {

using namespace runtest;

// Asks for a stop at the n-th progress position (never when n is 0).
class StopAt : public MemoryPlatform {
 public:
  int left = 0;
  void SetProgress(int p) override {
    MemoryPlatform::SetProgress(p);
    if (left > 0 && --left == 0) st.stoprequest = true;
  }
};

std::map<std::string, std::vector<uint8_t>> Bytes(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

class ResumeTest : public StateTest {
 protected:
  // One run of the 2 x 2 grid into session `id`; returns the console.
  std::vector<std::string> Run(const std::string& id, bool resume, int stop_after = 0) {
    ResetProjectState();
    StopAt p;
    p.left = stop_after;
    SetPlatform(&p);
    st.szDirPath = dir.str();
    EXPECT_EQ(listdirect(st.szDirPath, st.admext), 1);
    p.ListSelectAll(true);
    st.geoxi = 6.8694;
    st.geoyi = 45.9237;
    st.val_long = st.val_lat = 1;
    st.sesion = id;
    st.resume = resume;
    st.working = 1;
    ProcessData();
    SetPlatform(&plat);
    return p.console();
  }
  fs::path Session(const std::string& id) const { return dir / ("Session" + id); }
  void SetUp() override {
    StateTest::SetUp();
    for (int c = 1; c <= 2; ++c)
      for (int r = 1; r <= 2; ++r) WritePngRgb(dir / SectorName(c, r, ".png"), 120, 120, GridHill(c, r, 120, 2));
  }
  TempDir dir;
};

TEST_F(ResumeTest, StoppedAtRandomThenResumedIsByteIdentical) {
  Run("ref", false);
  const auto reference = Bytes(Session("ref"));
  ASSERT_EQ(reference.size(), 4u * 17);
  std::mt19937 rng(20261207);
  for (int k = 0; k < 6; ++k) {
    // One progress call at the start and one per hour step (about 4 x 139):
    // a stop anywhere in the run, or none.
    const int stop = 1 + static_cast<int>(rng() % 580);
    SCOPED_TRACE(testing::Message() << "stop at progress call " << stop);
    const std::string id = std::string(1, static_cast<char>('a' + k));
    Run(id, false, stop);
    ASSERT_TRUE(st.stoprequest.load() || Bytes(Session(id)) == reference);
    // What a killed process leaves: a hidden temporary file.
    WriteFileBytes(TempPathFor((Session(id) / PackageName("0202", 3)).string()), {1, 2, 3});
    const auto console = Run(id, true);
    EXPECT_TRUE(Bytes(Session(id)) == reference);
    int skipped = 0, removed = 0;
    for (const std::string& line : console) {
      skipped += line.find("already complete, skipped") != std::string::npos;
      removed += line.rfind("Removed leftover temporary file .vto_package_0202_3.vtp.tmp-", 0) == 0;
    }
    EXPECT_EQ(removed, 1);
    int whole = 0;
    for (const auto& o : LastRun().sectors) whole += o.status == SectorOutcome::Status::kSkipped;
    EXPECT_EQ(skipped, whole);
  }
}

// A resumed run skips only sectors that pass verify's checks: a missing,
// damaged or inconsistent file makes its sector again.
TEST_F(ResumeTest, OnlyWholeSectorsAreSkipped) {
  Run("ref", false);
  const auto reference = Bytes(Session("ref"));
  auto edit = [&](const std::string& name, const std::function<void(std::vector<uint8_t>&)>& f) {
    std::vector<uint8_t> b = reference.at(name);
    f(b);
    WriteFileBytes(Session("ref") / name, b);
  };
  fs::remove(Session("ref") / ElevationName("0101"));
  edit(PackageName("0102", 7), [](auto& b) { b.resize(b.size() / 2); });
  // Package 12 of 0201 taken from 0202: decodes, but its counts disagree.
  edit(PackageName("0201", 12), [&](auto& b) { b = reference.at(PackageName("0202", 12)); });
  Run("ref", true);
  std::vector<std::string> skipped;
  for (const auto& o : LastRun().sectors)
    if (o.status == SectorOutcome::Status::kSkipped) skipped.push_back(o.id);
  EXPECT_EQ(skipped, std::vector<std::string>{"0202"});
  EXPECT_TRUE(Bytes(Session("ref")) == reference);
}

}  // namespace

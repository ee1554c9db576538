// Resumed runs skip whole sectors and make damaged ones again (runs killed
// at random and then resumed: tests/faults/resume_fault_test.cpp).

#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "catalogue/scan.h"
#include "run/run.h"
#include "support/support.h"

namespace {


std::map<std::string, std::vector<uint8_t>> Bytes(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (const auto& e : fs::directory_iterator(dir)) out[e.path().filename().string()] = ReadFileBytes(e.path());
  return out;
}

class ResumeTest : public StateTest {
 protected:
  // One run of the 2 x 2 grid into session `id`.
  void Run(const std::string& id, bool resume) {
    ResetProjectState();
    MemoryPlatform p;
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
  }
  fs::path Session(const std::string& id) const { return dir / ("Session" + id); }
  void SetUp() override {
    StateTest::SetUp();
    MakeProject(dir.path(), 2, 2, 120);
  }
  TempDir dir;
};

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

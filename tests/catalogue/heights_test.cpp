#include "catalogue/heights.h"

#include <cmath>

#include "catalogue/neighbours.h"
#include "support/support.h"
#include "terrain/raster.h"

namespace {

FloatRasterPtr RasterOf(int side, const FloatFn& f) {
  auto r = std::make_unique<FloatRaster>(FloatRaster{uint32_t(side), uint32_t(side), {}});
  for (int i = 0; i < side * side; ++i) r->samples.push_back(f(i % side, i / side));
  return r;
}

using HeightsTest = StateTest;

// Heights truncate toward zero; samples that are no number or beyond 32
// bits are read without undefined behaviour, rises summed in 64 bits.
TEST_F(HeightsTest, SearchMaxH) {
  st.proj_w = st.proj_h = 120;
  st.cu_ext = 1;
  const struct {
    const char* name;
    FloatFn f;
    HeightRecord want;  // hmax, x, y, mean
  } cases[] = {
      // Each row start rises 10 above the end of the row before; the first
      // pixel is compared with itself.
      {"wall", [](int x, int) { return x == 0 ? 10.0f : 0.0f; }, {10, 0, 1, 10}},
      // Rises of 3 (too small to count), 4, 9 and 9: the mean truncates, the
      // first largest keeps its place.
      {"steps",
       [](int x, int y) { return y != 3 ? 0.f : x < 8 ? 3.f : x < 50 ? 7.f : x < 60 ? 16.f : 9.f * (x >= 70); },
       {9, 50, 3, 7}},
      {"truncation", [](int x, int y) { return x == 10 && y == 20 ? 0.5f : -5.9f; }, {5, 10, 20, 5}},
      // NaN reads as 0, 1e30 as the largest height, -1e30 as the smallest.
      {"odd samples",
       [](int x, int y) { return y != 2 || x < 5 || x > 7 ? -3.9f : x == 5 ? NAN : x == 6 ? 1e30f : -1e30f; },
       {INT32_MAX, 6, 2, 2147483646}},
  };
  for (const auto& c : cases) {
    HeightRecord r;
    SearchMaxH(r, nullptr, RasterOf(120, c.f).get());
    EXPECT_EQ(std::vector<int32_t>({r.hmax, r.x, r.y, r.mean}),
              std::vector<int32_t>({c.want.hmax, c.want.x, c.want.y, c.want.mean})) << c.name;
  }
}

// A 600 x 600 project around sector 0505 with every name listed; the
// centre's pixel (0, 0) at height 0.
class RangeTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.cu_ext = 1;
    st.admext = ".tif";
    st.proj_w = st.proj_h = 600;
    matriz_entorno("0505.tif");
    for (int cell = 0; cell < 9; ++cell) plat.ListAdd(Name(cell));
    st.prmaxheight.assign(9, HeightRecord{});
    st.sfdata_tif = RasterOf(600, [](int, int) { return 0.0f; });
    st.matflgarea[4] = 1;
  }
  std::string Name(int cell) { return NeighbourName(CellColumnCode(cell), CellRowNumber(cell), st.admext); }
  void Set(int cell, int32_t hmax, int32_t x = 0, int32_t y = 0) {
    st.prmaxheight[plat.ListFindExact(Name(cell))] = HeightRecord{hmax, x, y, 0};
    if (cell != 4) st.matflgarea[cell] = 1;
  }
  int32_t Range(double lat) {
    st.geoyi = lat;
    return SelecRango();
  }
};

TEST_F(RangeTest, CentreAloneAndNeighboursThatReachItPastStrictEdges) {
  // Centre rise, latitude, range; no rise at all or a quotient that does not
  // fit gives the longest ray.
  const struct {
    int32_t hmax;
    double lat;
    int32_t range;
  } cases[] = {{10, 40, 39}, {10, 0, 14}, {10, 70, 120}, {10, -70, 120}, {1, 0, 1}, {0, 40, 120}, {INT32_MAX, 60, 120}};
  for (const auto& c : cases) {
    Set(4, c.hmax);
    EXPECT_EQ(Range(c.lat), c.range) << c.hmax << " at " << c.lat;
  }
  Set(4, 10);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Range(60), 120);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(Contains(out, "Rango Calculado= 169\n") && Contains(out, "Rango Final= 120\n")) << out;

  Set(7, 20, 10, 300);   // right: B = 78, 10 - 78 < 0
  Set(2, 50, 100, 300);  // left: B = 196, 100 + 196 is not past 600
  EXPECT_EQ(Range(40), 78);
  st.matflgarea[7] = 0;  // absent neighbours are never consulted
  EXPECT_EQ(Range(40), 39);

  // At latitude 40 a step of 1 gives B = 3 and a step of 3 gives B = 11.
  // For each neighbour: a position at which B = 11 just passes every edge
  // that faces the centre, and one that misses by a pixel.
  const struct {
    int cell;
    int32_t x_in, y_in, x_out, y_out;
  } edges[] = {
      {0, 590, 5, 590, 11}, {1, 590, 300, 589, 300}, {2, 590, 590, 590, 589}, {3, 300, 10, 300, 11},
      {5, 300, 590, 300, 589}, {6, 10, 10, 11, 10}, {7, 10, 300, 11, 300}, {8, 10, 590, 10, 589},
  };
  for (const auto& c : edges) {
    SCOPED_TRACE(c.cell);
    for (uint8_t& f : st.matflgarea) f = 0;
    Set(4, 1);
    Set(c.cell, 3, c.x_in, c.y_in);
    EXPECT_EQ(Range(40), 11);
    Set(c.cell, 3, c.x_out, c.y_out);
    EXPECT_EQ(Range(40), 3);
  }
}

using NeighboursTest = StateTest;

// Columns left, centre, right and rows below, centre, above; none past the
// edges of the grid.
TEST_F(NeighboursTest, MatrizEntorno) {
  for (const auto& [name, want] : {std::pair{"0101.png", "|01|02 0 1 2"}, {"9999.png", "98|99| 98 99 0"},
                                   {"1009.tif", "09|10|11 8 9 10"}, {"0512.png", "04|05|06 11 12 13"}}) {
    matriz_entorno(name);
    EXPECT_EQ(st.areacol1 + "|" + st.areacol2 + "|" + st.areacol3 + " " + std::to_string(st.areafil[0]) + " " +
                  std::to_string(st.areafil[1]) + " " + std::to_string(st.areafil[2]),
              want);
  }
}

TEST_F(NeighboursTest, DigitsAreExactTo64BitsAndFailuresAreFatal) {
  const int64_t digits[] = {int2dig("07"), int2dig(""), int2dig("987654321098765432"), int2dig(std::string(23, '9'))};
  EXPECT_EQ(std::vector<int64_t>(digits, digits + 4), (std::vector<int64_t>{7, 0, 987654321098765432LL, INT64_MAX}));
  const struct {
    int type;
    std::function<void()> call;
  } cases[] = {
      // A bad character after an overflow; a name too short for a sector.
      {1, [] { txt2dig(':'); }}, {2, [] { int2dig("1a"); }}, {2, [] { int2dig("99999999999999999999999x"); }},
      {1, [] { matriz_entorno("05"); }}, {2, [] { matriz_entorno("A101.png"); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeOf(c.call), 1);
    ASSERT_FALSE(plat.boxes().empty());
    const auto box = plat.boxes().back();
    EXPECT_EQ(box.caption + box.text, "Error!Fatal Error. Internal data conversion error type " +
                                          std::to_string(c.type) + ".\n We are sorry but the application can't go on." +
                                          "\n If the problem persists contact at " + kSupportAddress);
    EXPECT_FALSE(box.owned);
  }
}

}  // namespace

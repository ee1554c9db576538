#include "catalogue/heights.h"

#include <cmath>

#include "catalogue/neighbours.h"
#include "support/support.h"
#include "terrain/raster.h"

namespace {

SurfacePtr SurfaceOf(int w, int h, const HeightFn& f) {
  SurfacePtr s = CreateResultSurface(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) SDLPutPixel(s.get(), x, y, f(x, y));
  return s;
}

FloatRasterPtr RasterOf(int w, int h, const FloatFn& f) {
  auto r = std::make_unique<FloatRaster>();
  r->width = w;
  r->height = h;
  r->samples.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) r->samples[static_cast<size_t>(y) * w + x] = f(x, y);
  return r;
}

class HeightsTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    st.proj_w = st.proj_h = 120;
  }
};

TEST_F(HeightsTest, SearchMaxHExamples) {
  const struct {
    const char* name;
    HeightFn f;
    HeightRecord want;  // hmax, x, y, mean
  } cases[] = {
      {"spike", [](int x, int y) { return x == 10 && y == 20 ? 50u : 0u; }, {50, 10, 20, 50}},
      // Each row start rises 10 above the end of the row before; the first
      // pixel is compared with itself.
      {"wall", [](int x, int) { return x == 0 ? 10u : 0u; }, {10, 0, 1, 10}},
      // Rises of 5 and 9: the mean truncates, the first largest keeps its place.
      {"steps", [](int x, int y) { return y != 3 ? 0u : x < 4 ? 0u : x < 8 ? 5u : x < 50 ? 14u : x < 60 ? 0u : 9u; },
       {9, 8, 3, 7}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HeightRecord r;
    SearchMaxH(r, SurfaceOf(120, 120, c.f).get(), nullptr);
    EXPECT_EQ(std::vector<int32_t>({r.hmax, r.x, r.y, r.mean}),
              std::vector<int32_t>({c.want.hmax, c.want.x, c.want.y, c.want.mean}));
  }
}

TEST_F(HeightsTest, SearchMaxHOnFloatHeights) {
  st.cu_ext = 1;
  HeightRecord r;
  // Heights truncate toward zero before differencing; samples that are no
  // number or beyond 32 bits are read without undefined behaviour.
  SearchMaxH(r, nullptr, RasterOf(120, 120, [](int x, int y) {
               return y != 2 ? -3.9f : x == 5 ? NAN : x == 6 ? 1e30f : x == 7 ? -1e30f : -3.9f;
             }).get());
  EXPECT_EQ(r.hmax, INT32_MAX);
  EXPECT_EQ(r.x, 6);
  // Truncation, not flooring: -5.9 reads as -5, so the rise to 0.5 is 5.
  SearchMaxH(r, nullptr, RasterOf(120, 120, [](int x, int y) { return x == 10 && y == 20 ? 0.5f : -5.9f; }).get());
  EXPECT_EQ(r.hmax, 5);
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
    st.sfdata_tif = RasterOf(600, 600, [](int, int) { return 0.0f; });
    st.matflgarea[4] = 1;
  }
  std::string Name(int cell) {
    return NeighbourName(CellColumnCode(cell), CellRowNumber(cell), st.admext);
  }
  void Set(int cell, int32_t hmax, int32_t x = 0, int32_t y = 0) {
    st.prmaxheight[plat.ListFindExact(Name(cell))] = HeightRecord{hmax, x, y, 0};
    if (cell != 4) st.matflgarea[cell] = 1;
  }
  int32_t Range(double lat) {
    st.geoyi = lat;
    return SelecRango();
  }
};

TEST_F(RangeTest, CentreOnlyAtSeveralLatitudes) {
  Set(4, 10);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Range(40), 39);
  EXPECT_EQ(Range(60), 120);
  const std::string out = testing::internal::GetCapturedStdout();
  for (const char* line : {"Rango Calculado= 39\n", "Rango Final= 39\n", "Rango Calculado= 169\n", "Rango Final= 120\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  EXPECT_EQ(Range(0), 14);
  EXPECT_EQ(Range(70), 120);
  EXPECT_EQ(Range(-70), 120);
  Set(4, 1);
  EXPECT_EQ(Range(0), 1);
  Set(4, 0);  // no rise at all: no range to go by, the longest ray
  EXPECT_EQ(Range(40), 120);
  // A quotient that does not fit becomes 120.
  Set(4, INT32_MAX);
  EXPECT_EQ(Range(60), 120);
}

TEST_F(RangeTest, NeighboursThatReachTheCentre) {
  Set(4, 10);
  Set(7, 20, 10, 300);   // right: B = 78, 10 - 78 < 0
  Set(2, 50, 100, 300);  // left: B = 196, 100 + 196 is not past 600
  EXPECT_EQ(Range(40), 78);
  st.matflgarea[7] = 0;  // absent neighbours are never consulted
  EXPECT_EQ(Range(40), 39);
}

TEST_F(RangeTest, EdgeConditionsAreStrict) {
  // At latitude 40 a step of 1 gives B = 3 and a step of 3 gives B = 11.
  // For each neighbour: a position at which B = 11 just passes every edge
  // that faces the centre, and one that misses by a pixel.
  struct Case {
    int cell;
    int32_t x_in, y_in, x_out, y_out;
  };
  const Case cases[] = {
      {0, 590, 5, 590, 11}, {1, 590, 300, 589, 300}, {2, 590, 590, 590, 589},
      {3, 300, 10, 300, 11}, {5, 300, 590, 300, 589}, {6, 10, 10, 11, 10},
      {7, 10, 300, 11, 300}, {8, 10, 590, 10, 589},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    for (uint8_t& f : st.matflgarea) f = 0;
    Set(4, 1);
    Set(c.cell, 3, c.x_in, c.y_in);
    EXPECT_EQ(Range(40), 11);
    Set(c.cell, 3, c.x_out, c.y_out);
    EXPECT_EQ(Range(40), 3);
  }
}

}  // namespace

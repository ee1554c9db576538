#include "catalogue/heights.h"

#include <cmath>

#include "catalogue/neighbours.h"
#include "support/fixtures.h"
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
  HeightRecord r;
  SurfacePtr spike = SurfaceOf(120, 120, [](int x, int y) { return x == 10 && y == 20 ? 50u : 0u; });
  SearchMaxH(r, spike.get(), nullptr);
  EXPECT_EQ(r.hmax, 50);
  EXPECT_EQ(r.x, 10);
  EXPECT_EQ(r.y, 20);
  EXPECT_EQ(r.mean, 50);

  // Each row start rises 10 above the end of the row before; the first
  // pixel is compared with itself.
  SurfacePtr wall = SurfaceOf(120, 120, [](int x, int) { return x == 0 ? 10u : 0u; });
  SearchMaxH(r, wall.get(), nullptr);
  EXPECT_EQ(r.hmax, 10);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 1);
  EXPECT_EQ(r.mean, 10);

  // Rises of 5 and 9: the mean truncates, the first largest keeps its place.
  SurfacePtr steps = SurfaceOf(120, 120, [](int x, int y) {
    if (y != 3) return 0u;
    return x < 4 ? 0u : x < 8 ? 5u : x < 50 ? 14u : x < 60 ? 0u : 9u;
  });
  SearchMaxH(r, steps.get(), nullptr);
  EXPECT_EQ(r.hmax, 9);
  EXPECT_EQ(r.x, 8);
  EXPECT_EQ(r.y, 3);
  EXPECT_EQ(r.mean, 7);
}

TEST_F(HeightsTest, SearchMaxHOnFloatHeights) {
  st.cu_ext = 1;
  HeightRecord r;
  // Truncated before differencing: 0.9 -> 0, 4.9 -> 4, a step of 4.
  FloatRasterPtr t = RasterOf(120, 120, [](int x, int y) { return y == 0 && x == 1 ? 4.9f : 0.9f; });
  SearchMaxH(r, nullptr, t.get());
  EXPECT_EQ(r.hmax, 4);
  EXPECT_EQ(r.x, 1);

  // Negative heights truncate toward zero; samples that are no number or
  // beyond 32 bits are read without undefined behaviour.
  FloatRasterPtr odd = RasterOf(120, 120, [](int x, int y) {
    if (y != 2) return -3.9f;
    return x == 5 ? NAN : x == 6 ? 1e30f : x == 7 ? -1e30f : -3.9f;
  });
  SearchMaxH(r, nullptr, odd.get());
  EXPECT_EQ(r.hmax, INT32_MAX);
  EXPECT_EQ(r.x, 6);
}

TEST_F(HeightsTest, LoadHeightCachesPerSector) {
  plat.ListAdd("0101.png");
  plat.ListAdd("0102.png");
  st.prmaxheight.assign(2, HeightRecord{});
  SurfacePtr gentle = SurfaceOf(120, 120, [](int x, int) { return static_cast<uint32_t>(3 * x); });
  LoadHeight("01", 2, gentle.get(), nullptr);
  // Only rises of 3: nothing found, stored as computed.
  EXPECT_EQ(st.prmaxheight[1].hmax, 1);
  EXPECT_EQ(st.prmaxheight[0].hmax, 0);

  SurfacePtr spike = SurfaceOf(120, 120, [](int x, int y) { return x == 7 && y == 8 ? 90u : 0u; });
  LoadHeight("01", 2, spike.get(), nullptr);
  EXPECT_EQ(st.prmaxheight[1].hmax, 1);  // already known: not recomputed
  LoadHeight("01", 1, spike.get(), nullptr);
  EXPECT_EQ(st.prmaxheight[0].hmax, 90);
  EXPECT_EQ(st.prmaxheight[0].x, 7);
  LoadHeight("01", 3, spike.get(), nullptr);  // not listed: nothing stored
  EXPECT_EQ(st.prmaxheight.size(), 2u);
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
    const std::string* cols[3] = {&st.areacol1, &st.areacol2, &st.areacol3};
    return NeighbourName(*cols[cell / 3], st.areafil[cell % 3], st.admext);
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

TEST_F(RangeTest, CentreOnly) {
  Set(4, 10);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Range(40), 39);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Rango Calculado= 39\n"), std::string::npos);
  EXPECT_NE(out.find("Rango Final= 39\n"), std::string::npos);

  EXPECT_EQ(Range(0), 14);
  Set(4, 1);
  EXPECT_EQ(Range(0), 1);

  Set(4, 10);
  testing::internal::CaptureStdout();
  EXPECT_EQ(Range(60), 120);
  const std::string polar = testing::internal::GetCapturedStdout();
  EXPECT_NE(polar.find("Rango Calculado= 169\n"), std::string::npos);
  EXPECT_NE(polar.find("Rango Final= 120\n"), std::string::npos);

  EXPECT_EQ(Range(70), 120);
  EXPECT_EQ(Range(-70), 120);
}

TEST_F(RangeTest, OutOfRangeQuotientBecomes120) {
  Set(4, INT32_MAX);
  EXPECT_EQ(Range(60), 120);
  Set(4, 10);
  Set(7, INT32_MAX, 5, 300);
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

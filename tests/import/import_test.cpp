// The import of elevation models: rasters written with GDAL in a temporary
// folder, cut by RunImport, read back with the program's own loaders.

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include <cmath>

#include "catalogue/coords_file.h"
#include "import/import.h"
#include "support/support.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/tiff.h"

namespace {

constexpr double kNoData = -9999;
constexpr double kEast = 440000, kNorth = 4480700;  // a corner in EPSG:25830, metres

// A north-up DEM of w x h pixels of `px` units whose north-west corner is (west, north).
struct Dem {
  int w = 0, h = 0;
  double px = 1;
  std::function<double(int, int)> f = [](int, int) { return 100.0; };
  std::string unit = "", srs = "EPSG:25830";  // srs empty: no georeferencing at all
  double west = kEast, north = kNorth;
  int bands = 1;
  GDALDataType type = GDT_Float32;
};

void WriteDem(const fs::path& path, const Dem& d) {
  GDALAllRegister();
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  GDALDatasetUniquePtr ds(drv->Create(path.c_str(), d.w, d.h, d.bands, d.type, nullptr));
  ASSERT_TRUE(ds);
  if (!d.srs.empty()) {
    double gt[6] = {d.west, d.px, 0, d.north, 0, -d.px};
    ds->SetGeoTransform(gt);
    OGRSpatialReference s;
    s.SetFromUserInput(d.srs.c_str());
    ds->SetSpatialRef(&s);
  }
  std::vector<double> px(static_cast<size_t>(d.w) * d.h);
  for (size_t i = 0; i < px.size(); ++i) px[i] = d.f(static_cast<int>(i % d.w), static_cast<int>(i / d.w));
  GDALRasterBand* band = ds->GetRasterBand(1);  // the others, if any, stay empty
  band->SetNoDataValue(kNoData);
  band->SetUnitType(d.unit.c_str());
  ASSERT_EQ(band->RasterIO(GF_Write, 0, 0, d.w, d.h, px.data(), d.w, d.h, GDT_Float64, 0, 0, nullptr), CE_None);
}

struct Result {
  int code = -1;
  std::string out, refusal;  // out: every line, each ended by a newline
};

Result Import(const std::vector<std::string>& args, std::function<bool()> stop = nullptr) {
  std::string error;
  const std::optional<ImportOptions> o = ParseImportArgs(args, error);
  Result r;
  EXPECT_TRUE(o) << error;
  const ImportReport report{[&](const std::string& l) { r.out += l + "\n"; },
                            [&](const std::string& l) { r.refusal = l; }, [](int) {}, std::move(stop)};
  if (o) r.code = RunImport(*o, report);
  return r;
}

float At(const FloatRasterPtr& s, int x, int y) { return s->samples[static_cast<size_t>(y) * s->width + x]; }

class ImportTest : public StateTest {
 protected:
  TempDir dir;
  fs::path dem = dir / "dem.tif", work = dir / "work";
};

// Two tiles of one 1 m DEM, mosaicked and copied pixel for pixel.
TEST_F(ImportTest, DemsBecomeMetresInTheGrid) {
  auto f = [](int x, int y) {
    if (x >= 1200 && y >= 600) return kNoData;       // all the data sector 0301 would hold
    if ((x * 7 + y * 3) % 101 == 0) return kNoData;  // scattered holes
    return 500.0 + x * 0.37 + y * 0.011;
  };
  WriteDem(dir / "w.tif", Dem{650, 700, 1, f});
  WriteDem(dir / "e.tif", Dem{650, 700, 1, [&](int x, int y) { return f(x + 650, y); }, "", "EPSG:25830", kEast + 650});
  const Result r = Import({"--quiet", (dir / "w.tif").string(), (dir / "e.tif").string(), work.string()});
  ASSERT_TRUE(r.code == kImportDone && Contains(r.out, "1.000 x 1.000 m -> 1 x 1 m (copied pixel for pixel)"))
      << r.refusal << r.out;
  EXPECT_TRUE(Contains(r.out, "import: grid: 3 x 2 sectors of 600 x 600 px"));
  EXPECT_TRUE(Contains(r.out, "import: sectors written: 5, skipped as empty: 1"));
  for (const std::string& name : Names(work)) {
    if (!name.ends_with(".tif")) continue;
    const FloatRasterPtr s = Carga_Imagen_tif((work / name).string());
    ASSERT_TRUE(s && s->width == 600 && s->height == 600) << name;
    for (int y = 0; y < 600; ++y)
      for (int x = 0; x < 600; ++x) {  // (gx, gy) from the grid's north-west corner; the padding has no data
        const int gx = (name[1] - '1') * 600 + x, gy = ('2' - name[3]) * 600 + y;
        const double v = gx < 1300 && gy < 700 ? f(gx, gy) : kNoData;
        ASSERT_TRUE(v == kNoData ? std::isnan(At(s, x, y)) : At(s, x, y) == static_cast<float>(v)) << gx << "," << gy;
      }
  }
  // Other pixel sizes and height units: each case's line and its heights at
  // 1 m grid column gx of the south-west sector.

  using Case = std::tuple<Dem, std::string, std::function<double(int gx)>, std::vector<std::string>>;
  const std::vector<Case> cases = {
      // High enough that international and US survey feet differ by mm.
      {{300, 200, 1, [](int x, int) { return 10000.0 + x; }, "ft"}, "import: heights converted from feet",
       [](int gx) { return (10000.0 + gx) * 0.3048; }, {}},
      {{300, 200, 1, [](int, int) { return 10000.0; }, "", "EPSG:25830+6360"}, "import: heights converted from feet",
       [](int) { return 10000.0 * 1200 / 3937; }, {}},
      {{300, 200, 1, [](int x, int y) { return 100.0 + x + y * 1000.0; }}, "import: grid: 1 x 1 sectors",
       [](int gx) { return 250.0 + gx + 31 * 1000.0; },  // the bounds' corner is (150, 20) from the DEM's
       {"--bounds", "440150", "4480580", "440260", "4480680"}},
      // 2 x 2 sectors over 200 x 150: 27600 padding and 900 source pixels without data.
      {{200, 150, 1, [](int x, int) { return x < 6 ? kNoData : x < 40 ? -5.4 : 1234.6 + x % 3; }},
       "import: png: 28500 no-data and 5100 negative heights written as 0; --type tif keeps them",
       [](int gx) { return gx < 40 ? 0 : 1235.0 + gx % 3; }, {"--type", "png"}},
  };
  for (const auto& [in, says, want, extra] : cases) {
    SCOPED_TRACE(says);
    TempDir t;
    WriteDem(t / "dem.tif", in);
    std::vector<std::string> args = extra;
    args.insert(args.end(), {"--quiet", "--size", "120", (t / "dem.tif").string(), (t / "w").string()});
    const Result one = Import(args);
    ASSERT_TRUE(one.code == kImportDone && Contains(one.out, says)) << one.refusal << one.out;
    const fs::path png = t / "w" / "0101.png";  // whole metres
    const SurfacePtr p = fs::exists(png) ? Carga_Imagen(png.string()) : nullptr;
    const FloatRasterPtr s = p ? nullptr : Carga_Imagen_tif((t / "w" / "0101.tif").string());
    ASSERT_TRUE(s || p);
    for (int x : {5, 37, 101})
      EXPECT_NEAR(p ? HeightOfPixel(p.get(), nullptr, x, 11) : At(s, x, 11), want(x), 1e-3) << x;
  }
}

// Bad input is refused with nothing written. A stop leaves whole rows;
// --overwrite then replaces every sector raster of the folder, whatever its
// type, and what is half-written.
TEST_F(ImportTest, BadInputIsRefusedAndAStoppedImportLeavesWholeRows) {
  WriteFileBytes(dir / "text.tif", {'n', 'o', 't', ' ', 'a', ' ', 'D', 'E', 'M'});
  WriteDem(dir / "wide.tif", Dem{12000, 2});
  WriteDem(dir / "rgb.tif", Dem{.w = 20, .h = 20, .bands = 3});
  WriteDem(dir / "plain.tif", Dem{.w = 20, .h = 20, .srs = ""});
  WriteDem(dem, Dem{300, 300, 1, [](int x, int y) { return 50.0 + x - y; }});
  WriteDem(dir / "i16.tif", Dem{.w = 300, .h = 200, .west = kEast + 300, .type = GDT_Int16});
  WriteDem(dir / "void.tif", Dem{300, 200, 1, [](int, int) { return kNoData; }});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{(dir / "text.tif").string(), work.string()}, "GDAL cannot read it"},
      {{"--size", "120", (dir / "wide.tif").string(), work.string()},
       "the area needs 100 x 1 sectors of 120 px; at most 99 x 99 fit: use a larger --size or a smaller --bounds"},
      {{(dir / "rgb.tif").string(), work.string()}, "3 bands"},
      {{(dir / "plain.tif").string(), work.string()}, "no georeferencing"},
      {{"--bounds", "0", "0", "10", "10", dem.string(), work.string()}, "do not overlap the DEM"},
      {{(dir / "void.tif").string(), work.string()}, "the area holds no heights"},
      {{dem.string(), (dir / "i16.tif").string(), work.string()}, "cannot mosaic"},  // not a hole in the mosaic
  };
  for (const auto& [args, says] : cases) {
    const Result r = Import(args);
    EXPECT_TRUE(r.code == kImportRefused && Contains(r.refusal, says) && !fs::exists(work)) << says << r.refusal;
  }
  const Result stopped = Import({"--quiet", "--size", "120", dem.string(), work.string()}, [] { return true; });
  EXPECT_EQ(stopped.code, kImportStopped);
  EXPECT_EQ(stopped.refusal, "stopped; the files written so far are whole: run again with --overwrite to finish");
  EXPECT_EQ(Names(work), (std::set<std::string>{"0103.tif", "0203.tif", "0303.tif"}));  // the northern row
  const Result again = Import({"--quiet", "--size", "120", dem.string(), work.string()});
  EXPECT_TRUE(again.refusal.ends_with(".tif); give --overwrite to replace them, or import into an empty folder"))
      << again.refusal;
  for (const char* old : {"0909.tif", "0404.png", ".0201.tif.tmp-99999-3"}) WriteFileBytes(work / old, {'x'});
  const Result rerun = Import({"--quiet", "--overwrite", "--size", "120", dem.string(), work.string()});
  EXPECT_EQ(rerun.code, kImportDone) << rerun.refusal;
  EXPECT_TRUE(Contains(rerun.out, "import: removed 2 sector rasters"));
  EXPECT_EQ(Names(work).size(), 10u);
  const std::vector<std::vector<std::string>> bad = {
      {}, {"dem.tif"}, {"--size", "119", "d", "w"}, {"--size", "601", "d", "w"}, {"--size", "2e2x", "d", "w"},
      {"--type", "jpg", "d", "w"}, {"--resampling", "lanczos", "d", "w"}, {"--bounds", "1", "2", "3", "d"},
      {"--bounds", "5", "0", "1", "1", "d", "w"}, {"--bounds", "0", "0", "1", "nan", "d", "w"}, {"--fast", "d", "w"},
  };
  for (const auto& args : bad) {
    std::string error;
    EXPECT_TRUE(!ParseImportArgs(args, error) && !error.empty()) << ::testing::PrintToString(args);
  }
}

// From the terminal: the grid is laid in the UTM zone of the DEM's centre,
// which the coordinates file holds.
TEST_F(ImportTest, GeographicDemImportedInItsUtmZone) {
  constexpr double kStep = 1e-5, kWest = -1.21, kTop = 40.41;  // late in zone 30
  WriteDem(dem, Dem{.w = 240, .h = 200, .px = kStep, .srs = "EPSG:4326", .west = kWest, .north = kTop});
  EXPECT_EQ(RunBatch({"import", "--quiet", (dir / "text.tif").string(), work.string()}).code, 2);
  const BatchChild r = RunBatch({"import", "--size", "120", dem.string(), work.string()});
  ASSERT_TRUE(r.code == 0 && Contains(r.err, "import: coordinate system: WGS 84 / UTM zone 30N")) << r.err;
  double lon = 0, lat = 0;
  ASSERT_TRUE(ReadCoordinatesFile((work / "pr_data.vtd").string(), lon, lat));
  EXPECT_NEAR(lon, kWest + 120 * kStep, 1e-9);
  EXPECT_NEAR(lat, kTop - 100 * kStep, 1e-9);
}

}  // namespace

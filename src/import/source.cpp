#include "import/source.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_utils.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Box {
  double xmin, ymin, xmax, ymax;
};

// GDAL's last error as one line, for the refusal message.
std::string LastGdalError() {
  std::string m = CPLGetLastErrorMsg();
  std::replace(m.begin(), m.end(), '\n', ' ');
  while (!m.empty() && m.back() == ' ') m.pop_back();
  return m.empty() ? "no reason given" : m;
}

// The argument list GDAL's utility functions parse, freed once.
class Args {
 public:
  ~Args() { CSLDestroy(list_); }
  Args& Add(const std::string& s) {
    list_ = CSLAddString(list_, s.c_str());
    return *this;
  }
  Args& Add(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return Add(std::string(buf));
  }
  char** get() const { return list_; }

 private:
  char** list_ = nullptr;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// One DEM, checked to be a single georeferenced height band.
GDALDatasetUniquePtr OpenDem(const std::string& path, std::string& why) {
  CPLErrorReset();
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR));
  if (!ds) {
    why = path + ": GDAL cannot read it (" + LastGdalError() + ")";
    return nullptr;
  }
  const int bands = ds->GetRasterCount();
  if (bands != 1) {
    why = path + ": " + std::to_string(bands) + " bands; an elevation model has one band of heights";
    return nullptr;
  }
  GDALRasterBand* band = ds->GetRasterBand(1);
  if (band->GetColorInterpretation() == GCI_PaletteIndex || GDALDataTypeIsComplex(band->GetRasterDataType())) {
    why = path + ": a colour-mapped or complex image, not heights";
    return nullptr;
  }
  double gt[6];
  const OGRSpatialReference* srs = ds->GetSpatialRef();
  if (ds->GetGeoTransform(gt) != CE_None || !srs || srs->IsEmpty()) {
    why = path + ": no georeferencing (a geotransform and a coordinate system are needed)";
    return nullptr;
  }
  return ds;
}

// Metres per height unit: the band's unit, else the vertical part of a
// compound system. An unknown unit is refused rather than read as metres.
bool HeightUnit(GDALRasterBand* band, const OGRSpatialReference& srs, double& factor, bool& feet, std::string& why) {
  const std::string u = Lower(band->GetUnitType());
  feet = false;
  factor = 1.0;
  if (u.empty()) {
    if (srs.IsCompound() || srs.IsVertical()) factor = srs.GetTargetLinearUnits("VERT_CS");
  } else if (u == "ft" || u == "foot" || u == "feet" || u == "international foot") {
    factor = 0.3048;
  } else if (u == "us-ft" || u == "ftus" || u == "us survey foot" || u == "foot_us" || u == "us_survey_foot") {
    factor = 1200.0 / 3937.0;
  } else if (u != "m" && u != "metre" && u != "meter" && u != "metres" && u != "meters") {
    why = "heights in an unknown unit '" + u + "'; give a DEM in metres or feet";
    return false;
  }
  if (!(factor > 0)) factor = 1.0;
  feet = std::fabs(factor - 1.0) > 1e-12;
  return true;
}

// Every DEM of a mosaic must share the system and the height encoding.
bool SameSystemAndHeights(const std::vector<GDALDatasetUniquePtr>& dems, const std::vector<std::string>& paths,
                          std::string& why) {
  GDALRasterBand* first = dems[0]->GetRasterBand(1);
  for (size_t i = 1; i < dems.size(); ++i) {
    GDALRasterBand* b = dems[i]->GetRasterBand(1);
    if (!dems[i]->GetSpatialRef()->IsSame(dems[0]->GetSpatialRef())) {
      why = paths[i] + ": not in the coordinate system of " + paths[0] + "; a mosaic needs one system";
      return false;
    }
    if (Lower(b->GetUnitType()) != Lower(first->GetUnitType()) || b->GetScale() != first->GetScale() ||
        b->GetOffset() != first->GetOffset()) {
      why = paths[i] + ": heights in other units or scale than " + paths[0];
      return false;
    }
  }
  return true;
}

// The value that marks the gaps between mosaic tiles when the tiles declare
// no no-data value of their own: one the type can hold.
std::string GapValue(GDALDataType type) {
  switch (type) {
    case GDT_Byte: return "255";
    case GDT_UInt16: return "65535";
    case GDT_Int16: return "-32768";
    case GDT_UInt32: return "4294967295";
    case GDT_Int32: return "-2147483648";
    default: return "nan";
  }
}

// A virtual mosaic of several DEMs (GDAL reads the tiles as needed); a
// single DEM is used as it is.
GDALDatasetUniquePtr Mosaic(std::vector<GDALDatasetUniquePtr>& dems, const std::vector<std::string>& paths,
                            std::string& why) {
  if (dems.size() == 1) return std::move(dems[0]);
  GDALRasterBand* band = dems[0]->GetRasterBand(1);
  int has_nodata = 0;
  band->GetNoDataValue(&has_nodata);
  Args a;
  a.Add("-resolution").Add("highest");
  if (!has_nodata) a.Add("-vrtnodata").Add(GapValue(band->GetRasterDataType()));
  std::vector<const char*> names;
  for (const std::string& p : paths) names.push_back(p.c_str());
  GDALBuildVRTOptions* opts = GDALBuildVRTOptionsNew(a.get(), nullptr);
  CPLErrorReset();
  GDALDatasetH h = GDALBuildVRT("", static_cast<int>(names.size()), nullptr, names.data(), opts, nullptr);
  GDALBuildVRTOptionsFree(opts);
  GDALDatasetUniquePtr mosaic(GDALDataset::FromHandle(h));
  // The mosaicker leaves out a tile it cannot combine with only a warning;
  // a mosaic with a hole where a tile should be is refused.
  const bool skipped = std::string(CPLGetLastErrorMsg()).find("Skipping") != std::string::npos;
  if (!mosaic || skipped) {
    why = "cannot mosaic the DEMs: " + LastGdalError();
    return nullptr;
  }
  return mosaic;
}

Box Extent(const double* gt, int w, int h) {
  Box b{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
  for (int cx : {0, w})
    for (int cy : {0, h}) {
      const double x = gt[0] + cx * gt[1] + cy * gt[2], y = gt[3] + cx * gt[4] + cy * gt[5];
      b = {std::min(b.xmin, x), std::min(b.ymin, y), std::max(b.xmax, x), std::max(b.ymax, y)};
    }
  return b;
}

using Transform = std::unique_ptr<OGRCoordinateTransformation>;

Transform MakeTransform(const OGRSpatialReference& from, const OGRSpatialReference& to) {
  return Transform(OGRCreateCoordinateTransformation(&from, &to));
}

OGRSpatialReference System(const OGRSpatialReference& s) {
  OGRSpatialReference out(s);
  out.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return out;
}

OGRSpatialReference Epsg(int code) {
  OGRSpatialReference s;
  s.importFromEPSG(code);
  s.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return s;
}

bool IsMetric(const OGRSpatialReference& s) { return s.IsProjected() && std::fabs(s.GetLinearUnits() - 1.0) < 1e-12; }

// The system the sectors are cut in: the DEM's own when it is projected in
// metres (its horizontal part), else the WGS 84 UTM zone of the centre.
OGRSpatialReference TargetSystem(const OGRSpatialReference& src, double lon, double lat) {
  if (IsMetric(src)) {
    OGRSpatialReference t(src);
    if (t.IsCompound()) t.StripVertical();
    return t;
  }
  const int zone = std::clamp(static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1, 1, 60);
  return Epsg((lat >= 0 ? 32600 : 32700) + zone);
}

std::string SystemName(const OGRSpatialReference& s) {
  std::string name = s.GetName() ? s.GetName() : "unnamed system";
  const char* auth = s.GetAuthorityName(nullptr);
  const char* code = s.GetAuthorityCode(nullptr);
  if (auth && code) name += std::string(" (") + auth + ":" + code + ")";
  return name;
}

// Ground size in metres of one source pixel at the centre of the area.
void SourcePixel(const double* gt, const Box& area, Transform& ct, double& px, double& py) {
  const double cx = (area.xmin + area.xmax) / 2, cy = (area.ymin + area.ymax) / 2;
  double x[3] = {cx, cx + gt[1], cx + gt[2]}, y[3] = {cy, cy + gt[4], cy + gt[5]};
  if (ct && !ct->Transform(3, x, y)) x[0] = kNaN;
  px = std::hypot(x[1] - x[0], y[1] - y[0]);
  py = std::hypot(x[2] - x[0], y[2] - y[0]);
}

bool Overlaps(const Box& a, const Box& b) {
  return a.xmin < b.xmax && b.xmin < a.xmax && a.ymin < b.ymax && b.ymin < a.ymax;
}

std::string BoxText(const Box& b) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%.6f %.6f %.6f %.6f", b.xmin, b.ymin, b.xmax, b.ymax);
  return buf;
}

const char* Algorithm(ImportResampling r) {
  switch (r) {
    case ImportResampling::Cubic: return "cubic";
    case ImportResampling::Nearest: return "near";
    case ImportResampling::Bilinear: break;
  }
  return "bilinear";
}

// Where the area lands in the target system, its pixel size before and
// after, and whether it can be copied pixel for pixel.
bool PlaceArea(Terrain& t, const OGRSpatialReference& src, const OGRSpatialReference& target, const Box& area,
               const double* gt, std::string& why) {
  const bool same = IsMetric(src);
  Transform ct = same ? nullptr : MakeTransform(src, target);
  Box b = area;
  if (!same && (!ct || !OCTTransformBounds(ct.get(), area.xmin, area.ymin, area.xmax, area.ymax, &b.xmin, &b.ymin,
                                           &b.xmax, &b.ymax, 21))) {
    why = "cannot place the DEM in " + t.srs_name + ": " + LastGdalError();
    return false;
  }
  SourcePixel(gt, area, ct, t.src_px_x, t.src_px_y);
  const double w = std::ceil(b.xmax - b.xmin - 1e-6), h = std::ceil(b.ymax - b.ymin - 1e-6);
  if (!std::isfinite(w) || !std::isfinite(h) || !std::isfinite(t.src_px_x) || !std::isfinite(t.src_px_y) ||
      w > 1e9 || h > 1e9) {
    why = "cannot place the DEM in " + t.srs_name;
    return false;
  }
  t.origin_x = b.xmin, t.origin_y = b.ymax;
  t.width = std::max<int64_t>(1, static_cast<int64_t>(w));
  t.height = std::max<int64_t>(1, static_cast<int64_t>(h));
  // A pixel-for-pixel copy needs 1 m north-up pixels and a corner on the
  // source's pixel grid; anything else goes through the warper.
  auto whole = [](double v) { return std::fabs(v - std::round(v)) < 1e-6; };
  t.direct = same && std::fabs(gt[1] - 1.0) < 1e-9 && std::fabs(gt[5] + 1.0) < 1e-9 && gt[2] == 0 && gt[4] == 0 &&
             whole(t.origin_x - gt[0]) && whole(gt[3] - t.origin_y);
  t.off_x = std::llround(t.origin_x - gt[0]);
  t.off_y = std::llround(gt[3] - t.origin_y);
  return true;
}

// The part to import, in the DEM's system: its extent or the bounds.
bool ChooseArea(const ImportOptions& o, const Box& extent, Box& area, std::string& why) {
  area = extent;
  if (!o.has_bounds) return true;
  area = {o.xmin, o.ymin, o.xmax, o.ymax};
  if (!Overlaps(area, extent)) {
    why = "the bounds " + BoxText(area) + " do not overlap the DEM, whose extent is " + BoxText(extent);
    return false;
  }
  return true;
}

}  // namespace

bool OpenTerrain(const ImportOptions& o, Terrain& t, std::string& why) {
  std::vector<GDALDatasetUniquePtr> dems;
  for (const std::string& path : o.dems) {
    dems.push_back(OpenDem(path, why));
    if (!dems.back()) return false;
  }
  if (!SameSystemAndHeights(dems, o.dems, why)) return false;
  const OGRSpatialReference src = System(*dems[0]->GetSpatialRef());
  GDALRasterBand* band = dems[0]->GetRasterBand(1);
  double factor = 1;
  if (!HeightUnit(band, src, factor, t.feet, why)) return false;
  t.scale = band->GetScale() * factor;
  t.offset = band->GetOffset() * factor;
  t.mosaic = Mosaic(dems, o.dems, why);
  if (!t.mosaic) return false;

  double gt[6];
  t.mosaic->GetGeoTransform(gt);
  Box area;
  if (!ChooseArea(o, Extent(gt, t.mosaic->GetRasterXSize(), t.mosaic->GetRasterYSize()), area, why)) return false;
  const Transform to_wgs = MakeTransform(src, Epsg(4326));
  t.lon = (area.xmin + area.xmax) / 2;
  t.lat = (area.ymin + area.ymax) / 2;
  if (!to_wgs || !to_wgs->Transform(1, &t.lon, &t.lat)) {
    why = "cannot find the DEM's longitude and latitude: " + LastGdalError();
    return false;
  }
  const OGRSpatialReference target = TargetSystem(src, t.lon, t.lat);
  t.srs_name = SystemName(target);
  char* wkt = nullptr;
  target.exportToWkt(&wkt);
  t.srs_wkt = wkt ? wkt : "";
  CPLFree(wkt);
  if (!PlaceArea(t, src, target, area, gt, why)) return false;
  // Finer than 1 m is averaged down: every source pixel counts once.
  t.algorithm = t.src_px_x < 0.999 && t.src_px_y < 0.999 ? "average" : Algorithm(o.resampling);
  return true;
}

bool PrepareReading(Terrain& t, int64_t grid_w, int64_t grid_h, std::string& why) {
  if (t.direct) return true;
  Args a;
  a.Add("-of").Add("VRT").Add("-t_srs").Add(t.srs_wkt);
  a.Add("-te").Add(t.origin_x).Add(t.origin_y - static_cast<double>(grid_h));
  a.Add(t.origin_x + static_cast<double>(grid_w)).Add(t.origin_y);
  a.Add("-ts").Add(std::to_string(grid_w)).Add(std::to_string(grid_h));
  a.Add("-r").Add(t.algorithm).Add("-ot").Add("Float32").Add("-dstnodata").Add("nan");
  a.Add("-wo").Add("INIT_DEST=NO_DATA");
  GDALWarpAppOptions* opts = GDALWarpAppOptionsNew(a.get(), nullptr);
  GDALDatasetH src = GDALDataset::ToHandle(t.mosaic.get());
  CPLErrorReset();
  GDALDatasetH h = GDALWarp("", nullptr, 1, &src, opts, nullptr);
  GDALWarpAppOptionsFree(opts);
  if (!h) why = "cannot reproject the DEM: " + LastGdalError();
  t.warped.reset(GDALDataset::FromHandle(h));
  return h != nullptr;
}

namespace {

// Sets NaN wherever the source's mask (its no-data value, mostly) says
// there is no height. `dst` holds the window at row stride `stride`.
bool ApplyMask(GDALRasterBand* band, int x, int y, int w, int h, float* dst, int stride, std::string& why) {
  if (band->GetMaskFlags() & GMF_ALL_VALID) return true;
  std::vector<uint8_t> mask(static_cast<size_t>(w) * static_cast<size_t>(h));
  if (band->GetMaskBand()->RasterIO(GF_Read, x, y, w, h, mask.data(), w, h, GDT_Byte, 0, 0, nullptr) != CE_None) {
    why = "reading the DEM's no-data mask failed: " + LastGdalError();
    return false;
  }
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      if (!mask[static_cast<size_t>(r) * w + c]) dst[static_cast<size_t>(r) * stride + c] = NAN;
  return true;
}

}  // namespace

bool ReadHeights(Terrain& t, int64_t x0, int64_t y0, int w, int h, std::vector<float>& out, std::string& why) {
  out.assign(static_cast<size_t>(w) * static_cast<size_t>(h), NAN);
  GDALDataset* ds = t.warped ? t.warped.get() : t.mosaic.get();
  const int64_t dx = t.warped ? 0 : t.off_x, dy = t.warped ? 0 : t.off_y;
  const int64_t sx = x0 + dx, sy = y0 + dy;
  // Only the area is read (the padding past it stays NaN, even where the
  // DEM goes on past the bounds) and only where the dataset has pixels.
  const int64_t cx0 = std::max<int64_t>(sx, std::max<int64_t>(0, dx));
  const int64_t cy0 = std::max<int64_t>(sy, std::max<int64_t>(0, dy));
  const int64_t cx1 = std::min({sx + w, int64_t{ds->GetRasterXSize()}, t.width + dx});
  const int64_t cy1 = std::min({sy + h, int64_t{ds->GetRasterYSize()}, t.height + dy});
  if (cx1 <= cx0 || cy1 <= cy0) return true;  // wholly outside
  const int cw = static_cast<int>(cx1 - cx0), ch = static_cast<int>(cy1 - cy0);
  float* dst = out.data() + (cy0 - sy) * w + (cx0 - sx);
  GDALRasterBand* band = ds->GetRasterBand(1);
  CPLErrorReset();
  if (band->RasterIO(GF_Read, static_cast<int>(cx0), static_cast<int>(cy0), cw, ch, dst, cw, ch, GDT_Float32,
                     sizeof(float), static_cast<GSpacing>(w) * sizeof(float), nullptr) != CE_None) {
    why = "reading the DEM failed: " + LastGdalError();
    return false;
  }
  // The warped view marks no data with NaN itself.
  if (!t.warped && !ApplyMask(band, static_cast<int>(cx0), static_cast<int>(cy0), cw, ch, dst, w, why)) return false;
  if (t.scale != 1.0 || t.offset != 0.0)
    for (float& v : out) v = static_cast<float>(v * t.scale + t.offset);
  return true;
}

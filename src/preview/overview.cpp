// The Qt-free half of the overview: which sectors, their shares and the
// hillshade, scaled to their cells.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "preview/overview.h"
#include "preview/sectors.h"
#include "run/run.h"
#include "run/verify.h"
#include "solar/solar.h"

namespace fs = std::filesystem;

namespace {

bool IsSectorId(const std::string& s) {
  if (s.size() != 4 || !std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
    return false;
  return s.compare(0, 2, "00") != 0 && s.compare(2, 2, "00") != 0;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// "vto_package_CCRR_n.vtp" -> CCRR; empty for any other name.
std::string PackageId(const std::string& name) {
  const size_t head = kPackagePrefix.size();
  if (name.compare(0, head, kPackagePrefix) != 0 || name.size() < head + 6 || name[head + 4] != '_') return {};
  return name.substr(head, 4);
}

// "CCRR.png" (an elevation image or a sector raster), "CCRR.tif" -> CCRR.
std::string RasterId(const std::string& name) {
  const std::string ext = Lower(fs::path(name).extension().string());
  if (ext != ".png" && ext != ".tif") return {};
  return fs::path(name).stem().string();
}

void AddIds(const fs::path& dir, bool packages, std::set<std::string>& ids) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    const std::string id = packages && !PackageId(name).empty() ? PackageId(name) : RasterId(name);
    if (IsSectorId(id)) ids.insert(id);
  }
}

// Light from the north-west, 45 degrees up, on heights of one unit per
// pixel step: 0 (facing away) .. 1 (facing the light). The slope is taken
// over a few pixels each way so that whole-unit heights show no terraces.
float Hillshade(const SessionImage& e, uint32_t x, uint32_t y) {
  constexpr uint32_t kReach = 6;
  auto z = [&](uint32_t xx, uint32_t yy) { return static_cast<double>(e.v[size_t(yy) * e.w + xx]); };
  const uint32_t x0 = x >= kReach ? x - kReach : 0, x1 = std::min(x + kReach, e.w - 1);
  const uint32_t y0 = y >= kReach ? y - kReach : 0, y1 = std::min(y + kReach, e.h - 1);
  const double east = (z(x1, y) - z(x0, y)) / std::max(1u, x1 - x0);
  const double north = (z(x, y0) - z(x, y1)) / std::max(1u, y1 - y0);
  const double lit = (east * 0.5 - north * 0.5 + 0.7071) / std::sqrt(east * east + north * north + 1.0);
  return static_cast<float>(std::clamp(lit, 0.0, 1.0));
}

// The shaded-step count of pixel i: the annual package, or one month's
// five bits of the packed month counts.
uint32_t CountAt(const SessionImage& counts, size_t i, int month) {
  return month < 0 ? counts.v[i] : counts.v[i] >> (5 * (month % 4)) & 31u;
}

uint32_t Scale(uint32_t rgb, double k) {
  uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8)
    out |= static_cast<uint32_t>(std::lround((rgb >> shift & 255u) * k)) << shift;
  return out;
}

}  // namespace

uint32_t ShareColour(double share) {
  // Warm light (sunny) to dark blue (shaded); red linear in the share.
  static constexpr double kStops[3][3] = {{255, 244, 178}, {138, 98, 160}, {21, 22, 92}};
  const double s = std::clamp(std::isfinite(share) ? share : 0.0, 0.0, 1.0) * 2.0;
  const int i = s >= 1.0 ? 1 : 0;
  const double t = s - i;
  uint32_t rgb = 0;
  for (int c = 0; c < 3; ++c)
    rgb = rgb << 8 | static_cast<uint32_t>(std::lround(kStops[i][c] + (kStops[i + 1][c] - kStops[i][c]) * t));
  return rgb;
}

namespace preview {

std::set<std::string> ListSectorIds(const std::string& session_dir) {
  std::set<std::string> ids;
  const fs::path dir(session_dir);
  AddIds(dir, true, ids);
  AddIds(dir.parent_path(), false, ids);
  return ids;
}

int32_t StepsOf(double lat, int month) {
  int32_t steps = 0;
  for (int m = 0; m < 12; ++m)
    if (month < 0 || m == month) steps += SolarDay(15 + kMonthStart[m], deg2rad(lat)).steps;
  return steps;
}

std::optional<std::pair<uint32_t, uint32_t>> SectorSize(const std::string& session_dir,
                                                         const std::set<std::string>& ids) {
  for (const std::string& id : ids) {
    const auto image = ReadSessionImage((fs::path(session_dir) / PackageName(id, 12)).string(), true);
    if (image) return std::make_pair(image->w, image->h);
  }
  return std::nullopt;
}

std::optional<std::vector<uint32_t>> SectorCell(const std::string& session_dir, const std::string& id, int month,
                                                int32_t steps, int cw, int ch, bool hillshade,
                                                const std::function<void(const std::string&)>& problem) {
  if (VerifySector(session_dir, id, problem).problems != 0) return std::nullopt;
  const fs::path dir(session_dir);
  const auto counts = ReadSessionImage((dir / PackageName(id, month < 0 ? 12 : 13 + month / 4)).string(), true);
  const auto heights = ReadSessionImage((dir / ElevationName(id)).string(), false);
  if (!counts || !heights || heights->w != counts->w || heights->h != counts->h) return std::nullopt;
  // Each cell pixel averages the sector pixels that fall on it.
  const size_t cells = size_t(cw) * size_t(ch);
  std::vector<double> share(cells), light(cells), n(cells);
  for (uint32_t y = 0; y < counts->h; ++y)
    for (uint32_t x = 0; x < counts->w; ++x) {
      const size_t o = size_t(uint64_t(y) * ch / counts->h) * cw + size_t(uint64_t(x) * cw / counts->w);
      share[o] += steps > 0 ? double(CountAt(*counts, size_t(y) * counts->w + x, month)) / steps : 0.0;
      light[o] += hillshade ? Hillshade(*heights, x, y) : 1.0;
      n[o] += 1;
    }
  std::vector<uint32_t> rgb(cells);
  for (size_t i = 0; i < cells; ++i) {
    const double k = hillshade ? 0.55 + 0.45 * light[i] / n[i] : 1.0;
    rgb[i] = n[i] > 0 ? Scale(ShareColour(share[i] / n[i]), k) : 0x808080u;
  }
  return rgb;
}

}  // namespace preview

std::string FindSessionFolder(const std::string& workdir, const std::string& session_id) {
  std::error_code ec;
  const fs::path today = fs::path(workdir) / ("Session" + session_id);
  if (!workdir.empty() && !session_id.empty() && fs::is_directory(today, ec)) return today.string();
  fs::path newest;
  fs::file_time_type newest_time{};
  for (const auto& entry : fs::directory_iterator(workdir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Session", 0) != 0 || !entry.is_directory(ec)) continue;
    const auto t = entry.last_write_time(ec);
    if (newest.empty() || t > newest_time) newest = entry.path(), newest_time = t;
  }
  return newest.string();
}

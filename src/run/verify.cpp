#include "run/verify.h"

#include <png.h>

#include <array>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <vector>

#include "catalogue/coords_file.h"
#include "run/run.h"
#include "solar/solar.h"
#include "terrain/file.h"
#include "terrain/pngfuncs.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPackages = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

using Image = SessionImage;
using Packages = std::array<std::optional<Image>, kPackages>;

// A sector id as the scan admits sector names: column code 01..99 then row
// number 01..99.
bool IsSectorId(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return !(s[0] == '0' && s[1] == '0') && !(s[2] == '0' && s[3] == '0');
}

bool StartsWith(const std::string& s, std::string_view head) { return s.compare(0, head.size(), head) == 0; }
bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A package name as PackageName makes it -> id, n.
bool ParsePackageName(const std::string& name, std::string& id, int& n) {
  const size_t head = kPackagePrefix.size(), tail = kPackageSuffix.size();
  if (name.size() <= head + tail || !StartsWith(name, kPackagePrefix) || !EndsWith(name, kPackageSuffix))
    return false;
  const std::string mid = name.substr(head, name.size() - head - tail);
  const size_t us = mid.rfind('_');
  if (us == std::string::npos || us + 1 == mid.size() || mid.size() - us > 3) return false;
  id = mid.substr(0, us);
  n = 0;
  for (size_t i = us + 1; i < mid.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(mid[i]))) return false;
    n = n * 10 + (mid[i] - '0');
  }
  return std::to_string(n) == mid.substr(us + 1) && n < kPackages && IsSectorId(id);
}

// An elevation image name as ElevationName makes it -> id.
bool ParseElevationName(const std::string& name, std::string& id) {
  const size_t tail = kElevationSuffix.size();
  if (name.size() != 4 + tail || !EndsWith(name, kElevationSuffix)) return false;
  id = name.substr(0, 4);
  return IsSectorId(id);
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", v);
  return buf;
}

// Counts the pixels failing one rule and reports them as one line with the
// first offender.
class PixelRule {
 public:
  explicit PixelRule(uint32_t width) : w_(width) {}
  void Fail(size_t i, const std::string& detail) {
    if (count_++ == 0) {
      first_ = "x " + std::to_string(i % w_) + ", y " + std::to_string(i / w_) + ": " + detail;
    }
  }
  // "<count> pixels <what> (first at x .., y ..: ..)", or empty when none.
  std::string Line(const std::string& what) const {
    if (count_ == 0) return {};
    return std::to_string(count_) + (count_ == 1 ? " pixel " : " pixels ") + what + " (first at " + first_ + ")";
  }

 private:
  uint32_t w_;
  size_t count_ = 0;
  std::string first_;
};

class Checker {
 public:
  Checker(fs::path dir, const std::function<void(const std::string&)>& problem)
      : dir_(std::move(dir)), problem_(problem) {}

  VerifyResult Run();
  // The checks of Run() for one sector id alone.
  VerifyResult RunSector(const std::string& id);
  // Reads and decodes one file of the folder.
  std::optional<Image> Load(const std::string& name, bool package);

 private:
  void Problem(const std::string& text) {
    ++result_.problems;
    problem_(text);
  }
  // Reports the rule's line, if any, against package p of the sector.
  void RuleProblem(const std::string& id, int p, const PixelRule& rule, const std::string& what) {
    const std::string line = rule.Line(what);
    if (!line.empty()) Problem(PackageName(id, p) + ": " + line);
  }
  std::set<std::string> ListSectors();
  bool ReadLatitude();
  std::optional<std::vector<uint8_t>> ReadImageBytes(const std::string& name, bool package);
  std::optional<Image> Decode(const std::string& name, const std::vector<uint8_t>& bytes);
  void CheckSector(const std::string& id);
  bool LoadSector(const std::string& id, Packages& pk);
  void CheckHourMasks(const std::string& id, const Packages& pk);
  void CheckPackedCounts(const std::string& id, const Packages& pk);
  void CheckAnnualCounts(const std::string& id, const Packages& pk);

  fs::path dir_;
  const std::function<void(const std::string&)>& problem_;
  VerifyResult result_;
  std::optional<std::array<int32_t, 12>> steps_;  // per month; absent without a latitude
  uint32_t w_ = 0, h_ = 0;                       // the common size, once known
};

bool Checker::ReadLatitude() {
  const fs::path file = dir_.parent_path() / kCoordinatesFile;
  double lon = 0, lat = 0;
  if (!ReadCoordinatesFile(file.string(), lon, lat)) {
    Problem(file.string() + ": cannot read the project latitude; hour masks and month counts not checked");
    return false;
  }
  if (lat < -90.0 || lat > 90.0) {
    Problem(file.string() + ": latitude " + std::to_string(lat) +
            " lies outside -90..90; hour masks and month counts not checked");
    return false;
  }
  std::array<int32_t, 12> steps{};
  for (int m = 0; m < 12; ++m) steps[m] = SolarDay(15 + kMonthStart[m], deg2rad(lat)).steps;
  steps_ = steps;
  return true;
}

// The file's bytes as a plain PNG (a package's stamp checked and the
// signature restored) whose header says 8-bit RGB.
std::optional<std::vector<uint8_t>> Checker::ReadImageBytes(const std::string& name, bool package) {
  std::ifstream in(dir_ / name, std::ios::binary);
  if (!in) {
    Problem(name + ": cannot be read");
    return std::nullopt;
  }
  std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  ++result_.files;
  if (bytes.size() < 33) {
    Problem(name + ": too short for an image (" + std::to_string(bytes.size()) + " bytes)");
    return std::nullopt;
  }
  if (package) {
    if (!std::equal(bytes.begin(), bytes.begin() + kPackageStampSize, kPackageStamp) ||
        !std::equal(bytes.begin() + kPackageStampSize, bytes.begin() + 8, kPngSignature + kPackageStampSize)) {
      Problem(name + ": does not start with the package stamp \"" + kPackageStamp + "\"");
      return std::nullopt;
    }
    std::copy(kPngSignature, kPngSignature + 8, bytes.begin());
  } else if (!std::equal(bytes.begin(), bytes.begin() + 8, kPngSignature)) {
    Problem(name + ": is not a PNG file");
    return std::nullopt;
  }
  // IHDR straight after the signature: bit depth at 24, colour type at 25.
  if (std::string(bytes.begin() + 12, bytes.begin() + 16) != "IHDR" || bytes[24] != 8 || bytes[25] != 2) {
    Problem(name + ": is not an 8-bit RGB image");
    return std::nullopt;
  }
  return bytes;
}

// The pixels of a plain PNG of the session's common size.
std::optional<Image> Checker::Decode(const std::string& name, const std::vector<uint8_t>& bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  bool ok = png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
  if (ok) {
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    ok = png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr);
  }
  if (!ok) {
    Problem(name + ": does not decode: " + image.message);
    png_image_free(&image);
    return std::nullopt;
  }
  Image out;
  out.w = image.width;
  out.h = image.height;
  if (w_ == 0) {
    w_ = out.w;
    h_ = out.h;
  } else if (out.w != w_ || out.h != h_) {
    Problem(name + ": size " + std::to_string(out.w) + "x" + std::to_string(out.h) + " differs from the session's " +
            std::to_string(w_) + "x" + std::to_string(h_));
    return std::nullopt;
  }
  out.v.resize(static_cast<size_t>(out.w) * out.h);
  for (size_t i = 0; i < out.v.size(); ++i)
    out.v[i] = static_cast<uint32_t>(rgb[i * 3]) << 16 | static_cast<uint32_t>(rgb[i * 3 + 1]) << 8 | rgb[i * 3 + 2];
  return out;
}

// Reads a package or the plain elevation PNG as 8-bit RGB.
std::optional<Image> Checker::Load(const std::string& name, bool package) {
  const auto bytes = ReadImageBytes(name, package);
  if (!bytes) return std::nullopt;
  return Decode(name, *bytes);
}

// Loads the sector's sixteen packages and checks its elevation image.
// True when every package loaded: the counts need them all.
bool Checker::LoadSector(const std::string& id, Packages& pk) {
  bool complete = true;
  for (int p = 0; p < kPackages; ++p) {
    const std::string name = PackageName(id, p);
    if (!fs::is_regular_file(dir_ / name)) {
      Problem(name + ": missing");
      complete = false;
      continue;
    }
    pk[p] = Load(name, true);
    if (!pk[p]) complete = false;
  }
  const std::string elev = ElevationName(id);
  if (!fs::is_regular_file(dir_ / elev))
    Problem(elev + ": missing");
  else
    Load(elev, false);
  return complete;
}

// A month's hour mask has a bit for each of its steps, no more.
void Checker::CheckHourMasks(const std::string& id, const Packages& pk) {
  if (!steps_) return;
  for (int m = 0; m < 12; ++m) {
    const int32_t s = (*steps_)[m];
    const uint32_t allowed = s >= 24 ? 0xFFFFFFu : (1u << s) - 1u;
    PixelRule rule(pk[m]->w);
    for (size_t i = 0; i < pk[m]->v.size(); ++i)
      if (pk[m]->v[i] & ~allowed) rule.Fail(i, Hex(pk[m]->v[i]));
    RuleProblem(id, m, rule, "use hour bits at or above the month's " + std::to_string(s) + " steps");
  }
}

// Packages 13 to 15: four 5-bit month counts, none above its month's steps.
void Checker::CheckPackedCounts(const std::string& id, const Packages& pk) {
  for (int p = 13; p <= 15; ++p) {
    const uint32_t w = pk[p]->w;
    PixelRule high(w);
    std::array<PixelRule, 4> over{PixelRule(w), PixelRule(w), PixelRule(w), PixelRule(w)};
    for (size_t i = 0; i < pk[p]->v.size(); ++i) {
      const uint32_t v = pk[p]->v[i];
      if (v & 0xF00000u) high.Fail(i, Hex(v));
      if (!steps_) continue;
      for (int f = 0; f < 4; ++f) {
        const uint32_t c = v >> (5 * f) & 31u;
        if (c > static_cast<uint32_t>((*steps_)[4 * (p - 13) + f])) over[f].Fail(i, std::to_string(c));
      }
    }
    RuleProblem(id, p, high, "have bits 20-23 set");
    for (int f = 0; f < 4; ++f) {
      const int m = 4 * (p - 13) + f;
      RuleProblem(id, p, over[f],
                  "count more than the " + std::to_string(steps_ ? (*steps_)[m] : 0) + " steps of month " +
                      std::to_string(m));
    }
  }
}

// Package 12, the annual count, against the month counts and the masks.
void Checker::CheckAnnualCounts(const std::string& id, const Packages& pk) {
  const uint32_t w = pk[0]->w;
  PixelRule vs_fields(w), vs_masks(w);
  for (size_t i = 0; i < pk[0]->v.size(); ++i) {
    uint32_t fields = 0, bits = 0;
    for (int p = 13; p <= 15; ++p)
      for (int f = 0; f < 4; ++f) fields += pk[p]->v[i] >> (5 * f) & 31u;
    for (int m = 0; m < 12; ++m) bits += static_cast<uint32_t>(std::popcount(pk[m]->v[i]));
    const uint32_t annual = pk[12]->v[i];
    if (annual != fields) vs_fields.Fail(i, std::to_string(annual) + " against " + std::to_string(fields));
    if (annual != bits) vs_masks.Fail(i, std::to_string(annual) + " against " + std::to_string(bits));
  }
  RuleProblem(id, 12, vs_fields, "whose annual count differs from the sum of the month counts");
  RuleProblem(id, 12, vs_masks, "whose annual count differs from the hour-mask bits");
}

// The sector ids of the folder's outputs; leftovers and stray package
// names are reported on the way.
std::set<std::string> Checker::ListSectors() {
  std::set<std::string> ids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    std::string id;
    int n = 0;
    if (ParsePackageName(name, id, n) || ParseElevationName(name, id)) {
      ids.insert(id);
    } else if (IsTempName(name)) {
      // The writer's temporary names: a write that never finished.
      Problem(name + ": an unfinished temporary file");
    } else if (StartsWith(name, kPackagePrefix) || name.find(kPackageSuffix) != std::string::npos) {
      Problem(name + ": not a package name of this session layout");
    }
  }
  if (ec) Problem(dir_.string() + ": cannot be listed: " + ec.message());
  return ids;
}

VerifyResult Checker::Run() {
  std::error_code ec;
  if (!fs::is_directory(dir_, ec)) {
    Problem(dir_.string() + ": not a directory");
    return result_;
  }
  const std::set<std::string> ids = ListSectors();
  if (ids.empty()) {
    Problem(dir_.string() + ": no sector outputs found");
    return result_;
  }
  ReadLatitude();
  for (const std::string& id : ids) CheckSector(id);
  result_.sectors = static_cast<int>(ids.size());
  return result_;
}

VerifyResult Checker::RunSector(const std::string& id) {
  ReadLatitude();
  CheckSector(id);
  result_.sectors = 1;
  return result_;
}

void Checker::CheckSector(const std::string& id) {
  Packages pk;
  if (!LoadSector(id, pk)) return;
  CheckHourMasks(id, pk);
  CheckPackedCounts(id, pk);
  CheckAnnualCounts(id, pk);
}

}  // namespace

namespace {

// "work/Session1/" and "work/Session1" name the same folder; the parent
// must be the work directory either way.
fs::path SessionPath(const std::string& session_dir) {
  fs::path dir = fs::path(session_dir).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  if (dir.is_relative()) dir = fs::absolute(dir);
  return dir;
}

}  // namespace

VerifyResult VerifySession(const std::string& session_dir,
                           const std::function<void(const std::string&)>& problem) {
  Checker checker(SessionPath(session_dir), problem);
  return checker.Run();
}

VerifyResult VerifySector(const std::string& session_dir, const std::string& id,
                          const std::function<void(const std::string&)>& problem) {
  Checker checker(SessionPath(session_dir), problem);
  return checker.RunSector(id);
}

std::optional<SessionImage> ReadSessionImage(const std::string& path, bool package, std::string* why) {
  const fs::path file(path);
  std::string reason;
  const std::function<void(const std::string&)> first = [&](const std::string& line) {
    if (reason.empty()) reason = line;
  };
  Checker checker(file.parent_path(), first);
  auto image = checker.Load(file.filename().string(), package);
  if (why) *why = reason;
  return image;
}

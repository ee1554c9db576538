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
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "catalogue/scan.h"
#include "run/run.h"
#include "solar/solar.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPackages = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

struct Image {
  uint32_t w = 0, h = 0;
  std::vector<uint32_t> v;  // R*65536 + G*256 + B, row-major
};

// A sector id as the scan admits sector names: column code 01..99 then row
// number 01..99.
bool IsSectorId(const std::string& s) {
  if (s.size() != 4) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return !(s[0] == '0' && s[1] == '0') && !(s[2] == '0' && s[3] == '0');
}

// "vto_package_<id>_<n>.vtp" -> id, n.
bool ParsePackageName(const std::string& name, std::string& id, int& n) {
  const std::string prefix = "vto_package_", suffix = ".vtp";
  if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string mid = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
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

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", v);
  return buf;
}

class Checker {
 public:
  Checker(fs::path dir, const std::function<void(const std::string&)>& problem)
      : dir_(std::move(dir)), problem_(problem) {}

  VerifyResult Run();

 private:
  void Problem(const std::string& text) {
    ++result_.problems;
    problem_(text);
  }
  bool ReadLatitude();
  std::optional<Image> Load(const std::string& name, bool package);
  void CheckSector(const std::string& id);

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

// Reads a package (stamp checked, signature restored) or the plain
// elevation PNG as 8-bit RGB of the session's common size.
std::optional<Image> Checker::Load(const std::string& name, bool package) {
  const fs::path path = dir_ / name;
  std::ifstream in(path, std::ios::binary);
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
    if (std::string(bytes.begin(), bytes.begin() + 5) != "TSVLP" ||
        !std::equal(bytes.begin() + 5, bytes.begin() + 8, kPngSignature + 5)) {
      Problem(name + ": does not start with the package stamp \"TSVLP\"");
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

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    Problem(name + ": does not decode: " + image.message);
    png_image_free(&image);
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
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
    Problem(name + ": size " + std::to_string(out.w) + "x" + std::to_string(out.h) +
            " differs from the session's " + std::to_string(w_) + "x" + std::to_string(h_));
    return std::nullopt;
  }
  out.v.resize(static_cast<size_t>(out.w) * out.h);
  for (size_t i = 0; i < out.v.size(); ++i)
    out.v[i] = static_cast<uint32_t>(rgb[i * 3]) << 16 | static_cast<uint32_t>(rgb[i * 3 + 1]) << 8 |
               rgb[i * 3 + 2];
  return out;
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

void Checker::CheckSector(const std::string& id) {
  std::array<std::optional<Image>, kPackages> pk;
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
  if (!complete) return;  // the counts below need every package

  const size_t npx = pk[0]->v.size();
  const uint32_t w = pk[0]->w;

  if (steps_) {
    for (int m = 0; m < 12; ++m) {
      const int32_t s = (*steps_)[m];
      const uint32_t allowed = s >= 24 ? 0xFFFFFFu : (1u << s) - 1u;
      PixelRule rule(w);
      for (size_t i = 0; i < npx; ++i)
        if (pk[m]->v[i] & ~allowed) rule.Fail(i, Hex(pk[m]->v[i]));
      const std::string line =
          rule.Line("use hour bits at or above the month's " + std::to_string(s) + " steps");
      if (!line.empty()) Problem(PackageName(id, m) + ": " + line);
    }
  }

  for (int p = 13; p <= 15; ++p) {
    PixelRule high(w);
    std::array<PixelRule, 4> over{PixelRule(w), PixelRule(w), PixelRule(w), PixelRule(w)};
    for (size_t i = 0; i < npx; ++i) {
      const uint32_t v = pk[p]->v[i];
      if (v & 0xF00000u) high.Fail(i, Hex(v));
      if (!steps_) continue;
      for (int f = 0; f < 4; ++f) {
        const uint32_t c = v >> (5 * f) & 31u;
        const int m = 4 * (p - 13) + f;
        if (c > static_cast<uint32_t>((*steps_)[m])) over[f].Fail(i, std::to_string(c));
      }
    }
    std::string line = high.Line("have bits 20-23 set");
    if (!line.empty()) Problem(PackageName(id, p) + ": " + line);
    for (int f = 0; f < 4; ++f) {
      const int m = 4 * (p - 13) + f;
      line = over[f].Line("count more than the " + std::to_string(steps_ ? (*steps_)[m] : 0) +
                          " steps of month " + std::to_string(m));
      if (!line.empty()) Problem(PackageName(id, p) + ": " + line);
    }
  }

  PixelRule vs_fields(w), vs_masks(w);
  for (size_t i = 0; i < npx; ++i) {
    uint32_t fields = 0, bits = 0;
    for (int p = 13; p <= 15; ++p)
      for (int f = 0; f < 4; ++f) fields += pk[p]->v[i] >> (5 * f) & 31u;
    for (int m = 0; m < 12; ++m) bits += static_cast<uint32_t>(std::popcount(pk[m]->v[i]));
    const uint32_t annual = pk[12]->v[i];
    if (annual != fields)
      vs_fields.Fail(i, std::to_string(annual) + " against " + std::to_string(fields));
    if (annual != bits) vs_masks.Fail(i, std::to_string(annual) + " against " + std::to_string(bits));
  }
  std::string line = vs_fields.Line("whose annual count differs from the sum of the month counts");
  if (!line.empty()) Problem(PackageName(id, 12) + ": " + line);
  line = vs_masks.Line("whose annual count differs from the hour-mask bits");
  if (!line.empty()) Problem(PackageName(id, 12) + ": " + line);
}

VerifyResult Checker::Run() {
  std::error_code ec;
  if (!fs::is_directory(dir_, ec)) {
    Problem(dir_.string() + ": not a directory");
    return result_;
  }
  std::set<std::string> ids;
  for (const auto& entry : fs::directory_iterator(dir_, ec)) {
    const std::string name = entry.path().filename().string();
    std::string id;
    int n = 0;
    if (ParsePackageName(name, id, n)) {
      ids.insert(id);
    } else if (name.size() == 8 && name.compare(4, 4, ".png") == 0 && IsSectorId(name.substr(0, 4))) {
      ids.insert(name.substr(0, 4));
    } else if (name.find(".tmp-") != std::string::npos) {
      // The writer's temporary names: a write that never finished.
      Problem(name + ": an unfinished temporary file");
    } else if (name.rfind("vto_package_", 0) == 0 || name.find(".vtp") != std::string::npos) {
      Problem(name + ": not a package name of this session layout");
    }
  }
  if (ec) Problem(dir_.string() + ": cannot be listed: " + ec.message());
  if (ids.empty()) {
    Problem(dir_.string() + ": no sector outputs found");
    return result_;
  }
  ReadLatitude();
  for (const std::string& id : ids) CheckSector(id);
  result_.sectors = static_cast<int>(ids.size());
  return result_;
}

}  // namespace

VerifyResult VerifySession(const std::string& session_dir,
                           const std::function<void(const std::string&)>& problem) {
  // "work/Session1/" and "work/Session1" name the same folder; the parent
  // must be the work directory either way.
  fs::path dir = fs::path(session_dir).lexically_normal();
  if (!dir.has_filename()) dir = dir.parent_path();
  if (dir.is_relative()) dir = fs::absolute(dir);
  Checker checker(dir, problem);
  return checker.Run();
}

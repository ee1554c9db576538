#include "catalogue/coords_file.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "terrain/file.h"
#include "terrain/file_kind.h"

namespace {

constexpr size_t kSize = 16;

void EncodeLE(double v, uint8_t* out) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

double DecodeLE(const uint8_t* in) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(in[i]) << (8 * i);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

}  // namespace

bool ReadCoordinatesFile(const std::string& path, double& lon, double& lat) {
  if (!IsRegularFile(path)) return false;  // a FIFO would block the open
  File f(path, "rb");
  if (!f) return false;
  uint8_t buf[kSize];
  if (std::fread(buf, 1, sizeof buf, f.get()) != sizeof buf) return false;
  const double x = DecodeLE(buf);
  const double y = DecodeLE(buf + 8);
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  lon = x;
  lat = y;
  return true;
}

bool WriteCoordinatesFile(const std::string& path, double lon, double lat) {
  uint8_t buf[kSize];
  EncodeLE(lon, buf);
  EncodeLE(lat, buf + 8);
  return WriteFileAtomic(path, buf, sizeof buf);
}

#include "catalogue/neighbours.h"

#include <cstdio>
#include <limits>

#include "platform/platform.h"
#include "terrain/state.h"

namespace {

// Column code of a column number 1..99: tens digit, then units digit.
std::string TwoDigitCode(int32_t v) {
  std::string code(2, '0');
  code[0] = static_cast<char>('0' + v / 10);
  code[1] = static_cast<char>('0' + v % 10);
  return code;
}

[[noreturn]] void ConversionFailure(int type) {
  FatalBox("Fatal Error. Internal data conversion error type " + std::to_string(type) + "." +
               kFatalTail + kSupportAddress,
           "Error!", false, 1);
}

}  // namespace

uint8_t txt2dig(char c) {
  if (c < '0' || c > '9') ConversionFailure(1);
  return static_cast<uint8_t>(c - '0');
}

int64_t int2dig(const std::string& text) {
  // Every character is checked before anything is returned, so a bad
  // character after a long run of digits is still fatal. Values beyond
  // 64 bits saturate instead of overflowing; 18 digits always fit.
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') ConversionFailure(2);
    const uint64_t d = txt2dig(c);
    value = value > (kMax - d) / 10 ? kMax : value * 10 + d;
  }
  return static_cast<int64_t>(value);
}

const std::string& CellColumnCode(int cell) {
  const int col = CellColumn(cell);
  return col == 0 ? st.areacol1 : col == 1 ? st.areacol2 : st.areacol3;
}

int32_t CellRowNumber(int cell) { return st.areafil[CellRow(cell)]; }

std::string NeighbourName(const std::string& col, int32_t row, const std::string& ext) {
  char buf[64];
  if (row <= 9)
    std::snprintf(buf, sizeof buf, "%s0%d%s", col.c_str(), row, ext.c_str());
  else
    std::snprintf(buf, sizeof buf, "%s%d%s", col.c_str(), row, ext.c_str());
  return buf;
}

void matriz_entorno(const std::string& name) {
  // A name shorter than four characters reads as terminators, which the
  // digit conversions reject like any other non-digit.
  auto at = [&](size_t i) { return i < name.size() ? name[i] : '\0'; };

  st.areacol2 = name.substr(0, 2);

  const int32_t r = 10 * txt2dig(at(2)) + txt2dig(at(3));
  st.areafil[1] = r;

  const int64_t c = int2dig(st.areacol2);

  st.areacol1 = c >= 2 ? TwoDigitCode(static_cast<int32_t>(c - 1)) : std::string();
  st.areacol3 = c <= 98 ? TwoDigitCode(static_cast<int32_t>(c + 1)) : std::string();
  st.areafil[0] = r >= 1 ? r - 1 : 0;
  st.areafil[2] = r <= 98 ? r + 1 : 0;
}

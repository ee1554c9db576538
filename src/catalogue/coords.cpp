#include "catalogue/coords.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "terrain/state.h"

namespace {

// The edit controls hold up to 260 characters with the terminator.
constexpr size_t kFieldChars = 259;
constexpr size_t kMaxDigits = 15;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Only '-' (first position), one '.', and digits. `point` is set to the
// position of the '.', or the text's length without one.
bool PlainCharacters(std::string_view text, size_t& point) {
  point = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && i == 0) continue;
    if (c == '.' && point == text.size()) {
      point = i;
      continue;
    }
    if (!IsDigit(c)) return false;
  }
  return true;
}

// Fifteen digits fit a 64-bit integer exactly, and 10^15 a double.
double DigitsValue(std::string_view digits) {
  int64_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return static_cast<double>(v);
}

double Fail(const std::string& text) {
  platform().MessageBox(text, "Info", BoxIcon::Info, BoxButtons::Ok, true);
  return 0.0;
}

}  // namespace

ParsedCoordinate ParseCoordinate(std::string_view text, double limit) {
  if (text.empty()) return {CoordinateRead::Empty, 0.0};
  size_t point = 0;
  if (!PlainCharacters(text, point)) return {CoordinateRead::Refused, 0.0};
  const bool negative = text[0] == '-';
  const std::string_view whole = text.substr(negative ? 1 : 0, point - (negative ? 1 : 0));
  const std::string_view frac = point < text.size() ? text.substr(point + 1) : std::string_view();
  if (whole.size() > kMaxDigits) return {CoordinateRead::TooLong, 0.0};
  if (frac.size() > kMaxDigits) return {CoordinateRead::TooManyDecimals, 0.0};
  // Only the final division and sum round.
  double value = (DigitsValue(frac) / std::pow(10.0, static_cast<double>(frac.size())) + DigitsValue(whole)) *
                 (negative ? -1.0 : 1.0);
  if (value == 0.0) value = 0.0;  // a lone "-" gives 0, not -0
  if (value > limit || value < -limit) return {CoordinateRead::Refused, 0.0};
  return {CoordinateRead::Ok, value};
}

double checklonlat(int which) {
  const bool latitude = which == 1;
  uint8_t& flag = latitude ? st.val_lat : st.val_long;
  flag = 0;
  std::string text = platform().ControlText(latitude ? ctl::kLatitude : ctl::kLongitude);
  if (text.size() > kFieldChars) text.resize(kFieldChars);

  const ParsedCoordinate p = ParseCoordinate(text, latitude ? 90.0 : 180.0);
  switch (p.read) {
    case CoordinateRead::Ok:
      flag = 1;
      return p.value;
    case CoordinateRead::Empty:
      return 0.0;
    case CoordinateRead::TooLong:
      return Fail("The number is too long");
    case CoordinateRead::TooManyDecimals:
      return Fail("Reduce the number of decimal values");
    case CoordinateRead::Refused:
      break;
  }
  return Fail(latitude ? "Latitude must be a value between -90 and 90\nUse only digits '.' for decimal and '-' for "
                         "negative values"
                       : "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' "
                         "for negative values");
}

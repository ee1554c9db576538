#include "catalogue/coords.h"

#include <cmath>
#include <string>

#include "catalogue/neighbours.h"
#include "platform/platform.h"
#include "terrain/state.h"

namespace {

// The edit controls hold up to 260 characters with the terminator.
constexpr size_t kFieldChars = 259;
constexpr size_t kMaxDigits = 15;

double Fail(const std::string& text) {
  platform().MessageBox(text, "Info", BoxIcon::Info, BoxButtons::Ok, true);
  return 0.0;
}

}  // namespace

double checklonlat(int which) {
  const bool latitude = which == 1;
  uint8_t& flag = latitude ? st.val_lat : st.val_long;
  flag = 0;
  const double limit = latitude ? 90.0 : 180.0;
  const std::string range_msg =
      latitude ? "Latitude must be a value between -90 and 90\nUse only digits '.' for decimal and '-' for negative values"
               : "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' for negative values";

  std::string tmpstr = platform().ControlText(latitude ? ctl::kLatitude : ctl::kLongitude);
  if (tmpstr.size() > kFieldChars) tmpstr.resize(kFieldChars);
  if (tmpstr.empty()) return 0.0;

  // Every character is checked before any digit is used: only '-' (first
  // position), one '.', and digits.
  double sign = 1.0;
  size_t point = tmpstr.size();
  bool seen_point = false;
  for (size_t i = 0; i < tmpstr.size(); ++i) {
    const char c = tmpstr[i];
    if (c < '-' || c > '9' || c == '/') return Fail(range_msg);
    if (c == '-') {
      if (i != 0) return Fail(range_msg);
      sign = -1.0;
    } else if (c == '.') {
      if (seen_point) return Fail(range_msg);
      seen_point = true;
      point = i;
    }
  }

  std::string intdigits, fracdigits;
  for (size_t i = 0; i < point; ++i) {
    if (tmpstr[i] < '0' || tmpstr[i] > '9') continue;
    intdigits += tmpstr[i];
    if (intdigits.size() > kMaxDigits) return Fail("The number is too long");
  }
  for (size_t i = point + 1; i < tmpstr.size(); ++i) {
    fracdigits += tmpstr[i];
    if (fracdigits.size() > kMaxDigits) return Fail("Reduce the number of decimal values");
  }

  // Both parts have at most 15 digits, so the integers and 10^n are exact
  // in a double and only the final division and sum round.
  const double whole = static_cast<double>(int2dig(intdigits));
  const double frac = static_cast<double>(int2dig(fracdigits));
  double value = (frac / std::pow(10.0, static_cast<double>(fracdigits.size())) + whole) * sign;
  if (value == 0.0) value = 0.0;  // a lone "-" gives 0, not -0

  if (value > limit || value < -limit) return Fail(range_msg);
  flag = 1;
  return value;
}

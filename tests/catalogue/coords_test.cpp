// Coordinate entry: which texts the fields accept and what the user is told.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "catalogue/coords.h"
#include "support/support.h"

namespace {

const std::string kLat =
    "Latitude must be a value between -90 and 90\nUse only digits '.' for decimal and '-' for negative values";
const std::string kLon =
    "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' for negative values";
const std::string kLong = "The number is too long";
const std::string kDecimals = "Reduce the number of decimal values";

using CoordsTest = StateTest;

TEST_F(CoordsTest, ChecklonlatAcceptsPlainDecimalsInRangeAndExplainsTheRest) {
  const struct {
    int which;  // 0 longitude, 1 latitude
    std::string text;
    double value;     // when accepted
    std::string box;  // the message when refused
  } cases[] = {
      {0, "-3.70379", -3.70379, ""}, {1, "90", 90.0, ""}, {1, "-90", -90.0, ""}, {0, "-180", -180.0, ""},
      {0, "007.50", 7.5, ""}, {1, ".25", 0.25, ""}, {0, "12.", 12.0, ""}, {0, "-", 0.0, ""}, {1, ".", 0.0, ""},
      {1, "-89.123456789", -89.123456789, ""},
      // Fifteen digits on either side pass the length checks.
      {0, "000000000000012.5", 12.5, ""}, {0, "1.123456789012345", 1.123456789012345, ""},
      {1, "90.5", 0, kLat}, {1, "-90.000001", 0, kLat}, {0, "180.5", 0, kLon}, {0, "-181", 0, kLon},
      {0, "+5", 0, kLon}, {0, "5-", 0, kLon}, {0, "1/2", 0, kLon}, {0, "1,5", 0, kLon}, {0, "4.1.2", 0, kLon},
      {0, "1e5", 0, kLon}, {0, "1 ", 0, kLon}, {0, "Type here the Longitude", 0, kLon},
      {1, "Type here the Latitude", 0, kLat},
      {0, "1234567890123456", 0, kLong}, {1, "-0000000000000001.5", 0, kLong},
      {0, "1.1234567890123456", 0, kDecimals},
      // Only the first 259 characters are read: the bad character beyond
      // them is never seen, so the fraction-length check speaks first.
      {0, "1." + std::string(257, '0') + "x", 0, kDecimals},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    st.val_long = st.val_lat = 2;
    const size_t boxes = plat.boxes().size();
    plat.SetControlText(c.which == 0 ? ctl::kLongitude : ctl::kLatitude, c.text);
    const double v = checklonlat(c.which);
    EXPECT_EQ(c.which == 0 ? st.val_long : st.val_lat, c.box.empty() ? 1 : 0);
    if (c.box.empty()) {
      EXPECT_DOUBLE_EQ(v, c.value);
      if (c.text == "-") {
        EXPECT_FALSE(std::signbit(v));  // a plain zero, not a negative one
      }
      EXPECT_EQ(plat.boxes().size(), boxes);
      continue;
    }
    EXPECT_EQ(v, 0.0);
    ASSERT_EQ(plat.boxes().size(), boxes + 1);
    EXPECT_EQ(plat.boxes().back().text, c.box);
    EXPECT_EQ(plat.boxes().back().icon, BoxIcon::Info);
  }
  // An empty field is invalid without a message.
  const size_t boxes = plat.boxes().size();
  st.val_lat = 1;
  plat.SetControlText(ctl::kLatitude, "");
  EXPECT_EQ(checklonlat(1), 0.0);
  EXPECT_EQ(st.val_lat, 0);
  EXPECT_EQ(plat.boxes().size(), boxes);
}

// The one reading behind both the fields and the batch driver's --lon/--lat:
// which check speaks first, and the value read.
TEST(ParseCoordinate, ChecksCharactersThenLengthsThenRange) {
  using R = CoordinateRead;
  const struct {
    std::string text;
    double limit;
    R read;
    double value;
  } cases[] = {
      {"", 90, R::Empty, 0},
      {"-3.5", 180, R::Ok, -3.5},
      {"-0", 90, R::Ok, 0},
      {"-", 90, R::Ok, 0},
      {"90", 90, R::Ok, 90},
      {"90.0000001", 90, R::Refused, 0},
      {"1e5", 180, R::Refused, 0},
      {"--1", 180, R::Refused, 0},
      // A bad character anywhere is refused before the lengths are looked at.
      {std::string(20, '1') + "x", 180, R::Refused, 0},
      {std::string(16, '0') + ".5", 180, R::TooLong, 0},
      {std::string(16, '9') + "." + std::string(16, '9'), 180, R::TooLong, 0},
      {"1." + std::string(16, '0'), 180, R::TooManyDecimals, 0},
      // The lengths are checked before the range.
      {"1." + std::string(16, '5') + "x", 180, R::Refused, 0},
      {"999." + std::string(16, '5'), 180, R::TooManyDecimals, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ParsedCoordinate p = ParseCoordinate(c.text, c.limit);
    EXPECT_EQ(p.read, c.read);
    EXPECT_EQ(p.value, c.value);
    if (c.value == 0) {
      EXPECT_FALSE(std::signbit(p.value));  // a plain zero, never a negative one
    }
  }
}

}  // namespace

// Coordinate entry: which texts the fields accept and what the user is told.
#include <cmath>

#include "catalogue/coords.h"
#include "support/support.h"

namespace {

const std::string kUse = "\nUse only digits '.' for decimal and '-' for negative values";
const std::string kLat = "Latitude must be a value between -90 and 90" + kUse;
const std::string kLon = "Longitude must be a value between -180 and 180" + kUse;
const std::string kLong = "The number is too long";
const std::string kDecimals = "Reduce the number of decimal values";

using CoordsTest = StateTest;

// Characters are checked first, then the lengths (fifteen digits on either
// side), then the range; an empty field is invalid without a message.
TEST_F(CoordsTest, ChecklonlatAcceptsPlainDecimalsInRangeAndExplainsTheRest) {
  const struct {
    int which;  // 0 longitude, 1 latitude
    std::string text;
    double value;     // when accepted
    std::string box;  // the message when refused
  } cases[] = {
      {0, "-3.70379", -3.70379, ""}, {1, "90", 90, ""}, {1, "-90", -90, ""}, {0, "-180", -180, ""}, {0, "180", 180, ""},
      {1, ".25", 0.25, ""}, {0, "12.", 12, ""}, {0, "-", 0, ""}, {1, "-0", 0, ""}, {0, "000000000000012.5", 12.5, ""},
      {0, "1.123456789012345", 1.123456789012345, ""}, {1, "", 0, ""}, {1, "90.000001", 0, kLat},
      {1, "-90.000001", 0, kLat}, {0, "180.5", 0, kLon}, {0, "-180.5", 0, kLon}, {0, "+5", 0, kLon}, {0, "5-", 0, kLon},
      {0, "--1", 0, kLon}, {0, "4.1.2", 0, kLon}, {0, "1e5", 0, kLon}, {0, "1 ", 0, kLon},
      {1, "Type here the Latitude", 0, kLat}, {0, std::string(20, '1') + "x", 0, kLon},
      {0, "1234567890123456", 0, kLong}, {1, "-0000000000000001.5", 0, kLong}, {0, "1.1234567890123456", 0, kDecimals},
      {0, "999." + std::string(16, '5'), 0, kDecimals}, {0, "1." + std::string(16, '5') + "x", 0, kLon},
      // Only the first 259 characters are read: the bad character beyond
      // them is never seen.
      {0, "1." + std::string(257, '0') + "x", 0, kDecimals},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    st.val_long = st.val_lat = 2;
    const size_t boxes = plat.boxes().size();
    plat.SetControlText(c.which == 0 ? ctl::kLongitude : ctl::kLatitude, c.text);
    const double v = checklonlat(c.which);
    EXPECT_EQ(c.which == 0 ? st.val_long : st.val_lat, c.box.empty() && !c.text.empty() ? 1 : 0);
    EXPECT_DOUBLE_EQ(v, c.value);
    EXPECT_FALSE(v == 0 && std::signbit(v));  // a plain zero, never a negative one
    ASSERT_EQ(plat.boxes().size(), boxes + !c.box.empty());
    const auto box = plat.boxes().empty() ? MemoryPlatform::Box{} : plat.boxes().back();
    EXPECT_TRUE(c.box.empty() || (box.text == c.box && box.icon == BoxIcon::Info)) << box.text;
  }
}

}  // namespace

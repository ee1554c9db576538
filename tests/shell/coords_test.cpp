// Coordinate entry: which texts the fields accept and what the user is told.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "shell/coords.h"
#include "support/fixtures.h"

namespace {

const char* kLatRange =
    "Latitude must be a value between -90 and 90\nUse only digits '.' for decimal and '-' for negative values";
const char* kLonRange =
    "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' for negative values";

class CoordsTest : public StateTest {
 protected:
  // Types `text` into the field and leaves it.
  double Enter(int which, const std::string& text) {
    plat.SetControlText(which == 0 ? ctl::kLongitude : ctl::kLatitude, text);
    return checklonlat(which);
  }
  uint8_t Flag(int which) const { return which == 0 ? st.val_long : st.val_lat; }
};

TEST_F(CoordsTest, AcceptsPlainDecimalsInRange) {
  struct Case {
    int which;
    const char* text;
    double value;
  } cases[] = {
      {0, "-3.70379", -3.70379}, {1, "-3.70379", -3.70379}, {1, "40.4165", 40.4165},
      {1, "90", 90.0},           {1, "-90", -90.0},         {0, "-180", -180.0},
      {0, "180.000", 180.0},     {0, "007.50", 7.5},        {1, ".25", 0.25},
      {0, "12.", 12.0},          {0, "-", 0.0},             {1, ".", 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    st.val_long = st.val_lat = 2;
    EXPECT_DOUBLE_EQ(Enter(c.which, c.text), c.value);
    EXPECT_EQ(Flag(c.which), 1);
  }
  EXPECT_TRUE(plat.boxes().empty());
  // A lone minus gives a plain zero, not a negative one.
  EXPECT_FALSE(std::signbit(Enter(0, "-")));
}

TEST_F(CoordsTest, RejectsMalformedTextWithTheRangeMessage) {
  for (const char* text : {"+5", "5-", "1/2", "1,5", "4.1.2", "Type here the Longitude", "--1", "1 ", "1e5",
                           "-90.5x"}) {
    SCOPED_TRACE(text);
    st.val_long = 1;
    st.geoxi = 7.0;
    EXPECT_EQ(Enter(0, text), 0.0);
    EXPECT_EQ(st.val_long, 0);
    ASSERT_FALSE(plat.boxes().empty());
    const auto box = plat.boxes().back();
    EXPECT_EQ(box.text, kLonRange);
    EXPECT_EQ(box.caption, "Info");
    EXPECT_EQ(box.icon, BoxIcon::Info);
    EXPECT_EQ(box.buttons, BoxButtons::Ok);
    EXPECT_TRUE(box.owned);
  }
  // The hint of the latitude field fails with the latitude message.
  EXPECT_EQ(Enter(1, "Type here the Latitude"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, kLatRange);
}

TEST_F(CoordsTest, RejectsValuesOutsideTheLimits) {
  EXPECT_EQ(Enter(1, "90.5"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, kLatRange);
  EXPECT_EQ(st.val_lat, 0);
  EXPECT_EQ(Enter(1, "-90.000001"), 0.0);
  EXPECT_EQ(Enter(0, "180.5"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, kLonRange);
  EXPECT_EQ(Enter(0, "-181"), 0.0);
  EXPECT_EQ(Enter(0, "123456789.5"), 0.0);
  EXPECT_EQ(plat.boxes().size(), 5u);
}

TEST_F(CoordsTest, EmptyFieldIsInvalidWithoutMessage) {
  st.val_lat = 1;
  EXPECT_EQ(Enter(1, ""), 0.0);
  EXPECT_EQ(st.val_lat, 0);
  EXPECT_TRUE(plat.boxes().empty());
}

TEST_F(CoordsTest, DigitLimitsOnEitherSideOfThePoint) {
  // Fifteen digits pass the length checks (and then the range check).
  EXPECT_EQ(Enter(0, "000000000000012.5"), 12.5);
  EXPECT_DOUBLE_EQ(Enter(0, "1.123456789012345"), 1.123456789012345);
  EXPECT_TRUE(plat.boxes().empty());

  EXPECT_EQ(Enter(0, "1234567890123456"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, "The number is too long");
  EXPECT_EQ(Enter(1, "-0000000000000001.5"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, "The number is too long");
  EXPECT_EQ(Enter(0, "1.1234567890123456"), 0.0);
  EXPECT_EQ(plat.boxes().back().text, "Reduce the number of decimal values");
  EXPECT_EQ(st.val_long, 0);
  EXPECT_EQ(plat.boxes().back().caption, "Info");
}

TEST_F(CoordsTest, NineDecimalsComeOutAsTyped) {
  EXPECT_DOUBLE_EQ(Enter(1, "-89.123456789"), -89.123456789);
  EXPECT_DOUBLE_EQ(Enter(0, "179.999999999"), 179.999999999);
}

TEST_F(CoordsTest, OverlongFieldIsReadUpToItsCapacity) {
  // Only the first 259 characters are read: a bad character beyond them is
  // never seen, so the fraction-length check speaks first.
  std::string text = "1." + std::string(257, '0') + "x";
  EXPECT_EQ(Enter(0, text), 0.0);
  EXPECT_EQ(plat.boxes().back().text, "Reduce the number of decimal values");
}

}  // namespace

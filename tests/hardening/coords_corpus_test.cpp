// The project coordinates as they reach the program: a saved file of any
// length and content, and whatever is typed or pasted into the fields.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "catalogue/coords_file.h"
#include "catalogue/scan.h"
#include "hardening/corpus.h"
#include "catalogue/coords.h"

namespace {

using corpus::ExitCodeOf;
using corpus::kNoExit;
using corpus::Tried;

// a + b, built without operator+ (which GCC 12 misreads at -O2).
std::string Cat(const std::string& a, const std::string& b) {
  std::string s = a;
  s.append(b);
  return s;
}

std::vector<uint8_t> Bytes(double lon, double lat) {
  std::vector<uint8_t> b(16);
  std::memcpy(b.data(), &lon, 8);  // the test host is little-endian, as the file
  std::memcpy(b.data() + 8, &lat, 8);
  return b;
}

class CoordsFileTest : public StateTest {
 protected:
  void SetUp() override {
    StateTest::SetUp();
    WritePngRgb(dir / "0101.png", 120, 120, [](int, int) { return 0u; });
  }
  fs::path file() const { return dir / kCoordinatesFile; }
  TempDir dir;
};

// Only 16 bytes or more holding two finite numbers are taken, by the reader
// and by the scan that fills the fields; anything else leaves both alone.
// The file is read, never rewritten.
TEST_F(CoordsFileTest, ShortLongAndNonFiniteFiles) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const std::vector<uint8_t> good = Bytes(-3.70379, 40.4165);
  std::vector<uint8_t> longer = good, payload_nan = good;
  longer.push_back(0x7F);
  std::fill(payload_nan.begin(), payload_nan.begin() + 8, 0xFF);  // negative NaN, all payload bits set
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool loads;
    double lon;
  };
  const Case cases[] = {
      {"0 bytes", {}, false, 0},
      {"8 bytes", corpus::Cut(good, 8), false, 0},
      {"15 bytes", corpus::Cut(good, 15), false, 0},
      {"16 bytes", good, true, -3.70379},
      {"17 bytes", longer, true, -3.70379},
      {"quiet NaN longitude", Bytes(nan, 40), false, 0},
      {"signalling NaN latitude", Bytes(1, std::numeric_limits<double>::signaling_NaN()), false, 0},
      {"NaN with payload", payload_nan, false, 0},
      {"infinite longitude", Bytes(inf, 40), false, 0},
      {"minus infinite latitude", Bytes(1, -inf), false, 0},
      // Finite values are taken as they are, however implausible.
      {"negative zero", Bytes(-0.0, 0.0), true, -0.0},
      {"largest doubles", Bytes(DBL_MAX, -DBL_MAX), true, DBL_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    WriteFileBytes(file(), c.bytes);
    double lon = 7, lat = 7;
    EXPECT_EQ(ReadCoordinatesFile(file().string(), lon, lat), c.loads);
    EXPECT_TRUE(c.loads || (lon == 7 && lat == 7));
    const double kept = 5.5;
    st.geoxi = st.geoyi = kept;
    st.val_long = st.val_lat = 0;
    plat.SetControlText(ctl::kLatitude, "typed");
    ASSERT_EQ(ExitCodeOf([&] { EXPECT_EQ(listdirect(dir.str(), ".png"), 1); }), kNoExit);
    EXPECT_EQ(std::memcmp(&st.geoxi, c.loads ? &c.lon : &kept, 8), 0);
    EXPECT_EQ(st.val_long, c.loads ? 1 : 0);
    EXPECT_EQ(plat.ControlText(ctl::kLatitude) == "typed", !c.loads);
    EXPECT_TRUE(plat.boxes().empty());
    EXPECT_EQ(ReadFileBytes(file()), c.bytes);
  }
}

// Every text a field may hold: the entry's own cases, texts far longer than
// the field, and bytes that are not ASCII. Each gives either a value within
// the limits with the field valid, or 0 with the field invalid and one of
// the entry's messages (none for an empty field).
class CoordsTextTest : public StateTest {};

TEST_F(CoordsTextTest, CoordinateTextsOfAnyKind) {
  const std::string use = "\nUse only digits '.' for decimal and '-' for negative values";
  const std::string lon_range = "Longitude must be a value between -180 and 180" + use, too_long = "The number is too long",
                    decimals = "Reduce the number of decimal values";
  const std::set<std::string> messages = {lon_range, "Latitude must be a value between -90 and 90" + use, too_long, decimals};
  struct Case {
    std::string text;
    std::string why;  // the longitude field's message, "" when it is valid
  };
  const Case cases[] = {
      {"-3.70379", ""}, {"40.4165", ""}, {"-180", ""}, {"-", ""}, {".", ""}, {"000000000000179.999999999999999", ""},
      {"180.0000000000001", lon_range}, {"+5", lon_range}, {"5-", lon_range}, {"1,5", lon_range}, {"4.1.2", lon_range},
      {"Type here the Longitude", lon_range}, {"", ""}, {"1234567890123456", too_long}, {"1.1234567890123456", decimals},
      // Ten thousand characters: only the field's capacity is read.
      {std::string(10000, '9'), too_long}, {Cat("0.", std::string(9998, '0')), decimals},
      {Cat("-", std::string(9999, '0')), too_long}, {Cat(std::string(9990, '0'), "1.5"), too_long},
      {std::string(10000, '-'), lon_range}, {std::string(10000, '.'), lon_range}, {std::string(10000, 'x'), lon_range},
      {std::string(10000, '\0'), lon_range}, {Cat("1", std::string(9999, ' ')), lon_range},
      // Bytes that are not ASCII: fullwidth 45, minus sign, degree sign (UTF-8
      // and Latin-1), no-break space, byte-order mark, a NUL inside, stray bytes.
      {"\xef\xbc\x94\xef\xbc\x95", lon_range}, {"\xe2\x88\x92" "3.5", lon_range}, {"40\xc2\xb0", lon_range},
      {"40\xb0", lon_range}, {"3.5\xc2\xa0", lon_range}, {"\xff\xfe" "1\x00" "2", lon_range},
      {std::string("1\0" "2", 3), lon_range}, {"\x80", lon_range}, {std::string(5000, '\xe4'), lon_range},
  };
  for (const Case& c : cases) {
    for (int which : {0, 1}) {
      SCOPED_TRACE(c.text.substr(0, 40) + (which ? " (latitude)" : " (longitude)"));
      Tried();
      plat.SetControlText(which == 0 ? ctl::kLongitude : ctl::kLatitude, c.text);
      const size_t boxes = plat.boxes().size();
      double v = 99;
      ASSERT_EQ(ExitCodeOf([&] { v = checklonlat(which); }), kNoExit);
      const uint8_t flag = which == 0 ? st.val_long : st.val_lat;
      ASSERT_TRUE(std::isfinite(v));
      EXPECT_LE(std::fabs(v), which == 0 ? 180 : 90);
      EXPECT_TRUE(flag == 1 || v == 0.0);
      const bool boxed = plat.boxes().size() == boxes + 1;
      EXPECT_EQ(plat.boxes().size(), boxes + (flag == 1 || c.text.empty() ? 0 : 1));
      const std::string shown = boxed ? plat.boxes().back().text : "";
      EXPECT_EQ(boxed, messages.count(shown) == 1) << shown;
      if (which == 0) {
        EXPECT_EQ(flag == 1, c.why.empty() && !c.text.empty());
        EXPECT_EQ(shown, c.why);
      }
    }
  }
}

}  // namespace

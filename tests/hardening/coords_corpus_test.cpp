// The project coordinates as they reach the program: a saved file of any
// length and content, and whatever is typed or pasted into the fields.
#include <sys/stat.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>

#include "catalogue/scan.h"
#include "hardening/corpus.h"
#include "shell/coords.h"

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

TEST_F(CoordsFileTest, ShortLongAndNonFiniteFiles) {
  const double qnan = std::numeric_limits<double>::quiet_NaN();
  const double snan = std::numeric_limits<double>::signaling_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<uint8_t> payload_nan = Bytes(1.0, 2.0);
  std::fill(payload_nan.begin(), payload_nan.begin() + 8, 0xFF);  // negative NaN, all payload bits set
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool loads;
    double lon, lat;
  };
  const std::vector<uint8_t> good = Bytes(-3.70379, 40.4165);
  std::vector<uint8_t> longer = good;
  longer.push_back(0x7F);
  std::vector<uint8_t> twice = good;
  twice.insert(twice.end(), good.begin(), good.end());
  const Case cases[] = {
      {"0 bytes", {}, false, 0, 0},
      {"8 bytes", corpus::Cut(good, 8), false, 0, 0},
      {"15 bytes", corpus::Cut(good, 15), false, 0, 0},
      {"16 bytes", good, true, -3.70379, 40.4165},
      {"17 bytes", longer, true, -3.70379, 40.4165},
      {"32 bytes", twice, true, -3.70379, 40.4165},
      {"quiet NaN longitude", Bytes(qnan, 40), false, 0, 0},
      {"signalling NaN latitude", Bytes(1, snan), false, 0, 0},
      {"NaN with payload", payload_nan, false, 0, 0},
      {"infinite longitude", Bytes(inf, 40), false, 0, 0},
      {"minus infinite latitude", Bytes(1, -inf), false, 0, 0},
      // Finite values are taken as they are, however implausible.
      {"negative zero", Bytes(-0.0, 0.0), true, -0.0, 0.0},
      {"subnormal", Bytes(4.9e-324, -4.9e-324), true, 4.9e-324, -4.9e-324},
      {"largest doubles", Bytes(DBL_MAX, -DBL_MAX), true, DBL_MAX, -DBL_MAX},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    WriteFileBytes(file(), c.bytes);
    double lon = 7, lat = 7;
    EXPECT_EQ(ReadCoordinatesFile(file().string(), lon, lat), c.loads);
    if (!c.loads) {
      EXPECT_TRUE(lon == 7 && lat == 7);
    }

    // Through the scan: loaded into the fields, or left alone.
    st.geoxi = st.geoyi = 5.5;
    st.val_long = st.val_lat = 0;
    plat.SetControlText(ctl::kLongitude, "typed");
    plat.SetControlText(ctl::kLatitude, "typed");
    ASSERT_EQ(ExitCodeOf([&] { EXPECT_EQ(listdirect(dir.str(), ".png"), 1); }), kNoExit);
    if (c.loads) {
      EXPECT_EQ(std::memcmp(&st.geoxi, &c.lon, 8), 0);
      EXPECT_EQ(std::memcmp(&st.geoyi, &c.lat, 8), 0);
      EXPECT_EQ(st.val_long, 1);
      EXPECT_EQ(st.val_lat, 1);
      char text[400];
      std::snprintf(text, sizeof text, "%f", c.lon);
      EXPECT_EQ(plat.ControlText(ctl::kLongitude), text);
    } else {
      EXPECT_EQ(st.geoxi, 5.5);
      EXPECT_EQ(st.val_long, 0);
      EXPECT_EQ(plat.ControlText(ctl::kLatitude), "typed");
    }
    EXPECT_TRUE(plat.boxes().empty());
    EXPECT_EQ(ReadFileBytes(file()), c.bytes);  // read, never rewritten
  }
}

TEST_F(CoordsFileTest, CoordinatesFileThatIsNotAFile) {
  double lon = 7, lat = 7;
  struct Case {
    const char* name;
    std::function<void()> make;
  };
  const Case cases[] = {
      {"a directory", [&] { fs::create_directory(file()); }},
      {"a link to itself", [&] { fs::create_symlink(kCoordinatesFile, file()); }},
      {"a link to nowhere", [&] { fs::create_symlink("absent", file()); }},
      {"unreadable", [&] {
         WriteFileBytes(file(), Bytes(1, 2));
         fs::permissions(file(), fs::perms::none);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Tried();
    fs::remove_all(file());
    c.make();
    if (std::string(c.name) == "unreadable" && access(file().c_str(), R_OK) == 0) continue;  // running as root
    EXPECT_FALSE(ReadCoordinatesFile(file().string(), lon, lat));
    st.val_long = 2;
    EXPECT_EQ(listdirect(dir.str(), ".png"), 1);
    EXPECT_EQ(st.val_long, 2);
  }
  fs::remove_all(file());
}

// Every text a field may hold: the entry's own cases, texts far longer than
// the field, and bytes that are not ASCII. Each either gives a value within
// the limits with the field valid, or 0 with the field invalid and one of
// the entry's messages.
class CoordsTextTest : public StateTest {};

TEST_F(CoordsTextTest, CoordinateTextsOfAnyKind) {
  const std::set<std::string> messages = {
      "Latitude must be a value between -90 and 90\nUse only digits '.' for decimal and '-' for negative values",
      "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' for negative values",
      "The number is too long",
      "Reduce the number of decimal values",
  };
  struct Case {
    std::string text;
    bool valid;       // for the longitude field
    std::string why;  // expected message ("" when valid, or for an empty field)
  };
  const std::string lon_range = "Longitude must be a value between -180 and 180\nUse only digits '.' for decimal and '-' for negative values";
  std::vector<Case> cases = {
      {"-3.70379", true, ""},
      {"40.4165", true, ""},
      {"-180", true, ""},
      {"180.0000000000001", false, lon_range},
      {"+5", false, lon_range},
      {"5-", false, lon_range},
      {"1/2", false, lon_range},
      {"1,5", false, lon_range},
      {"4.1.2", false, lon_range},
      {"Type here the Longitude", false, lon_range},
      {"-", true, ""},
      {".", true, ""},
      {"-.", true, ""},
      {"", false, ""},
      {"1234567890123456", false, "The number is too long"},
      {"1.1234567890123456", false, "Reduce the number of decimal values"},
      {"000000000000179.999999999999999", true, ""},
      // Ten thousand characters: only the field's capacity is read.
      {std::string(10000, '9'), false, "The number is too long"},
      {Cat("0.", std::string(9998, '0')), false, "Reduce the number of decimal values"},
      {Cat("-", std::string(9999, '0')), false, "The number is too long"},
      {std::string(10000, '-'), false, lon_range},
      {std::string(10000, '.'), false, lon_range},
      {std::string(10000, 'x'), false, lon_range},
      {std::string(10000, '\0'), false, lon_range},
      {Cat("1", std::string(9999, ' ')), false, lon_range},
      {Cat(Cat("12.", std::string(10, '5')), std::string(9987, 'x')), false, lon_range},
      {Cat(std::string(9990, '0'), "1.5"), false, "The number is too long"},
      // Bytes that are not ASCII: look-alike digits, signs and separators.
      {"\xef\xbc\x94\xef\xbc\x95", false, lon_range},          // fullwidth 45
      {"\xe2\x88\x92" "3.5", false, lon_range},                 // minus sign
      {"40\xc2\xb0", false, lon_range},                         // degree sign
      {"40\xb0", false, lon_range},                             // the same in Latin-1
      {"\xd9\xa4\xd9\xa5", false, lon_range},                   // Arabic-Indic 45
      {"3.5\xc2\xa0", false, lon_range},                        // no-break space
      {"\xe2\x80\x8b" "12", false, lon_range},                  // zero-width space
      {"\xff\xfe" "1\x00" "2", false, lon_range},               // byte-order mark bytes
      {std::string("1\0" "2", 3), false, lon_range},            // a NUL inside
      {"\x80", false, lon_range},
      {"45\n", false, lon_range},
      {"\t45", false, lon_range},
      {std::string(5000, '\xe4'), false, lon_range},
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
      const double limit = which == 0 ? 180 : 90;
      ASSERT_TRUE(std::isfinite(v));
      EXPECT_LE(std::fabs(v), limit);
      if (flag == 1) {
        EXPECT_EQ(plat.boxes().size(), boxes);
      } else {
        EXPECT_EQ(flag, 0);
        EXPECT_EQ(v, 0.0);
        if (c.text.empty()) {
          EXPECT_EQ(plat.boxes().size(), boxes);
        } else {
          ASSERT_EQ(plat.boxes().size(), boxes + 1);
          EXPECT_EQ(messages.count(plat.boxes().back().text), 1u) << plat.boxes().back().text;
        }
      }
      if (which == 0) {
        EXPECT_EQ(flag == 1, c.valid);
        if (!c.valid && !c.why.empty()) {
          EXPECT_EQ(plat.boxes().back().text, c.why);
        }
      }
    }
  }
}

}  // namespace

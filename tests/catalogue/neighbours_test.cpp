#include "catalogue/neighbours.h"

#include "support/fixtures.h"

namespace {

using NeighboursTest = StateTest;

struct Expected {
  const char* name;
  const char* col1;
  const char* col3;
  int32_t fil[3];
};

TEST_F(NeighboursTest, MatrizEntorno) {
  const Expected cases[] = {
      {"0512.png", "04", "06", {11, 12, 13}},
      {"0101.png", "", "02", {0, 1, 2}},
      {"9999.png", "98", "", {98, 99, 0}},
      {"1009.tif", "09", "11", {8, 9, 10}},
  };
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.name);
    matriz_entorno(c.name);
    EXPECT_EQ(st.areacol1, c.col1);
    EXPECT_EQ(st.areacol2, std::string(c.name, 2));
    EXPECT_EQ(st.areacol3, c.col3);
    EXPECT_EQ(st.areafil[0], c.fil[0]);
    EXPECT_EQ(st.areafil[1], c.fil[1]);
    EXPECT_EQ(st.areafil[2], c.fil[2]);
  }
  // 1009: the same-column neighbours.
  EXPECT_EQ(NeighbourName(st.areacol2, st.areafil[0], ".tif"), "1008.tif");
  EXPECT_EQ(NeighbourName(st.areacol2, st.areafil[2], ".tif"), "1010.tif");
  EXPECT_EQ(NeighbourName("07", 3, ".tif"), "0703.tif");
  EXPECT_EQ(NeighbourName("03", 9, ".png"), "0309.png");
  EXPECT_EQ(NeighbourName("03", 10, ".png"), "0310.png");
}

TEST_F(NeighboursTest, Digits) {
  EXPECT_EQ(txt2dig('0'), 0);
  EXPECT_EQ(txt2dig('9'), 9);
  EXPECT_EQ(int2dig("07"), 7);
  EXPECT_EQ(int2dig(""), 0);
  EXPECT_EQ(int2dig("123456789"), 123456789);
  EXPECT_EQ(int2dig("999999999999999"), 999999999999999LL);
  EXPECT_EQ(int2dig("987654321098765432"), 987654321098765432LL);
  // Far beyond 64 bits: saturates rather than wrapping.
  EXPECT_EQ(int2dig("99999999999999999999999"), INT64_MAX);
  EXPECT_TRUE(plat.boxes().empty());
}

void ExpectConversionFatal(MemoryPlatform& plat, int type, const std::function<void()>& f) {
  SCOPED_TRACE(type);
  const size_t before = plat.boxes().size();
  try {
    f();
    ADD_FAILURE() << "expected the process to end";
  } catch (const ProcessExit& e) {
    EXPECT_EQ(e.code, 1);
  }
  const auto boxes = plat.boxes();
  ASSERT_EQ(boxes.size(), before + 1);
  EXPECT_EQ(boxes.back().text, "Fatal Error. Internal data conversion error type " + std::to_string(type) +
                                   ".\n We are sorry but the application can't go on.\n If the problem "
                                   "persists contact at " +
                                   kSupportAddress);
  EXPECT_EQ(boxes.back().caption, "Error!");
  EXPECT_EQ(boxes.back().icon, BoxIcon::Error);
  EXPECT_FALSE(boxes.back().owned);
}

TEST_F(NeighboursTest, ConversionFailuresAreFatal) {
  ExpectConversionFatal(plat, 1, [] { txt2dig('/'); });
  ExpectConversionFatal(plat, 1, [] { txt2dig(':'); });
  ExpectConversionFatal(plat, 2, [] { int2dig("1a"); });
  // A bad character after more digits than fit is still caught.
  ExpectConversionFatal(plat, 2, [] { int2dig("99999999999999999999999x"); });
  // Names too short or not numeric never yield a neighbourhood.
  ExpectConversionFatal(plat, 1, [] { matriz_entorno("05"); });
  ExpectConversionFatal(plat, 2, [] { matriz_entorno("A101.png"); });
}

}  // namespace

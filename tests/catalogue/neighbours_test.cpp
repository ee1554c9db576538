#include "catalogue/neighbours.h"

#include "support/support.h"

namespace {

using NeighboursTest = StateTest;

TEST_F(NeighboursTest, MatrizEntorno) {
  const struct {
    const char* name;
    const char* col1;
    const char* col3;
    int32_t fil[3];
  } cases[] = {
      {"0101.png", "", "02", {0, 1, 2}}, {"9999.png", "98", "", {98, 99, 0}}, {"1009.tif", "09", "11", {8, 9, 10}},
      {"0512.png", "04", "06", {11, 12, 13}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    matriz_entorno(c.name);
    EXPECT_EQ(std::vector<std::string>({st.areacol1, st.areacol2, st.areacol3}),
              std::vector<std::string>({c.col1, std::string(c.name, 2), c.col3}));
    EXPECT_EQ(std::vector<int32_t>(st.areafil, st.areafil + 3), std::vector<int32_t>(c.fil, c.fil + 3));
  }
}

TEST_F(NeighboursTest, DigitsAreExactTo64BitsAndFailuresAreFatal) {
  const int64_t digits[] = {int2dig("07"), int2dig(""), int2dig("987654321098765432"), int2dig(std::string(23, '9'))};
  EXPECT_EQ(std::vector<int64_t>(digits, digits + 4), (std::vector<int64_t>{7, 0, 987654321098765432LL, INT64_MAX}));
  const struct {
    int type;
    std::function<void()> call;
  } cases[] = {
      // A bad character after an overflow; a name too short for a sector.
      {1, [] { txt2dig(':'); }}, {2, [] { int2dig("1a"); }}, {2, [] { int2dig("99999999999999999999999x"); }},
      {1, [] { matriz_entorno("05"); }}, {2, [] { matriz_entorno("A101.png"); }},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExitCodeOf(c.call), 1);
    ASSERT_FALSE(plat.boxes().empty());
    const auto box = plat.boxes().back();
    EXPECT_EQ(box.caption + box.text, "Error!Fatal Error. Internal data conversion error type " +
                                          std::to_string(c.type) + ".\n We are sorry but the application can't go on." +
                                          "\n If the problem persists contact at " + kSupportAddress);
    EXPECT_FALSE(box.owned);
  }
}

}  // namespace

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
      {"0512.png", "04", "06", {11, 12, 13}},
      {"0101.png", "", "02", {0, 1, 2}},
      {"9999.png", "98", "", {98, 99, 0}},
      {"1009.tif", "09", "11", {8, 9, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    matriz_entorno(c.name);
    EXPECT_EQ(st.areacol1, c.col1);
    EXPECT_EQ(st.areacol2, std::string(c.name, 2));
    EXPECT_EQ(st.areacol3, c.col3);
    EXPECT_EQ(std::vector<int32_t>(st.areafil, st.areafil + 3), std::vector<int32_t>(c.fil, c.fil + 3));
  }
  // 1009's row neighbours: a leading zero only below ten.
  EXPECT_EQ(NeighbourName(st.areacol2, st.areafil[0], ".tif"), "1008.tif");
  EXPECT_EQ(NeighbourName(st.areacol2, st.areafil[2], ".tif"), "1010.tif");
}

// The cell map: each cell's sector, by name, around 0512.
TEST_F(NeighboursTest, CellsNameTheSectorsOfTheMap) {
  matriz_entorno("0512.png");
  const char* names[9] = {"0411", "0412", "0413", "0511", "0512", "0513", "0611", "0612", "0613"};
  for (int cell = 0; cell < 9; ++cell)
    EXPECT_EQ(NeighbourName(CellColumnCode(cell), CellRowNumber(cell), ""), names[cell]) << cell;
  std::vector<int> all(kNeighbourCells, kNeighbourCells + 8);
  all.insert(all.begin() + 4, kCentreCell);
  EXPECT_EQ(all, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(NeighboursTest, DigitsAreExactTo64BitsAndSaturateBeyond) {
  EXPECT_EQ(txt2dig('9'), 9);
  EXPECT_EQ(int2dig("07"), 7);
  EXPECT_EQ(int2dig(""), 0);
  EXPECT_EQ(int2dig("987654321098765432"), 987654321098765432LL);
  EXPECT_EQ(int2dig("99999999999999999999999"), INT64_MAX);
  EXPECT_TRUE(plat.boxes().empty());
}

TEST_F(NeighboursTest, ConversionFailuresAreFatal) {
  const struct {
    int type;
    std::function<void()> call;
  } cases[] = {
      {1, [] { txt2dig(':'); }},
      {2, [] { int2dig("1a"); }},
      {2, [] { int2dig("99999999999999999999999x"); }},  // a bad character after an overflow
      {1, [] { matriz_entorno("05"); }},                 // too short for a sector name
      {2, [] { matriz_entorno("A101.png"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(plat.boxes().size());
    try {
      c.call();
      ADD_FAILURE() << "expected the process to end";
    } catch (const ProcessExit& e) {
      EXPECT_EQ(e.code, 1);
    }
    ASSERT_FALSE(plat.boxes().empty());
    const auto box = plat.boxes().back();
    EXPECT_EQ(box.text, "Fatal Error. Internal data conversion error type " + std::to_string(c.type) +
                            ".\n We are sorry but the application can't go on.\n If the problem persists contact at " +
                            kSupportAddress);
    EXPECT_EQ(box.caption, "Error!");
    EXPECT_FALSE(box.owned);
  }
}

}  // namespace

// Sector naming and the addressing of a sector's eight neighbours.
#pragma once

#include <cstdint>
#include <string>

// The neighbourhood of a sector: nine cells numbered 3 * column + row, the
// order of matflgarea, AreaSurface and AreaRaster (sent1..sent8 are the
// neighbours in that order). Row numbers grow northwards; in image terms
// north lies above row 0 (y < 0), south below the last row (y >= H).
//
//                   west      own       east
//                  (col 0)  (col 1)   (col 2)
//                +--------+--------+--------+
//   north (r+1)  |   2    |   5    |   8    |
//                +--------+--------+--------+
//   own row (r)  |   1    |   4    |   7    |
//                +--------+--------+--------+
//   south (r-1)  |   0    |   3    |   6    |
//                +--------+--------+--------+
//
// The column codes are areacol1..3 and the row numbers areafil[0..2].
inline constexpr int kCentreCell = 4;
inline constexpr int kNeighbourCells[8] = {0, 1, 2, 3, 5, 6, 7, 8};
constexpr int CellColumn(int cell) { return cell / 3; }  // 0 west, 1 own, 2 east
constexpr int CellRow(int cell) { return cell % 3; }     // 0 south, 1 own, 2 north

// Column code and row number of a cell as the last matriz_entorno set them:
// an empty code or row 0 when the cell lies outside the grid.
const std::string& CellColumnCode(int cell);
int32_t CellRowNumber(int cell);

// Sets areacol1..3 and areafil from a sector list entry such as "0512.png".
void matriz_entorno(const std::string& name);

// Value of an ASCII digit; any other character is fatal (type 1).
uint8_t txt2dig(char c);
// Decimal value of a string of ASCII digits, exact for up to 18 digits; 0
// for an empty string; any other character is fatal (type 2).
int64_t int2dig(const std::string& text);

// Sector name from a column code and row number: "0703.tif".
std::string NeighbourName(const std::string& col, int32_t row, const std::string& ext);

// Sector naming and the addressing of a sector's eight neighbours.
#pragma once

#include <cstdint>
#include <string>

// Sets areacol1..3 and areafil from a sector list entry such as "0512.png".
void matriz_entorno(const std::string& name);

// Value of an ASCII digit; any other character is fatal (type 1).
uint8_t txt2dig(char c);
// Decimal value of a string of ASCII digits, exact for up to 18 digits; 0
// for an empty string; any other character is fatal (type 2).
int64_t int2dig(const std::string& text);

// Sector name from a column code and row number: "0703.tif".
std::string NeighbourName(const std::string& col, int32_t row, const std::string& ext);

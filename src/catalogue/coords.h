// Coordinate entry: the one reading of a typed coordinate, for the main
// window's longitude and latitude fields and the batch driver's --lon/--lat.
#pragma once

#include <string_view>

// How a coordinate text read.
enum class CoordinateRead {
  Ok,
  Empty,
  Refused,          // a character other than a leading '-', one '.' and digits, or outside -limit..limit
  TooLong,          // more than 15 digits before the point
  TooManyDecimals,  // more than 15 digits after it
};

struct ParsedCoordinate {
  CoordinateRead read = CoordinateRead::Empty;
  double value = 0.0;  // when read is Ok; a lone "-" reads as +0
};

// Reads a coordinate typed in the plain form: an optional leading '-',
// digits and at most one '.', at most 15 digits on either side of the
// point, within -limit..limit. Every character is checked before any digit
// counts, then the length of the whole part, then of the fraction, then the
// range.
ParsedCoordinate ParseCoordinate(std::string_view text, double limit);

// Parses the text of the longitude (which = 0, control 401, -180..180) or
// latitude (which = 1, control 402, -90..90) field. Sets st.val_long /
// st.val_lat to 1 on success and to 0 otherwise; every failure except an
// empty field shows an "Info" box. Returns the value, or 0.0 on any failure.
double checklonlat(int which);

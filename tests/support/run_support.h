// Kept while the old tests move to support.h.
#pragma once
#include "support/support.h"

namespace runtest {
using ::Hill;
using ::Listing;
using ::SectorName;
inline HeightFn GridHill(int col, int row, int size, int rows = 3) {
  const int ox = (col - 1) * size, oy = (rows - row) * size;
  return [=](int x, int y) { return Hill(x, y, ox, oy); };
}
}  // namespace runtest

// Recording a shaded pixel in the sector's four encodings, the graph
// colours and the progress position.
#include "engine/accumulate.h"

#include <cassert>

#include "engine/shade.h"
#include "terrain/raster.h"
#include "terrain/state.h"

// Thirty-two runs of three entries and a last run of four, darkest first:
// entry 99 - p is the colour of p percent, red at 0-3 %, black at 97-99 %.
const uint32_t kColourRamp[100] = {
    0x000000, 0x000000, 0x000000,  // 0-2
    0x1D001C, 0x1D001C, 0x1D001C,  // 3-5
    0x330034, 0x330034, 0x330034,  // 6-8
    0x400052, 0x400052, 0x400052,  // 9-11
    0x4C016F, 0x4C016F, 0x4C016F,  // 12-14
    0x590183, 0x590183, 0x590183,  // 15-17
    0x640093, 0x640093, 0x640093,  // 18-20
    0x5800B8, 0x5800B8, 0x5800B8,  // 21-23
    0x4000E8, 0x4000E8, 0x4000E8,  // 24-26
    0x2812FF, 0x2812FF, 0x2812FF,  // 27-29
    0x0C49FF, 0x0C49FF, 0x0C49FF,  // 30-32
    0x0070FF, 0x0070FF, 0x0070FF,  // 33-35
    0x0085FF, 0x0085FF, 0x0085FF,  // 36-38
    0x009EFD, 0x009EFD, 0x009EFD,  // 39-41
    0x00CCEB, 0x00CCEB, 0x00CCEB,  // 42-44
    0x00F9D2, 0x00F9D2, 0x00F9D2,  // 45-47
    0x00FF8E, 0x00FF8E, 0x00FF8E,  // 48-50
    0x00FF3E, 0x00FF3E, 0x00FF3E,  // 51-53
    0x21FF1C, 0x21FF1C, 0x21FF1C,  // 54-56
    0x50FF08, 0x50FF08, 0x50FF08,  // 57-59
    0x7DFF00, 0x7DFF00, 0x7DFF00,  // 60-62
    0xABFF00, 0xABFF00, 0xABFF00,  // 63-65
    0xD3FF00, 0xD3FF00, 0xD3FF00,  // 66-68
    0xEFFF00, 0xEFFF00, 0xEFFF00,  // 69-71
    0xFFFB00, 0xFFFB00, 0xFFFB00,  // 72-74
    0xFFE700, 0xFFE700, 0xFFE700,  // 75-77
    0xFFCE00, 0xFFCE00, 0xFFCE00,  // 78-80
    0xFFA300, 0xFFA300, 0xFFA300,  // 81-83
    0xFF7500, 0xFF7500, 0xFF7500,  // 84-86
    0xFF5300, 0xFF5300, 0xFF5300,  // 87-89
    0xFF3C00, 0xFF3C00, 0xFF3C00,  // 90-92
    0xFF2400, 0xFF2400, 0xFF2400,  // 93-95
    0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000,  // 96-99
};

SDL_Surface* MonthImage(int32_t m) {
  if (m <= 3) return st.sfwhsinf.get();
  if (m <= 7) return st.sfwhscen.get();
  return st.sfwhssup.get();
}

bool GraphColour(int32_t a, int32_t S_tot, uint32_t& colour) {
  // A year without steps records nothing; the guard only keeps a caller's
  // zero total from dividing.
  if (S_tot <= 0) return false;
  const int64_t p = 100 * static_cast<int64_t>(a) / S_tot;
  if (p > 99 || p < 0) return false;
  colour = kColourRamp[99 - p];
  return true;
}

void PutGraphPixel(int32_t x, int32_t y, uint32_t colour) {
  SDL_Surface* g = st.sftmp.get();
  if (x < g->w && y < g->h) SDLPutPixel(g, x, y, colour);
}

void RecordShadow(int32_t x, int32_t y, int32_t m, uint32_t b, int32_t S_tot) {
  assert(m >= 0 && m < 12);
  const size_t i = static_cast<size_t>(y) * static_cast<size_t>(st.proj_w) + static_cast<size_t>(x);
  SDLPutPixel(st.shoras.get(), x, y, SDLGetPixel(st.shoras.get(), x, y) | b);
  const int32_t c = ++st.pmeswhs[i];
  SDL_Surface* packed = MonthImage(m);
  SDLPutPixel(packed, x, y, ReplaceField(SDLGetPixel(packed, x, y), MonthShift(m), c));
  const int32_t a = ++st.presum[i];
  SDLPutPixel(st.sfsuma.get(), x, y, static_cast<uint32_t>(a));
  uint32_t colour;
  if (GraphColour(a, S_tot, colour)) PutGraphPixel(x, y, colour);
}

int32_t ProgressPosition(int32_t i, int32_t n, int32_t done, int32_t S_tot) {
  const int64_t whole = static_cast<int64_t>(n) * S_tot;
  if (whole <= 0) return 0;
  const int64_t pos = 100 * (static_cast<int64_t>(i) * S_tot + done) / whole;
  return static_cast<int32_t>(pos < 0 ? 0 : (pos > 100 ? 100 : pos));
}

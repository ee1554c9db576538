// Encodings shared by the two ways of recording shadows: RecordShadow per
// shaded pixel (reference engine) and the month-end packing of the
// fast engine.
#pragma once

#include <SDL.h>

#include <cstdint>

// The packed-count image of month m (0..11) and the shift of its 5-bit field.
SDL_Surface* MonthImage(int32_t m);
inline int MonthShift(int32_t m) { return 5 * (m % 4); }

// v with the 5-bit field at shift q replaced by c.
inline uint32_t ReplaceField(uint32_t v, int q, int32_t c) {
  return (v - (v & (31u << q))) | (static_cast<uint32_t>(c) << q);
}

// Graph colour of an annual count a out of S_tot steps; false when nothing
// is drawn (the pixel was shaded at every step, or no steps at all).
bool GraphColour(int32_t a, int32_t S_tot, uint32_t& colour);

// Draws colour at (x, y) of the graph buffer when the pixel lies on it.
void PutGraphPixel(int32_t x, int32_t y, uint32_t colour);

// The 600 x 600 "Graph Output" window and its watermark banner.
#pragma once

#include <cstdint>

#include "terrain/handles.h"

// The embedded 600 x 112 watermark picture, row-major: 0x00FF00FF (key
// colour) and 0x00FFFFFF (white logo) only. Drawn at compile time, so it is
// a reference to constant data rather than an array literal.
extern const uint32_t (&grfwatmark)[600 * 112];

// Starts SDL video and opens the window (st.pantalla); fatal on failure.
// Restores the default SIGINT/SIGTERM handlers that SDL replaces.
void Inicia_SDL();

// Greys the window, creates st.watermark from grfwatmark and flips.
void PrepareWatermark();

// Copies a block of 32-bit values into a surface, skipping zero values and
// targets with a negative coordinate.
void vuelcagrafico(SDL_Surface* surface, int32_t x, int32_t y, int32_t w, int32_t h, int32_t stride,
                   const uint32_t* pixels);

// Watermark over the window, then flip (once per sector).
void SectorStartFrame();
// Graph buffer, watermark, flip (after every hour step).
void HourStepFrame();

// Frees the watermark and shuts SDL down (application close).
void CloseGraph();

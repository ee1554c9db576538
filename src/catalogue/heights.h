// Height statistics per sector and the choice of the ray range.
#pragma once

#include <cstdint>
#include <string>

#include "terrain/state.h"

void SearchMaxH(HeightRecord& record, const SDL_Surface* surface, const FloatRaster* raster);
void LoadHeight(const std::string& col, int32_t row, const SDL_Surface* surface, const FloatRaster* raster);
// The sector's ray range in pixel steps, 1..120.
int32_t SelecRango();

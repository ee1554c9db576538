// Shading of one sector: the horizon ray march per hour step and the
// accumulation of its results into the sector's result buffers.
//
// The run drives a sector as:
//   ShadeBeginSector(S_tot)
//   for each month m: for each step k (hour bit b = 1 << k):
//       ShadeHour(...); HourStepFrame(); progress
//     ShadeMonthEnd(m); save package m from st.shoras; ShadeClearMonth()
//   ShadeYearEnd(); save packages 12..15 and the elevation image
//   ShadeEndSector()
#pragma once

#include <cstdint>
#include <string>

#include "engine/solar.h"

// The graph buffer's colour ramp: entry 99 - p is the colour of p percent.
extern const uint32_t kColourRamp[100];

// Prepares the sector's shading state from the loaded neighbourhood in st
// (rasters, matflgarea, result buffers and counters). S_tot is the annual
// step total (DaylightSteps).
void ShadeBeginSector(int32_t S_tot);

// Marches every pixel of the sector for one hour step of month m (hour bit
// b) with ray range R, records every shaded pixel, writes the elevation copy
// and gives the two height warnings (warnflags bits 0 and 1, once per
// sector). On return st.sftmp shows this step.
void ShadeHour(const SunPos& sun, int32_t R, const std::string& sector_id, uint8_t& warnflags,
               int32_t m, uint32_t b);

// After the last step of month m: st.shoras, st.pmeswhs and the packed
// images hold the month's values.
void ShadeMonthEnd(int32_t m);
// Clears the month: st.shoras to negro, every pmeswhs element to 0.
void ShadeClearMonth();
// After month 11: st.sfsuma, st.sfwhsinf/cen/sup and st.elev2png are final.
void ShadeYearEnd();
// Sets every presum element to 0 and drops per-sector shading state.
void ShadeEndSector();

// Reference engine, kept as the oracle: a direct transcription of the ray
// march over the nine rasters of st.
bool MarchRay(int32_t x, int32_t y, float G, const SunPos& sun, int32_t R);
// Height at ray point (X, Y), or false when the point lies in a missing
// neighbour.
bool HeightAt(int32_t X, int32_t Y, float& h);

// Records a shaded pixel directly in the result surfaces and counters
// (month m, hour bit b, annual total S_tot).
void RecordShadow(int32_t x, int32_t y, int32_t m, uint32_t b, int32_t S_tot);

// Progress position after `done` steps of sector i of n.
int32_t ProgressPosition(int32_t i, int32_t n, int32_t done, int32_t S_tot);

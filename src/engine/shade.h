// Shading of one sector: the horizon ray march per hour step and the
// accumulation of its results into the sector's result buffers.
//
// The run drives a sector as:
//   SectorShading sector(S_tot)
//   for each month m: for each step k (hour bit b = 1 << k):
//       ShadeHour(sector, ...); HourStepFrame(); progress
//     ShadeMonthEnd(sector, m); save package m from st.shoras; ShadeClearMonth(sector)
//   ShadeYearEnd(sector); save packages 12..15 and the elevation image
//   ShadeEndSector(); the sector object then goes
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "solar/solar.h"

// The graph buffer's colour ramp: entry 99 - p is the colour of p percent.
extern const uint32_t kColourRamp[100];

// The shading state of one sector, owned by whoever runs the sector. It is
// prepared from the loaded neighbourhood in st (rasters, matflgarea,
// result buffers and counters); S_tot is the annual step total
// (DaylightSteps). The engine is chosen here for the whole sector: the
// reference when st.reference_engine is set, else the fast engine, whose
// masks are identical. The fast engine keeps the month's hour masks in
// this object and writes them, the packed counts and the annual counts
// into the images at the month's end; st.presum, st.pmeswhs and st.sftmp
// are up to date after every step with either.
class SectorShading {
 public:
  explicit SectorShading(int32_t S_tot);
  ~SectorShading();
  SectorShading(const SectorShading&) = delete;
  SectorShading& operator=(const SectorShading&) = delete;

  struct State;  // the engine's own: padded mosaic, masks, colours
  State& state() { return *state_; }

 private:
  std::unique_ptr<State> state_;
};

// Marches every pixel of the sector for one hour step of month m (hour bit
// b) with ray range R, records every shaded pixel, writes the elevation copy
// and gives the two height warnings (warnflags bits 0 and 1, once per
// sector). On return st.sftmp shows this step.
void ShadeHour(SectorShading& sector, const SunPos& sun, int32_t R, const std::string& sector_id,
               uint8_t& warnflags, int32_t m, uint32_t b);

// After the last step of month m: st.shoras, st.pmeswhs and the packed
// images hold the month's values.
void ShadeMonthEnd(SectorShading& sector, int32_t m);
// Clears the month: st.shoras to negro, every pmeswhs element to 0.
void ShadeClearMonth(SectorShading& sector);
// After month 11: st.sfsuma, st.sfwhsinf/cen/sup and st.elev2png are final.
void ShadeYearEnd(SectorShading& sector);
// Sets every presum element to 0, ready for the next sector.
void ShadeEndSector();

// Reference engine, kept as the oracle: a direct transcription of the ray
// march over the nine rasters of st. A range beyond the raster size is cut
// to it, so every read stays inside the neighbour rasters.
bool MarchRay(int32_t x, int32_t y, float G, const SunPos& sun, int32_t R);
// Height at ray point (X, Y), or false when the point lies in a missing
// neighbour (flag 0, or flagged but not loaded). -W <= X < 2W, -H <= Y < 2H.
bool HeightAt(int32_t X, int32_t Y, float& h);

// Records a shaded pixel directly in the result surfaces and counters
// (month m, hour bit b, annual total S_tot); the graph pixel is drawn only
// where the sector lies on the kGraphSide square graph buffer.
void RecordShadow(int32_t x, int32_t y, int32_t m, uint32_t b, int32_t S_tot);

// Progress position after `done` steps of sector i of n:
// floor(100 (i S_tot + done) / (n S_tot)), within 0..100; 0 without steps.
int32_t ProgressPosition(int32_t i, int32_t n, int32_t done, int32_t S_tot);

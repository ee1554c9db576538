// The process-wide project state: one record that every subsystem reads and
// writes under the field names below. Only one project and at most one run
// exist at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "terrain/handles.h"

// Sizes that recur across the program, one meaning each.
inline constexpr int32_t kGraphSide = 600;       // the graph window and its buffer are square
inline constexpr int32_t kWatermarkH = 112;      // the watermark strip across the graph's top
inline constexpr int32_t kMinSectorSide = 120;   // a sector raster's side, in pixels ...
inline constexpr int32_t kMaxSectorSide = 600;   // ... is within these bounds
inline constexpr int32_t kMaxRayRange = 120;     // the longest ray, in pixel steps
inline constexpr uint32_t kMaxImageSide = 65535; // the largest side a raster header may claim

// Height statistics of one sector list entry.
struct HeightRecord {
  int32_t hmax = 0;  // 0: not computed yet; a computed 0 is stored as 1
  int32_t x = 0;
  int32_t y = 0;
  int32_t mean = 0;
};

struct ProjectState {
  // Project.
  std::string szDirPath;
  std::string szDirName;
  const std::array<std::string, 2> list_ext{".png", ".tif"};
  uint8_t cu_ext = 0;  // 0 PNG rasters, 1 float TIFF rasters
  std::string admext = ".png";
  uint8_t flagname = 0;
  int32_t proj_w = 0;
  int32_t proj_h = 0;
  double xypx[2] = {1.0, 0.0};
  double geoxi = 0.0;
  double geoyi = 0.0;
  uint8_t val_long = 2;  // 1 valid, 0 invalid, 2 never entered
  uint8_t val_lat = 2;
  std::string sesion;
  std::vector<HeightRecord> prmaxheight = std::vector<HeightRecord>(1);

  // Run flags. `working` is read by the interface thread while the worker
  // runs; `stoprequest` is the cooperative stop the worker checks.
  std::atomic<uint8_t> working{0};
  std::atomic<bool> stoprequest{false};
  uint8_t finderror = 0;
  uint8_t glbwarning = 0;

  // Engine choice for the run: 0 = all cores.
  int shade_threads = 0;
  bool reference_engine = false;
  // Completes a session: sectors whose outputs are already whole are
  // skipped, leftover temporary files removed first.
  bool resume = false;

  // Sector neighbourhood (owned by the worker during a run).
  std::string areacol1, areacol2, areacol3;  // empty: no such column
  int32_t areafil[3] = {0, 0, 0};             // 0: no such row
  uint8_t matflgarea[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  SurfacePtr sfdata, sent1, sent2, sent3, sent4, sent5, sent6, sent7, sent8;
  FloatRasterPtr sfdata_tif, sent1_tif, sent2_tif, sent3_tif, sent4_tif, sent5_tif, sent6_tif,
      sent7_tif, sent8_tif;

  // Result buffers of the sector being processed.
  SurfacePtr shoras, sfsuma, sfwhsinf, sfwhscen, sfwhssup, elev2png, sftmp;
  std::vector<int32_t> presum, pmeswhs;  // empty: absent

  // Graph window.
  SDL_Surface* pantalla = nullptr;  // owned by SDL, released by SDL_Quit
  SurfacePtr watermark;
  const uint32_t* pwtmk = nullptr;
  uint32_t negro = 0;

  // Surface and float raster of neighbourhood cell `flag` (0..8, 4 = the
  // sector itself), in the flag order of matflgarea.
  SurfacePtr& AreaSurface(int flag);
  FloatRasterPtr& AreaRaster(int flag);
};

extern ProjectState st;

// Appends one line to the console list (control 502), from either thread.
void toconsole(const std::string& text);

// Resets every field to its initial value (tests; releases what is held).
void ResetProjectState();

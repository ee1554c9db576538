#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "terrain/graph.h"
#include "terrain/raster.h"
#include "terrain/state.h"

namespace {

// The banner is drawn at compile time from a few shapes and a 5 x 7 bitmap
// font: a sun over two peaks on the left, "veltano" in large letters and
// "data builder" beneath it. Only the two values below ever occur.
constexpr uint32_t kKey = 0x00FF00FF;    // transparent (colour key 255, 0, 255)
constexpr uint32_t kWhite = 0x00FFFFFF;  // logo
constexpr int kW = 600;
constexpr int kH = 112;

struct Glyph {
  char c;
  const char* rows[7];  // '#' = ink, five columns per row
};

constexpr Glyph kFont[] = {
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
    {'b', {"#....", "#....", "#.##.", "##..#", "#...#", "#...#", "####."}},
    {'d', {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
    {'i', {"..#..", ".....", ".##..", "..#..", "..#..", "..#..", ".###."}},
    {'l', {".##..", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
    {'t', {".#...", ".#...", "###..", ".#...", ".#...", ".#..#", "..##."}},
    {'u', {".....", ".....", "#...#", "#...#", "#...#", "#..##", ".##.#"}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
};

constexpr bool GlyphInk(char c, int col, int row) {
  for (const Glyph& g : kFont)
    if (g.c == c) return g.rows[row][col] == '#';
  return false;  // blank, and any character the font lacks
}

// A line of text whose top-left corner is (x0, y0); each font cell becomes a
// scale x scale block, with one blank cell between characters.
struct TextLine {
  const char* text;
  int x0, y0, scale;

  constexpr int Length() const {
    int n = 0;
    while (text[n] != '\0') ++n;
    return n;
  }
  constexpr int Width() const { return (Length() * 6 - 1) * scale; }
  constexpr bool Ink(int x, int y) const {
    if (x < x0 || y < y0) return false;
    const int cx = (x - x0) / scale, cy = (y - y0) / scale;
    const int index = cx / 6, col = cx % 6;
    if (cy >= 7 || index >= Length() || col == 5) return false;
    return GlyphInk(text[index], col, cy);
  }
};

// Sun: a disc with eight short rays, above and right of the peaks.
constexpr int kSunX = 136, kSunY = 28, kSunR = 12;
constexpr bool SunInk(int x, int y) {
  const int dx = x - kSunX, dy = y - kSunY;
  const int d2 = dx * dx + dy * dy;
  if (d2 <= kSunR * kSunR) return true;
  if (d2 < 17 * 17 || d2 > 24 * 24) return false;
  // Rays along the eight compass directions: distance from the ray's axis
  // (cross product with a unit vector scaled by 1000) at most 1.6 pixels.
  constexpr int dirs[8][2] = {{1000, 0}, {707, 707}, {0, 1000}, {-707, 707},
                              {-1000, 0}, {-707, -707}, {0, -1000}, {707, -707}};
  for (const auto& d : dirs) {
    const int along = dx * d[0] + dy * d[1];
    const int across = dx * d[1] - dy * d[0];
    if (along > 0 && across <= 1600 && across >= -1600) return true;
  }
  return false;
}

// A filled peak with apex (px, py) and base on row kBase, slopes falling one
// row per `run` tenths of a column on either side.
constexpr int kBase = 100;
constexpr bool PeakInk(int x, int y, int px, int py, int run) {
  if (y < py || y > kBase) return false;
  const int half = (y - py) * run / 10;
  return x >= px - half && x <= px + half;
}

constexpr bool MountainInk(int x, int y) {
  // The big peak keeps a snow line: a gap three rows high, left open by
  // alternating teeth so that it reads as a cap rather than a cut.
  const bool big = PeakInk(x, y, 80, 40, 12);
  const bool snow_gap = y >= 56 && y <= 58 && ((x / 6) % 2 == 0 || y == 57);
  const bool small = PeakInk(x, y, 124, 60, 13);
  // A thin gap separates the small peak's left slope from the big one.
  const bool rim = PeakInk(x, y, 124, 57, 13) && !small && y > 60;
  if (small) return true;
  if (rim) return false;
  return big && !snow_gap;
}

constexpr bool GroundInk(int x, int y) { return y >= 103 && y <= 105 && x >= 24 && x <= 176; }

constexpr TextLine kName{"veltano", 200, 14, 8};
constexpr TextLine kSubtitle{"data builder", 202, 84, 3};
static_assert(kName.x0 + kName.Width() <= kW && kSubtitle.x0 + kSubtitle.Width() <= kW);

struct Picture {
  uint32_t px[kW * kH];
};

constexpr Picture Draw() {
  Picture p{};
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const bool ink = SunInk(x, y) || MountainInk(x, y) || GroundInk(x, y) || kName.Ink(x, y) ||
                       kSubtitle.Ink(x, y);
      p.px[y * kW + x] = ink ? kWhite : kKey;
    }
  return p;
}

constexpr Picture kPicture = Draw();

}  // namespace

const uint32_t (&grfwatmark)[600 * 112] = kPicture.px;

void PrepareWatermark() {
  SDL_FillRect(st.pantalla, nullptr, SDL_MapRGB(st.pantalla->format, 240, 240, 240));
  st.pwtmk = grfwatmark;
  st.watermark.reset(SDL_CreateRGBSurface(SDL_HWSURFACE, 600, 112, 24, 0, 0, 0, 0));
  if (!st.watermark)
    FatalBox(std::string("Fatal error creating watermark") + kFatalTail + kSupportAddress, "Error", false, -1);
  std::printf("Creada watermark\n");
  SDL_SetColorKey(st.watermark.get(), SDL_SRCCOLORKEY | SDL_RLEACCEL, SDL_MapRGB(st.watermark->format, 255, 0, 255));
  vuelcagrafico(st.watermark.get(), 0, 0, 600, 112, 600, st.pwtmk);
  SDL_Flip(st.pantalla);
}

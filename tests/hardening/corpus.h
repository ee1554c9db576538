// Builders for the bad-input corpus: PNG and TIFF files of every layout,
// cut or relaid copies of them, and a count of the bad inputs tried.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace corpus {

// Counts bad inputs tried; the total is printed when the program ends.
void Tried(int n = 1);
int TriedSoFar();

// A PNG of any colour type and bit depth. `sample(x, y, c)` is channel c
// of pixel (x, y) at the file's depth (a palette index for palette files).
struct PngSpec {
  int colour_type = 2;  // PNG_COLOR_TYPE_*
  int bit_depth = 8;
  bool interlace = false;
  std::vector<uint32_t> palette;  // 0x00RRGGBB entries (palette files)
  std::vector<uint8_t> trns;      // tRNS alpha per palette entry
};
int Channels(int colour_type);
void WritePng(const fs::path& path, int w, int h, const PngSpec& spec,
              const std::function<uint32_t(int, int, int)>& sample);

// A TIFF of any sample layout, written by libtiff; each of `spp` samples of
// pixel (x, y) gets sample(x, y) stored as the file's sample type.
struct TiffSpec {
  uint16_t bits = 32;
  uint16_t format = 3;  // SAMPLEFORMAT_IEEEFP
  uint16_t spp = 1;
  uint16_t photometric = 1;  // PHOTOMETRIC_MINISBLACK
  uint16_t compression = 1;  // COMPRESSION_NONE
  uint16_t predictor = 0;    // 0: tag not written
  uint32_t tile = 0;         // 0: strips of 8 rows
  bool big_endian = false;
};
void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffSpec& spec,
               const std::function<double(uint32_t, uint32_t)>& sample);

// The same single-image TIFF with its directory moved in front of the pixel
// data, as many writers lay it out: cutting such a file short removes pixel
// data while its tags stay readable. Works for either byte order.
std::vector<uint8_t> DirectoryFirst(const std::vector<uint8_t>& tiff);
// Offset of the first pixel byte of a DirectoryFirst file.
size_t FirstDataByte(const std::vector<uint8_t>& tiff);

// The first n bytes.
std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n);
// 24 bytes: PNG signature and an IHDR chunk claiming w x h, 8-bit RGB.
std::vector<uint8_t> PngHeader(uint32_t w, uint32_t h);
// A whole small PNG claiming w x h whose only IDAT holds a short zlib
// stream: decoders allocate the claimed size before they find the rows
// missing.
std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h);

// The exit code of a fatal path taken by `f`, or nullopt-like kNoExit when
// it returned normally.
inline constexpr int kNoExit = 1000;
int ExitCodeOf(const std::function<void()>& f);

// Names of the entries of a folder with their sizes, to check a step wrote
// nothing.
std::vector<std::string> Snapshot(const fs::path& dir);

// Runs `f` in a child process and waits up to `seconds` for it. True when
// the child ended normally by then (it is killed otherwise), so that a
// hang shows up as a failure instead of stopping the tests.
bool EndsWithin(int seconds, const std::function<void()>& f);

// Open file descriptors of this process.
size_t OpenFiles();

}  // namespace corpus

// Builders for the bad-input corpus, and a count of the bad inputs tried.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace corpus {

// Counts bad inputs tried; the total is printed when the program ends.
void Tried(int n = 1);

// A PNG of any colour type and bit depth. `sample(x, y, c)` is channel c
// of pixel (x, y) at the file's depth (a palette index for palette files).
struct PngLayout {
  int colour_type = 2;  // PNG_COLOR_TYPE_*
  int bit_depth = 8;
  bool interlace = false;
  std::vector<uint32_t> palette{};  // 0x00RRGGBB entries (palette files)
  std::vector<uint8_t> trns{};      // tRNS alpha per palette entry
};
void WritePng(const fs::path& path, int w, int h, const PngLayout& layout,
              const std::function<uint32_t(int, int, int)>& sample);

// A TIFF of any sample layout, written by libtiff; each of `spp` samples of
// pixel (x, y) is sample(x, y) stored as the file's sample type. Sizes that
// are not whole bytes are written as zeros: no loader accepts them anyway.
struct TiffLayout {
  uint16_t bits = 32;
  uint16_t format = 3;  // SAMPLEFORMAT_IEEEFP
  uint16_t spp = 1;
  uint16_t photometric = 1;  // PHOTOMETRIC_MINISBLACK
  uint16_t compression = 1;  // COMPRESSION_NONE
  uint16_t predictor = 0;    // 0: tag not written
  uint32_t tile = 0;         // 0: strips of 8 rows
  bool big_endian = false;
};
void WriteTiff(const fs::path& path, uint32_t w, uint32_t h, const TiffLayout& layout,
               const std::function<double(uint32_t, uint32_t)>& sample);

// A TIFF as libtiff writes it (pixel data, then the directory) relaid with
// the directory in front, as many writers lay it out: cutting it short
// removes pixel data while the tags stay readable. `data_start` gets the
// offset of the first pixel byte.
std::vector<uint8_t> DirectoryFirst(const std::vector<uint8_t>& tiff, size_t& data_start);

// The first n bytes.
std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t n);
// A small 8-bit RGB PNG claiming w x h whose only IDAT holds a short zlib
// stream: decoders allocate the claimed size before they find the rows
// missing. Its first 24 bytes are the signature and the size alone.
std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h);

// The exit code of a fatal path taken by `f`, or kNoExit.
inline constexpr int kNoExit = 1000;
int ExitCodeOf(const std::function<void()>& f);

// Runs `f` in a child process; true when it ended normally within
// `seconds` (it is killed otherwise), so that a hang fails a test instead
// of stopping the run.
bool EndsWithin(int seconds, const std::function<void()>& f);

// Open file descriptors of this process.
size_t OpenFiles();

}  // namespace corpus

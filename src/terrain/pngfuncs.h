// Result images and package files. A package is a PNG whose first five
// bytes are overwritten with the package stamp; restoring the signature
// gives the PNG back exactly.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "terrain/handles.h"

// The five bytes a package has in place of the PNG signature's first five.
inline constexpr char kPackageStamp[] = "TSVLP";
inline constexpr size_t kPackageStampSize = sizeof kPackageStamp - 1;

// Writes `surface` as an 8-bit RGB(A) PNG at `path`. The image is encoded in
// memory and replaces `path` through WriteFileAtomic, so a failed write
// never leaves a truncated file under the final name and keeps any previous
// file of that name. Rows are read in place through the surface's pitch as
// blue-green-red(-alpha) bytes; a surface laid out otherwise, or none, is
// refused. Returns 0, or -1 on any failure (reasons go to standard error:
// "fopen error: ...", "libpng: error: ...").
int png_save_surface(const std::string& path, SDL_Surface* surface);

// Writes package number n like png_save_surface, stamped. On failure
// appends "ERROR saving package n" to the console and sets finderror;
// returns whether the package was written.
bool save_package(const std::string& path, SDL_Surface* surface, int n);

// The console line and error flag of package n that could not be written.
void ReportPackageFailure(int n);

// Overwrites an encoded PNG's first bytes with the package stamp.
void StampPackage(std::vector<uint8_t>& png);

// Encodes 8-bit blue-green-red rows `pitch` bytes apart, with an alpha byte
// per pixel when `colour_type` is PNG_COLOR_TYPE_RGB_ALPHA, as a PNG with
// libpng's default settings: the bytes png_save_surface writes for such a
// surface. Returns false, with `out` unspecified, when libpng fails.
bool EncodePngRgb(const uint8_t* pixels, int w, int h, int pitch, std::vector<uint8_t>& out,
                  int colour_type = PNG_COLOR_TYPE_RGB);

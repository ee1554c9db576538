// What the program promises for any outside input, as functions: the
// libFuzzer targets call them on generated inputs and the test suite
// replays every committed corpus file through them. Each returns "" when
// the input kept the promises, else the check that failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The TIFF loader and the layout check the scan uses.
std::string TiffLoaderProperty(const uint8_t* data, size_t size);
// The PNG path of the scan: header read, then decoder and conversion to the
// display format (the display must be set up: Inicia_SDL).
std::string PngLoaderProperty(const uint8_t* data, size_t size);
// The coordinates file, read directly and through a scan of its project.
std::string CoordsFileProperty(const uint8_t* data, size_t size);
// The coordinate entry: the first byte picks the field, the rest is typed.
std::string ChecklonlatProperty(const uint8_t* data, size_t size);

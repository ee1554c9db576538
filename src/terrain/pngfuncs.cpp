#include "terrain/pngfuncs.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "terrain/file.h"
#include "terrain/state.h"

namespace {

// libpng's warning and error callbacks: the reasons go to standard error.
void png_user_warn(png_structp, png_const_charp message) { std::fprintf(stderr, "libpng: warning: %s\n", message); }

// Returns to libpng, whose default handling then jumps to the recovery point
// set by the write in progress.
void png_user_error(png_structp, png_const_charp message) { std::fprintf(stderr, "libpng: error: %s\n", message); }

// PNG colour type for a surface: 3 palette, 6 RGB with alpha, 2 RGB.
int png_colortype_from_surface(const SDL_Surface* surface) {
  const SDL_PixelFormat* f = surface->format;
  if (f->palette) return PNG_COLOR_TYPE_PALETTE;
  if (f->Amask) return PNG_COLOR_TYPE_RGB_ALPHA;
  return PNG_COLOR_TYPE_RGB;
}

// The rows go to libpng as they lie in memory, in blue-green-red(-alpha)
// order. A surface whose bytes are laid out otherwise would be written as a
// wrong picture without any error, so it is refused instead. Palette
// surfaces are left to libpng, which refuses them itself.
bool RowsMatchColourType(const SDL_Surface* s, int colour_type) {
  const SDL_PixelFormat* f = s->format;
  if (colour_type == PNG_COLOR_TYPE_PALETTE) return true;
  const bool rgb = f->Rmask == 0x00FF0000 && f->Gmask == 0x0000FF00 && f->Bmask == 0x000000FF;
  if (colour_type == PNG_COLOR_TYPE_RGB_ALPHA) return rgb && f->BytesPerPixel == 4 && f->Amask == 0xFF000000u;
  return rgb && f->BytesPerPixel == 3;
}

struct Sink {
  std::vector<uint8_t>* out;
  bool failed;
};

void SinkWrite(png_structp png, png_bytep data, png_size_t length) {
  Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
  std::vector<uint8_t>& v = *sink->out;
  // Room is reserved up front for any image; growing past it may fail,
  // and must not throw through libpng.
  if (v.capacity() - v.size() < length) {
    try {
      v.reserve(v.size() + length + v.size() / 2);
    } catch (...) {
      sink->failed = true;
    }
    if (sink->failed) png_error(png, "out of memory");
  }
  v.insert(v.end(), data, data + length);
}

void SinkFlush(png_structp) {}

// Everything between the recovery point and the library calls is plain C
// data, so that the jump back from a library error skips no destructor.
bool Encode(const uint8_t* pixels, int w, int h, int pitch, int colour_type, Sink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_user_error, png_user_warn);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  // One address per row, straight into the caller's pixels.
  png_bytep* rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * static_cast<size_t>(h > 0 ? h : 1)));
  if (!rows) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  for (int i = 0; i < h; ++i) rows[i] = const_cast<png_bytep>(pixels) + static_cast<size_t>(i) * pitch;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::free(rows);
    return false;
  }
  png_set_write_fn(png, sink, SinkWrite, SinkFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, colour_type,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_bgr(png);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::free(rows);
  return true;
}

// The surface as a PNG in memory; false (reason on standard error) when it
// cannot be read as one.
bool EncodeSurface(SDL_Surface* surface, std::vector<uint8_t>& out) {
  if (!surface) {
    std::fprintf(stderr, "png_save_surface: no surface\n");
    return false;
  }
  const int colour_type = png_colortype_from_surface(surface);
  if (!RowsMatchColourType(surface, colour_type)) {
    std::fprintf(stderr, "png_save_surface: unsupported surface layout (%d bytes per pixel)\n",
                 surface->format->BytesPerPixel);
    return false;
  }
  return EncodePngRgb(static_cast<const uint8_t*>(surface->pixels), surface->w, surface->h, surface->pitch, out,
                      colour_type);
}

}  // namespace

bool EncodePngRgb(const uint8_t* pixels, int w, int h, int pitch, std::vector<uint8_t>& out, int colour_type) {
  out.clear();
  const size_t channels = colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
  try {
    out.reserve(static_cast<size_t>(h) * (static_cast<size_t>(w) * channels + 1) * 101 / 100 + 4096);
  } catch (...) {
    return false;
  }
  Sink sink{&out, false};
  return Encode(pixels, w, h, pitch, colour_type, &sink);
}

int png_save_surface(const std::string& path, SDL_Surface* surface) {
  std::vector<uint8_t> png;
  if (!EncodeSurface(surface, png)) return -1;
  return WriteFileAtomic(path, png.data(), png.size()) ? 0 : -1;
}

void StampPackage(std::vector<uint8_t>& png) {
  if (png.size() >= kPackageStampSize) std::memcpy(png.data(), kPackageStamp, kPackageStampSize);
}

void ReportPackageFailure(int n) {
  char cmen[64];
  std::snprintf(cmen, sizeof cmen, "ERROR saving package %d", n);
  toconsole(cmen);
  st.finderror = 1;
}

bool save_package(const std::string& path, SDL_Surface* surface, int n) {
  std::vector<uint8_t> png;
  bool ok = EncodeSurface(surface, png);
  if (ok) {
    StampPackage(png);
    ok = WriteFileAtomic(path, png.data(), png.size());
  }
  if (!ok) ReportPackageFailure(n);
  return ok;
}

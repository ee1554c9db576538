#include "terrain/pngfuncs.h"

#include <png.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "terrain/state.h"

void png_user_warn(png_structp, png_const_charp message) { std::fprintf(stderr, "libpng: warning: %s\n", message); }

// Returns to libpng, whose default handling then jumps to the recovery point
// set by the write in progress.
void png_user_error(png_structp, png_const_charp message) { std::fprintf(stderr, "libpng: error: %s\n", message); }

int png_colortype_from_surface(const SDL_Surface* surface) {
  const SDL_PixelFormat* f = surface->format;
  if (f->palette) return PNG_COLOR_TYPE_PALETTE;
  if (f->Amask) return PNG_COLOR_TYPE_RGB_ALPHA;
  return PNG_COLOR_TYPE_RGB;
}

namespace {

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

// Encodes the surface into the open file. Everything between the recovery
// point and the library calls is plain C data, so that the jump back from a
// library error skips no destructor; all of it belongs to this call alone.
int WritePngStream(std::FILE* fp, SDL_Surface* surface) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_user_error, png_user_warn);
  if (!png) {
    std::printf("png_create_write_struct error!\n");
    return -1;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::printf("png_create_info_struct error!\n");
    return -1;
  }
  // One address per row, straight into the surface's pixels (rows are
  // `pitch` bytes apart: 24-bit rows are padded to a multiple of 4).
  const int height = surface->h;
  png_bytep* rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (height > 0 ? height : 1)));
  if (!rows) {
    png_destroy_write_struct(&png, &info);
    return -1;
  }
  for (int i = 0; i < height; ++i)
    rows[i] = static_cast<png_bytep>(surface->pixels) + static_cast<size_t>(i) * surface->pitch;

  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::free(rows);
    return -1;
  }
  png_init_io(png, fp);
  png_set_IHDR(png, info, static_cast<png_uint_32>(surface->w), static_cast<png_uint_32>(height), 8,
               png_colortype_from_surface(surface), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_bgr(png);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);

  png_destroy_write_struct(&png, &info);
  std::free(rows);
  return 0;
}

// A name in the target's folder that no other write uses, hidden so that a
// directory scan never mistakes a half-written file for a raster.
std::string TempPathFor(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Writes the complete PNG into a fresh temporary file next to `path` and
// returns its name, or "" (and nothing left on disk) on any failure.
std::string WritePngTemp(const std::string& path, SDL_Surface* surface) {
  if (!RowsMatchColourType(surface, png_colortype_from_surface(surface))) {
    std::fprintf(stderr, "png_save_surface: unsupported surface layout (%d bytes per pixel)\n",
                 surface->format->BytesPerPixel);
    return "";
  }
  const std::string tmp = TempPathFor(path);
  std::FILE* fp = std::fopen(tmp.c_str(), "wb");
  if (!fp) {
    std::perror("fopen error");
    return "";
  }
  const int written = WritePngStream(fp, surface);
  // Buffered data reaches the disk at close: a full disk may show only here.
  const bool closed = std::fclose(fp) == 0;
  if (written < 0 || !closed) {
    if (written == 0) std::perror("fclose error");
    std::remove(tmp.c_str());
    return "";
  }
  return tmp;
}

// Puts the finished temporary file under its final name, replacing any
// previous file whole; on failure the temporary file is removed and the
// previous file stays as it was.
bool CommitTemp(const std::string& tmp, const std::string& path) {
  if (std::rename(tmp.c_str(), path.c_str()) == 0) return true;
  std::perror("rename error");
  std::remove(tmp.c_str());
  return false;
}

// Overwrites the PNG signature's first five bytes with the package mark.
bool StampPackage(const std::string& tmp) {
  std::FILE* f = std::fopen(tmp.c_str(), "rb+");
  if (!f) return false;
  const bool written = std::fwrite("TSVLP", 1, 5, f) == 5;
  const bool closed = std::fclose(f) == 0;
  return written && closed;
}

}  // namespace

int png_save_surface(const std::string& path, SDL_Surface* surface) {
  const std::string tmp = WritePngTemp(path, surface);
  if (tmp.empty()) return -1;
  return CommitTemp(tmp, path) ? 0 : -1;
}

bool save_package(const std::string& path, SDL_Surface* surface, int n) {
  const std::string tmp = WritePngTemp(path, surface);
  bool ok = !tmp.empty();
  if (ok && !StampPackage(tmp)) {
    std::remove(tmp.c_str());
    ok = false;
  }
  if (ok) ok = CommitTemp(tmp, path);
  if (!ok) {
    char cmen[64];
    std::snprintf(cmen, sizeof cmen, "ERROR saving package %d", n);
    toconsole(cmen);
    st.finderror = 1;
  }
  return ok;
}

namespace {

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

// Only plain C data between the recovery point and the library calls, as
// in png_save_surface, so the jump back from an error skips no destructor.
bool Encode(const uint8_t* pixels, int w, int h, int pitch, Sink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_user_error, png_user_warn);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_bgr(png);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::free(rows);
  return true;
}

}  // namespace

bool EncodePngRgb(const uint8_t* pixels, int w, int h, int pitch, std::vector<uint8_t>& out) {
  out.clear();
  try {
    out.reserve(static_cast<size_t>(h) * (static_cast<size_t>(w) * 3 + 1) * 101 / 100 + 4096);
  } catch (...) {
    return false;
  }
  Sink sink{&out, false};
  return Encode(pixels, w, h, pitch, &sink);
}

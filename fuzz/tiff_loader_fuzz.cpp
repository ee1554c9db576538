// The TIFF raster loader and the layout check the scan uses, on any bytes.
#include <tiffio.h>

#include "fuzz/fuzz_support.h"
#include "terrain/raster.h"
#include "terrain/tiff.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libtiff's default handlers print every complaint about a malformed file;
  // the loaders' results are what is checked here.
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("raster.tif");
  fuzz::WriteAll(path, data, size);
  fuzz::Session session;

  uint32_t w = 0, h = 0;
  bool opened = false;
  const std::string reason = CheckTiffLayout(path, w, h, opened);
  VDB_FUZZ_CHECK(opened || reason == "cannot be opened");

  FloatRasterPtr r = Carga_Imagen_tif(path);
  if (!r) return 0;
  // What loads is what the check accepts, at the size it reports.
  VDB_FUZZ_CHECK(reason.empty());
  VDB_FUZZ_CHECK(r->width == w && r->height == h);
  VDB_FUZZ_CHECK(r->samples.size() == size_t{w} * h);
  float sum = 0;
  for (uint32_t y = 0; y < h; y += (h + 7) / 8)
    for (uint32_t x = 0; x < w; x += (w + 7) / 8)
      sum += TIFGetPixel(r.get(), static_cast<int32_t>(x), static_cast<int32_t>(y));
  sum += TIFGetPixel(r.get(), static_cast<int32_t>(w - 1), static_cast<int32_t>(h - 1));
  volatile float sink = sum;
  (void)sink;
  return 0;
}

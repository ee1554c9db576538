#include "catalogue/surroundings.h"

#include <unistd.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

#include "catalogue/heights.h"
#include "catalogue/neighbours.h"
#include "platform/platform.h"
#include "terrain/png_raster.h"
#include "terrain/raster.h"
#include "terrain/tiff.h"
#include "terrain/state.h"

namespace {

[[noreturn]] void LoaderFatal(const std::string& what) {
  FatalBox(what + kFatalTail + kSupportAddress, "Error", true, -1);
}

// A raster read for the run must have the size the scan admitted; one that
// changed on disk since is treated as unreadable rather than read past its
// end.
bool HasProjectSize(const SDL_Surface* s) { return s && s->w == st.proj_w && s->h == st.proj_h; }

bool HasProjectSize(const FloatRaster* r) {
  return r && static_cast<int64_t>(r->width) == st.proj_w && static_cast<int64_t>(r->height) == st.proj_h &&
         r->samples.size() == static_cast<size_t>(r->width) * r->height;
}

// Loads cell `cell` of the neighbourhood from `path` with the loader of the
// current raster type. The handle is stored only once the raster is known
// good, so it is never half set. False when no usable raster came back.
bool LoadCell(int cell, const std::string& path) {
  if (st.cu_ext == 0) {
    SurfacePtr s = Carga_Imagen(path);
    if (!HasProjectSize(s.get())) return false;
    st.AreaSurface(cell) = std::move(s);
  } else {
    FloatRasterPtr r = Carga_Imagen_tif(path);
    if (!HasProjectSize(r.get())) return false;
    st.AreaRaster(cell) = std::move(r);
  }
  return true;
}

struct ResultBuffer {
  SurfacePtr ProjectState::*field;
  bool graph_size;  // 600 x 600 instead of the project size
  const char* created;
  const char* failure;
};

// Creation order of the result buffers, with their diagnostics.
const ResultBuffer kResultBuffers[] = {
    {&ProjectState::shoras, false, "Creada shoras\n", "Fatal error creating buffer"},
    {&ProjectState::sfsuma, false, "Creada sfsuma\n", "Fatal error creating buffer of results"},
    {&ProjectState::sfwhssup, false, "Creada sfwhssup\n", "Fatal error creating buffer of results whssup"},
    {&ProjectState::sfwhscen, false, "Creada sfwhscen\n", "Fatal error creating buffer of results whscen"},
    {&ProjectState::sfwhsinf, false, "Creada sfwhsinf\n", "Fatal error creating buffer of results whsinf"},
    {&ProjectState::sftmp, true, "Creada sftmp\n", "Fatal error creating buffer for graph output"},
    {&ProjectState::elev2png, false, "Creada elev2png\n", "Fatal error creating buffer for elev data"},
};

void AllocateCounters() {
  const size_t n = static_cast<size_t>(st.proj_w) * static_cast<size_t>(st.proj_h);
  try {
    std::vector<int32_t> annual(n, 0);
    std::vector<int32_t> month(n, 0);
    st.presum = std::move(annual);
    st.pmeswhs = std::move(month);
  } catch (const std::bad_alloc&) {
    LoaderFatal("Fatal error creating counters");
  } catch (const std::length_error&) {
    LoaderFatal("Fatal error creating counters");
  }
}

}  // namespace

void CleanSurfaces() {
  // Every handle that holds something is released, whatever the flags say:
  // a cancel may stop a load between storing a raster and flagging it.
  st.shoras.reset();
  st.sfsuma.reset();
  st.sftmp.reset();
  st.sfwhssup.reset();
  st.sfwhscen.reset();
  st.sfwhsinf.reset();
  st.elev2png.reset();
  st.sfdata.reset();
  st.sfdata_tif.reset();
  for (int cell : kNeighbourCells) {
    st.AreaSurface(cell).reset();
    st.AreaRaster(cell).reset();
  }
}

void ReleaseCounters() {
  std::vector<int32_t>().swap(st.presum);
  std::vector<int32_t>().swap(st.pmeswhs);
}

void Inicia_BuildEntorno(const std::string& path) {
  CleanSurfaces();
  ReleaseCounters();
  for (uint8_t& f : st.matflgarea) f = 0;

  std::printf("BUILDENTORNO cargando %s\n", path.c_str());

  // The centre.
  if (!LoadCell(kCentreCell, path)) LoaderFatal("Fatal error loading data");
  if (st.cu_ext == 1) {
    std::printf("elev1 : %f\n", static_cast<double>(TIFGetPixel(st.sfdata_tif.get(), 0, 0)));
    std::printf("Tiff cargado OK\n");
  }
  st.matflgarea[kCentreCell] = 1;
  LoadHeight(CellColumnCode(kCentreCell), CellRowNumber(kCentreCell), st.sfdata.get(), st.sfdata_tif.get());

  // Result buffers, then the counters, all zeroed.
  for (const ResultBuffer& b : kResultBuffers) {
    SurfacePtr s = b.graph_size ? CreateResultSurface(600, 600) : CreateResultSurface(st.proj_w, st.proj_h);
    if (!s) LoaderFatal(b.failure);
    st.*b.field = std::move(s);
    std::printf("%s", b.created);
  }
  AllocateCounters();

  // The eight neighbours, in the order sent1..sent8.
  for (int cell : kNeighbourCells) {
    const std::string& c = CellColumnCode(cell);
    const int32_t r = CellRowNumber(cell);
    if (c.empty() || r == 0) continue;

    const std::string name = NeighbourName(c, r, st.admext);
    const std::string full = st.szDirPath + "/" + name;
    std::printf("Buscando(%s): %s\n", name.c_str(), full.c_str());
    const int idx = platform().ListFindExact(name);
    std::printf("AREASEC_FLAG(%s): %d\n", name.c_str(), idx);
    if (access(full.c_str(), F_OK) != 0 || idx == -1) continue;

    if (LoadCell(cell, full)) {
      st.matflgarea[cell] = 1;
    } else {
      platform().MessageBox("Warning! error loading additional data\n Results could be corrupt or not enough accurate",
                            "Warning!", BoxIcon::Warning, BoxButtons::Ok, true);
    }
    if (st.matflgarea[cell] == 1)
      LoadHeight(c, r, st.AreaSurface(cell).get(), st.AreaRaster(cell).get());
    if (cell == 5) std::printf("NOOOR!!!\n");
  }
  std::printf("EXIT Inicia_BuildEntorno\n");
}

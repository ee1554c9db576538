// The coordinate entry on any text: first byte picks the field, the rest is
// the text typed into it.
#include <cmath>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "catalogue/coords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::Session session;
  const int which = data[0] & 1;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  session.plat.SetControlText(which == 0 ? ctl::kLongitude : ctl::kLatitude, text);

  double v = 99;
  try {
    v = checklonlat(which);
  } catch (const ProcessExit&) {
    VDB_FUZZ_CHECK(!"the entry ended the program");
  }
  const uint8_t flag = which == 0 ? st.val_long : st.val_lat;
  const double limit = which == 0 ? 180 : 90;
  const size_t boxes = session.plat.boxes().size();
  VDB_FUZZ_CHECK(std::isfinite(v) && std::fabs(v) <= limit);
  VDB_FUZZ_CHECK(flag == 0 || flag == 1);
  if (flag == 0) {
    VDB_FUZZ_CHECK(v == 0.0);
    VDB_FUZZ_CHECK(boxes == (text.empty() ? 0u : 1u));
    return 0;
  }
  VDB_FUZZ_CHECK(boxes == 0);
  // An accepted text is a plain decimal: the C library reads the same value
  // from the part of it the field holds (a lone sign or point reads as 0).
  const std::string held = text.substr(0, 259);
  VDB_FUZZ_CHECK(held.find_first_not_of("-.0123456789") == std::string::npos);
  const double ref = std::strtod(held.c_str(), nullptr);
  VDB_FUZZ_CHECK(std::fabs(v - ref) <= 1e-12 * std::fmax(1.0, std::fabs(ref)));
  return 0;
}

#include "platform/platform.h"

#include <cstdlib>

namespace {
Platform* g_platform = nullptr;
}

Platform& platform() {
  if (!g_platform) std::abort();  // programmer error: no platform installed
  return *g_platform;
}

void SetPlatform(Platform* p) { g_platform = p; }

void FatalBox(const std::string& text, const std::string& caption, bool owned, int code) {
  platform().FatalMessage(text, caption, owned);
  platform().ExitProcess(code);
  std::abort();  // ExitProcess never returns; keep the contract if it did
}

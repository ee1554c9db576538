#include "interrupt.h"

#include <atomic>
#include <csignal>

#include "terrain/state.h"

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the SIGINT handler needs a lock-free store");

extern "C" void OnInterrupt(int) { st.stoprequest.store(true); }

}  // namespace

void InstallInterruptHandler() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
}

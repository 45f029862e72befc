// The switch behind MTRACE: MOSAL_TRACE=0 in the environment turns tracing off.
#include "mosal/Trace.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace MorvaneLib {
namespace Trace {

namespace {
// -1: not read yet, 0: off, 1: on.
std::atomic<int> g_state{-1};
}  // namespace

bool enabled() {
  int s = g_state.load(std::memory_order_relaxed);
  if (s < 0) {
    const char* v = std::getenv("MOSAL_TRACE");
    s = (v != nullptr && std::strcmp(v, "0") == 0) ? 0 : 1;
    g_state.store(s, std::memory_order_relaxed);
  }
  return s == 1;
}

void setEnabled(bool on) { g_state.store(on ? 1 : 0, std::memory_order_relaxed); }

}  // namespace Trace
}  // namespace MorvaneLib

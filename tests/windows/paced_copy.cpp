// The test build's pause: VARNHOLT_TEST_CHUNK_DELAY_MS milliseconds each time
// the copy run asks whether to stop; none without the variable.
#include <windows.h>

#include <cstdlib>

#include "app/copy_pacing.h"

namespace app {

void PaceCopyRun() {
  static const unsigned long delay = [] {
    const char* value = std::getenv("VARNHOLT_TEST_CHUNK_DELAY_MS");
    return value != nullptr ? std::strtoul(value, nullptr, 10) : 0UL;
  }();
  if (delay > 0) ::Sleep(delay);
}

}  // namespace app

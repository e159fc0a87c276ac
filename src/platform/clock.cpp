#include "platform/clock.h"

#include <sys/times.h>

#include <cerrno>

namespace {

// Added to the raw tick so that the first reading of a freshly booted board
// is never 0, which the spinner takes for "not drawn yet".
constexpr uint32_t kTickOffset = 30000;

}  // namespace

uint32_t SystemClock::tick() {
  errno = 0;
  // Linux accepts a null buffer and then returns only the tick.
  long raw = static_cast<long>(::times(nullptr));
  if (raw == -1 && errno != 0) raw = -static_cast<long>(errno);
  return static_cast<uint32_t>(raw) + kTickOffset;
}

Clock& systemClock() {
  static SystemClock clock;
  return clock;
}

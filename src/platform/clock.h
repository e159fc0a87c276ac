// The clock of the commit spinner: the process tick in the kernel's clock
// ticks, behind an interface so that tests can hand in ticks of their own.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // The current tick; only differences between ticks carry meaning.
  virtual uint32_t tick() = 0;
};

// The system's tick: the raw result of times() plus 30000, where a failure
// with error e counts as the raw value -e.
class SystemClock : public Clock {
 public:
  uint32_t tick() override;
};

// The one system clock of the process.
Clock& systemClock();

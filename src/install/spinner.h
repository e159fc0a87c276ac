// The spinner that the commit copy draws on the caller's output: one of
// "|/-\" after the first chunk, redrawn at most once every 20 clock ticks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/clock.h"
#include "staging/copy_progress.h"

class Spinner : public CopyProgress {
 public:
  static constexpr uint32_t kRedrawTicks = 20;

  Spinner(Clock& clock, FILE* out) : clock_(clock), out_(out) {}

  // One spinner step, taken after each chunk a copy has written.
  void step() override;

 private:
  Clock& clock_;
  FILE* out_;
  uint32_t lastTick_ = 0;  // 0: not drawn yet
  uint32_t index_ = 0;     // next character of "|/-\"
};

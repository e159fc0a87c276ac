#include "install/spinner.h"

namespace {

constexpr char kSpinnerChars[] = {'|', '/', '-', '\\'};
constexpr uint32_t kSpinnerCharCount = sizeof kSpinnerChars;

}  // namespace

void Spinner::step() {
  uint32_t tick = clock_.tick();
  // The first step of the process draws without wiping anything.
  if (lastTick_ == 0) {
    lastTick_ = tick;
    fputc(kSpinnerChars[index_++], out_);
    fflush(out_);
    if (index_ == kSpinnerCharCount) index_ = 0;  // a clock that reads 0 again
    return;
  }
  // Later steps redraw once more than kRedrawTicks have passed; the last
  // tick advances by kRedrawTicks so that a long stall catches up in turns.
  if (tick - lastTick_ <= kRedrawTicks) return;
  lastTick_ += kRedrawTicks;
  fputc('\b', out_);
  fputc(kSpinnerChars[index_++], out_);
  fflush(out_);
  if (index_ == kSpinnerCharCount) index_ = 0;
}

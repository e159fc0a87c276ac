// The processor version register (PVR) of the board: it names the processor's
// family and revision, from which the installer picks the file records meant
// for this board. The program reads the real register; tests inject a value.
#pragma once

#include <cstdint>

class ProcessorVersion {
 public:
  virtual ~ProcessorVersion() = default;
  virtual uint32_t read() const = 0;
};

// What a processor without a version register answers: a value of no
// processor family, so that such a machine is a board without a class and
// takes only the records meant for every board.
constexpr uint32_t kStandInProcessorVersion = 0;

// The register of the processor this program runs on. On PowerPC it is read
// with mfpvr, which Linux lets user programs execute; on any other processor
// the answer is kStandInProcessorVersion.
class RunningProcessorVersion : public ProcessorVersion {
 public:
  uint32_t read() const override;
};

// The register every query of the program reads: the running processor's
// unless a test has put another in its place.
const ProcessorVersion& processorVersion();

// Puts `processor` in place of the running one until the object is destroyed.
class ScopedProcessorVersion {
 public:
  explicit ScopedProcessorVersion(const ProcessorVersion* processor);
  ~ScopedProcessorVersion();
  ScopedProcessorVersion(const ScopedProcessorVersion&) = delete;
  ScopedProcessorVersion& operator=(const ScopedProcessorVersion&) = delete;

 private:
  const ProcessorVersion* previous_;
};

// A register of a fixed value, for boards this machine cannot run.
class FixedProcessorVersion : public ProcessorVersion {
 public:
  explicit FixedProcessorVersion(uint32_t value) : value_(value) {}
  uint32_t read() const override { return value_; }

 private:
  uint32_t value_;
};

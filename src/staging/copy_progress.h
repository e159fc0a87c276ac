// What a commit tells while it copies new files across file systems: one
// step after each chunk written. What a step shows is the caller's to say.
#pragma once

class CopyProgress {
 public:
  virtual ~CopyProgress() = default;
  virtual void step() = 0;
};

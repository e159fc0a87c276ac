// The exit statuses of installer, by name: what its callers read of a run.
#pragma once

enum class ExitStatus : int {
  Ok = 0,
  Failed = 1,             // nothing changed, or a journal left for the next run
  BundleRefused = 2,      // image mode: the bundle was refused
  NoMemberInstalled = 3,  // image mode: no member of the bundle was installed
  NoSpace = 28,           // the value of ENOSPC: the changes do not fit
  ImageFileFailed = 255,  // image mode: the copy of the stream could not be made whole
};

inline int exitCode(ExitStatus status) { return static_cast<int>(status); }

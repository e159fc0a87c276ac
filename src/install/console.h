// What the installer tells the user: errors, warnings and notes, one progress
// line rewritten in place, and the bar drawn on it while a package is read.
// A run has one console; every line it shows is also kept for the log.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/package.h"

class Console {
 public:
  // Everything goes to `out`, one buffered stream; a quiet console shows and
  // keeps nothing.
  explicit Console(FILE* out = stdout, bool quiet = false) : out_(out), quiet_(quiet) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  FILE* file() const { return out_; }
  // Every message of the run in order, prefix included, without line end.
  const std::vector<std::string>& messages() const { return messages_; }
  // Puts lines said before this run (the post-install log) before its messages.
  void prependMessages(const std::vector<std::string>& lines);

  // Shows `text` as the progress line; the empty text clears it.
  void setProgressLine(const std::string& text);
  // Draws a 77-character bar "label [###   ]" for `done` bytes out of `total`.
  void showReadProgress(const std::string& label, uint64_t done, uint64_t total);

  // Prints and keeps one message: `prefix` (may be nullptr) and the text
  // formatted from `format`, cut at 255 characters.
  void formatMessage(const char* prefix, const char* format, va_list arguments);
  // "ERROR: " message; clears the progress line first.
  void reportError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // "WARNING: " message; the progress line is redrawn below it.
  void reportWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A completed step, without prefix; clears the progress line first.
  void reportInfo(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // A file of `package` that could not be created or written, told by the
  // system's error: "disk is too small", "disk error" or "could not create".
  void reportCreateFailure(const Package& package, const std::string& what, int error);
  // A package whose contents or signature are unusable.
  void reportBrokenPackage(const Package& package);

 private:
  FILE* out_;
  bool quiet_;
  // The progress line as last drawn; empty when none is shown.
  std::string progressLine_;
  std::vector<std::string> messages_;
};

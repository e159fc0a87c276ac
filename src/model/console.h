// What the installer tells the user: errors, warnings and notes, one progress
// line rewritten in place, and the bar drawn on it while a package is read.
// The console state (progress line, message log, quiet switch) lives in the
// Repository; everything goes to one buffered output file.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "model/package.h"
#include "model/repository.h"

// Shows `text` as the progress line; the empty text clears it.
void setProgressLine(Repository& repository, const std::string& text);

// Draws a 77-character bar "label [###   ]" for `done` bytes out of `total`.
void showReadProgress(Repository& repository, const std::string& label, uint64_t done, uint64_t total);

// Prints and records one message: `prefix` (may be nullptr) and the text
// formatted from `format`, cut at 255 characters.
void formatMessage(Repository& repository, const char* prefix, const char* format, va_list arguments);

// "ERROR: " message; clears the progress line first.
void reportError(Repository& repository, const char* format, ...) __attribute__((format(printf, 2, 3)));
// "WARNING: " message; the progress line is redrawn below it.
void reportWarning(Repository& repository, const char* format, ...) __attribute__((format(printf, 2, 3)));
// A completed step, without prefix; clears the progress line first.
void reportInfo(Repository& repository, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A file of `package` that could not be created or written, told by the
// system's error: "disk is too small", "disk error" or "could not create".
void reportCreateFailure(Repository& repository, const Package& package, const std::string& what, int error);
// A package whose contents or signature are unusable.
void reportBrokenPackage(Repository& repository, const Package& package);

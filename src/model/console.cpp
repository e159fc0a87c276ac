// Console reporters and the progress line.
#include "model/console.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "model/relations.h"

namespace {

// Formatted message text, terminating NUL included: at most 255 characters.
constexpr size_t kMessageBufferSize = 256;
// Spaces that wipe the console line before a message is printed.
constexpr size_t kLineWipeWidth = 79;
// The bar is this wide less its head, so that the whole line is 77 characters.
constexpr size_t kBarSpan = 76;

constexpr char kHideCursor[] = "\x1b[?25l";
constexpr char kShowCursor[] = "\x1b[?25h";

void put(FILE* out, const std::string& text) { fwrite(text.data(), 1, text.size(), out); }

void putSpaces(FILE* out, size_t count) {
  for (; count > 0; --count) fputc(' ', out);
}

// Number of '#' for done out of total over width cells; never more than width,
// and none when the total is unknown (0).
size_t filledCells(uint64_t done, uint64_t total, size_t width) {
  if (total == 0) return 0;
  if (done >= total) return width;
  // done < total < 2^32 in practice; the product is formed in 64 bits.
  return static_cast<size_t>(done * width / total);
}

void reportWithErrno(Repository& repository, const Package& package, const std::string& what, int error) {
  const std::string name = displayName(package);
  switch (error) {
    case ENOSPC:
      reportError(repository, "installation of %s failed: disk is too small", name.c_str());
      break;
    case EIO:
      reportError(repository, "installation of %s failed: disk error", name.c_str());
      break;
    default:
      reportError(repository, "installation of %s failed: could not create %s: %s", name.c_str(),
                  what.c_str(), strerror(error));
      break;
  }
}

}  // namespace

void setProgressLine(Repository& repository, const std::string& text) {
  // Nothing to do when quiet or when the line already shows the text.
  if (repository.quiet || text == repository.progressLine) return;

  // Rewrite the line in place, padding over what the old text left.
  FILE* out = repository.consoleFile();
  const size_t oldLength = repository.progressLine.size();
  fputs(kHideCursor, out);
  fputc('\r', out);
  put(out, text);
  if (text.size() < oldLength) putSpaces(out, oldLength - text.size());
  fputc('\r', out);
  fputs(kShowCursor, out);
  fflush(out);

  repository.progressLine = text;
}

void showReadProgress(Repository& repository, const std::string& label, uint64_t done, uint64_t total) {
  // A label too long for the line leaves no cells for the bar.
  const std::string head = label + " [";
  const size_t width = head.size() < kBarSpan ? kBarSpan - head.size() : 0;

  const size_t filled = filledCells(done, total, width);
  std::string bar = head;
  bar.append(filled, '#');
  bar.append(width - filled, ' ');
  bar += ']';

  setProgressLine(repository, bar);
}


void formatMessage(Repository& repository, const char* prefix, const char* format, va_list arguments) {
  // Build the message; vsnprintf cuts the text to the buffer.
  char text[kMessageBufferSize];
  if (vsnprintf(text, sizeof text, format, arguments) < 0) text[0] = '\0';
  std::string message = prefix != nullptr ? prefix : "";
  message += text;

  if (repository.quiet) return;

  // Wipe the progress line, however long it was.
  FILE* out = repository.consoleFile();
  const bool progressShown = !repository.progressLine.empty();
  if (progressShown) {
    fputc('\r', out);
    putSpaces(out, kLineWipeWidth);
    fputc('\r', out);
    fflush(out);
  }

  put(out, message);
  fputc('\n', out);
  fflush(out);

  // The progress line continues below the message.
  if (progressShown) {
    put(out, repository.progressLine);
    fflush(out);
  }

  repository.messages.push_back(std::move(message));
}

void reportError(Repository& repository, const char* format, ...) {
  setProgressLine(repository, std::string());
  va_list arguments;
  va_start(arguments, format);
  formatMessage(repository, "ERROR: ", format, arguments);
  va_end(arguments);
}

void reportWarning(Repository& repository, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  formatMessage(repository, "WARNING: ", format, arguments);
  va_end(arguments);
}

void reportInfo(Repository& repository, const char* format, ...) {
  setProgressLine(repository, std::string());
  va_list arguments;
  va_start(arguments, format);
  formatMessage(repository, nullptr, format, arguments);
  va_end(arguments);
}

void reportCreateFailure(Repository& repository, const Package& package, const std::string& what, int error) {
  reportWithErrno(repository, package, what, error);
}

void reportBrokenPackage(Repository& repository, const Package& package) {
  reportError(repository, "installation of %s failed: broken package", displayName(package).c_str());
}

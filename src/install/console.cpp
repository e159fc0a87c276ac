// Console reporters and the progress line.
#include "install/console.h"

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

}  // namespace

void Console::prependMessages(const std::vector<std::string>& lines) {
  messages_.insert(messages_.begin(), lines.begin(), lines.end());
}

void Console::setProgressLine(const std::string& text) {
  // Nothing to do when quiet or when the line already shows the text.
  if (quiet_ || text == progressLine_) return;

  // Rewrite the line in place, padding over what the old text left.
  const size_t oldLength = progressLine_.size();
  fputs(kHideCursor, out_);
  fputc('\r', out_);
  put(out_, text);
  if (text.size() < oldLength) putSpaces(out_, oldLength - text.size());
  fputc('\r', out_);
  fputs(kShowCursor, out_);
  fflush(out_);

  progressLine_ = text;
}

void Console::showReadProgress(const std::string& label, uint64_t done, uint64_t total) {
  // A label too long for the line leaves no cells for the bar.
  const std::string head = label + " [";
  const size_t width = head.size() < kBarSpan ? kBarSpan - head.size() : 0;

  const size_t filled = filledCells(done, total, width);
  std::string bar = head;
  bar.append(filled, '#');
  bar.append(width - filled, ' ');
  bar += ']';

  setProgressLine(bar);
}

void Console::formatMessage(const char* prefix, const char* format, va_list arguments) {
  // Build the message; vsnprintf cuts the text to the buffer.
  char text[kMessageBufferSize];
  if (vsnprintf(text, sizeof text, format, arguments) < 0) text[0] = '\0';
  std::string message = prefix != nullptr ? prefix : "";
  message += text;

  if (quiet_) return;

  // Wipe the progress line, however long it was.
  const bool progressShown = !progressLine_.empty();
  if (progressShown) {
    fputc('\r', out_);
    putSpaces(out_, kLineWipeWidth);
    fputc('\r', out_);
    fflush(out_);
  }

  put(out_, message);
  fputc('\n', out_);
  fflush(out_);

  // The progress line continues below the message.
  if (progressShown) {
    put(out_, progressLine_);
    fflush(out_);
  }

  messages_.push_back(std::move(message));
}

void Console::reportError(const char* format, ...) {
  setProgressLine(std::string());
  va_list arguments;
  va_start(arguments, format);
  formatMessage("ERROR: ", format, arguments);
  va_end(arguments);
}

void Console::reportWarning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  formatMessage("WARNING: ", format, arguments);
  va_end(arguments);
}

void Console::reportInfo(const char* format, ...) {
  setProgressLine(std::string());
  va_list arguments;
  va_start(arguments, format);
  formatMessage(nullptr, format, arguments);
  va_end(arguments);
}

void Console::reportCreateFailure(const Package& package, const std::string& what, int error) {
  const std::string name = displayName(package);
  switch (error) {
    case ENOSPC:
      reportError("installation of %s failed: disk is too small", name.c_str());
      break;
    case EIO:
      reportError("installation of %s failed: disk error", name.c_str());
      break;
    default:
      reportError("installation of %s failed: could not create %s: %s", name.c_str(), what.c_str(), strerror(error));
      break;
  }
}

void Console::reportBrokenPackage(const Package& package) {
  reportError("installation of %s failed: broken package", displayName(package).c_str());
}

#include "platform/text_reader.h"

#include <fcntl.h>

#include "platform/regular_file.h"

namespace {

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool isDigit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

// O_NONBLOCK, which keeps the open from waiting on a pipe, means nothing for
// the regular file that is read, and is left on.
TextReader::TextReader(FileSystem& fs, const std::string& path)
    : fs_(fs), fd_(openRegularFile(fs, path, O_RDONLY | O_NONBLOCK)), failed_(fd_ < 0) {}

TextReader::~TextReader() {
  if (fd_ >= 0) fs_.close(fd_);
}

int TextReader::peek() {
  if (next_ == end_) {
    if (failed_ || ended_) return -1;
    const ssize_t got = fs_.read(fd_, buffer_, kBufferSize);
    if (got <= 0) {
      failed_ = got < 0;
      ended_ = true;
      return -1;
    }
    next_ = 0;
    end_ = static_cast<size_t>(got);
  }
  return static_cast<unsigned char>(buffer_[next_]);
}

bool TextReader::fail() {
  failed_ = true;
  return false;
}

void TextReader::skipBlanks() {
  while (isBlank(peek())) ++next_;
}

bool TextReader::word(std::string* text) {
  if (failed_) return false;
  skipBlanks();
  if (peek() < 0) return fail();
  text->clear();
  for (int c; (c = peek()) >= 0 && !isBlank(c); ++next_) text->push_back(static_cast<char>(c));
  return !failed_;
}

bool TextReader::line(std::string* text) {
  if (failed_ || peek() < 0) return fail();
  text->clear();
  for (int c; (c = peek()) >= 0; ++next_) {
    if (c == '\n') {
      ++next_;
      break;
    }
    text->push_back(static_cast<char>(c));
  }
  return !failed_;
}

bool TextReader::digits(bool* negative, uint64_t* magnitude) {
  if (failed_) return false;
  skipBlanks();
  const int sign = peek();
  *negative = sign == '-';
  if (sign == '-' || sign == '+') ++next_;
  bool any = false;
  *magnitude = 0;
  for (int c; isDigit(c = peek()); ++next_) {
    any = true;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    *magnitude = *magnitude > (UINT64_MAX - digit) / 10 ? UINT64_MAX : *magnitude * 10 + digit;
  }
  return any && !failed_ ? true : fail();
}

bool TextReader::number(uint32_t* value) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!digits(&negative, &magnitude)) return false;
  if (magnitude > UINT32_MAX) return fail();
  const uint32_t low = static_cast<uint32_t>(magnitude);
  *value = negative ? 0u - low : low;
  return true;
}

bool TextReader::number(int32_t* value) {
  bool negative = false;
  uint64_t magnitude = 0;
  if (!digits(&negative, &magnitude)) return false;
  if (magnitude > (negative ? uint64_t{INT32_MAX} + 1 : uint64_t{INT32_MAX})) return fail();
  *value = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude));
  return true;
}

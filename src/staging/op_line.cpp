#include "staging/op_line.h"

#include <vector>

namespace {

bool needsEscape(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\\'; }

// Runs of plain bytes go in whole.
void appendEscaped(std::string* out, std::string_view field) {
  size_t plain = 0;
  for (size_t i = 0; i < field.size(); ++i) {
    if (!needsEscape(field[i])) continue;
    out->append(field, plain, i - plain);
    const unsigned char byte = static_cast<unsigned char>(field[i]);
    const char octal[4] = {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                           static_cast<char>('0' + (byte & 7))};
    out->append(octal, sizeof octal);
    plain = i + 1;
  }
  out->append(field, plain, std::string_view::npos);
}

size_t escapedSize(std::string_view field) {
  size_t size = field.size();
  for (const char c : field)
    if (needsEscape(c)) size += 3;
  return size;
}

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// Decodes "\ooo" (1..0377); any other backslash is kept as it stands, so
// that a manifest written without escapes reads as before.
std::string unescapeField(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
        isOctal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value > 0 && value < 256) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

// Fields are separated by blanks; a run of blanks counts as one separator.
std::vector<std::string> splitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (start <= line.size()) {
    size_t blank = line.find(' ', start);
    if (blank == std::string::npos) blank = line.size();
    if (blank > start) fields.push_back(line.substr(start, blank - start));
    start = blank + 1;
  }
  return fields;
}

}  // namespace

std::string formatOpLine(char letter, std::string_view path, std::string_view second) {
  std::string line;
  line.reserve(opLineSize(letter, path, second));
  appendOpLine(&line, letter, path, second);
  return line;
}

void appendOpLine(std::string* out, char letter, std::string_view path, std::string_view second) {
  *out += letter;
  *out += ' ';
  appendEscaped(out, path);
  if (!second.empty()) {
    *out += ' ';
    appendEscaped(out, second);
  }
}

size_t opLineSize(char, std::string_view path, std::string_view second) {
  return 2 + escapedSize(path) + (second.empty() ? 0 : 1 + escapedSize(second));
}

bool parseOpLine(const std::string& line, int fieldCount, char* letter, std::string* path, std::string* second) {
  // A NUL would cut the path short at every system call.
  if (line.find('\0') != std::string::npos) return false;
  const std::vector<std::string> fields = splitFields(line);
  if (fields.size() != static_cast<size_t>(fieldCount) + 1 || fields[0].size() != 1) return false;
  *letter = fields[0][0];
  if (fieldCount >= 1) *path = unescapeField(fields[1]);
  if (fieldCount >= 2) *second = unescapeField(fields[2]);
  return true;
}

int manifestFieldCount(char letter) {
  switch (letter) {
    case 'U':
      return 1;
    case 'L':
    case 'M':
      return 2;
    default:
      return -1;
  }
}

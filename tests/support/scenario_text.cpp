#include "support/scenario_text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte a one-letter escape stands for; -1 when there is none.
int simpleEscape(char c) {
  static const char kLetters[] = "ntrbe0\\\"'";
  static const char kBytes[] = "\n\t\r\b\x1b\0\\\"'";
  const char* at = c ? std::strchr(kLetters, c) : nullptr;
  return at ? kBytes[at - kLetters] : -1;
}

std::string trimmedLine(const std::string& line) {
  const size_t end = line.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

// Skips an escape sequence starting at text[i] (ESC); returns its last index.
size_t skipEscapeSequence(const std::string& text, size_t i) {
  if (i + 1 >= text.size() || text[i + 1] != '[') return i;
  for (i += 2; i < text.size(); ++i)
    if (text[i] >= 0x40 && text[i] <= 0x7E) return i;
  return text.size();
}

}  // namespace

bool unescape(const std::string& text, std::string* out, std::string* error, size_t* at, bool* noNewline) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    const size_t start = i;
    const char c = i + 1 < text.size() ? text[++i] : '\0';
    const int simple = simpleEscape(c);
    if (simple >= 0) {
      out->push_back(static_cast<char>(simple));
    } else if (c == 'x' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out->push_back(static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2])));
      i += 2;
    } else if (c == 'c' && noNewline && i + 1 == text.size()) {
      *noNewline = true;
    } else {
      if (at) *at = start;
      *error = "bad escape \"" + text.substr(start, 4) + "\" (\\n \\t \\r \\b \\e \\0 \\\\ \\\" \\' \\xNN)";
      return false;
    }
  }
  return true;
}

std::string escape(const std::string& bytes, bool quote) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\b') {
      out += "\\b";
    } else if (c == 0x1b) {
      out += "\\e";
    } else if (c == '\\' || (quote && c == '"')) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, "\\x20");
  return out;
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  size_t start = text.find_first_not_of(" \t");
  while (start != std::string::npos) {
    const size_t end = text.find_first_of(" \t", start);
    words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    start = end == std::string::npos ? end : text.find_first_not_of(" \t", end);
  }
  return words;
}

std::string consoleView(const std::string& output) {
  std::string shown, line;
  size_t column = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\x1b') {
      i = skipEscapeSequence(output, i);
    } else if (c == '\r') {
      column = 0;
    } else if (c == '\b') {
      column -= column > 0 ? 1 : 0;
    } else if (c == '\n') {
      shown += trimmedLine(line) + "\n";
      line.clear();
      column = 0;
    } else {
      if (column < line.size())
        line[column] = c;
      else
        line.push_back(c);
      ++column;
    }
  }
  return shown + trimmedLine(line);
}

std::vector<std::string> outputLines(const std::string& prefix, const std::string& output) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < output.size();) {
    const size_t end = output.find('\n', start);
    const std::string text = escape(output.substr(start, end == std::string::npos ? end : end - start));
    const std::string line = text.empty() ? prefix : prefix + " " + text;
    lines.push_back(end == std::string::npos ? line + "\\c" : line);
    start = end == std::string::npos ? output.size() : end + 1;
  }
  return lines;
}

std::string lineDiff(const std::vector<std::string>& expected, const std::vector<std::string>& actual) {
  const size_t n = expected.size(), m = actual.size();
  // common[i][j]: the longest common subsequence of expected[i..] and actual[j..].
  std::vector<std::vector<size_t>> common(n + 1, std::vector<size_t>(m + 1, 0));
  for (size_t i = n; i-- > 0;)
    for (size_t j = m; j-- > 0;)
      common[i][j] = expected[i] == actual[j] ? common[i + 1][j + 1] + 1 : std::max(common[i + 1][j], common[i][j + 1]);
  std::string out;
  size_t i = 0, j = 0;
  while (i < n || j < m) {
    if (i < n && j < m && expected[i] == actual[j]) {
      out += "         " + expected[i++] + "\n";
      ++j;
    } else if (j == m || (i < n && common[i + 1][j] >= common[i][j + 1])) {
      out += "expected " + expected[i++] + "\n";
    } else {
      out += "actual   " + actual[j++] + "\n";
    }
  }
  return out;
}

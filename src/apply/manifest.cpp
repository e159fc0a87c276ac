// The manifest: a saved transaction as text, one line per staged operation in
// path order ("U path", "L path text", "M path source"). A blank, tab,
// newline or backslash inside a path or link text is written as \040, \011,
// \012 or \134, so that every path survives a save and a load.

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "apply/transaction.h"

namespace {

bool needsEscape(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\\'; }

std::string escapeField(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (char c : field) {
    if (!needsEscape(c)) {
      out += c;
      continue;
    }
    unsigned char byte = static_cast<unsigned char>(c);
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
  }
  return out;
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
    if (blank > start) fields.push_back(unescapeField(line.substr(start, blank - start)));
    start = blank + 1;
  }
  return fields;
}

bool isDirectory(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool Transaction::save(const std::string& manifestPath) const {
  std::ofstream out(manifestPath, std::ios::binary | std::ios::trunc);
  for (const auto& [destination, op] : ops_) {
    switch (op.kind) {
      case OpKind::Remove:  // a removal line carries no second field
        out << "U " << escapeField(destination) << '\n';
        break;
      case OpKind::Link:
        out << "L " << escapeField(destination) << ' ' << escapeField(op.source) << '\n';
        break;
      case OpKind::Move:
      case OpKind::Create:
        out << "M " << escapeField(destination) << ' ' << escapeField(op.source) << '\n';
        break;
    }
  }
  out.flush();
  out.close();
  return !out.fail();
}

bool Transaction::load(const std::string& manifestPath) {
  // 1. Open the manifest.
  if (isDirectory(manifestPath)) return false;
  std::ifstream in(manifestPath, std::ios::binary);
  if (!in) return false;
  // 2. Stage line by line; an empty line, or the end of the file, ends it.
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) return true;
    // A NUL would cut the path short at every system call.
    if (line.find('\0') != std::string::npos) return false;
    std::vector<std::string> fields = splitFields(line);
    if (fields.size() < 2) return false;
    const std::string& letter = fields[0];
    if (letter == "U") {
      stage(fields[1], OpKind::Remove, std::string());
    } else if (letter == "L" || letter == "M") {
      if (fields.size() < 3) return false;
      stage(fields[1], letter == "L" ? OpKind::Link : OpKind::Move, fields[2]);
    }
  }
  // 3. The end of the file reads as an empty line; any other failure of the
  //    stream counts as success only when something was staged.
  return in.eof() || !isEmpty();
}

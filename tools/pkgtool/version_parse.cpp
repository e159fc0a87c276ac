// Reading a version from its text form.
#include "pkgtool/version_parse.h"

#include <cstring>

namespace {

constexpr unsigned kFieldMax = 255;
constexpr unsigned char kFinalStage = 'f';

struct StageWord {
  const char* word;
  unsigned char stage;
};

// Longest words first is not needed: no word is a prefix of another.
constexpr StageWord kStageWords[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};

// Reads a decimal number of at most three digits from text[*pos]; false when
// no digit is there or the number does not fit in one byte.
bool readField(const std::string& text, size_t* pos, unsigned* value) {
  size_t start = *pos;
  unsigned result = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    result = result * 10 + static_cast<unsigned>(text[*pos] - '0');
    ++*pos;
    if (*pos - start > 3) return false;
  }
  if (*pos == start || result > kFieldMax) return false;
  *value = result;
  return true;
}

// Reads a stage word at text[*pos] into *stage; false when none is there.
bool readStageWord(const std::string& text, size_t* pos, unsigned char* stage) {
  for (const StageWord& entry : kStageWords) {
    size_t length = strlen(entry.word);
    if (text.compare(*pos, length, entry.word) == 0) {
      *stage = entry.stage;
      *pos += length;
      return true;
    }
  }
  return false;
}

// The lenient reading: MAJOR.MINOR followed by nothing, by .NUMBER, or by a
// stage word and an optional number.
bool readVersion(const std::string& text, Version* version) {
  size_t pos = 0;
  unsigned major = 0, minor = 0, number = 0;
  unsigned char stage = kFinalStage;
  if (!readField(text, &pos, &major) || pos >= text.size() || text[pos] != '.') return false;
  ++pos;
  if (!readField(text, &pos, &minor)) return false;
  if (pos < text.size()) {
    if (text[pos] == '.') {
      ++pos;
      if (!readField(text, &pos, &number)) return false;
    } else {
      if (!readStageWord(text, &pos, &stage)) return false;
      if (pos < text.size() && !readField(text, &pos, &number)) return false;
    }
  }
  if (pos != text.size()) return false;
  *version = makeVersion(major, minor, stage, number);
  return true;
}

}  // namespace

bool parseVersion(const std::string& text, Version* version, std::string* error) {
  Version parsed = 0;
  if (!readVersion(text, &parsed)) {
    *error = "malformed version \"" + text +
             "\" (expected MAJOR.MINOR, MAJOR.MINOR.N or MAJOR.MINOR followed by alpha, beta or rc and an "
             "optional N, each number 0 to 255)";
    return false;
  }
  std::string canonical = versionText(parsed);
  if (canonical != text) {
    *error = "version \"" + text + "\" is not in its canonical form; write \"" + canonical + "\"";
    return false;
  }
  *version = parsed;
  return true;
}

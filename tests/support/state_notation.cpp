#include "support/state_notation.h"

#include <cstring>
#include <limits>

#include "model/package.h"

namespace {

constexpr unsigned kVersionFieldMax = 255;

struct Word {
  size_t offset;
  std::string text;
};

bool isNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

bool isName(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!isNameByte(c)) return false;
  return true;
}

// Decimal digits at text[*pos] up to `max`; false when there are none or too many.
bool readDecimal(const std::string& text, size_t* pos, uint64_t max, uint64_t* value) {
  const size_t start = *pos;
  uint64_t result = 0;
  for (; *pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9'; ++*pos) {
    result = result * 10 + static_cast<uint64_t>(text[*pos] - '0');
    if (result > max) return false;
  }
  *value = result;
  return *pos > start;
}

bool wholeDecimal(const std::string& text, uint64_t max, uint64_t* value) {
  size_t pos = 0;
  return readDecimal(text, &pos, max, value) && pos == text.size();
}

bool readStage(const std::string& text, size_t* pos, unsigned char* stage) {
  static const struct {
    const char* word;
    unsigned char stage;
  } kStages[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};
  for (const auto& entry : kStages) {
    if (text.compare(*pos, std::strlen(entry.word), entry.word) != 0) continue;
    *pos += std::strlen(entry.word);
    *stage = entry.stage;
    return true;
  }
  return false;
}

// A version bound of a list entry: empty for an open bound.
bool parseBound(const std::string& text, Version* bound) {
  *bound = 0;
  return text.empty() || parseVersionText(text, bound);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1)
    parts.push_back(text.substr(start, end - start));
  parts.push_back(text.substr(start));
  return parts;
}

// NAME[:MIN[:MAX]], or with `withPriority` NAME[:MIN[:MAX[:PRIORITY]]].
bool parseListEntry(const std::string& text, bool withPriority, Dependency* entry, std::string* what) {
  const std::vector<std::string> fields = split(text, ':');
  if (fields.size() > (withPriority ? 4u : 3u)) return *what = "too many fields in \"" + text + "\"", false;
  if (!isName(fields[0])) return *what = "bad package name in \"" + text + "\"", false;
  entry->name = fields[0];
  if ((fields.size() > 1 && !parseBound(fields[1], &entry->min)) ||
      (fields.size() > 2 && !parseBound(fields[2], &entry->max)))
    return *what = "bad version bound in \"" + text + "\"", false;
  if (fields.size() > 3) {
    const std::string& priority = fields[3];
    const bool negative = !priority.empty() && priority[0] == '-';
    uint64_t magnitude = 0;
    if (!wholeDecimal(priority.substr(negative ? 1 : 0), negative ? 0x80000000u : 0x7FFFFFFFu, &magnitude))
      return *what = "bad priority in \"" + text + "\"", false;
    entry->priority =
        negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
  }
  return true;
}

bool parseFiles(const std::string& list, PackageState* state, std::string* what) {
  state->files.clear();
  if (list.empty()) return true;
  for (const std::string& path : split(list, ','))
    if (path.empty())
      return *what = "empty path in files=", false;
    else
      state->files.push_back(path);
  return true;
}

bool parseStateWord(const std::string& word, PackageState* state, std::string* what) {
  const std::string value = word.substr(word.find('=') + 1);
  if (word == "disabled" || word == "disabled=user" || word == "disabled=auto") {
    state->disabled = word == "disabled=auto" ? "auto" : "user";
  } else if (word == "enabled=user") {
    state->enabledByUser = true;
  } else if (word == "bundle") {
    state->isBundle = true;
  } else if (word == "uninstall" || word == "enable" || word == "disable") {
    state->scheduled = word;
  } else if (word.compare(0, 6, "files=") == 0) {
    return parseFiles(value, state, what);
  } else if (word.compare(0, 6, "built=") == 0) {
    if (state->placeholder) return *what = "a placeholder has no build time", false;
    uint64_t time = 0;
    if (!wholeDecimal(value, std::numeric_limits<uint32_t>::max(), &time))
      return *what = "bad build time \"" + value + "\"", false;
    state->buildTime = static_cast<uint32_t>(time);
  } else {
    return *what = "unknown word \"" + word + "\"", false;
  }
  return true;
}

bool parseWord(const std::string& word, PackageState* state, std::string* what) {
  Dependency entry;
  switch (word[0]) {
    case '>':
      if (!parseListEntry(word.substr(1), false, &entry, what)) return false;
      state->depends.push_back(entry);
      return true;
    case '!':
      if (!parseListEntry(word.substr(1), false, &entry, what)) return false;
      state->conflicts.push_back(entry);
      return true;
    case '+':
      if (!parseListEntry(word.substr(1), true, &entry, what)) return false;
      state->provides.push_back(entry);
      return true;
    case '@':
      if (!isName(word.substr(1))) return *what = "bad bundle name in \"" + word + "\"", false;
      state->bundle = word.substr(1);
      return true;
    default:
      return parseStateWord(word, state, what);
  }
}

// One package: its name, its version or "placeholder", then state words.
bool parsePackage(const std::vector<Word>& words, uint32_t defaultBuildTime, PackageState* state,
                  NotationError* error) {
  state->buildTime = defaultBuildTime;
  if (!isName(words[0].text)) return *error = {words[0].offset, "bad package name \"" + words[0].text + "\""}, false;
  state->name = words[0].text;
  if (words.size() < 2) return *error = {words[0].offset, "no version after \"" + state->name + "\""}, false;
  if (words[1].text == "placeholder") {
    state->placeholder = true;
    state->version = state->buildTime = kPlaceholderMark;
  } else if (!parseVersionText(words[1].text, &state->version)) {
    return *error = {words[1].offset, "bad version \"" + words[1].text + "\""}, false;
  }
  for (size_t i = 2; i < words.size(); ++i) {
    if (!parseWord(words[i].text, state, &error->what)) return error->offset = words[i].offset, false;
  }
  return true;
}

}  // namespace

bool parseVersionText(const std::string& text, Version* version) {
  size_t pos = 0;
  uint64_t major = 0, minor = 0, number = 0;
  unsigned char stage = 'f';
  if (!readDecimal(text, &pos, kVersionFieldMax, &major) || pos >= text.size() || text[pos++] != '.' ||
      !readDecimal(text, &pos, kVersionFieldMax, &minor))
    return false;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    if (!readDecimal(text, &pos, kVersionFieldMax, &number)) return false;
  } else if (pos < text.size()) {
    if (!readStage(text, &pos, &stage)) return false;
    if (pos < text.size() && !readDecimal(text, &pos, kVersionFieldMax, &number)) return false;
  }
  const Version parsed =
      makeVersion(static_cast<unsigned>(major), static_cast<unsigned>(minor), stage, static_cast<unsigned>(number));
  // Only the spelling installer prints: no "6.40.0", no "06.40".
  if (pos != text.size() || text != versionText(parsed)) return false;
  *version = parsed;
  return true;
}

bool parsePackageStates(const std::string& text, std::vector<PackageState>* states, NotationError* error,
                        uint32_t defaultBuildTime) {
  states->clear();
  std::vector<Word> words;
  for (size_t pos = 0; pos <= text.size(); ++pos) {
    const char c = pos < text.size() ? text[pos] : ';';
    if (c == ';') {
      // A blank text is no package; a ";" that ends the text is allowed.
      if (words.empty() && pos < text.size()) return *error = {pos, "a package needs a name and a version"}, false;
      if (!words.empty()) {
        states->emplace_back();
        if (!parsePackage(words, defaultBuildTime, &states->back(), error)) return false;
      }
      words.clear();
    } else if (c != ' ' && c != '\t') {
      const size_t end = text.find_first_of(" \t;", pos);
      const size_t stop = end == std::string::npos ? text.size() : end;
      words.push_back({pos, text.substr(pos, stop - pos)});
      pos = stop - 1;
    }
  }
  return true;
}

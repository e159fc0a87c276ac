// Option values of pkgtool.
#include "pkgtool/command_options.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "pkgtool/part_writer.h"
#include "pkgtool/version_parse.h"

namespace {

constexpr unsigned kMaxProcessorClass = 4;

std::vector<std::string> splitFields(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t found; (found = text.find(separator, start)) != std::string::npos; start = found + 1)
    fields.push_back(text.substr(start, found - start));
  fields.push_back(text.substr(start));
  return fields;
}

bool parseBound(const std::string& text, Version* bound, std::string* error) {
  if (text.empty()) {
    *bound = 0;
    return true;
  }
  return parseVersion(text, bound, error);
}

// Digits only (with a leading "-" when allowed), within [low, high].
bool parseInteger(const std::string& text, bool allowMinus, long long low, long long high, long long* value) {
  size_t start = allowMinus && !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == start || text.size() - start > 10) return false;
  for (size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  long long result = std::strtoll(text.c_str(), nullptr, 10);
  if (result < low || result > high) return false;
  *value = result;
  return true;
}

bool fillEntry(const std::vector<std::string>& fields, Dependency* entry, std::string* error) {
  Dependency result;
  if (!checkPackageName(fields[0], error)) return false;
  result.name = fields[0];
  if (fields.size() > 1 && !parseBound(fields[1], &result.min, error)) return false;
  if (fields.size() > 2 && !parseBound(fields[2], &result.max, error)) return false;
  if (result.min != 0 && result.max != 0 && result.min > result.max) {
    *error = "lowest version " + fields[1] + " is above highest version " + fields[2];
    return false;
  }
  *entry = result;
  return true;
}

}  // namespace

bool parseDependencyOption(const std::string& text, Dependency* entry, std::string* error) {
  std::vector<std::string> fields = splitFields(text, ':');
  if (fields.size() > 3) {
    *error = "\"" + text + "\": expected NAME[:MIN[:MAX]]";
    return false;
  }
  return fillEntry(fields, entry, error);
}

bool parseProvidesOption(const std::string& text, Dependency* entry, std::string* error) {
  std::vector<std::string> fields = splitFields(text, ':');
  long long priority = 0;
  if (fields.size() != 4) {
    *error = "\"" + text + "\": expected NAME:MIN:MAX:PRIORITY";
    return false;
  }
  if (!parseInteger(fields[3], true, INT32_MIN, INT32_MAX, &priority)) {
    *error = "\"" + text + "\": priority must be a whole number from -2147483648 to 2147483647";
    return false;
  }
  if (!fillEntry(fields, entry, error)) return false;
  entry->priority = static_cast<int32_t>(priority);
  return true;
}

bool parseClassOption(const std::string& text, std::pair<std::string, uint8_t>* entry, std::string* error) {
  size_t equals = text.rfind('=');
  long long value = 0;
  if (equals == std::string::npos || equals == 0) {
    *error = "\"" + text + "\": expected PATH=N";
    return false;
  }
  if (!parseInteger(text.substr(equals + 1), false, 0, kMaxProcessorClass, &value)) {
    *error = "\"" + text + "\": the class must be 0 (every board) or 1 to 4";
    return false;
  }
  *entry = {text.substr(0, equals), static_cast<uint8_t>(value)};
  return true;
}

bool parseBoardClass(const std::string& text, int* boardClass, std::string* error) {
  long long value = 0;
  if (!parseInteger(text, false, 0, kMaxProcessorClass, &value)) {
    *error = "\"" + text + "\": the class must be 0 (none) or 1 to 4";
    return false;
  }
  *boardClass = static_cast<int>(value);
  return true;
}

bool parseBuildTime(const std::string& text, uint32_t* seconds, std::string* error) {
  long long value = 0;
  if (!parseInteger(text, false, 0, UINT32_MAX, &value)) {
    *error = "\"" + text + "\" is not a number of seconds from 0 to 4294967295";
    return false;
  }
  *seconds = static_cast<uint32_t>(value);
  return true;
}

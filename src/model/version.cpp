// Text form of packed version numbers.
#include "model/version.h"

#include <cstdio>

namespace {

constexpr size_t kVersionTextSize = 80;
constexpr unsigned char kFinalStage = 'f';

// The word written between the minor number and the stage number.
const char* stageWord(unsigned char stage) {
  switch (stage) {
    case 'a':
      return "alpha";
    case 'b':
      return "beta";
    case 'c':
      return "rc";
    default:
      return "";
  }
}

}  // namespace

std::string versionText(Version version) {
  char text[kVersionTextSize];
  const unsigned major = (version >> 24) & 0xFF;
  const unsigned minor = (version >> 16) & 0xFF;
  const unsigned char stage = static_cast<unsigned char>((version >> 8) & 0xFF);
  const unsigned number = version & 0xFF;

  if (stage == kFinalStage) {
    if (number != 0)
      snprintf(text, sizeof text, "%u.%u.%u", major, minor, number);
    else
      snprintf(text, sizeof text, "%u.%u", major, minor);
  } else {
    if (number != 0)
      snprintf(text, sizeof text, "%u.%u%s%u", major, minor, stageWord(stage), number);
    else
      snprintf(text, sizeof text, "%u.%u%s", major, minor, stageWord(stage));
  }
  return text;
}

// The words of scheduled package actions.
#include "model/package.h"

const char* actionWord(PackageAction action) {
  static const char* const kWords[] = {"", "uninstall", "enable", "disable"};
  return kWords[static_cast<uint32_t>(action)];
}

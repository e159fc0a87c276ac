// The words of scheduled package actions.
#include "model/package.h"

const char* const kPackageActionWords[4] = {"", "uninstall", "enable", "disable"};

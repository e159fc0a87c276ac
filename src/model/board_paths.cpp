#include "model/board_paths.h"

#include "platform/path_utils.h"

bool BoardPaths::liesBelow(const std::string& path, const char* boardDir) const {
  return ::liesBelow(path, root_ + boardDir + "/");
}

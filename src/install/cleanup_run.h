// Cleanup mode: uninstall what nothing recent needs, committed at once
// whatever --safe said, and without a post-install log.
#pragma once

#include "install/run_report.h"
#include "model/board_paths.h"

RunReport runCleanup(Repository& repository, Console& console, const BoardPaths& board);

// Cleanup mode: uninstall what nothing recent needs, committed at once
// whatever --safe said, and without a post-install log.
#pragma once

#include "install/run_request.h"

RunReport runCleanup(const RunRequest& request);

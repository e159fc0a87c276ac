// The `--show` table: every package of the run as one fixed-width line, with
// its version, build time (UTC) and description.
#pragma once

#include <cstdio>

#include "model/repository.h"

// Prints the header, the rule line and one line per package in the order of
// `packages`. Writes straight to `out` (not through the console), so quiet
// runs print it too; changes nothing.
void listPackages(const Repository& repository, FILE* out = stdout);

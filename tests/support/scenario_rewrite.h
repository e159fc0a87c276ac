// Rewriting the expected lines of a scenario from what its runs gave, so that
// a changed message is changed in the scenario files and `git diff` shows it.
// Titles, comments, inputs and the runs that still pass are kept byte for byte.
#pragma once

#include <optional>
#include <string>
#include <vector>

// One entry per run of the scenario, in order: the lines to put in place of
// what it expected, or nothing to leave them.
using RunRewrites = std::vector<std::optional<std::vector<std::string>>>;

// The text with the runs of the block `title` rewritten; false with *error
// when the block is gone or no longer has that many runs.
bool rewriteScenarioText(const std::string& path, const std::string& title, const RunRewrites& runs, std::string* text,
                         std::string* error);

// The same on the file, read and written under an exclusive lock so that
// blocks of one file may be rewritten by tests running at once.
bool rewriteScenarioFile(const std::string& path, const std::string& title, const RunRewrites& runs,
                         std::string* error);

// A command run with --json: whatever its outcome, one JSON object on standard
// output that says the command, its exit status, its error and warnings, and
// either its own fields or the lines it would have printed. doc/pkgtool-json.md
// describes every field.
#pragma once

#include <ostream>
#include <string>

using CommandRunner = int (*)(int argc, char** argv, std::ostream& out, std::ostream& err);

// Runs the command (its words without --json, unless keepJsonWord: the
// command prints its own object) with its output caught; its error lines still
// go to err as they are.
int runWithJsonOutcome(const char* command, CommandRunner run, bool keepJsonWord, int argc, char** argv,
                       std::ostream& out, std::ostream& err);

// The index of a "--json" among a command's words before any "--", or -1.
int jsonWordIndex(int argc, char** argv);

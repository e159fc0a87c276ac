// The command line of installer: the options of a run, read word by word, and
// the modes that act at once when their word is met.
#pragma once

#include <cstdio>
#include <string>

#include "model/install_flags.h"

struct RunOptions {
  bool cleanupMode = false;  // --cleanup
  bool fromStdin = false;    // -
  bool quiet = false;        // -q
  bool showMode = false;     // --show
  InstallFlags installFlags = InstallFlags::None;  // -down, --reinstall
  bool commitNow = true;     // cleared by --safe
  std::string root;          // -r <root>
  std::string architecture = "i386";  // the environment variable "arch"
};

// What the command line asks for once it has been read.
enum class CommandAction {
  Run,     // prepare the run and hand it to the run modes
  Commit,  // --commit: apply the saved manifest now
  Cancel,  // --cancel: throw the saved manifest away now
  Usage,   // a word that is no option: print the usage line
};

// Reads argv[1..argc-1] into `options` until a word ends the reading.
// --reinstall prints its two lines on `out` when it is met.
CommandAction parseCommandLine(int argc, const char* const* argv, RunOptions& options, FILE* out);

// "usage: installer [-q] [-r <root>] [-]" and a newline.
void printUsage(FILE* out);

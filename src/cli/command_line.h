// The command line of installer: the options of a run, read word by word, and
// the modes that act at once when their word is met.
#pragma once

#include <cstdio>
#include <string>

#include "model/install_flags.h"

// The one mode a run carries out. Show outranks cleanup and standard input
// wherever --show stands before the word that ends the reading.
enum class Mode {
  Upgrade,  // the default: the package files of the package directories
  Image,    // -: one package or bundle from standard input
  Cleanup,  // --cleanup
  Show,     // --show: the table of the installed packages
  Commit,   // --commit: apply the saved manifest now
  Cancel,   // --cancel: throw the saved manifest away now
  Usage,    // a word that is no option: print the usage line
};

struct RunOptions {
  Mode mode = Mode::Upgrade;
  bool quiet = false;                              // -q
  InstallFlags installFlags = InstallFlags::None;  // -down, --reinstall
  bool commitNow = true;                           // cleared by --safe
  std::string root;                                // -r <root>
  std::string architecture = "i386";               // the environment variable "arch"
};

// Reads argv[1..argc-1] into `options` until a word ends the reading, and
// returns the mode. --reinstall prints its two lines on `out` when it is met.
Mode parseCommandLine(int argc, const char* const* argv, RunOptions& options, FILE* out);

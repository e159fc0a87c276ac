// installer: the package manager of the board. One mode per run; progress
// and messages on standard output, the result as the exit status.

#include "cli/installer_main.h"

int main(int argc, char** argv) {
  PosixFileSystem fs;
  return runInstaller(argc, argv, fs);
}

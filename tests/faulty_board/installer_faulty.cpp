// installer-faulty: installer on a board that fails on purpose, as
// INSTALLER_FAULT says ("fail N EIO|ENOSPC|EROFS|short", "cut N POLICY"); the
// line of the fault and "calls N" at a normal end go to INSTALLER_FAULT_LOG.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/installer_main.h"
#include "platform/faulty_file_system.h"

int main(int argc, char** argv) {
  InjectedFault fault;
  const char* text = std::getenv("INSTALLER_FAULT");
  if (text != nullptr && !parseFault(text, &fault)) {
    std::fprintf(stderr, "installer-faulty: bad INSTALLER_FAULT \"%s\"\n", text);
    return 2;
  }
  const char* log = std::getenv("INSTALLER_FAULT_LOG");  // opened before the run enters the board's root
  const int logFd = log ? ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
  FaultyFileSystem fs(fault, logFd);
  const int status = runInstaller(argc, argv, fs);
  const std::string calls = "calls " + std::to_string(fs.calls()) + "\n";
  if (logFd >= 0) (void)!::write(logFd, calls.data(), calls.size());
  return status;
}

#include "cli/manifest_modes.h"

#include <unistd.h>

#include "apply/transaction.h"

int runCommitMode(const std::string& manifestPath, std::ostream& out) {
  // 1. Whatever the manifest holds; a missing one stages nothing.
  Transaction transaction;
  transaction.load(manifestPath);
  // 2. The spinner draws after this text.
  out << "finishing install... ";
  out.flush();
  // 3.
  transaction.commit(true);
  // 4. Backspace and blank wipe the last spinner character.
  out << "\b \n";
  out.flush();
  return 0;
}

int runCancelMode(const std::string& manifestPath) {
  Transaction transaction;
  transaction.load(manifestPath);
  transaction.cancelSaved();
  ::unlink(manifestPath.c_str());
  return 0;
}

#include "cli/manifest_modes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "staging/transaction.h"

namespace {

constexpr int kFailedStatus = 1;
constexpr int kNoSpaceStatus = 28;

// Loads the saved transaction of the tree. A missing manifest is nothing to
// do; one that cannot be read whole and well-formed is reported.
bool loadSaved(const std::string& root, Transaction& transaction, std::ostream& out) {
  struct stat info;
  if (::lstat((root + kManifestPath).c_str(), &info) != 0 || transaction.load(root + kManifestPath)) return true;
  out << "ERROR: damaged manifest " << kManifestPath << ": nothing was changed\n" << std::flush;
  return false;
}

}  // namespace

int runCommitMode(const std::string& root, std::ostream& out) {
  recoverInterruptedRun(root);
  Transaction transaction(root);
  if (!loadSaved(root, transaction, out)) return kFailedStatus;
  // The spinner draws after this text.
  out << "finishing install... ";
  out.flush();
  CommitFailure failure;
  const bool committed = transaction.commit(true, &failure);
  // Backspace and blank wipe the last spinner character.
  out << "\b \n";
  out.flush();
  if (committed) return 0;
  transaction.cancel();  // the staged files stay the manifest's
  out << "ERROR: could not commit " << failure.path << ": " << std::strerror(failure.error)
      << ": nothing was changed\n"
      << std::flush;
  return failure.error == ENOSPC ? kNoSpaceStatus : kFailedStatus;
}

int runCancelMode(const std::string& root, std::ostream& out) {
  recoverInterruptedRun(root);
  Transaction transaction(root);
  if (!loadSaved(root, transaction, out)) return kFailedStatus;
  transaction.cancelSaved();
  ::unlink((root + kManifestPath).c_str());
  return 0;
}

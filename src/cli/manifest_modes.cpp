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
bool loadSaved(const BoardPaths& board, Transaction& transaction, std::ostream& out) {
  struct stat info;
  const std::string manifest = board.at(kManifestPath);
  if (::lstat(manifest.c_str(), &info) != 0 || transaction.load(manifest)) return true;
  out << "ERROR: damaged manifest " << kManifestPath << ": nothing was changed\n" << std::flush;
  return false;
}

}  // namespace

int runCommitMode(const BoardPaths& board, std::ostream& out) {
  recoverInterruptedRun(board);
  Transaction transaction(board);
  if (!loadSaved(board, transaction, out)) return kFailedStatus;
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

int runCancelMode(const BoardPaths& board, std::ostream& out) {
  recoverInterruptedRun(board);
  Transaction transaction(board);
  if (!loadSaved(board, transaction, out)) return kFailedStatus;
  transaction.cancelSaved();
  ::unlink(board.at(kManifestPath).c_str());
  return 0;
}

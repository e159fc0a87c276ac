#include "cli/manifest_modes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "install/run_report.h"
#include "staging/transaction.h"

namespace {

constexpr int kFailedStatus = 1;
constexpr int kNoSpaceStatus = 28;

// Loads the saved transaction of the tree. A missing manifest is nothing to
// do; one that cannot be read whole and well-formed is reported.
bool loadSaved(const BoardPaths& board, Transaction& transaction, std::ostream& out) {
  struct stat info;
  const std::string manifest = board.at(kManifestPath);
  if (!board.fs().status(manifest, &info, false) || transaction.load(manifest)) return true;
  out << "ERROR: damaged manifest " << kManifestPath << ": nothing was changed\n" << std::flush;
  return false;
}

// Completes what an interrupted run left; false, said on `out`, when a
// commit stays half way.
bool recover(const BoardPaths& board, std::ostream& out) {
  CommitFailure stuck;
  if (recoverInterruptedRun(board, &stuck)) return true;
  out << "ERROR: " << commitLeftMessage(stuck) << "\n" << std::flush;
  return false;
}

}  // namespace

int runCommitMode(const BoardPaths& board, std::ostream& out) {
  if (!recover(board, out)) return kFailedStatus;
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
  if (committed) {
    transaction.forgetSaved();
    return 0;
  }
  if (failure.journalLeft) {
    out << "ERROR: " << commitLeftMessage(failure) << "\n" << std::flush;
    return kFailedStatus;
  }
  transaction.cancel();  // the staged files stay the manifest's
  out << "ERROR: could not commit " << failure.path << ": " << std::strerror(failure.error)
      << ": nothing was changed\n"
      << std::flush;
  return failure.error == ENOSPC ? kNoSpaceStatus : kFailedStatus;
}

int runCancelMode(const BoardPaths& board, std::ostream& out) {
  if (!recover(board, out)) return kFailedStatus;
  Transaction transaction(board);
  if (!loadSaved(board, transaction, out)) return kFailedStatus;
  // The manifest goes first: its files are deleted only once nothing can
  // commit them any more.
  if (!board.fs().unlink(board.at(kManifestPath)) && errno != ENOENT) {
    out << "ERROR: could not delete " << kManifestPath << ": " << std::strerror(errno) << "\n" << std::flush;
    return kFailedStatus;
  }
  transaction.cancelSaved();
  return 0;
}

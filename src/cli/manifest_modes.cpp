#include "cli/manifest_modes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <set>
#include <string>

#include "staging/transaction.h"

namespace {

constexpr int kFailedStatus = 1;
constexpr int kNoSpaceStatus = 28;

// Loads the saved transaction of the tree. A missing manifest is nothing to
// do; false for one that cannot be read whole and well-formed.
bool loadSaved(const BoardPaths& board, Transaction& transaction) {
  struct stat info;
  const std::string manifest = board.at(kManifestPath);
  return ::lstat(manifest.c_str(), &info) != 0 || transaction.load(manifest);
}

int reportDamaged(std::ostream& out) {
  out << "ERROR: damaged manifest " << kManifestPath << ": nothing was changed\n" << std::flush;
  return kFailedStatus;
}

// Holds the steps of a commit this run completed from its journal against a
// saved transaction. A --commit killed after its journal was durable has had
// its commit made so: its staged files are gone, and nothing is left to do.
class CompletedCommit {
 public:
  explicit CompletedCommit(const Transaction& saved) : saved_(saved) {}

  void see(const JournalStep& step) {
    // A file copied in from another file system is named by its copy; its
    // staged file goes at the end.
    if (step.kind == 'D') {
      matched_ += copiedSources_.erase(step.path);
      return;
    }
    const StagedOp* op = saved_.find(step.path);
    if (op == nullptr) return;
    if ((step.kind == 'U' && op->kind == OpKind::Remove) ||
        (step.kind == 'L' && op->kind == OpKind::Link && op->source == step.source) ||
        (step.kind == 'M' && op->kind == OpKind::Move && op->source == step.source)) {
      ++matched_;
    } else if (step.kind == 'M' && op->kind == OpKind::Move) {
      copiedSources_.insert(op->source);
    }
  }

  // Every operation of the saved transaction was carried out.
  bool made() const {
    return !saved_.isEmpty() && matched_ == static_cast<size_t>(std::distance(saved_.begin(), saved_.end()));
  }

 private:
  const Transaction& saved_;
  size_t matched_ = 0;
  std::set<std::string> copiedSources_;
};

}  // namespace

int runCommitMode(const BoardPaths& board, std::ostream& out) {
  // Read before an interrupted commit is completed, to be held against it.
  Transaction transaction(board);
  const bool loaded = loadSaved(board, transaction);
  CompletedCommit completed(transaction);
  recoverInterruptedRun(board, [&completed](const JournalStep& step) { completed.see(step); });
  if (!loaded) return reportDamaged(out);
  // The spinner draws after this text.
  out << "finishing install... ";
  out.flush();
  CommitFailure failure;
  const bool committed = completed.made() || transaction.commit(true, &failure);
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
  if (!loadSaved(board, transaction)) return reportDamaged(out);
  transaction.cancelSaved();
  ::unlink(board.at(kManifestPath).c_str());
  return 0;
}

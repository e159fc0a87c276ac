#include "install/manifest_runs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>
#include <set>
#include <string>

#include "install/spinner.h"
#include "platform/clock.h"
#include "staging/transaction.h"

namespace {

// Loads the saved transaction of the tree. A missing manifest is nothing to
// do; false for one that cannot be read whole and well-formed.
bool loadSaved(const BoardPaths& board, Transaction& transaction) {
  struct stat info;
  const std::string manifest = board.at(kManifestPath);
  return !board.fs().status(manifest, &info, false) || transaction.load(manifest);
}

// One message line, shown at once.
void sayError(FILE* out, const std::string& text) {
  fprintf(out, "ERROR: %s\n", text.c_str());
  fflush(out);
}

RunReport reportDamaged(FILE* out) {
  sayError(out, std::string("damaged manifest ") + kManifestPath + ": nothing was changed");
  return RunReport(RunOutcome::DamagedManifest);
}

// Completes what an interrupted run left, showing `carriedOut` the steps of
// a journal it completed; false, said on `out`, when a commit stays half way.
bool recover(const BoardPaths& board, FILE* out, const JournalSteps::Visit& carriedOut = nullptr) {
  CommitFailure stuck;
  if (recoverInterruptedRun(board, &stuck, carriedOut)) return true;
  sayError(out, commitLeftMessage(stuck));
  return false;
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
    const std::optional<StagedOp> op = saved_.find(step.path);
    if (!op) return;
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

RunReport runCommit(const RunRequest& request) {
  const BoardPaths& board = request.board;
  FILE* out = request.console.file();
  // Read before an interrupted commit is completed, to be held against it.
  Transaction transaction(board);
  const bool loaded = loadSaved(board, transaction);
  CompletedCommit completed(transaction);
  if (!recover(board, out, [&completed](const JournalStep& step) { completed.see(step); }))
    return RunReport(RunOutcome::CommitIncomplete);
  if (!loaded) return reportDamaged(out);
  // The spinner draws after this text.
  fputs("finishing install... ", out);
  fflush(out);
  Spinner spinner(systemClock(), out);
  CommitFailure failure;
  const bool committed = completed.made() || transaction.commit(&spinner, &failure);
  // Backspace and blank wipe the last spinner character.
  fputs("\b \n", out);
  fflush(out);
  if (committed) return RunReport(RunOutcome::Done);
  if (failure.journalLeft) {
    sayError(out, commitLeftMessage(failure));
    return RunReport(RunOutcome::CommitIncomplete);
  }
  transaction.cancel();  // the staged files stay the manifest's
  sayError(out, "could not commit " + failure.path + ": " + std::strerror(failure.error) + ": nothing was changed");
  return RunReport(failure.error == ENOSPC ? RunOutcome::NoSpace : RunOutcome::CommitFailed);
}

RunReport runCancel(const RunRequest& request) {
  const BoardPaths& board = request.board;
  FILE* out = request.console.file();
  if (!recover(board, out)) return RunReport(RunOutcome::CommitIncomplete);
  Transaction transaction(board);
  if (!loadSaved(board, transaction)) return reportDamaged(out);
  // The manifest goes first: its files are deleted only once nothing can
  // commit them any more.
  if (!board.fs().unlink(board.at(kManifestPath)) && errno != ENOENT) {
    const int error = errno;
    sayError(out, std::string("could not delete ") + kManifestPath + ": " + std::strerror(error));
    return RunReport(RunOutcome::CancelFailed);
  }
  if (transaction.cancelSaved()) return RunReport(RunOutcome::Done);
  const int error = errno;
  sayError(out, std::string("could not delete the files of ") + kManifestPath + ": " + std::strerror(error) +
                    ": the next run deletes them");
  return RunReport(RunOutcome::CancelFailed);
}

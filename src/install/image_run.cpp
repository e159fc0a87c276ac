#include "install/image_run.h"

#include "install/flash_storage.h"
#include "install/package_install.h"
#include "install/postlog.h"
#include "install/scheduled_actions.h"
#include "platform/file_sink.h"
#include "platform/file_source.h"

namespace {

// Messages of image mode that bypass the reporters: -q does not silence them
// and the post-install log does not keep them.
void printImageError(const Console& console, const char* text) {
  FILE* out = console.file();
  fprintf(out, "ERROR: %s\n", text);
  fflush(out);
}

}  // namespace

RunReport runImage(const RunRequest& request) {
  if (!openBoard(request)) return RunReport(RunOutcome::CommitIncomplete);
  const BoardPaths& board = request.board;
  Console& console = request.console;
  FileSource input(board.fs(), request.input);
  Transaction transaction(board);
  InstallRun run{request.repository, console, transaction, request.permitted | InstallFlags::Upgrade, {}};
  applyScheduledActions(run);
  RunReport report;
  const std::string copy = board.at(kIncomingImage);
  // The copy of the stream belongs to the run until it is placed: recorded
  // before it is made.
  if (!transaction.noteTemporary(copy)) {
    transaction.cancel();
    printImageError(console, "could not open image");
    report.outcome = RunOutcome::ImageFileFailed;
    return report;
  }
  FileSink image(board.fs(), board.at(kIncomingImageCopy));
  if (!image.isOpen()) {
    transaction.cancel();
    printImageError(console, "could not open image");
    report.outcome = RunOutcome::ImageFileFailed;
    return report;
  }
  report.stream = installFromStream(run, &input, &image);
  const bool installed = isInstalled(report.stream);
  if (!installed) report.outcome = RunOutcome::StreamNotInstalled;
  // A copy cut short would be kept as a broken stored image. The log, which
  // already says the package was installed, must say that it was not.
  if (!image.close() && installed) {
    console.reportError("could not write image");
    report.outcome = RunOutcome::ImageFileFailed;
  }
  if (report.outcome == RunOutcome::Done && !report.stream.imageDirectory.empty()) {
    placeImage(transaction, copy, report.stream.imageDirectory + "image", report.stream.bootImage);
  } else {
    // A package that failed half-way must not reach flash: its files would
    // be unverified and the package it replaced would be gone. A package
    // without image part keeps no stored image.
    if (report.outcome != RunOutcome::Done) transaction.cancel();
    board.fs().unlink(copy);
  }
  const RunOutcome committed = commitRun(run);
  if (committed != RunOutcome::Done) {
    // A journal that stays moves the copy into place at the next run.
    if (committed != RunOutcome::CommitIncomplete) board.fs().unlink(copy);
    report.outcome = committed;
  }
  report.outcome = writeLog(console, Postlog(board), report.outcome);
  return report;
}

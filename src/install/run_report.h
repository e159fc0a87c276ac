// What a run of the installer ends with, for the command line to turn into
// an exit status, and the commit every run ends its work with.
#pragma once

#include "install/install_run.h"
#include "install/postlog.h"

enum class RunOutcome {
  Done,                // committed, saved, or nothing to do
  NoSpace,             // the changes do not fit on flash; nothing changed
  CommitFailed,        // the commit could not place a file; nothing changed
  CommitIncomplete,    // a step after the journal failed: the next run completes it
  SaveFailed,          // --safe: the manifest could not be written; nothing changed
  ImageFileFailed,     // image mode: the copy of the stream could not be made whole
  LogFailed,           // done, but the post-install log could not be written
  StreamNotInstalled,  // image mode: the stream was not installed; nothing changed
  DamagedManifest,     // --commit, --cancel: the saved manifest is unreadable; nothing changed
  CancelFailed,        // --cancel: the manifest or the files it staged could not be deleted
};

struct RunReport {
  RunReport() = default;
  explicit RunReport(RunOutcome ended) : outcome(ended) {}

  RunOutcome outcome = RunOutcome::Done;
  // Image mode: what became of the stream.
  InstallResult stream;
};

// Commits the run's transaction. When the commit cannot place every file,
// nothing has changed: the staged files go, the failure is reported (a lack
// of space as `noSpaceMessage` when one is given), and the outcome says so.
// When a step fails once the journal is durable, the journal and the staged
// files stay for the next run, and that is reported.
RunOutcome commitRun(InstallRun& run, const char* noSpaceMessage = nullptr);

// The message (without "ERROR: ") of a commit whose journal stays: its path
// and its reason. A link or rename that failed is first said on standard
// error in the manner of perror ("rename: <reason>").
std::string commitLeftMessage(const CommitFailure& failure);

// Writes the run's post-install log. A log the flash refuses is said on the
// console, and a run that was otherwise done ends with LogFailed.
RunOutcome writeLog(Console& console, const Postlog& log, RunOutcome outcome);

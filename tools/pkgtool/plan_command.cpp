// pkgtool plan: the installer's own upgrade run, on a board that records
// instead of writing. It prints what the run prints, then what the run
// changes on the board, and ends with the run's exit status.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "cli/preparation.h"
#include "cli/run_modes.h"
#include "model/board_paths.h"
#include "platform/recording_file_system.h"
#include "pkgtool/board_query.h"
#include "pkgtool/command_support.h"
#include "pkgtool/commands.h"
#include "pkgtool/report_json.h"

namespace {

struct Verdict {
  const char* text;  // as the plan prints it
  const char* word;  // in its JSON object
};

// The run's status, and whether it changes more than its post-install log.
Verdict verdictOf(ExitStatus status, bool changes) {
  switch (status) {
    case ExitStatus::Ok:
      return changes ? Verdict{"the changes are made", "changes"}
                     : Verdict{"nothing changes but the post-install log", "log_only"};
    case ExitStatus::NoSpace:
      return {"not enough space; nothing changes but the post-install log", "no_space"};
    default:
      return {"the run fails", "failed"};
  }
}

bool changesMoreThanTheLog(const std::vector<RecordedChange>& changes) {
  for (const RecordedChange& change : changes)
    if (change.path != kPostlogPath) return true;
  return false;
}

// The changes as the plan tells them: a removed directory stands for
// everything below it.
std::vector<RecordedChange> toldChanges(const std::vector<RecordedChange>& changes) {
  std::vector<RecordedChange> told;
  std::vector<std::string> removed;
  const auto below = [&removed](const std::string& path) {
    for (const std::string& dir : removed)
      if (path.compare(0, dir.size(), dir) == 0) return true;
    return false;
  };
  for (const RecordedChange& change : changes) {
    if (below(change.path)) continue;
    if (change.op == '-' && S_ISDIR(change.mode)) removed.push_back(change.path + "/");
    told.push_back(change);
  }
  return told;
}

const char* kindOf(unsigned mode) {
  return S_ISREG(mode) ? "file" : S_ISDIR(mode) ? "directory" : S_ISLNK(mode) ? "link" : "other";
}

std::string octal(unsigned mode) {
  char text[8];
  snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// "+ /flash/bin/app (file 0755, 20 bytes)", "+ /flash/l (link to /flash/x)", "- /flash/old",
// "- /flash/var/pdb/old/" (a directory, and all below it).
void printChange(const RecordedChange& change, std::ostream& out) {
  out << "  " << change.op << " " << change.path;
  if (change.op == '-') {
    out << (S_ISDIR(change.mode) ? "/\n" : "\n");
  } else if (S_ISLNK(change.mode)) {
    out << " (link to " << change.text << ")\n";
  } else {
    out << " (" << kindOf(change.mode) << " " << octal(change.mode);
    if (S_ISREG(change.mode)) out << ", " << change.size << " bytes";
    out << ")\n";
  }
}

// The plan for scripts: the run's lines, the changes and the verdict.
nlohmann::json planJson(const std::string& said, const std::vector<RecordedChange>& changes, const Verdict& verdict) {
  nlohmann::json lines = nlohmann::json::array(), changed = nlohmann::json::array();
  for (size_t start = 0; start < said.size();) {
    size_t end = said.find('\n', start);
    if (end == std::string::npos) end = said.size();
    lines.push_back(said.substr(start, end - start));
    start = end + 1;
  }
  for (const RecordedChange& change : changes) {
    nlohmann::json item = {{"change", change.op == '+' ? "added" : change.op == '~' ? "changed" : "removed"},
                           {"path", change.path},
                           {"type", kindOf(change.mode)},
                           {"mode", octal(change.mode)}};
    if (S_ISREG(change.mode)) item["size"] = change.size;
    if (S_ISLNK(change.mode) && change.op != '-') item["link"] = change.text;
    changed.push_back(item);
  }
  return {{"run", lines}, {"changes", changed}, {"verdict", verdict.word}};
}

}  // namespace

int runPlan(int argc, char** argv, std::ostream& out, std::ostream& err) {
  Arguments args(argc, argv, 0);
  std::string root = "/";
  RunOptions options;
  bool json = false;
  while (!args.done() && !args.failed()) {
    if (args.option("-r", &root) || args.separator()) continue;
    if (args.flag("--down")) {
      options.installFlags |= InstallFlags::Downgrade;
    } else if (args.flag("--reinstall")) {
      options.installFlags |= InstallFlags::Reinstall;
    } else if (args.flag("--safe")) {
      options.commitNow = false;
    } else if (args.flag("--json")) {
      json = true;
    } else {
      return unexpected(err, "plan", args);
    }
  }
  if (args.failed()) return usageError(err, "plan", args.error());
  const std::string board = boardRoot(root);
  PosixFileSystem fs;
  struct stat database;
  if (!fs.status(board + kDatabaseDir, &database, true) || !S_ISDIR(database.st_mode))
    return failure(err, "plan", board + "/flash/var/pdb: no package database", kExitBroken);
  options.architecture = architectureFromEnvironment();

  // The run's words are caught whole, as few as a console shows.
  char* caught = nullptr;
  size_t length = 0;
  FILE* console = open_memstream(&caught, &length);
  if (console == nullptr) return failure(err, "plan", "no memory for the run's output", kExitBroken);
  RecordingFileSystem recording(fs, board);
  const ExitStatus status = runMode(options, BoardPaths(recording), console);
  fclose(console);
  std::string said(caught, length);
  free(caught);

  const std::vector<RecordedChange> changes = toldChanges(recording.changes());
  const Verdict verdict = verdictOf(status, changesMoreThanTheLog(changes));
  if (json) {
    out << jsonText(planJson(said, changes, verdict)) << "\n";
  } else {
    out << said << (said.empty() || said.back() == '\n' ? "" : "\n") << "changes:" << (changes.empty() ? " none\n" : "\n");
    for (const RecordedChange& change : changes) printChange(change, out);
    out << "verdict: " << verdict.text << " (status " << exitCode(status) << ")\n";
  }
  return exitCode(status);
}

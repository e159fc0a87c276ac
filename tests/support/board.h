// A scratch board for end-to-end tests: the board's directory tree (flash,
// ram, rw, dev) in a private scratch directory, writers for the files other
// parts of the system leave there, snapshots, and runs of the real installer
// binary on it. Nothing outside the scratch directory is touched.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/dependency.h"
#include "support/scratch_dir.h"
#include "support/tmpfs_mount.h"
#include "support/tree_snapshot.h"

// One package's directory below /flash/var/pdb/. Optional files are written
// only when set; an empty list still gives an (empty) file.
struct DatabaseEntry {
  std::string name;
  std::optional<std::pair<uint32_t, uint32_t>> version;  // version, build time
  std::optional<std::vector<Dependency>> deps;
  std::optional<std::vector<Dependency>> provides;  // lines carry the priority
  std::optional<std::vector<Dependency>> conflicts;
  std::optional<std::string> bundle;                   // the bundle's name
  std::optional<std::vector<std::string>> files;       // paths, "/" first or not
  std::optional<std::string> disabled;                 // "user" or "auto"
  std::optional<std::string> enabled;                  // "user"
};

// What a run gets besides its arguments.
struct RunInput {
  std::string standardInput;
  std::vector<std::pair<std::string, std::string>> setEnvironment;
  std::vector<std::string> unsetEnvironment;
  // Words run before the program, such as a tracer: it then starts the
  // program, and a run inside the root enters it through chroot(8), so that
  // the tracer stays outside.
  std::vector<std::string> tracer;
};

struct RunResult {
  int status = -1;  // the exit status, or 128 + signal number
  std::string out;  // standard output
  std::string err;  // standard error
};

class Board {
 public:
  Board();

  // False where the machine allows neither root nor a user namespace; the
  // test should then skip with whyUnusable().
  bool usable() const { return usable_; }
  const std::string& whyUnusable() const { return why_; }

  const std::string& root() const { return root_; }
  // The host path of a board path such as "/flash/var/pdb".
  std::string path(const std::string& boardPath) const { return root_ + boardPath; }

  bool write(const std::string& boardPath, const std::string& content, unsigned mode = 0644) const;
  bool writeDatabaseEntry(const DatabaseEntry& entry) const;
  // /ram/pdb/NAME/schedule with the one word.
  bool writeSchedule(const std::string& name, const std::string& word) const;
  // /ram/MANIFEST, each line ended by a newline.
  bool writeManifest(const std::vector<std::string>& lines) const;

  // A tmpfs of `bytes` at the board path, unmounted with the board; null
  // (with whyUnusable() telling why) where it cannot be mounted.
  TmpfsMount* mountTmpfs(const std::string& boardPath, size_t bytes);

  // The whole board without what the harness put there to run the binary.
  TreeSnapshot snapshot() const;

  // `installer -r ROOT args...`, the binary run from the build tree.
  RunResult runWithRoot(const std::vector<std::string>& args, const RunInput& input = RunInput());
  // `/installer args...` inside the board's root, for the modes that use
  // absolute paths without entering a root (--commit, --cancel).
  RunResult runInside(const std::vector<std::string>& args, const RunInput& input = RunInput());

 private:
  bool installBinary();
  RunResult run(const std::string& program, const std::vector<std::string>& args, const RunInput& input,
                bool inside);

  ScratchDir scratch_;
  std::string root_;
  bool usable_ = false;
  std::string why_;
  bool binaryInstalled_ = false;
  std::vector<std::unique_ptr<TmpfsMount>> mounts_;
};

// The installer binary under test: $INSTALLER_BUILD_DIR/installer, else the
// one this test was built with.
std::string installerBinary();

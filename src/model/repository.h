// The one collection of packages of a run, in insertion order, together with
// the system architecture and the console state (progress line, log, quiet).
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "model/package.h"

class Repository {
 public:
  // The process-wide instance, created empty on first use.
  static Repository& instance();

  std::string architecture;
  std::vector<std::unique_ptr<Package>> packages;
  // The console: the progress line now shown, every message of the run in
  // order, the quiet switch, and where it all goes (standard output when
  // null).
  std::string progressLine;
  std::vector<std::string> messages;
  bool quiet = false;
  std::ostream* console = nullptr;

  std::ostream& consoleStream() const;

  int indexOf(const std::string& name) const;
  Package* find(const std::string& name) const;
  Package* findProvider(const std::string& name) const;
  Package* findConflicting(const Package& package) const;
  bool anyStaysActive() const;
  void propagateBundleActions();
  void settleBundles();
};

// Running the built pkgtool executable in end-to-end tests: one command line
// a call, with its standard input, environment, output and exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/scratch_dir.h"

struct ToolRun {
  int status = -1;  // the exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs the built pkgtool with the arguments; env holds NAME=VALUE settings,
// and SOURCE_DATE_EPOCH is unset unless given. input is standard input.
ToolRun pkgtool(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                const std::string& input = std::string());

// Starts the built pkgtool without waiting for it; its output is dropped.
pid_t startPkgtool(const std::vector<std::string>& args);
// Waits for a started pkgtool: its exit status, or 128 + signal number.
int waitForPkgtool(pid_t pid);

bool contains(const std::string& text, const std::string& part);

// A scratch directory with a key pair (k.key, k.pub) and a tree of three
// files: bin/tool (0755, 40003 bytes), etc/tool.conf and the empty lib/empty.
class PkgtoolCli : public ::testing::Test {
 protected:
  void SetUp() override;

  // Runs pkgtool with the words of a line; a word starting with "@" names a
  // path in the test's directory.
  ToolRun run(const std::string& line, const std::vector<std::string>& env = {},
              const std::string& input = std::string());
  // A package of the tree, tool-6.41beta3, signed with k.key.
  ToolRun build(const std::string& out, const std::vector<std::string>& more = {});

  ScratchDir dir_;
};

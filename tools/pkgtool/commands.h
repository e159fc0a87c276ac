// The commands of pkgtool and its exit statuses: one table for every command,
// so that the same cause ends every command with the same status.
#pragma once

#include <ostream>

enum CommandStatus {
  kExitOk = 0,
  kExitBadSignature = 1,  // a package's signature is bad or missing, a bundle member's too
  kExitNo = 1,            // the answer is no: a relation, a name, a path, a run that would be cancelled
  kExitBroken = 2,        // a package or key file is broken or cannot be read; a board without package database
  kExitFailed = 3,        // nothing was made: the inputs cannot go into it, or the output cannot be written
  kExitUsage = 4,         // the command line is wrong
};

// Each takes the words after the command name; reports go to out, errors
// and warnings to err.
int runKeygen(int argc, char** argv, std::ostream& out, std::ostream& err);
int runBuild(int argc, char** argv, std::ostream& out, std::ostream& err);
int runBundle(int argc, char** argv, std::ostream& out, std::ostream& err);
int runSign(int argc, char** argv, std::ostream& out, std::ostream& err);
int runInspect(int argc, char** argv, std::ostream& out, std::ostream& err);
int runVerify(int argc, char** argv, std::ostream& out, std::ostream& err);
int runList(int argc, char** argv, std::ostream& out, std::ostream& err);
int runExtract(int argc, char** argv, std::ostream& out, std::ostream& err);
int runVersion(int argc, char** argv, std::ostream& out, std::ostream& err);
int runFiles(int argc, char** argv, std::ostream& out, std::ostream& err);
int runOwner(int argc, char** argv, std::ostream& out, std::ostream& err);
int runStatus(int argc, char** argv, std::ostream& out, std::ostream& err);
int runPlan(int argc, char** argv, std::ostream& out, std::ostream& err);

// The whole command line: argv[1] names the command.
int runPkgtool(int argc, char** argv, std::ostream& out, std::ostream& err);

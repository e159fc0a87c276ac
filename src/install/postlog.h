// The post-install log "/flash/postlog": the messages of the runs that changed
// packages, one a line, carried from one run to the next.
#pragma once

#include <string>

#include "model/repository.h"

constexpr char kPostlogPath[] = "/flash/postlog";
// The log is blanked with this many zero bytes once its lines are read.
constexpr size_t kPostlogBlankSize = 4096;

// `root` below is the directory in which the board's tree is seen: empty on
// the board, a scratch tree in tests.

// Puts the log's complete lines before the repository's messages (a last line
// without a newline is dropped), then blanks the file. A log that cannot be
// read counts as empty.
void loadPostlog(Repository& repository, const std::string& root = std::string());

// Writes the messages: in place of the old log once it has been loaded in
// this process, else after it. Nothing happens when there is nothing to say
// and the log was not loaded. Failures to write are ignored.
void writePostlog(const Repository& repository, const std::string& root = std::string());

// Whether loadPostlog has run in this process; tests that play several runs
// in one process forget it between them.
bool postlogLoaded();
void forgetPostlogLoaded();

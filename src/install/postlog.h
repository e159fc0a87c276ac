// The post-install log "/flash/postlog": the messages of the runs that changed
// packages, one a line, carried from one run to the next.
#pragma once

#include <cstddef>

#include "install/console.h"
#include "model/board_paths.h"

// The log of one run's board.
class Postlog {
 public:
  explicit Postlog(BoardPaths board) : board_(std::move(board)) {}

  // Puts the log's complete lines before the console's messages (a last
  // line without a newline is dropped). A log that cannot be read counts as
  // empty. The file itself changes only when the new log is written.
  void load(Console& console);

  // Writes the messages: in place of the old log once it has been loaded,
  // else after it, through a new file renamed over the old one, once what the
  // run changed on the lasting file systems is durable. Nothing happens when
  // there is nothing to say and the log was not loaded, or when something
  // else than a file stands at its name. False, with `failedPath` and errno
  // telling why, when the flash refuses a write or a sync: the old log stays.
  bool write(const Console& console, std::string* failedPath) const;

 private:
  BoardPaths board_;
  bool loaded_ = false;
};

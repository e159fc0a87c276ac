// Walking a command's arguments: options with values ("--name VALUE" or
// "--name=VALUE"), flags, and the words that are not options.
#pragma once

#include <string>
#include <vector>

class Arguments {
 public:
  Arguments(int argc, char** argv, int first);

  bool done() const { return next_ >= words_.size(); }
  // The current word is the option name: its value goes to *value and both
  // are taken. A missing value is noted as a failure.
  bool option(const char* name, std::string* value);
  bool flag(const char* name);
  // Takes a "--" word: every word after it is positional.
  bool separator();
  // Takes the current word, which is no known option. A word beginning with
  // "-" (other than "-" itself) is noted as an unknown option.
  std::string positional();

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }

 private:
  std::vector<std::string> words_;
  size_t next_ = 0;
  bool optionsEnded_ = false;  // after "--" every word is positional
  std::string error_;
};

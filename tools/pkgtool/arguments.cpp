// Command arguments of pkgtool.
#include "pkgtool/arguments.h"

#include <cstring>

Arguments::Arguments(int argc, char** argv, int first) {
  for (int i = first; i < argc; ++i) words_.push_back(argv[i]);
}

bool Arguments::option(const char* name, std::string* value) {
  if (done() || optionsEnded_) return false;
  const std::string& word = words_[next_];
  size_t length = strlen(name);
  if (word.compare(0, length, name) != 0) return false;
  if (word.size() > length && word[length] == '=') {
    *value = word.substr(length + 1);
    ++next_;
    return true;
  }
  if (word.size() != length) return false;
  if (next_ + 1 >= words_.size()) {
    if (error_.empty()) error_ = std::string(name) + " needs a value";
    next_ = words_.size();
    return true;
  }
  *value = words_[next_ + 1];
  next_ += 2;
  return true;
}

bool Arguments::flag(const char* name) {
  if (done() || optionsEnded_ || words_[next_] != name) return false;
  ++next_;
  return true;
}

bool Arguments::separator() {
  if (!flag("--")) return false;
  optionsEnded_ = true;
  return true;
}

std::string Arguments::positional() {
  std::string word = words_[next_++];
  if (!optionsEnded_ && word.size() > 1 && word[0] == '-' && error_.empty()) error_ = "unknown option " + word;
  return word;
}

// The end-to-end test runner of pkgtool.
#include "pkgtool/pkgtool_cli_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

namespace {

std::vector<std::string> splitWords(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The words that run the built pkgtool with the arguments.
std::vector<std::string> commandWords(const std::vector<std::string>& args) {
  std::vector<std::string> words = splitWords(PKGTOOL_EMULATOR);
  words.push_back(PKGTOOL_BINARY);
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

[[noreturn]] void execWords(std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

}  // namespace

int waitForPkgtool(pid_t pid) {
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t startPkgtool(const std::vector<std::string>& args) {
  std::vector<std::string> words = commandWords(args);
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execWords(words);
  }
  return pid;
}

ToolRun pkgtool(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& input) {
  ScratchDir capture;
  std::vector<std::string> words = commandWords(args);
  if (!writeFile(capture / "in", input)) return ToolRun();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open((capture / "in").c_str(), O_RDONLY);
    int out = open((capture / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((capture / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    unsetenv("SOURCE_DATE_EPOCH");
    for (const std::string& setting : env) putenv(const_cast<char*>(setting.c_str()));
    execWords(words);
  }
  ToolRun run;
  run.status = waitForPkgtool(pid);
  run.out = readFile(capture / "out");
  run.err = readFile(capture / "err");
  return run;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void PkgtoolCli::SetUp() {
  ToolRun keygen = run("keygen -o @k.key --public @k.pub");
  ASSERT_EQ(keygen.status, 0) << keygen.err;
  ASSERT_TRUE(writeFile(dir_ / "tree/bin/tool", std::string(40000, 'x') + "end"));
  ASSERT_TRUE(writeFile(dir_ / "tree/etc/tool.conf", "setting=1\n"));
  ASSERT_TRUE(writeFile(dir_ / "tree/lib/empty", ""));
  ASSERT_EQ(chmod((dir_ / "tree/bin/tool").c_str(), 0755), 0);
}

ToolRun PkgtoolCli::run(const std::string& line, const std::vector<std::string>& env, const std::string& input) {
  std::vector<std::string> args = splitWords(line);
  for (std::string& word : args)
    if (word[0] == '@') word = dir_ / word.substr(1);
  return pkgtool(args, env, input);
}

ToolRun PkgtoolCli::build(const std::string& out, const std::vector<std::string>& more) {
  std::vector<std::string> args = {"build", "--key", dir_ / "k.key", "--name", "tool", "--version", "6.41beta3",
                                   "--build-time", "1700000000", "--root", dir_ / "tree", "-o", out};
  args.insert(args.end(), more.begin(), more.end());
  return pkgtool(args);
}

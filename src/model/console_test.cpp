#include "model/console.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>

// What runs cannot show: messages over 255 characters, bars of files no board holds, errors no
// test board gives, a warning under a progress line. tests/scenarios/console.scn shows the rest.
TEST(Console, CutsMessagesDrawsBarsOfAnySizeAndTellsCreateFailures) {
  Repository repository;
  std::ostringstream out;
  repository.console = &out;
  for (int length : {254, 255, 256, 5000}) reportWarning(repository, "%s", std::string(length, 'x').c_str());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(repository.messages[i], "WARNING: " + std::string(std::min(254 + i, 255), 'x'));
  const std::tuple<uint64_t, uint64_t, int> bars[] = {{0, 1000, 0},     {500, 1000, 29}, {999, 1000, 57},
                                                      {1000, 1000, 58}, {2000, 1000, 58}, {10, 0, 0},
                                                      {0xFFFFFFFEu, 0xFFFFFFFFu, 57}};
  const std::string label = "installing ppp  ";  // 16 characters, which leave 58 cells
  for (const auto& [done, total, filled] : bars) {
    showReadProgress(repository, label, done, total);
    EXPECT_EQ(repository.progressLine, label + " [" + std::string(filled, '#') + std::string(58 - filled, ' ') + "]");
  }
  showReadProgress(repository, std::string(90, 'l'), 1, 2);
  EXPECT_EQ(repository.progressLine, std::string(90, 'l') + " []");
  out.str("");
  reportWarning(repository, "below");
  EXPECT_EQ(out.str(), "\r" + std::string(79, ' ') + "\rWARNING: below\n" + std::string(90, 'l') + " []");
  Package member("wireless");
  member.bundle = {"base", makeVersion(6, 40, 'f', 0)};
  for (int error : {ENOSPC, EIO, EACCES}) reportCreateFailure(repository, member, "/bin/iw", error);
  EXPECT_EQ(std::vector<std::string>(repository.messages.end() - 3, repository.messages.end()),
            (std::vector<std::string>{"ERROR: installation of base-6.40 failed: disk is too small",
                                      "ERROR: installation of base-6.40 failed: disk error",
                                      "ERROR: installation of base-6.40 failed: could not create /bin/iw: " +
                                          std::string(strerror(EACCES))}));
}

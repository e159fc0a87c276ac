// Tamper sweep: every byte of a small package and of a small bundle, changed
// in turn, installed by an upgrade run and by image mode. Nothing is
// installed from a changed signed byte and the board stays as it was. A byte
// no signature covers (the file header, a bundle's header, metadata, image
// marker and start-disabled list) may change what is installed only as far as
// that byte says: a bundle's own entry, its name in its members' entries, or
// which members start disabled.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/little_endian.h"
#include "sweeps/sweep.h"

namespace {

constexpr size_t kFileHeaderSize = 8;
constexpr size_t kPartHeaderSize = 6;
constexpr size_t kSignatureSize = 68;
constexpr uint16_t kPackageHeaderPart = 1;
constexpr uint16_t kSignaturePart = 9;
const std::string kPackageDirectory = "/flash/rw/pckg/";

// Which bytes a changed value must make the installer refuse: every byte a
// package's digest runs over, from the header of its type-1 part up to and
// including the header of its signature part, and the signature itself. The
// rest (file header, bundle parts before the first member) no signature
// covers; each such byte is named by the part it lies in.
struct ByteRoles {
  std::vector<bool> mustRefuse;
  std::vector<std::string> unsignedPart;  // "file header", "part 18", ...
};

ByteRoles byteRoles(const std::string& file) {
  ByteRoles roles{std::vector<bool>(file.size(), false), std::vector<std::string>(file.size())};
  for (size_t i = 0; i < kFileHeaderSize && i < file.size(); ++i) roles.unsignedPart[i] = "file header";
  const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
  bool inPackage = false;
  for (size_t at = kFileHeaderSize; at + kPartHeaderSize <= file.size();) {
    const uint16_t type = le16(bytes + at);
    const size_t end = std::min(file.size(), at + kPartHeaderSize + le32(bytes + at + 2));
    inPackage = inPackage || type == kPackageHeaderPart;
    const size_t covered = type == kSignaturePart ? std::min(end, at + kPartHeaderSize + kSignatureSize) : end;
    for (size_t i = at; i < end; ++i) {
      roles.mustRefuse[i] = inPackage && i < covered;
      if (!roles.mustRefuse[i]) roles.unsignedPart[i] = "part " + std::to_string(type);
    }
    if (type == kSignaturePart) inPackage = false;
    at = end;
  }
  return roles;
}

struct Subject {
  const char* name;
  std::string file;
  std::string candidateName;
  std::vector<std::string> members;  // the packages it installs
  // The file itself first, then the same file made with other choices that
  // no signature covers (which members start disabled): what a changed
  // unsigned byte may have chosen.
  std::vector<std::string> variants;
};

Subject smallPackage() {
  const std::string file =
      packageBytes({"tool", "2.0", {{"bin/tool", "#!/bin/sh\necho tool 2\n"}, {"etc/tool.conf", "level=2\n"}},
                    {"--depends", "system", "--description", "a tool", "--image"}});
  return {"package", file, "tool-2.0.vpa", {"tool"}, {file}};
}

Subject smallBundle() {
  const std::vector<PackageRecipe> members = {{"ospf", "1.0", {{"bin/ospf", "ospf"}}, {"--depends", "system"}},
                                              {"bgp", "1.0", {{"bin/bgp", "bgp"}}, {}}};
  auto bundle = [&members](std::vector<std::string> options) {
    options.insert(options.end(), {"--description", "routing suite"});
    return bundleBytes("suite", "1.0", members, options);
  };
  const std::string file = bundle({"--start-disabled", "bgp"});
  return {"bundle",
          file,
          "suite-1.0.vpa",
          {"ospf", "bgp"},
          {file, bundle({}), bundle({"--start-disabled", "ospf"}),
           bundle({"--start-disabled", "ospf", "--start-disabled", "bgp"})}};
}

// The board before every run: system, and tool 1.0 that the package replaces.
void prepare(Board& board) {
  ASSERT_TRUE(installByEntry(board, "system", "6.41", {{"bin/system", "system"}}));
  ASSERT_TRUE(installByEntry(board, "tool", "1.0", {{"bin/tool", "tool 1"}}));
}

struct Outcome {
  RunResult run;
  TreeSnapshot before;
  TreeSnapshot after;
};

Outcome install(const Subject& subject, bool imageMode, const std::string& file) {
  Outcome outcome;
  Board board;
  if (!board.usable()) return outcome;
  prepare(board);
  if (!imageMode) {
    EXPECT_TRUE(board.write(kPackageDirectory + subject.candidateName, file));
  }
  outcome.before = withoutPostlog(board.snapshot());
  outcome.run = imageMode ? board.runWithRoot({"-"}, standardInput(file)) : board.runWithRoot({});
  outcome.after = withoutPostlog(board.snapshot());
  return outcome;
}

// The board as the file left it, with the file itself (moved into place as a
// stored image, or left in the package directory) read as a placeholder.
TreeSnapshot asInstalled(TreeSnapshot tree, const std::string& file) {
  for (auto& [path, entry] : tree)
    if (entry.type == TreeEntry::File && entry.data == file) entry.data = "<the installed file>";
  return tree;
}

// What a changed byte that no signature covers changed beyond what a variant
// of the file installs, by path: the bundle's own entry (its name, version,
// description, stored image or none) and its name in its members' entries.
// "unexplained" when anything else differs; empty when nothing does.
std::string explanation(const Subject& subject, const TreeSnapshot& expected, const TreeSnapshot& actual) {
  std::set<std::string> paths;
  for (const auto& [path, entry] : expected)
    if (!actual.count(path) || actual.at(path) != entry) paths.insert(path);
  for (const auto& [path, entry] : actual)
    if (!expected.count(path)) paths.insert(path);
  const std::string database = "/flash/var/pdb/";
  std::set<std::string> kinds;
  for (const std::string& path : paths) {
    const std::string rest = path.rfind(database, 0) == 0 ? path.substr(database.size()) : std::string();
    const std::string entry = rest.substr(0, rest.find('/'));
    const bool member = std::find(subject.members.begin(), subject.members.end(), entry) != subject.members.end();
    if (path == kPackageDirectory + subject.candidateName || (!rest.empty() && !member))
      kinds.insert("bundle entry");
    else if (member && rest == entry + "/bundle")
      kinds.insert("members' bundle name");
    else
      return "unexplained";
  }
  std::string text;
  for (const std::string& kind : kinds) text += (text.empty() ? "" : " + ") + kind;
  return text;
}

// How a run on a changed file ended: "old", what explains a change
// that a byte no signature covers made, or "other".
std::string classify(const Subject& subject, const std::vector<TreeSnapshot>& references, bool signedByte,
                     const std::string& part, const Outcome& outcome, const std::string& file) {
  if (outcome.run.status >= 128 && outcome.run.status != 255) return "other";
  if (outcome.after == outcome.before) return "old";
  if (signedByte) return "other";
  for (size_t r = 0; r < references.size(); ++r) {
    std::string why = explanation(subject, references[r], asInstalled(outcome.after, file));
    if (why == "unexplained") continue;
    if (r > 0) why += std::string(why.empty() ? "" : " + ") + "members' start state";
    // A board that holds the new state, but keeps the changed file as its
    // stored image, did not come out of the untampered file either.
    return part + ": " + (why.empty() ? "stored image" : why);
  }
  return "other";
}

class TamperSweep : public testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(TamperSweep, NothingIsInstalledFromAChangedSignedByte) {
  const bool bundle = std::get<0>(GetParam()), imageMode = std::get<1>(GetParam());
  {
    Board probe;
    SKIP_WITHOUT_BOARD(probe);
  }
  const Subject subject = bundle ? smallBundle() : smallPackage();
  std::vector<TreeSnapshot> references;
  for (const std::string& variant : subject.variants) {
    const Outcome reference = install(subject, imageMode, variant);
    ASSERT_EQ(reference.run.status, 0) << reference.run.out;
    ASSERT_NE(reference.before, reference.after) << "the untampered file installs nothing";
    references.push_back(asInstalled(reference.after, variant));
  }

  const ByteRoles roles = byteRoles(subject.file);
  // Two values in the CI setting, every single-bit change in the long run.
  const std::vector<unsigned char> masks =
      fullSweep() ? std::vector<unsigned char>{0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80}
                  : std::vector<unsigned char>{0x01, 0x80};
  SweepTally tally(std::string("tamper, ") + subject.name + (imageMode ? ", image mode" : ", upgrade"));
  for (size_t at = 0; at < subject.file.size(); ++at) {
    for (unsigned char mask : masks) {
      std::string file = subject.file;
      file[at] = static_cast<char>(file[at] ^ mask);
      const Outcome outcome = install(subject, imageMode, file);
      const std::string result =
          classify(subject, references, roles.mustRefuse[at], roles.unsignedPart[at], outcome, file);
      tally.count(result);
      EXPECT_NE(result, "other") << "byte " << at << " xor " << int(mask)
                                 << (roles.mustRefuse[at] ? " (signed)" : " (" + roles.unsignedPart[at] + ")")
                                 << ", status " << outcome.run.status << "\n"
                                 << outcome.run.out << "against the untampered install:\n"
                                 << diffSnapshots(references[0], asInstalled(outcome.after, file));
    }
  }
  tally.print();
}

INSTANTIATE_TEST_SUITE_P(Files, TamperSweep, testing::Combine(testing::Bool(), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                           return std::string(std::get<0>(info.param) ? "Bundle" : "Package") +
                                  (std::get<1>(info.param) ? "InImageMode" : "InAnUpgrade");
                         });

}  // namespace

#include "pkgtool/package_builder.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "pkgfile/package_file.h"
#include "pkgfile/package_signature.h"
#include "pkgfile/package_stream.h"
#include "pkgtool/test_packages.h"
#include "support/scratch_dir.h"

namespace {

std::string randomBytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

bool build(const BuildRequest& request, const std::string& out, std::string* error) {
  return buildPackage(request, keySigner(testKey()), out, error);
}

std::vector<std::string> entriesOf(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PackageBuilder, EveryHeaderFieldReadsBackThroughTheReader) {
  BuildRequest full = basicRequest("sixteen-bytes-xy");
  full.header.flags = 3;  // BootImage and NoMetadata
  full.header.buildTime = 0xFFFFFFFE;
  full.header.architecture = "";
  full.header.description = std::string("two\0lines\n", 10);
  full.header.depends = {{"system", makeVersion(6, 40, 'f', 0), makeVersion(6, 49, 'f', 0), 0}, {"dhcp", 0, 0, 0}};
  full.header.provides = {{"ppp", makeVersion(1, 0, 'f', 0), 0, -1}, {"wireless", 0, 0, 0x7FFFFFFF},
                        {"x", 0, 0, static_cast<int32_t>(0x80000000)}};
  full.header.conflicts = {{"old-wifi", 0, makeVersion(5, 0, 'c', 1), 0}};
  full.header.image = true;

  BuildRequest plain = basicRequest("a");
  plain.header.architecture = "powerpc";

  BuildRequest bare = basicRequest("bare");  // no architecture part: read as "i386"

  ScratchDir dir;
  for (const BuildRequest* request : {&full, &plain, &bare}) {
    std::string error;
    ASSERT_TRUE(build(*request, dir / "p.vpa", &error)) << error;
    PackageFile record;
    ASSERT_TRUE(loadPackageFile(record, dir / "p.vpa")) << request->header.name;
    const HeaderFields& header = request->header;
    EXPECT_EQ(record.name, header.name);
    EXPECT_EQ(record.version, header.version);
    EXPECT_EQ(record.buildTime, header.buildTime);
    EXPECT_EQ(record.flags, header.flags);
    EXPECT_EQ(record.architecture, header.architecture ? *header.architecture : "i386");
    EXPECT_EQ(record.description, header.description ? *header.description : "");
    EXPECT_EQ(record.hasImage, header.image);
    EXPECT_FALSE(record.isBundle);
    auto same = [](const std::vector<Dependency>& read, const std::vector<Dependency>& written, bool withPriority) {
      ASSERT_EQ(read.size(), written.size());
      for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].name, written[i].name);
        EXPECT_EQ(read[i].min, written[i].min);
        EXPECT_EQ(read[i].max, written[i].max);
        if (withPriority) {
          EXPECT_EQ(read[i].priority, written[i].priority);
        }
      }
    };
    same(record.depends, header.depends, false);
    same(record.provides, header.provides, true);
    same(record.conflicts, header.conflicts, false);
  }
}

TEST(PackageBuilder, EveryFileComesBackByteForByteWithModeAndClass) {
  ScratchDir dir;
  struct Source {
    const char* path;
    size_t size;
    mode_t mode;
    int processorClass;
  } sources[] = {
      {"bin/tool", 100000, 0755, 0},   {"bin/tool2", 16384, 04711, 2}, {"empty", 0, 0600, 0},
      {"etc/a.conf", 4096, 0644, 1},   {"etc/b.conf", 16385, 0444, 4}, {"lib/x/y/z.so", 1, 0700, 3},
      {"one", 65536 * 3 + 7, 0640, 0},
  };
  std::vector<std::string> contents;
  BuildRequest request = basicRequest("files");
  request.root = dir / "tree";
  unsigned seed = 1;
  for (const Source& source : sources) {
    // Half random, half repetitive, so that deflate both stores and shrinks.
    std::string content = randomBytes(source.size / 2, seed++) + std::string(source.size - source.size / 2, 'r');
    ASSERT_TRUE(writeFile(dir / "tree/" + source.path, content));
    ASSERT_EQ(chmod((dir / "tree/" + source.path).c_str(), source.mode), 0);
    contents.push_back(content);
    if (source.processorClass != 0) request.classes[source.path] = static_cast<uint8_t>(source.processorClass);
  }
  std::string error;
  ASSERT_TRUE(build(request, dir / "p.vpa", &error)) << error;

  std::vector<StoredRecord> records;
  ASSERT_TRUE(readStoredRecords(dir / "p.vpa", &records));
  ASSERT_EQ(records.size(), sizeof sources / sizeof sources[0]);
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(records[i].name, sources[i].path);
    EXPECT_EQ(records[i].mode, S_IFREG | sources[i].mode) << records[i].name;
    EXPECT_EQ(records[i].processorClass, sources[i].processorClass) << records[i].name;
    EXPECT_TRUE(records[i].content == contents[i]) << records[i].name;
  }
}

TEST(PackageBuilder, SignatureCoversExactlyTheBytesTheReaderHashes) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "tree/f", randomBytes(50000, 7)));
  BuildRequest request = basicRequest("signed");
  request.root = dir / "tree";
  request.header.image = true;
  request.header.depends = {{"system", 0, 0, 0}};
  std::string error;
  ASSERT_TRUE(build(request, dir / "p.vpa", &error)) << error;

  std::ifstream file(dir / "p.vpa", std::ios::binary);
  PackageStream stream(file, true);
  stream.acceptPart(kSignaturePart);
  ASSERT_EQ(stream.nextPart(), kSignaturePart);
  EXPECT_EQ(stream.partLength(), kSignaturePayloadLength);
  EXPECT_TRUE(verifySignature(stream, testKey().publicKey));
  EXPECT_EQ(stream.nextPart(), kNoPart);
}

TEST(PackageBuilder, TwoBuildsOfTheSameTreeAreByteIdentical) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "tree/a", randomBytes(30000, 3)));
  ASSERT_TRUE(writeFile(dir / "tree/b/c", "c"));
  BuildRequest request = basicRequest("same");
  request.root = dir / "tree";
  std::string error;
  ASSERT_TRUE(build(request, dir / "1.vpa", &error)) << error;
  ASSERT_TRUE(build(request, dir / "2.vpa", &error)) << error;
  request.header.buildTime += 1;
  ASSERT_TRUE(build(request, dir / "3.vpa", &error)) << error;
  std::string first = readFile(dir / "1.vpa");
  EXPECT_FALSE(first.empty());
  EXPECT_TRUE(first == readFile(dir / "2.vpa"));
  EXPECT_FALSE(first == readFile(dir / "3.vpa"));
}

TEST(PackageBuilder, WithoutATreeTheContainerIsEmptyAndTheMagicIsAsAsked) {
  ScratchDir dir;
  BuildRequest request = basicRequest("nofiles");
  request.unregistered = true;
  std::string error;
  ASSERT_TRUE(build(request, dir / "p.vpa", &error)) << error;
  std::vector<StoredRecord> records{StoredRecord()};
  ASSERT_TRUE(readStoredRecords(dir / "p.vpa", &records));
  EXPECT_TRUE(records.empty());
  std::ifstream file(dir / "p.vpa", std::ios::binary);
  PackageStream stream(file, true);
  EXPECT_TRUE(stream.isUnregistered());
  PackageFile record;
  EXPECT_TRUE(loadPackageFile(record, dir / "p.vpa"));
}

TEST(PackageBuilder, ARefusedBuildLeavesNoOutputAndKeepsAnOldFile) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "tree/ok", "ok"));
  ASSERT_TRUE(writeFile(dir / "fifo-tree/ok", "ok"));
  ASSERT_EQ(mkfifo((dir / "fifo-tree/pipe").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir / "out").c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(dir / "out/p.vpa", "old"));

  BuildRequest longName = basicRequest("seventeen-bytes-x");
  BuildRequest slashName = basicRequest("a/b");
  BuildRequest badClass = basicRequest("p");
  badClass.root = dir / "tree";
  badClass.classes["missing"] = 1;
  BuildRequest pipeTree = basicRequest("p");
  pipeTree.root = dir / "fifo-tree";
  BuildRequest noTree = basicRequest("p");
  noTree.root = dir / "none";
  BuildRequest longList = basicRequest("p");
  longList.header.depends.resize(65536, Dependency{"x", 0, 0, 0});
  struct Case {
    const BuildRequest* request;
    const char* inError;
  } cases[] = {
      {&longName, "1 to 16 bytes"}, {&slashName, "\"a/b\""},          {&badClass, "--class missing"},
      {&pipeTree, "fifo-tree/pipe"}, {&noTree, "none"},               {&longList, "65535"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(build(*c.request, dir / "out/p.vpa", &error)) << c.inError;
    EXPECT_NE(error.find(c.inError), std::string::npos) << error;
    EXPECT_EQ(entriesOf(dir / "out"), std::vector<std::string>{"p.vpa"});
    EXPECT_EQ(readFile(dir / "out/p.vpa"), "old");
  }

  DigestSigner failing = [](const unsigned char*, unsigned char*, std::string* error) {
    *error = "no signing today";
    return false;
  };
  std::string error;
  EXPECT_FALSE(buildPackage(basicRequest("p"), failing, dir / "out/p.vpa", &error));
  EXPECT_EQ(error, "no signing today");
  EXPECT_EQ(entriesOf(dir / "out"), std::vector<std::string>{"p.vpa"});
}

}  // namespace

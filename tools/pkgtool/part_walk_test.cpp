#include "pkgtool/part_walk.h"

#include <gtest/gtest.h>

#include "platform/little_endian.h"
#include "support/scratch_dir.h"

namespace {

std::string le32Text(uint32_t value) {
  unsigned char bytes[4];
  putLe32(bytes, value);
  return std::string(reinterpret_cast<char*>(bytes), 4);
}

std::string part(uint16_t type, const std::string& payload) {
  unsigned char header[2];
  putLe16(header, type);
  return std::string(reinterpret_cast<char*>(header), 2) + le32Text(static_cast<uint32_t>(payload.size())) + payload;
}

std::string file(uint32_t magic, const std::string& body, int lengthAdjust = 0) {
  return le32Text(magic) + le32Text(static_cast<uint32_t>(body.size() + lengthAdjust)) + body;
}

TEST(PartWalk, ListsEveryPartWithOffsetTypeAndLength) {
  ScratchDir dir;
  std::string body = part(1, std::string(36, 'h')) + part(7, "xyz") + part(4, "") + part(9, std::string(68, 's'));
  ASSERT_TRUE(writeFile(dir / "p.vpa", file(0xBAD0F11E, body)));
  FileLayout layout;
  std::string error;
  ASSERT_TRUE(walkParts(dir / "p.vpa", &layout, &error)) << error;
  EXPECT_EQ(layout.broken, "");
  ASSERT_EQ(layout.parts.size(), 4u);
  EXPECT_EQ(layout.parts[0].offset, 8u);
  EXPECT_EQ(layout.parts[1].offset, 50u);
  EXPECT_EQ(layout.parts[1].type, 7u);
  EXPECT_EQ(layout.parts[1].length, 3u);
  EXPECT_EQ(layout.parts[2].offset, 59u);
  EXPECT_EQ(layout.parts[3].offset, 65u);
  EXPECT_EQ(layout.parts[3].length, 68u);
  EXPECT_STREQ(partTypeName(layout.parts[1].type), "unknown");
  EXPECT_STREQ(partTypeName(layout.parts[2].type), "file container");
}

TEST(PartWalk, TellsWhatIsBrokenInADamagedFile) {
  std::string body = part(1, std::string(36, 'h')) + part(9, std::string(68, 's'));
  struct Case {
    const char* what;
    std::string bytes;
    const char* broken;
  } cases[] = {
      {"whole", file(0xBAD0F11E, body), ""},
      {"unregistered", file(0xA1100FFB, body), ""},
      {"empty", "", "shorter than the 8-byte file header"},
      {"seven bytes", file(0xBAD0F11E, "").substr(0, 7), "shorter than the 8-byte file header"},
      {"flipped magic", file(0xBAD0F11F, body), "unknown magic 0xBAD0F11F"},
      {"length one more", file(0xBAD0F11E, body, 1), "length of 117 bytes after it, but 116 follow"},
      {"length one less", file(0xBAD0F11E, body, -1), "length of 115 bytes"},
      {"part past the end", file(0xBAD0F11E, body.substr(0, body.size() - 1)),
       "part at offset 50 (signature, 68 bytes) runs past the end of the file"},
      {"huge part length", file(0xBAD0F11E, part(1, "") .substr(0, 2) + le32Text(0xFFFFFFFF)),
       "runs past the end of the file"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    ASSERT_TRUE(writeFile(dir / "p.vpa", c.bytes));
    FileLayout layout;
    std::string error;
    ASSERT_TRUE(walkParts(dir / "p.vpa", &layout, &error)) << c.what << ": " << error;
    if (*c.broken == '\0')
      EXPECT_EQ(layout.broken, "") << c.what;
    else
      EXPECT_NE(layout.broken.find(c.broken), std::string::npos) << c.what << ": " << layout.broken;
  }
}

TEST(PartWalk, AFewBytesAfterTheLastPartEndTheSequenceWithoutBreakingIt) {
  ScratchDir dir;
  ASSERT_TRUE(writeFile(dir / "p.vpa", file(0xBAD0F11E, part(1, std::string(36, 'h')) + std::string("\x04\x00\x01", 3))));
  FileLayout layout;
  std::string error;
  ASSERT_TRUE(walkParts(dir / "p.vpa", &layout, &error)) << error;
  EXPECT_EQ(layout.broken, "");
  EXPECT_EQ(layout.parts.size(), 1u);
  EXPECT_EQ(layout.trailingBytes, 3u);
}

TEST(PartWalk, AMissingFileIsAnErrorNotABrokenFile) {
  ScratchDir dir;
  FileLayout layout;
  std::string error;
  EXPECT_FALSE(walkParts(dir / "none.vpa", &layout, &error));
  EXPECT_NE(error.find("none.vpa"), std::string::npos);
}

}  // namespace

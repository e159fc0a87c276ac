#include "file_records.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/string_bytes.h"
#include "support/package_writer.h"

namespace {

// A file container that ends inside a record is broken, and says where: in the record's header, its name or its
// content. Only whole records end the walk well.
TEST(FileRecords, AContainerEndingInsideARecordIsBrokenWhereItEnds) {
  const std::string record = fileRecord(0100644, 0, "bin/tool", "content");
  const std::pair<size_t, std::string> cases[] = {
      {record.size(), ""},
      {10, "file container ends inside the header of file record 1"},
      {33, "file container ends inside the name of file record 1"},
      {record.size() - 2, "file container ends inside the content of file record 1 (bin/tool)"},
  };
  for (const auto& [length, expected] : cases) {
    StringSource source(PackageWriter().part(4, zlibCompress(record.substr(0, length))).bytes());
    PackageStream stream(&source, false);
    stream.acceptPart(4);
    ASSERT_EQ(stream.nextPart(), 4);
    std::string broken;
    const bool whole = forEachFileRecord(stream, [](const FileRecordInfo&, ByteSource&) { return true; }, &broken);
    EXPECT_TRUE(whole == expected.empty() && broken == expected) << length << ": " << broken;
  }
}

}  // namespace

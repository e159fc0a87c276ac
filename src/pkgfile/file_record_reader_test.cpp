#include "pkgfile/file_record_reader.h"

#include <gtest/gtest.h>

#include <tuple>

#include "pkgfile/package_stream.h"
#include "platform/string_bytes.h"
#include "support/package_writer.h"

namespace {

// A file container that ends inside a record says where: in the record's header, its name or its content, and which
// record. Only whole records end it well.
TEST(FileRecordReader, AContainerEndingInsideARecordSaysWhereItEnds) {
  const std::string record = fileRecord(0100644, 0, "bin/tool", "content");
  const std::tuple<size_t, RecordRead, uint64_t, std::string> cases[] = {
      {record.size(), RecordRead::End, 2, "bin/tool"}, {10, RecordRead::EndInHeader, 1, ""},
      {33, RecordRead::EndInName, 1, ""}, {record.size() - 2, RecordRead::EndInContent, 1, "bin/tool"}};
  for (const auto& [length, expected, number, names] : cases) {
    StringSource source(PackageWriter().part(kFileContainerPart, zlibCompress(record.substr(0, length))).bytes());
    PackageStream stream(&source, false);
    stream.acceptPart(kFileContainerPart);
    ASSERT_EQ(stream.nextPart(), kFileContainerPart);
    FileRecordReader records(stream);
    std::string seen;
    RecordRead read;
    while ((read = records.next()) == RecordRead::Record) seen += records.record().name;
    EXPECT_TRUE(read == expected && records.number() == number && seen == names) << length;
  }
}

}  // namespace

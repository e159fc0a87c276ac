#include "pkgtool/test_packages.h"

#include <fstream>

#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_stream.h"
#include "platform/little_endian.h"
#include "signing/key_generator.h"

const PrivateKey& testKey() {
  static PrivateKey key;
  static bool made = generateKey(&key);
  (void)made;
  return key;
}

bool readStoredRecords(const std::string& path, std::vector<StoredRecord>* records) {
  records->clear();
  std::ifstream file(path, std::ios::binary);
  PackageStream stream(file, false);
  stream.acceptPart(kFileContainerPart);
  if (stream.nextPart() != kFileContainerPart) return false;
  InflateStream in(stream);
  for (;;) {
    unsigned char header[30];
    in.read(reinterpret_cast<char*>(header), sizeof header);
    if (in.gcount() == 0) return true;
    if (in.gcount() != 30) return false;
    StoredRecord record;
    record.mode = le16(header);
    record.processorClass = header[23];
    record.name.resize(le16(header + 28));
    record.content.resize(le32(header + 24));
    if (!in.read(&record.name[0], static_cast<std::streamsize>(record.name.size()))) return false;
    if (!in.read(&record.content[0], static_cast<std::streamsize>(record.content.size()))) return false;
    records->push_back(record);
  }
}

BuildRequest basicRequest(const std::string& name) {
  BuildRequest request;
  request.header.name = name;
  request.header.version = makeVersion(6, 41, 'b', 3);
  request.header.buildTime = 1700000000;
  return request;
}

// The reader over a package file's parts: a source that hands out one part's
// payload at a time (feeding the signature hash and an optional copy on the
// way), and the stream that walks the part sequence. The format is
// told in doc/package_format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/byte_source.h"
#include "platform/hash.h"

constexpr uint32_t kPackageMagic = 0xBAD0F11E;
constexpr uint32_t kUnregisteredMagic = 0xA1100FFB;
constexpr uint32_t kNoMagic = 0xFFFFFFFF;  // the file header could not be read

constexpr size_t kFileHeaderSize = 8;
constexpr size_t kPartHeaderSize = 6;

// Part types of a package file.
enum PartType : int32_t {
  kNoPart = -1,
  kPackageHeaderPart = 1,
  kRecord2TextPart = 2,
  kDependsPart = 3,
  kFileContainerPart = 4,
  kSignaturePart = 9,
  kArchitecturePart = 16,
  kConflictsPart = 17,
  kBundleHeaderPart = 18,
  kProvidesPart = 19,
  kBundleMembersPart = 20,
  kImagePart = 21,
  kDescriptionPart = 23,
  kRecord24TextPart = 24,
};

// Takes every byte from a source; holds no data buffer of its own. Reads are
// limited to the payload of the current part.
class PackageStreamBuf : public ByteSource {
 public:
  static constexpr size_t kSkipChunk = 16384;
  static constexpr size_t kMaxDigestLength = 64;

  // hashing: the buffer owns a SHA1 and feeds it. tee: receives a copy of
  // every byte taken from the source (not owned; may be nullptr).
  PackageStreamBuf(ByteSource* source, bool hashing, ByteSink* tee);
  // Feeds the given hash instead (nullptr: no hashing).
  PackageStreamBuf(ByteSource* source, std::unique_ptr<Hash> hash, ByteSink* tee);
  ~PackageStreamBuf() override;
  PackageStreamBuf(const PackageStreamBuf&) = delete;
  PackageStreamBuf& operator=(const PackageStreamBuf&) = delete;

  // Takes the 8-byte file header (copied to the tee, never hashed). False
  // when fewer than 8 bytes came; otherwise partOffset becomes 8.
  bool readFileHeader(unsigned char header[kFileHeaderSize]);

  // Skips what is left of the current part and reads the next part header.
  // Returns its type, or kNoPart at the end of the source. skipFailed is set
  // when the source ran dry inside the part being skipped; headerBytes (may
  // be null) receives how many bytes of a part header came.
  int32_t readPartHeader(bool* skipFailed, size_t* headerBytes = nullptr);

  bool hashing() const { return hash_ != nullptr; }
  // Finishes the message: the digest goes to digest() and the hash restarts.
  void finishHash();
  // The last finished digest (20 bytes for SHA-1).
  const unsigned char* digest() const { return digest_; }
  // Takes up to count bytes of the current part straight from the source:
  // copied to the tee but not hashed. Returns the count taken.
  size_t takeUnhashed(unsigned char* out, size_t count);

  // Reads of the current part's payload, hashed and copied to the tee.
  size_t read(char* out, size_t count) override;
  // Forward within the current part: the source moves when nobody needs to
  // see the bytes, else they are read through.
  bool skip(uint64_t count) override;
  // How far into the current part's payload reading stands.
  uint32_t position() const { return partLength_ - remaining_; }

  uint32_t remaining() const { return remaining_; }
  uint32_t partLength() const { return partLength_; }
  uint32_t partOffset() const { return partOffset_; }
  // A write to the tee came up short at least once.
  bool teeFailed() const { return teeFailed_; }

 private:
  // Bytes just taken from the source: hashed (when hashOn) and copied to the
  // tee.
  void account(const void* bytes, size_t count, bool hashOn);
  void copyToTee(const void* bytes, size_t count);
  // Reads and discards count bytes of the current part; false when short.
  bool discard(uint32_t count);

  ByteSource* source_;
  uint32_t partOffset_ = 0;
  uint32_t partLength_ = 0;
  uint32_t remaining_ = 0;
  ByteSink* tee_;
  std::unique_ptr<Hash> hash_;
  unsigned char digest_[kMaxDigestLength] = {};
  bool teeFailed_ = false;
};

// A package file, one part at a time. Its own reads act on the current part's
// payload only; one that comes up short, or a skip past the data, fails the
// stream, and a failed stream goes on to no further part.
class PackageStream : public ByteSource {
 public:
  PackageStream(ByteSource* source, bool hashing, ByteSink* tee = nullptr);
  PackageStream(ByteSource* source, std::unique_ptr<Hash> hash, ByteSink* tee = nullptr);
  ~PackageStream() override;

  size_t read(char* out, size_t count) override;
  bool skip(uint64_t count) override;
  // How far into the current part's payload reading stands; 0 once failed.
  uint32_t position() const { return good() ? buf_->position() : 0; }
  // No read came up short and the file is not broken.
  bool good() const { return !failed_ && !broken_; }

  // Adds a type this reader acts on; every other part is skipped whole.
  void acceptPart(uint32_t type);
  // Makes the next accepted part current; returns its type or kNoPart.
  int32_t nextPart();
  // Ends the part sequence because the file is broken: partType() becomes
  // kNoPart and the stream is broken, so that no later nextPart() goes on.
  void markBroken();
  // The type of the accepted part whose length ran past the end of the file
  // and broke the stream; kNoPart when no such part did.
  int32_t brokenPartType() const { return brokenPartType_; }
  // The parts ended where the file ends: exactly at the size its header gives,
  // with no part skipped since the last accepted one. Nothing that follows a
  // package's last part, and that no signature covers, went unseen.
  bool endedAtFileEnd() const { return endedAtFileEnd_; }

  int32_t partType() const { return partType_; }
  uint32_t partLength() const { return buf_->partLength(); }
  uint32_t partOffset() const { return buf_->partOffset(); }
  uint32_t remaining() const { return buf_->remaining(); }
  bool isUnregistered() const { return magic_ == kUnregisteredMagic; }
  // The file is broken: a wrong magic, a part that runs past the end of the
  // file, or a header or list that could not be read (see markBroken).
  bool isBroken() const { return broken_; }
  uint32_t fileSize() const { return fileSize_; }
  uint32_t magic() const { return magic_; }
  PackageStreamBuf* streamBuf() { return buf_.get(); }

 private:
  void start(std::unique_ptr<PackageStreamBuf> buf);
  bool accepts(int32_t type) const;

  std::unique_ptr<PackageStreamBuf> buf_;
  std::vector<uint32_t> accepted_;
  int32_t partType_ = kNoPart;
  int32_t brokenPartType_ = kNoPart;
  bool failed_ = false;
  bool broken_ = false;
  bool endedAtFileEnd_ = false;
  uint32_t magic_ = kNoMagic;
  uint32_t fileSize_ = 0;
};

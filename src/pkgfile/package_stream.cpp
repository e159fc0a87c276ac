#include "pkgfile/package_stream.h"

#include <algorithm>

#include "platform/little_endian.h"

// ---------------------------------------------------------------------------
// PackageStreamBuf

PackageStreamBuf::PackageStreamBuf(ByteSource* source, bool hashing, ByteSink* tee)
    : PackageStreamBuf(source, hashing ? std::unique_ptr<Hash>(new SHA1) : nullptr, tee) {}

PackageStreamBuf::PackageStreamBuf(ByteSource* source, std::unique_ptr<Hash> hash, ByteSink* tee)
    : source_(source), tee_(tee), hash_(std::move(hash)) {}

PackageStreamBuf::~PackageStreamBuf() = default;

bool PackageStreamBuf::readFileHeader(unsigned char header[kFileHeaderSize]) {
  if (!source_) return false;
  const size_t got = source_->read(reinterpret_cast<char*>(header), kFileHeaderSize);
  copyToTee(header, got);
  if (got < kFileHeaderSize) return false;
  partOffset_ = kFileHeaderSize;
  return true;
}

int32_t PackageStreamBuf::readPartHeader(bool* skipFailed, size_t* headerBytes) {
  *skipFailed = false;
  if (headerBytes) *headerBytes = 0;
  if (!source_) return kNoPart;

  // Skip the rest of the current part: one seek when nobody needs to see
  // the bytes, else read through them.
  if (remaining_ != 0 && !skip(remaining_)) {
    *skipFailed = true;
    return kNoPart;
  }

  // Take the 6-byte part header; a short one is the end of the file.
  partOffset_ += partLength_;
  partLength_ = 0;
  remaining_ = 0;
  unsigned char header[kPartHeaderSize];
  const size_t got = source_->read(reinterpret_cast<char*>(header), kPartHeaderSize);
  if (headerBytes) *headerBytes = got;
  if (got < kPartHeaderSize) {
    copyToTee(header, got);
    finishHash();
    return kNoPart;
  }

  // Copy and hash it; a package header begins a new signed message.
  int32_t type = le16(header);
  copyToTee(header, kPartHeaderSize);
  if (hash_) {
    if (type == kPackageHeaderPart) finishHash();
    hash_->update(header, kPartHeaderSize);
  }

  // The new part becomes current.
  partOffset_ += kPartHeaderSize;
  partLength_ = le32(header + 2);
  remaining_ = partLength_;
  return type;
}

void PackageStreamBuf::finishHash() {
  // A digest longer than the room for it is never taken: the digest stays
  // zero and no signature holds over it.
  if (hash_ && hash_->digestLength() <= kMaxDigestLength) hash_->digest(digest_);
}

size_t PackageStreamBuf::takeUnhashed(unsigned char* out, size_t count) {
  if (!source_ || remaining_ == 0 || count == 0) return 0;
  size_t want = std::min<size_t>(count, remaining_);
  const size_t got = source_->read(reinterpret_cast<char*>(out), want);
  remaining_ -= static_cast<uint32_t>(got);
  account(out, got, false);
  return got;
}

void PackageStreamBuf::account(const void* bytes, size_t count, bool hashOn) {
  if (count == 0) return;
  if (hashOn && hash_) hash_->update(static_cast<const unsigned char*>(bytes), count);
  copyToTee(bytes, count);
}

void PackageStreamBuf::copyToTee(const void* bytes, size_t count) {
  if (!tee_ || count == 0) return;
  if (!tee_->write(static_cast<const char*>(bytes), count)) teeFailed_ = true;
}

bool PackageStreamBuf::discard(uint32_t count) {
  char chunk[kSkipChunk];
  while (count > 0) {
    const size_t want = std::min<size_t>(count, kSkipChunk);
    if (read(chunk, want) != want) return false;
    count -= static_cast<uint32_t>(want);
  }
  return true;
}

bool PackageStreamBuf::skip(uint64_t count) {
  if (!source_ || count > remaining_) return false;
  if (hash_ || tee_) return discard(static_cast<uint32_t>(count));
  if (!source_->skip(count)) return false;
  remaining_ -= static_cast<uint32_t>(count);
  return true;
}

size_t PackageStreamBuf::read(char* out, size_t count) {
  if (!source_ || remaining_ == 0 || count == 0) return 0;
  const size_t got = source_->read(out, std::min<size_t>(count, remaining_));
  remaining_ -= static_cast<uint32_t>(got);
  account(out, got, true);
  return got;
}

// ---------------------------------------------------------------------------
// PackageStream

PackageStream::PackageStream(ByteSource* source, bool hashing, ByteSink* tee) {
  start(std::unique_ptr<PackageStreamBuf>(new PackageStreamBuf(source, hashing, tee)));
}

PackageStream::PackageStream(ByteSource* source, std::unique_ptr<Hash> hash, ByteSink* tee) {
  start(std::unique_ptr<PackageStreamBuf>(new PackageStreamBuf(source, std::move(hash), tee)));
}

PackageStream::~PackageStream() = default;

void PackageStream::start(std::unique_ptr<PackageStreamBuf> buf) {
  buf_ = std::move(buf);
  unsigned char header[kFileHeaderSize];
  if (buf_->readFileHeader(header)) {
    magic_ = le32(header);
    fileSize_ = le32(header + 4) + static_cast<uint32_t>(kFileHeaderSize);
  }
  if (magic_ != kPackageMagic && magic_ != kUnregisteredMagic) broken_ = true;
}

size_t PackageStream::read(char* out, size_t count) {
  const size_t got = good() ? buf_->read(out, count) : 0;
  if (got < count) failed_ = true;
  return got;
}

bool PackageStream::skip(uint64_t count) {
  if (good() && buf_->skip(count)) return true;
  failed_ = true;
  return false;
}

void PackageStream::acceptPart(uint32_t type) { accepted_.push_back(type); }

bool PackageStream::accepts(int32_t type) const {
  return std::find(accepted_.begin(), accepted_.end(), static_cast<uint32_t>(type)) != accepted_.end();
}

void PackageStream::markBroken() {
  partType_ = kNoPart;
  broken_ = true;
}

int32_t PackageStream::nextPart() {
  // A failed stream stays at its end.
  if (!good()) {
    partType_ = kNoPart;
    return kNoPart;
  }
  endedAtFileEnd_ = false;
  for (bool skipped = false;; skipped = true) {
    // Skip the rest of the current part and read the next header. Where the
    // next payload begins is worked out in 64 bits: a lying length field
    // must not wrap around the end of the file.
    uint64_t payloadStart = uint64_t(buf_->partOffset()) + buf_->partLength() + kPartHeaderSize;
    bool skipFailed = false;
    size_t headerBytes = 0;
    int32_t type = buf_->readPartHeader(&skipFailed, &headerBytes);
    // The end, a broken file, an accepted part, or skip another one.
    if (type == kNoPart) {
      endedAtFileEnd_ = !skipFailed && !skipped && headerBytes == 0 && buf_->partOffset() == fileSize_;
      if (skipFailed) {
        markBroken();
      } else {
        partType_ = kNoPart;
        failed_ = true;
      }
      return kNoPart;
    }
    const bool accepted = accepts(type);
    if (payloadStart + buf_->partLength() > fileSize_) {
      // A part this reader would act on is broken before anything of it is
      // read or allocated. One it would only skip ends the part sequence, as
      // the end of the file does: whoever acts on that part finds the file
      // broken there.
      if (accepted) {
        brokenPartType_ = type;
        markBroken();
      } else {
        partType_ = kNoPart;
        failed_ = true;
      }
      return kNoPart;
    }
    partType_ = type;
    if (accepted) return type;
  }
}

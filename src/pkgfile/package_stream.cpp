#include "pkgfile/package_stream.h"

#include <algorithm>

#include "platform/little_endian.h"

namespace {

using Traits = std::streambuf::traits_type;

const std::streambuf::pos_type kSeekFailed = std::streambuf::pos_type(std::streambuf::off_type(-1));

}  // namespace

// ---------------------------------------------------------------------------
// PackageStreamBuf

PackageStreamBuf::PackageStreamBuf(std::streambuf* source, bool hashing, std::streambuf* tee)
    : PackageStreamBuf(source, hashing ? std::unique_ptr<Hash>(new SHA1) : nullptr, tee) {}

PackageStreamBuf::PackageStreamBuf(std::streambuf* source, std::unique_ptr<Hash> hash, std::streambuf* tee)
    : source_(source), tee_(tee), hash_(std::move(hash)) {}

PackageStreamBuf::~PackageStreamBuf() = default;

bool PackageStreamBuf::readFileHeader(unsigned char header[kFileHeaderSize]) {
  if (!source_) return false;
  std::streamsize got = source_->sgetn(reinterpret_cast<char*>(header), kFileHeaderSize);
  if (got > 0) copyToTee(header, static_cast<size_t>(got));
  if (got < static_cast<std::streamsize>(kFileHeaderSize)) return false;
  partOffset_ = kFileHeaderSize;
  return true;
}

int32_t PackageStreamBuf::readPartHeader(bool* skipFailed, size_t* headerBytes) {
  *skipFailed = false;
  if (headerBytes) *headerBytes = 0;
  if (!source_) return kNoPart;

  // Skip the rest of the current part: one seek when nobody needs to see
  // the bytes, else read through them.
  if (remaining_ != 0) {
    bool skipped = false;
    if (!hash_ && !tee_) {
      pos_type moved = source_->pubseekoff(remaining_, std::ios_base::cur, std::ios_base::in);
      if (moved != kSeekFailed) {
        remaining_ = 0;
        skipped = true;
      }
    }
    if (!skipped && !discard(remaining_)) {
      pendingPutback_ = 0;
      *skipFailed = true;
      return kNoPart;
    }
  }

  // Take the 6-byte part header; a short one is the end of the file.
  partOffset_ += partLength_;
  partLength_ = 0;
  pendingPutback_ = 0;
  unsigned char header[kPartHeaderSize];
  std::streamsize got = source_->sgetn(reinterpret_cast<char*>(header), kPartHeaderSize);
  if (headerBytes) *headerBytes = got > 0 ? static_cast<size_t>(got) : 0;
  if (got < static_cast<std::streamsize>(kPartHeaderSize)) {
    if (got > 0) copyToTee(header, static_cast<size_t>(got));
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
  if (!hash_) return;
  if (hash_->digestLength() <= kMaxDigestLength) {
    hash_->digest(digest_);
    return;
  }
  std::unique_ptr<unsigned char[]> whole(new unsigned char[hash_->digestLength()]);
  hash_->digest(whole.get());
  std::copy(whole.get(), whole.get() + kMaxDigestLength, digest_);
}

size_t PackageStreamBuf::takeUnhashed(unsigned char* out, size_t count) {
  if (!source_ || remaining_ == 0 || count == 0) return 0;
  size_t want = std::min<size_t>(count, remaining_);
  std::streamsize got = source_->sgetn(reinterpret_cast<char*>(out), static_cast<std::streamsize>(want));
  if (got <= 0) return 0;
  remaining_ -= static_cast<uint32_t>(got);
  account(out, static_cast<size_t>(got), false);
  return static_cast<size_t>(got);
}

void PackageStreamBuf::account(const void* bytes, size_t count, bool hashOn) {
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  size_t again = std::min<size_t>(pendingPutback_, count);
  pendingPutback_ -= static_cast<uint32_t>(again);
  p += again;
  count -= again;
  if (count == 0) return;
  if (hashOn && hash_) hash_->update(p, count);
  copyToTee(p, count);
}

void PackageStreamBuf::copyToTee(const void* bytes, size_t count) {
  if (!tee_ || count == 0) return;
  std::streamsize put = tee_->sputn(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
  if (put != static_cast<std::streamsize>(count)) teeFailed_ = true;
}

bool PackageStreamBuf::discard(uint32_t count) {
  char chunk[kSkipChunk];
  while (count > 0) {
    std::streamsize want = std::min<std::streamsize>(count, kSkipChunk);
    std::streamsize got = xsgetn(chunk, want);
    if (got != want) return false;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

PackageStreamBuf::pos_type PackageStreamBuf::seekoff(off_type offset, std::ios_base::seekdir direction,
                                                     std::ios_base::openmode which) {
  if (!(which & std::ios_base::in) || !source_) return kSeekFailed;
  off_type target;
  if (direction == std::ios_base::beg)
    target = offset;
  else if (direction == std::ios_base::cur)
    target = static_cast<off_type>(position()) + offset;
  else
    return kSeekFailed;
  if (target < 0 || target > static_cast<off_type>(partLength_)) return kSeekFailed;

  off_type current = position();
  if (target == current) return pos_type(target);
  // Nobody sees the bytes: let the source move, in either direction.
  if (!hash_ && !tee_) {
    if (source_->pubseekoff(target - current, std::ios_base::cur, std::ios_base::in) != kSeekFailed) {
      remaining_ = partLength_ - static_cast<uint32_t>(target);
      return pos_type(target);
    }
  }
  // Otherwise only forward, reading through what lies between.
  if (target < current) return kSeekFailed;
  if (!discard(static_cast<uint32_t>(target - current))) return kSeekFailed;
  return pos_type(target);
}

PackageStreamBuf::pos_type PackageStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
  return seekoff(off_type(position), std::ios_base::beg, which);
}

std::streamsize PackageStreamBuf::showmanyc() {
  if (!source_) return -1;
  return std::min<std::streamsize>(source_->in_avail(), remaining_);
}

std::streamsize PackageStreamBuf::xsgetn(char_type* out, std::streamsize count) {
  if (!source_ || remaining_ == 0 || count <= 0) return 0;
  std::streamsize want = std::min<std::streamsize>(count, remaining_);
  std::streamsize got = source_->sgetn(out, want);
  if (got <= 0) return 0;
  remaining_ -= static_cast<uint32_t>(got);
  account(out, static_cast<size_t>(got), true);
  return got;
}

PackageStreamBuf::int_type PackageStreamBuf::underflow() {
  if (!source_ || remaining_ == 0) return Traits::eof();
  return source_->sgetc();
}

PackageStreamBuf::int_type PackageStreamBuf::uflow() {
  if (!source_ || remaining_ == 0) return Traits::eof();
  int_type c = source_->sbumpc();
  if (Traits::eq_int_type(c, Traits::eof())) return c;
  --remaining_;
  char byte = Traits::to_char_type(c);
  account(&byte, 1, true);
  return c;
}

PackageStreamBuf::int_type PackageStreamBuf::pbackfail(int_type c) {
  if (!source_ || remaining_ == partLength_) return Traits::eof();
  int_type back = Traits::eq_int_type(c, Traits::eof()) ? source_->sungetc()
                                                        : source_->sputbackc(Traits::to_char_type(c));
  if (Traits::eq_int_type(back, Traits::eof())) return back;
  ++remaining_;
  if (hash_ || tee_) ++pendingPutback_;
  return back;
}

// ---------------------------------------------------------------------------
// PackageStream

PackageStream::PackageStream(std::istream& source, bool hashing, std::streambuf* tee)
    : PackageStream(source.rdbuf(), hashing, tee) {}

PackageStream::PackageStream(std::streambuf* source, bool hashing, std::streambuf* tee) : std::istream(nullptr) {
  start(std::unique_ptr<PackageStreamBuf>(new PackageStreamBuf(source, hashing, tee)));
}

PackageStream::PackageStream(std::streambuf* source, std::unique_ptr<Hash> hash, std::streambuf* tee)
    : std::istream(nullptr) {
  start(std::unique_ptr<PackageStreamBuf>(new PackageStreamBuf(source, std::move(hash), tee)));
}

PackageStream::~PackageStream() = default;

void PackageStream::start(std::unique_ptr<PackageStreamBuf> buf) {
  buf_ = std::move(buf);
  rdbuf(buf_.get());
  unsigned char header[kFileHeaderSize];
  if (buf_->readFileHeader(header)) {
    magic_ = le32(header);
    fileSize_ = le32(header + 4) + static_cast<uint32_t>(kFileHeaderSize);
  }
  if (magic_ != kPackageMagic && magic_ != kUnregisteredMagic) setstate(std::ios_base::badbit);
}

void PackageStream::acceptPart(uint32_t type) { accepted_.push_back(type); }

bool PackageStream::accepts(int32_t type) const {
  return std::find(accepted_.begin(), accepted_.end(), static_cast<uint32_t>(type)) != accepted_.end();
}

void PackageStream::markBroken() {
  partType_ = kNoPart;
  setstate(std::ios_base::badbit);
}

int32_t PackageStream::nextPart() {
  // A failed stream stays at its end.
  if (fail()) {
    partType_ = kNoPart;
    return kNoPart;
  }
  // A read that stopped exactly at the end of a part may have set eof.
  clear(rdstate() & ~std::ios_base::eofbit);
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
        setstate(std::ios_base::eofbit | std::ios_base::failbit);
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
        setstate(std::ios_base::eofbit | std::ios_base::failbit);
      }
      return kNoPart;
    }
    partType_ = type;
    if (accepted) return type;
  }
}

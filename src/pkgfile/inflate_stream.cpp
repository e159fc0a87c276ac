#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {

// The zlib interface the program is written against; zlib checks only that
// the major number agrees, and the structure size passed along with it.
const char kZlibInterfaceVersion[] = "1.2.3";

}  // namespace

InflateStream::InflateStream(ByteSource& source, Threading threading)
    : source_(source), buffers_(new Buffers) {
  std::memset(&zstream_, 0, sizeof zstream_);
  // Raw deflate data after the header this stream checks itself. A failed
  // initialisation shows up as the first inflate's failure.
  inflateInit2_(&zstream_, -MAX_WBITS, kZlibInterfaceVersion, static_cast<int>(sizeof(z_stream)));
  // Without a thread to be had, the reader inflates as it goes. The thread
  // must find itself in the background from its first step.
  background_ = threading == Threading::kBackground;
  if (background_ && !thread_.start(&InflateStream::makeBlocks, this)) background_ = false;
}

InflateStream::~InflateStream() {
  {
    ThreadLock::Held lock(lock_);
    stopped_ = true;
  }
  inflaterWake_.wake();
  thread_.join();
  inflateEnd(&zstream_);
}

void InflateStream::waitAsInflater(ThreadLock::Held& lock) {
  inflaterWaits_ = true;
  inflaterWake_.wait(lock);
  inflaterWaits_ = false;
}

void InflateStream::waitAsReader(ThreadLock::Held& lock) {
  readerWaits_ = true;
  readerWake_.wait(lock);
  readerWaits_ = false;
}

// ---------------------------------------------------------------------------
// Inflating

void InflateStream::makeBlocks(void* self) {
  auto& stream = *static_cast<InflateStream*>(self);
  ThreadLock::Held lock(stream.lock_);
  for (;;) {
    // A full ring is left to drain by half, so that the threads do not wake
    // each other for every block.
    if (stream.blocksMade_ - stream.blocksTaken_ == kBlocks) {
      while (!stream.stopped_ && stream.blocksMade_ - stream.blocksTaken_ > kBlocks / 2) stream.waitAsInflater(lock);
    }
    if (stream.stopped_) return;
    Block& block = stream.buffers_->blocks[stream.blocksMade_ % kBlocks];
    lock.release();
    if (!stream.fillBlock(block)) return;
    lock.retake();
    ++stream.blocksMade_;
    // A waiting reader, too, is woken for half the ring at a time.
    if (stream.readerWaits_ && (stream.blocksMade_ - stream.blocksTaken_ >= kBlocks / 2 || block.last))
      stream.readerWake_.wakeOutside(lock);
    if (block.last) return;
  }
}

bool InflateStream::takeHeader() {
  while (headerBytes_ < sizeof header_ && zstream_.avail_in > 0) {
    header_[headerBytes_++] = *zstream_.next_in++;
    --zstream_.avail_in;
  }
  if (headerBytes_ < sizeof header_) return false;
  // Deflate with a window of at most 32 KiB, a check that divides by 31, and
  // no preset dictionary, which no package can supply.
  const unsigned method = header_[0] & 0x0f;
  const unsigned windowBits = (header_[0] >> 4) + 8;
  const unsigned check = (unsigned{header_[0]} << 8) | header_[1];
  headerRefused_ = method != Z_DEFLATED || windowBits > MAX_WBITS || check % 31 != 0 || (header_[1] & 0x20) != 0;
  return !headerRefused_;
}

bool InflateStream::takeInput() {
  ThreadLock::Held lock(lock_);
  while (inputsPushed_ == inputsTaken_) {
    if (!background_) {
      pushInputUpTo(lock, inputsPushed_ + 1);
      continue;
    }
    if (stopped_) return false;
    starving_ = true;
    if (readerWaits_) readerWake_.wake();
    waitAsInflater(lock);
  }
  if (stopped_) return false;
  starving_ = false;
  const Input& input = buffers_->inputs[inputsTaken_++ % kInputSlots];
  if (slotWanted_) readerWake_.wake();  // the slot zlib read before is free again
  lock.release();
  zstream_.next_in = const_cast<unsigned char*>(input.bytes);
  zstream_.avail_in = static_cast<uInt>(input.length);
  dry_ = input.length == 0;
  return true;
}

bool InflateStream::fillBlock(Block& block) {
  size_t filled = 0;
  bool ended = false;
  while (!ended && filled < kBlockSize) {
    // A dry source still gets inflate calls, which deliver output zlib may
    // be holding back, until one delivers nothing.
    if (zstream_.avail_in == 0 && !dry_ && !takeInput()) return false;
    if (headerBytes_ < sizeof header_) {
      if (!takeHeader()) {
        ended = headerRefused_ || dry_;
        continue;
      }
      if (zstream_.avail_in == 0 && !dry_) continue;  // the header was all the input
    }
    zstream_.next_out = reinterpret_cast<Bytef*>(block.bytes + filled);
    zstream_.avail_out = static_cast<uInt>(kBlockSize - filled);
    const int result = inflate(&zstream_, Z_PARTIAL_FLUSH);
    const size_t produced = kBlockSize - filled - zstream_.avail_out;
    filled += produced;
    // What zlib made before it found the data wrong is delivered; the data
    // ends there.
    ended = result != Z_OK || (dry_ && produced == 0);
  }
  block.length = filled;
  block.inputsTaken = inputsTaken_;
  block.last = ended;
  return true;
}

// ---------------------------------------------------------------------------
// Reading

void InflateStream::pushInputUpTo(ThreadLock::Held& lock, uint64_t count) {
  while (!sourceEnded_ && inputsPushed_ < count) {
    // Inflating holds at most the slot it reads and those the block before
    // took, so that a slot is free here: it is waited for all the same.
    const uint64_t held = inputsPushed_ - inputsTaken_ + (inputsTaken_ > 0 ? 1 : 0);
    if (held >= kInputSlots) {
      slotWanted_ = true;
      waitAsReader(lock);
      slotWanted_ = false;
      continue;
    }
    // Slots free now stay free until this side fills them.
    const uint64_t first = inputsPushed_;
    const uint64_t wanted = std::min(kInputSlots - held, count - first);
    lock.release();
    uint64_t filled = 0;
    bool ended = false;
    while (filled < wanted && !ended) {
      Input& input = buffers_->inputs[(first + filled++) % kInputSlots];
      input.length = source_.read(reinterpret_cast<char*>(input.bytes), kInputSize);
      ended = input.length == 0;
    }
    lock.retake();
    inputsPushed_ += filled;
    sourceEnded_ = ended;
    if (inflaterWaits_) inflaterWake_.wakeOutside(lock);
  }
}

void InflateStream::awaitBlock(ThreadLock::Held& lock) {
  if (!background_) {
    lock.release();
    fillBlock(buffers_->blocks[blocksTaken_ % kBlocks]);
    lock.retake();
    ++blocksMade_;
    return;
  }
  while (blocksMade_ == blocksTaken_) {
    // Inflating ran dry before the block: it gets as much input ahead as the
    // block before did, however fast it takes it.
    if (starving_ && !sourceEnded_ && inputsPushed_ == inputsTaken_) {
      pushInputUpTo(lock, inputsTaken_ + kInputAhead);
      continue;
    }
    waitAsReader(lock);
  }
}

bool InflateStream::nextBlock() {
  ThreadLock::Held lock(lock_);
  uint64_t taken = 0;
  if (current_ != nullptr) {
    if (current_->last) return false;
    taken = current_->inputsTaken;
    current_ = nullptr;
    ++blocksTaken_;
    if (inflaterWaits_ && blocksMade_ - blocksTaken_ <= kBlocks / 2) inflaterWake_.wakeOutside(lock);
  }
  pushInputUpTo(lock, taken + kInputAhead);
  awaitBlock(lock);
  current_ = &buffers_->blocks[blocksTaken_ % kBlocks];
  offset_ = 0;
  return true;
}

size_t InflateStream::read(char* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (current_ == nullptr || offset_ == current_->length) {
      if (!nextBlock()) break;
      continue;
    }
    const size_t taken = std::min(count - done, current_->length - offset_);
    std::memcpy(out + done, current_->bytes + offset_, taken);
    offset_ += taken;
    done += taken;
  }
  position_ += done;
  return done;
}

bool InflateStream::skip(uint64_t count) {
  while (count > 0) {
    if (current_ == nullptr || offset_ == current_->length) {
      if (!nextBlock()) return false;
      continue;
    }
    const size_t taken = static_cast<size_t>(std::min<uint64_t>(count, current_->length - offset_));
    offset_ += taken;
    position_ += taken;
    count -= taken;
  }
  return true;
}

const char* InflateStream::take(size_t count) {
  if ((current_ == nullptr || offset_ == current_->length) && !nextBlock()) return nullptr;
  if (current_->length - offset_ < count) return nullptr;
  const char* bytes = current_->bytes + offset_;
  offset_ += count;
  position_ += count;
  return bytes;
}

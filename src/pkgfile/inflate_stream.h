// The decompressing source under a package's file container: zlib's inflate
// on a thread of its own, a few fixed blocks ahead of the reader. Every read
// of the compressed source stays on the reader's thread, at points the data
// alone decides, so that whatever the source does on the way (hashing, a
// copy to a file) happens in the same order on every run.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/background_thread.h"
#include "platform/byte_source.h"

class InflateStream : public ByteSource {
 public:
  // The compressed source is read in slots of kInputSize bytes, up to
  // kInputAhead slots past what the block before the one being read took.
  static constexpr size_t kInputSize = 16384;
  static constexpr uint64_t kInputAhead = 6;
  // Inflated data is handed over in kBlocks blocks of kBlockSize bytes.
  static constexpr size_t kBlockSize = 65536;
  static constexpr uint64_t kBlocks = 4;

  // kInline inflates on the reader's thread, as the stream does when the
  // system has no thread to give; the source is read at the same points.
  enum class Threading { kBackground, kInline };

  // source: a zlib stream (RFC 1950); not owned. Its two header bytes are
  // checked as zlib checks them, its Adler-32 trailer is not read: the
  // container's signature covers every byte of it, and the check would
  // cost more than a twentieth of an install.
  explicit InflateStream(ByteSource& source, Threading threading = Threading::kBackground);
  ~InflateStream() override;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;

  // The decompressed bytes; fewer than asked once the data has ended, the
  // source ran dry or zlib failed.
  size_t read(char* out, size_t count) override;
  bool skip(uint64_t count) override;
  // The next `count` bytes, taken without a copy when they lie in one block:
  // they stay valid until the next read. Null, with nothing taken, when they
  // do not.
  const char* take(size_t count);
  // How far into the decompressed data reading stands.
  uint64_t position() const { return position_; }

 private:
  struct Block {
    char bytes[kBlockSize];
    size_t length;
    uint64_t inputsTaken;  // input slots inflating had taken when the block was full
    bool last;
  };
  struct Input {
    unsigned char bytes[kInputSize];
    size_t length;  // 0: the source has ended
  };
  // One more slot than can be ahead, for the one zlib is still reading.
  static constexpr uint64_t kInputSlots = kInputAhead + 1;
  struct Buffers {
    Block blocks[kBlocks];
    Input inputs[kInputSlots];
  };

  // Waits on the side's own condition; the other side wakes it only while
  // it waits.
  void waitAsInflater(ThreadLock::Held& lock);
  void waitAsReader(ThreadLock::Held& lock);

  // The inflating side.
  static void makeBlocks(void* self);
  // Inflates into the block until it is full or the data ends. False when
  // the reader stopped the stream.
  bool fillBlock(Block& block);
  // Hands zlib the next input slot, the previous one going back to the
  // reader. False when the reader stopped the stream.
  bool takeInput();
  // Takes the zlib header from the input; false once it proved wrong, and
  // while it has not all come.
  bool takeHeader();

  // The reading side.
  // Makes the next block current; false when the data has ended.
  bool nextBlock();
  // Waits until inflating has made the block the reader takes next, reading
  // input whenever inflating waits for it.
  void awaitBlock(ThreadLock::Held& lock);
  // Reads up to `count` input slots in all from the source, letting go of
  // the lock while it reads.
  void pushInputUpTo(ThreadLock::Held& lock, uint64_t count);

  ByteSource& source_;
  std::unique_ptr<Buffers> buffers_;
  const Block* current_ = nullptr;
  size_t offset_ = 0;  // into current_
  uint64_t position_ = 0;

  // Inflating's own.
  z_stream zstream_;
  bool dry_ = false;  // the source's end has been taken
  unsigned char header_[2] = {};
  size_t headerBytes_ = 0;
  bool headerRefused_ = false;

  // Shared, under lock_.
  ThreadLock lock_;
  ThreadCondition readerWake_;
  ThreadCondition inflaterWake_;
  uint64_t inputsPushed_ = 0;
  uint64_t inputsTaken_ = 0;
  uint64_t blocksMade_ = 0;
  uint64_t blocksTaken_ = 0;
  bool sourceEnded_ = false;
  bool starving_ = false;  // inflating waits for input
  bool readerWaits_ = false;
  bool slotWanted_ = false;  // the reader waits for an input slot to come free
  bool inflaterWaits_ = false;
  bool stopped_ = false;

  BackgroundThread thread_;
  bool background_ = false;
};

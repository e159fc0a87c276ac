// Staged changes to flash: nothing reaches its destination before commit().
// Every new file, move, link and deletion of a run is kept here, keyed by the
// path it changes, and can be committed, cancelled or saved as a manifest.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>

class Spinner;

enum class OpKind : uint32_t {
  Move = 0,    // the source is renamed to the destination
  Create = 1,  // the transaction's temporary file is renamed to the destination
  Link = 3,    // a symbolic link to the source text is made at the destination
  Remove = 4,  // the destination is deleted
};

struct StagedOp {
  OpKind kind;
  // Move: the file to move; Create: the temporary file; Link: the link text;
  // Remove: empty.
  std::string source;
};

// The RAM disk: staging directory of last resort.
constexpr char kRamDir[] = "/ram";
// Where a run saves its transaction for a later --commit or --cancel.
constexpr char kManifestPath[] = "/ram/MANIFEST";

class Transaction {
 public:
  // Paths in plain byte order: "/a" before "/a/b" before "/ab".
  using OpMap = std::map<std::string, StagedOp>;

  // `fallbackDir` is where new content is staged when the destination's file
  // system has no room for it.
  explicit Transaction(std::string fallbackDir = kRamDir) : fallbackDir_(std::move(fallbackDir)) {}

  // Stages new content for `destination` and returns a stream on its
  // temporary file, which the caller fills and closes. The temporary file lies
  // on the destination's file system when that has room for sizeHint plus a
  // tenth, else in the fallback directory; `mode` (0: none) is applied to it.
  // When no temporary file can be made, nothing is staged and the stream is
  // returned failed with errno telling why.
  std::ofstream create(const std::string& destination, uint32_t sizeHint, uint32_t mode);
  void move(const std::string& source, const std::string& destination);
  void link(const std::string& text, const std::string& destination);
  // Stages the deletion of an existing path (stat follows links, so a
  // dangling link counts as absent); for an absent path it drops whatever is
  // staged for it instead.
  void remove(const std::string& path);
  // Drops a staged deletion of `path`. False when something else is staged
  // for it or when it exists and is not a directory.
  bool keep(const std::string& path);

  // Applies every staged operation: deletions and links first, then moves.
  // A failing operation never stops the others. The operations stay staged.
  void commit(bool spinner);
  void commit(Spinner* spinner);
  // Deletes the temporary files of staged creations and drops everything.
  void cancel();
  // cancel() for a transaction loaded from a manifest: the temporary files
  // that create() made for its moves are deleted as well, no other file.
  void cancelSaved();

  // Writes the manifest; false when it cannot be written completely.
  bool save(const std::string& manifestPath) const;
  // Stages the operations of a manifest on top of what is staged. False when
  // the manifest cannot be opened or a line is malformed; what was read
  // before a malformed line stays staged.
  bool load(const std::string& manifestPath);

  bool isEmpty() const { return ops_.empty(); }
  const StagedOp* find(const std::string& destination) const;
  OpMap::const_iterator begin() const { return ops_.begin(); }
  OpMap::const_iterator end() const { return ops_.end(); }

 private:
  void stage(const std::string& destination, OpKind kind, std::string source);
  void drop(OpMap::iterator op);
  std::string stagingDirFor(const std::string& destination, uint32_t sizeHint) const;
  bool isStagingFile(const std::string& source, const std::string& destination) const;
  void commitRemove(const std::string& destination) const;
  void commitLink(const std::string& destination, const std::string& text) const;
  void commitMove(const std::string& destination, const std::string& source, Spinner* spinner) const;

  OpMap ops_;
  std::string fallbackDir_;
};

// Whether content of `sizeHint` bytes plus a tenth fits below the free space
// blockSize * freeBlocks, computed in unsigned 32-bit arithmetic as the board
// does, the product wrapping modulo 2^32.
bool roomForStaging(uint32_t sizeHint, uint32_t blockSize, uint32_t freeBlocks);

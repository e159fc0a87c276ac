// The manifest: a saved transaction as text, one line per staged operation in
// path order ("U path", "L path text", "M path source"; see op_line.h).

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/path_utils.h"
#include "staging/op_line.h"
#include "staging/staged_files.h"
#include "staging/transaction.h"

namespace {

// Far more than the longest manifest a run writes; what is longer is no
// manifest.
constexpr size_t kLargestManifest = 64u << 20;
constexpr mode_t kManifestMode = 0644;

struct ManifestLine {
  OpKind kind;
  std::string path;
  std::string second;
};

}  // namespace

bool Transaction::save(const std::string& manifestPath) {
  // What could not be staged whole is never saved either.
  if (stagingFailure_.error != 0) {
    errno = stagingFailure_.error;
    return false;
  }
  std::string text;
  for (const auto& [destination, op] : ops_) {
    const char letter = op.kind == OpKind::Remove ? 'U' : op.kind == OpKind::Link ? 'L' : 'M';
    text += formatOpLine(letter, destination, op.source) + "\n";
  }
  // Written beside the manifest and renamed over it, so that a manifest is
  // always whole; a failure leaves none, not even an older one.
  FileSystem& fs = board_.fs();
  std::string temporary;
  const int fd = record_.makeTemporaryFile(parentDir(manifestPath), true, &temporary);
  // Readable by the other programs of the system, as a manifest always was.
  // Nothing makes it durable: the RAM disk it lives on does not outlast a
  // power cut, whatever is synced.
  bool saved = fd >= 0 && fs.setMode(fd, kManifestMode) && fs.write(fd, text.data(), text.size());
  if (fd >= 0) saved = fs.close(fd) && saved;
  // The record moves beside the manifest first: a manifest that exists always
  // has its staged files recorded.
  const bool handedOver = saved && record_.handOverToManifest();
  saved = handedOver && fs.rename(temporary, manifestPath);
  if (!saved) {
    const int error = errno;
    if (fd >= 0) fs.unlink(temporary);
    fs.unlink(manifestPath);
    // Without a manifest, what the record beside it names has no owner.
    if (handedOver) deleteStagedFiles(board_, board_.at(kSavedRecordPath), {});
    errno = error;
    return false;
  }
  return true;
}

bool Transaction::load(const std::string& manifestPath) {
  std::string text;
  if (!readSmallFile(board_.fs(), manifestPath, kLargestManifest, &text)) return false;
  if (!text.empty() && text.back() != '\n') return false;  // cut inside a line
  // Every line is read and checked before anything is staged.
  std::vector<ManifestLine> lines;
  for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const int fields = line.empty() ? -1 : manifestFieldCount(line[0]);
    char letter = 0;
    ManifestLine parsed{OpKind::Remove, std::string(), std::string()};
    if (fields < 0 || !parseOpLine(line, fields, &letter, &parsed.path, &parsed.second)) return false;
    // Nothing outside the flash may change, nothing outside flash and RAM
    // disk may be moved in.
    if (!board_.liesBelow(parsed.path, kFlashDir)) return false;
    if (letter == 'M' && !board_.liesBelow(parsed.second, kFlashDir) && !board_.liesBelow(parsed.second, kRamDir))
      return false;
    parsed.kind = letter == 'U' ? OpKind::Remove : letter == 'L' ? OpKind::Link : OpKind::Move;
    lines.push_back(std::move(parsed));
  }
  for (ManifestLine& line : lines) stage(line.path, line.kind, std::move(line.second));
  loaded_ = true;
  return true;
}

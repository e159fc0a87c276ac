#include "staging/staged_ops.h"

#include <algorithm>
#include <cstring>

#include "model/path_set.h"
#include "staging/staged_files.h"

namespace {

enum SourceForm : uint8_t { kNoSource = 0, kTextSource = 1, kStemSource = 2 };

// The letters that count a staged file within its stem.
constexpr size_t kCountLetters = 3;

uint8_t packKind(OpKind kind, SourceForm form) { return static_cast<uint8_t>(static_cast<uint8_t>(kind) | form << 4); }
OpKind kindOf(uint8_t packed) { return static_cast<OpKind>(packed & 0x0F); }
SourceForm formOf(uint8_t packed) { return static_cast<SourceForm>(packed >> 4); }

// Whether `source` names a staged file: a stem and the letters that count.
bool isStagedName(std::string_view source) {
  const size_t slash = source.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? source : source.substr(slash + 1);
  return isTemporaryName(std::string(name));
}

}  // namespace

int StagedOps::compare(const Record& record, std::string_view key) const {
  return compareSplitPath(texts_.text(record.dir), texts_.text(record.name), key);
}

// Paths mostly come in order: the last one is asked first.
size_t StagedOps::find(std::string_view destination) const {
  if (order_.empty() || compare(at(order_.size() - 1), destination) < 0) return npos;
  const auto found = std::lower_bound(order_.begin(), order_.end(), destination,
                                      [this](uint32_t id, std::string_view key) { return compare(record(id), key) < 0; });
  if (found == order_.end() || compare(record(*found), destination) != 0) return npos;
  return static_cast<size_t>(found - order_.begin());
}

OpKind StagedOps::kindAt(size_t position) const { return kindOf(at(position).kindAndForm); }

OpKind StagedOps::kindById(uint32_t id) const { return kindOf(record(id).kindAndForm); }

void StagedOps::build(size_t position, Entry* entry) const {
  const Record& op = at(position);
  entry->first.assign(texts_.text(op.dir));
  entry->first.append(texts_.text(op.name));
  entry->second.kind = kindOf(op.kindAndForm);
  entry->second.size = op.size;
  switch (formOf(op.kindAndForm)) {
    case kNoSource:
      entry->second.source.clear();
      break;
    case kTextSource:
      entry->second.source.assign(texts_.text(op.source));
      break;
    case kStemSource:
      entry->second.source.assign(texts_.text(op.source));
      entry->second.source.append(op.count, kCountLetters);
      break;
  }
}

uint32_t StagedOps::insert(std::string_view destination, OpKind kind, std::string_view source) {
  if (recordCount_ % kRecordsPerBlock == 0) recordBlocks_.emplace_back(new Record[kRecordsPerBlock]);
  const uint32_t id = recordCount_++;
  Record& op = record(id);
  const size_t slash = destination.rfind('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  op.dir = texts_.storeRun(destination.substr(0, nameStart));
  op.name = texts_.store(destination.substr(nameStart));
  setSource(&op, kind, source);
  // A path after the last goes at the end without a search.
  auto place = order_.end();
  if (!order_.empty() && compare(at(order_.size() - 1), destination) > 0)
    place = std::lower_bound(order_.begin(), order_.end(), destination,
                             [this](uint32_t other, std::string_view key) { return compare(record(other), key) < 0; });
  // Grown by a quarter, not doubled: the index is most of what a large run keeps.
  if (order_.size() == order_.capacity()) {
    const auto offset = place - order_.begin();
    order_.reserve(order_.size() + order_.size() / 4 + 256);
    place = order_.begin() + offset;
  }
  order_.insert(place, id);
  return id;
}

uint32_t StagedOps::replace(size_t position, OpKind kind, std::string_view source) {
  setSource(&record(order_[position]), kind, source);
  return order_[position];
}

void StagedOps::setSize(size_t position, uint32_t size) { record(order_[position]).size = size; }

void StagedOps::erase(size_t position) { order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(position)); }

void StagedOps::clear() { *this = StagedOps(); }

void StagedOps::setSource(Record* op, OpKind kind, std::string_view source) {
  op->size = kUnknownSize;
  std::memset(op->count, 0, kCountLetters);
  if (source.empty()) {
    op->kindAndForm = packKind(kind, kNoSource);
    op->source = 0;
  } else if (isStagedName(source)) {
    op->kindAndForm = packKind(kind, kStemSource);
    op->source = texts_.intern(source.substr(0, source.size() - kCountLetters));
    std::memcpy(op->count, source.data() + source.size() - kCountLetters, kCountLetters);
  } else {
    op->kindAndForm = packKind(kind, kTextSource);
    op->source = texts_.store(source);
  }
}

// The package reader's layers next to the libraries under them, measured in
// the same run and alternately: the inflating stream against a plain zlib
// inflate loop, and a hashing package stream against libcrypto's SHA-1 alone.
// The counter throughput_ratio is ours over the library's (1.0: as fast).
//
// The data are files of /usr (or of the directory INSTALLER_BENCH_DATA
// names), read in path order up to 16 MiB, so that they compress as a
// firmware tree does.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "pkgfile/inflate_stream.h"
#include "pkgfile/package_stream.h"
#include "platform/little_endian.h"

namespace {

constexpr size_t kDataSize = 16 << 20;
// What the installer asks of the inflating stream per read.
constexpr size_t kCopyChunk = 16384;

// Appends regular files below `dir` in byte-wise path order until `out`
// holds `limit` bytes.
void gather(const std::string& dir, std::string* out, size_t limit) {
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return;
  std::vector<std::string> names;
  while (dirent* entry = ::readdir(handle))
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  ::closedir(handle);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (out->size() >= limit) return;
    const std::string path = dir + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      gather(path, out, limit);
    } else if (S_ISREG(info.st_mode)) {
      std::ifstream in(path, std::ios::binary);
      out->append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
}

const std::string& plainData() {
  static const std::string data = [] {
    std::string gathered;
    const char* dir = std::getenv("INSTALLER_BENCH_DATA");
    gather(dir ? dir : "/usr", &gathered, kDataSize);
    gathered.resize(std::min(gathered.size(), kDataSize));
    return gathered;
  }();
  return data;
}

// plainData() as one zlib stream, compressed as pkgtool compresses containers.
const std::string& compressedData() {
  static const std::string data = [] {
    const std::string& plain = plainData();
    uLongf length = compressBound(plain.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &length, reinterpret_cast<const Bytef*>(plain.data()),
              plain.size(), Z_DEFAULT_COMPRESSION);
    out.resize(length);
    return out;
  }();
  return data;
}

// A source over bytes in memory, so that no read syscall is measured.
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(const std::string& bytes) : next_(bytes.data()), end_(bytes.data() + bytes.size()) {}
  size_t read(char* out, size_t count) override {
    const size_t taken = std::min(count, static_cast<size_t>(end_ - next_));
    std::memcpy(out, next_, taken);
    next_ += taken;
    return taken;
  }

 private:
  const char* next_;
  const char* end_;
};

// Processor time of the whole process: the inflating stream works on a
// thread of its own too.
double processSeconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Inflates `compressed` with zlib alone into a chunk buffer; the byte count.
// Like the inflating stream, it takes the deflate data after the two header
// bytes raw and leaves the Adler-32 trailer unread, so that the two do the
// same work.
size_t plainInflate(const std::string& compressed, char* chunk) {
  z_stream stream = {};
  inflateInit2(&stream, -MAX_WBITS);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()) + 2);
  stream.avail_in = static_cast<uInt>(compressed.size() - 2);
  size_t total = 0;
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = kCopyChunk;
    result = inflate(&stream, Z_NO_FLUSH);
    total += kCopyChunk - stream.avail_out;
    benchmark::DoNotOptimize(chunk);
  }
  inflateEnd(&stream);
  return total;
}

// The same through the inflating stream, read as the installer reads it: a
// chunk that lies whole in an inflated block is taken in place, any other
// copied out.
size_t streamInflate(const std::string& compressed, char* chunk) {
  MemorySource source(compressed);
  InflateStream inflating(source);
  size_t total = 0;
  for (;;) {
    const char* taken = inflating.take(kCopyChunk);
    const size_t got = taken != nullptr ? kCopyChunk : inflating.read(chunk, kCopyChunk);
    if (got == 0) break;
    total += got;
    benchmark::DoNotOptimize(taken != nullptr ? taken : chunk);
  }
  return total;
}

void BM_InflateStreamOverZlib(benchmark::State& state) {
  const std::string& compressed = compressedData();
  const size_t expected = plainData().size();
  if (expected == 0) return state.SkipWithError("no data to compress");
  std::vector<char> chunk(kCopyChunk);
  double ours = 0, plain = 0;
  for (auto _ : state) {
    const double start = processSeconds();
    const size_t plainBytes = plainInflate(compressed, chunk.data());
    const double middle = processSeconds();
    const size_t ourBytes = streamInflate(compressed, chunk.data());
    ours += processSeconds() - middle;
    plain += middle - start;
    if (plainBytes != expected || ourBytes != expected) return state.SkipWithError("inflated a wrong length");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expected * 2));
  state.counters["throughput_ratio"] = ours > 0 ? plain / ours : 0;
  state.counters["ours_MBps"] = ours > 0 ? static_cast<double>(state.iterations() * expected) / ours / 1e6 : 0;
  state.counters["zlib_MBps"] = plain > 0 ? static_cast<double>(state.iterations() * expected) / plain / 1e6 : 0;
}
BENCHMARK(BM_InflateStreamOverZlib)->Unit(benchmark::kMillisecond);

// A package file in memory: the file header and one file container part
// carrying `payload`.
std::string packageAround(const std::string& payload) {
  unsigned char headers[kFileHeaderSize + kPartHeaderSize];
  putLe32(headers, kPackageMagic);
  putLe32(headers + 4, static_cast<uint32_t>(kPartHeaderSize + payload.size()));
  putLe16(headers + 8, kFileContainerPart);
  putLe32(headers + 10, static_cast<uint32_t>(payload.size()));
  return std::string(reinterpret_cast<char*>(headers), sizeof headers) + payload;
}

// Reads the container through a hashing package stream in the pieces the
// inflating stream takes; the bytes read.
size_t streamHash(const std::string& package, char* chunk, unsigned char* digest) {
  MemorySource source(package);
  PackageStream stream(&source, true);
  stream.acceptPart(kFileContainerPart);
  if (stream.nextPart() != kFileContainerPart) return 0;
  size_t total = 0;
  while (const size_t got = stream.read(chunk, InflateStream::kInputSize)) total += got;
  stream.streamBuf()->finishHash();
  std::copy(stream.streamBuf()->digest(), stream.streamBuf()->digest() + SHA_DIGEST_LENGTH, digest);
  return total;
}

void BM_StreamHashOverSha1(benchmark::State& state) {
  const std::string& payload = plainData();
  if (payload.empty()) return state.SkipWithError("no data to hash");
  const std::string package = packageAround(payload);
  std::vector<char> chunk(InflateStream::kInputSize);
  double ours = 0, plain = 0;
  for (auto _ : state) {
    unsigned char plainDigest[SHA_DIGEST_LENGTH], ourDigest[SHA_DIGEST_LENGTH];
    const double start = processSeconds();
    SHA_CTX context;
    SHA1_Init(&context);
    SHA1_Update(&context, package.data() + kFileHeaderSize, package.size() - kFileHeaderSize);
    SHA1_Final(plainDigest, &context);
    const double middle = processSeconds();
    const size_t read = streamHash(package, chunk.data(), ourDigest);
    ours += processSeconds() - middle;
    plain += middle - start;
    if (read != payload.size() || !std::equal(plainDigest, plainDigest + SHA_DIGEST_LENGTH, ourDigest))
      return state.SkipWithError("the digests differ");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * payload.size() * 2));
  state.counters["throughput_ratio"] = ours > 0 ? plain / ours : 0;
  state.counters["ours_MBps"] = ours > 0 ? static_cast<double>(state.iterations() * payload.size()) / ours / 1e6 : 0;
  state.counters["sha1_MBps"] = plain > 0 ? static_cast<double>(state.iterations() * payload.size()) / plain / 1e6 : 0;
}
BENCHMARK(BM_StreamHashOverSha1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

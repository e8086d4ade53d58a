// Block maps; see block_map.h.
#include "update/block_map.h"
#include "core/sha256.h"
#include "update/crc32.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
constexpr char kMagic[8] = {'K', 'M', 'B', 'M', 'A', 'P', '1', '\n'};

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; i++) out += static_cast<char>(value >> (8 * i));
}

void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; i++) out += static_cast<char>(value >> (8 * i));
}

uint64_t GetLE(const std::string& in, size_t pos, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; i--) value = value << 8 | static_cast<uint8_t>(in[pos + i]);
  return value;
}

// Without the rounding addition, which a file size near 2^64 would wrap around.
uint64_t BlockCount(uint64_t fileSize, uint32_t blockSize) {
  return fileSize / blockSize + (fileSize % blockSize != 0);
}

bool HeaderWithinLimits(uint32_t blockSize, uint32_t strongBytes) {
  return blockSize >= kMinBlockSize && blockSize <= kMaxBlockSize && strongBytes >= kMinStrongBytes &&
         strongBytes <= kStrongBytes;
}
}  // namespace

uint32_t BlockMap::BlockLength(size_t index) const {
  uint64_t rest = fileSize - BlockStart(index);
  return rest < blockSize ? static_cast<uint32_t>(rest) : blockSize;
}

// b = size * a - sum i * x[i]. With SSE2, 16 bytes a step: per step the byte sum S (psadbw)
// and sum j * x[j] within the step (pmaddwd); the steps' offsets enter through
// sum c * S_c = (steps - 1) * a - Q, with Q accumulating the running total of S once per
// step. All arithmetic wraps modulo 2^32 like the definition.
WeakSums WeakSumsOf(const uint8_t* data, size_t size) {
  uint32_t a = 0, indexed = 0;  // sum x[i], sum i * x[i]
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowWeights = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  const __m128i highWeights = _mm_setr_epi16(8, 9, 10, 11, 12, 13, 14, 15);
  __m128i sums = zero, runningTotals = zero, within = zero;
  size_t steps = size / 16;
  for (size_t c = 0; c < steps; c++) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * c));
    runningTotals = _mm_add_epi64(runningTotals, sums);
    sums = _mm_add_epi64(sums, _mm_sad_epu8(bytes, zero));
    within = _mm_add_epi32(within, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), lowWeights));
    within = _mm_add_epi32(within, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), highWeights));
  }
  auto total64 = [](__m128i v) {
    return static_cast<uint32_t>(_mm_cvtsi128_si64(v) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(v, v)));
  };
  within = _mm_add_epi32(within, _mm_shuffle_epi32(within, 0x4E));
  within = _mm_add_epi32(within, _mm_shuffle_epi32(within, 0xB1));
  a = total64(sums);
  uint32_t stepSum = steps ? static_cast<uint32_t>(steps - 1) * a - total64(runningTotals) : 0;
  indexed = 16 * stepSum + static_cast<uint32_t>(_mm_cvtsi128_si32(within));
  i = steps * 16;
#endif
  for (; i < size; i++) {
    a += data[i];
    indexed += static_cast<uint32_t>(i) * data[i];
  }
  return WeakSums{a, static_cast<uint32_t>(size) * a - indexed};
}

StrongHash StrongHashOf(const uint8_t* data, size_t size, uint32_t strongBytes) {
  uint8_t digest[32];
  sha256(data, size, digest);
  StrongHash strong{};
  std::copy(digest, digest + strongBytes, strong.begin());
  return strong;
}

BlockMapBuilder::BlockMapBuilder(uint32_t blockSize) {
  map_.blockSize = blockSize;
  pending_.reserve(blockSize);
}

void BlockMapBuilder::EndBlock() {
  BlockEntry entry;
  entry.weak = WeakChecksum(WeakSumsOf(pending_.data(), pending_.size()));
  entry.strong = StrongHashOf(pending_.data(), pending_.size(), map_.strongBytes);
  map_.blocks.push_back(entry);
  map_.fileSize += pending_.size();
  pending_.clear();
}

void BlockMapBuilder::Add(const uint8_t* data, size_t size) {
  while (size > 0) {
    size_t take = std::min<size_t>(size, map_.blockSize - pending_.size());
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    size -= take;
    if (pending_.size() == map_.blockSize) EndBlock();
  }
}

BlockMap BlockMapBuilder::Finish(uint32_t fileCrc) {
  if (!pending_.empty()) EndBlock();
  map_.fileCrc = fileCrc;
  return std::move(map_);
}

std::string SerializeBlockMap(const BlockMap& map) {
  std::string out(kMagic, sizeof kMagic);
  PutU32(out, map.blockSize);
  PutU32(out, map.strongBytes);
  PutU64(out, map.fileSize);
  PutU32(out, map.fileCrc);
  for (const BlockEntry& entry : map.blocks) {
    PutU32(out, entry.weak);
    out.append(reinterpret_cast<const char*>(entry.strong.data()), map.strongBytes);
  }
  PutU32(out, Crc32Of(out.data(), out.size()));
  return out;
}

bool ParseBlockMap(const std::string& bytes, BlockMap& map) {
  if (bytes.size() < kBlockMapHeaderSize + 4 || bytes.compare(0, sizeof kMagic, kMagic, sizeof kMagic) != 0) {
    return false;
  }
  BlockMap parsed;
  parsed.blockSize = static_cast<uint32_t>(GetLE(bytes, 8, 4));
  parsed.strongBytes = static_cast<uint32_t>(GetLE(bytes, 12, 4));
  parsed.fileSize = GetLE(bytes, 16, 8);
  parsed.fileCrc = static_cast<uint32_t>(GetLE(bytes, 24, 4));
  if (!HeaderWithinLimits(parsed.blockSize, parsed.strongBytes)) return false;
  uint64_t entrySize = 4 + parsed.strongBytes;
  uint64_t count = BlockCount(parsed.fileSize, parsed.blockSize);
  // Division first: a huge file size must not wrap the expected length around.
  if (count > (bytes.size() - kBlockMapHeaderSize - 4) / entrySize) return false;
  if (kBlockMapHeaderSize + count * entrySize + 4 != bytes.size()) return false;
  size_t end = bytes.size() - 4;
  if (Crc32Of(bytes.data(), end) != GetLE(bytes, end, 4)) return false;
  parsed.blocks.resize(count);
  size_t pos = kBlockMapHeaderSize;
  for (BlockEntry& entry : parsed.blocks) {
    entry.weak = static_cast<uint32_t>(GetLE(bytes, pos, 4));
    std::copy(bytes.begin() + pos + 4, bytes.begin() + pos + entrySize, entry.strong.begin());
    pos += entrySize;
  }
  map = std::move(parsed);
  return true;
}

uint64_t MaxBlockMapSize(uint64_t fileSize) {
  return kBlockMapHeaderSize + 4 + BlockCount(fileSize, kMinBlockSize) * (4 + kStrongBytes);
}

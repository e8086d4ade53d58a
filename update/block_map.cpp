// Block maps; see block_map.h.
#include "update/block_map.h"
#include "gameconfig/axcrypt.h"
#include "update/crc32.h"

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

WeakSums WeakSumsOf(const uint8_t* data, size_t size) {
  // Two independent sums rather than b accumulating a, so the compiler can vectorize: the
  // scan recomputes them at every block it finds.
  uint32_t a = 0, b = 0;
  uint32_t weight = static_cast<uint32_t>(size);
  for (size_t i = 0; i < size; i++) {
    a += data[i];
    b += (weight - static_cast<uint32_t>(i)) * data[i];
  }
  return WeakSums{a, b};
}

StrongHash StrongHashOf(const uint8_t* data, size_t size, uint32_t strongBytes) {
  uint8_t digest[32];
  sha256(data, size, digest);
  StrongHash strong{};
  std::copy(digest, digest + strongBytes, strong.begin());
  return strong;
}

BlockMap MakeBlockMap(const uint8_t* data, size_t size, uint32_t blockSize) {
  BlockMapBuilder builder(blockSize);
  builder.Add(data, size);
  return builder.Finish(Crc32Of(data, size));
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

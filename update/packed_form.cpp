// Packed forms; see packed_form.h. zlib does the compressing; here are the framing and the
// bounds that keep a hostile packed form from costing more than a block of memory.
#include "update/packed_form.h"
#include <zlib.h>
#include <cstring>

namespace {
constexpr char kPackedMagic[] = "KMPACK1\n";

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; i++) out.push_back(static_cast<char>(value >> (8 * i)));
}

void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; i++) out.push_back(static_cast<char>(value >> (8 * i)));
}

uint64_t GetLE(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int i = count - 1; i >= 0; i--) value = (value << 8) | bytes[i];
  return value;
}
}  // namespace

uint64_t PackedBlockCount(uint64_t rawSize) { return rawSize / kPackedBlockSize + (rawSize % kPackedBlockSize != 0); }

uint64_t PackedHeaderSize(uint64_t rawSize) { return kPackedFixedHeader + 4 * PackedBlockCount(rawSize); }

void PackBlock(const uint8_t* data, size_t size, int level, std::string& packed) {
  uLongf length = compressBound(static_cast<uLong>(size));
  packed.resize(length);
  if (compress2(reinterpret_cast<Bytef*>(&packed[0]), &length, data, static_cast<uLong>(size), level) == Z_OK &&
      length < size) {
    packed.resize(length);
    return;
  }
  packed.assign(reinterpret_cast<const char*>(data), size);
}

std::string FormatPackedHeader(uint64_t rawSize, const std::vector<uint32_t>& lengths) {
  std::string header(kPackedMagic, 8);
  PutU64(header, rawSize);
  PutU32(header, kPackedBlockSize);
  PutU32(header, static_cast<uint32_t>(lengths.size()));
  for (uint32_t length : lengths) PutU32(header, length);
  return header;
}

uint32_t PackedIndex::RawLength(size_t block) const {
  uint64_t start = uint64_t(block) * kPackedBlockSize;
  return static_cast<uint32_t>(std::min<uint64_t>(kPackedBlockSize, rawSize - start));
}

bool ParsePackedHeader(const uint8_t* bytes, size_t size, uint64_t rawSize, PackedIndex& index, std::string& why) {
  uint64_t blocks = PackedBlockCount(rawSize);
  if (size < PackedHeaderSize(rawSize) || memcmp(bytes, kPackedMagic, 8) != 0) {
    why = "not a packed form";
    return false;
  }
  if (GetLE(bytes + 8, 8) != rawSize) {
    why = "the size of another file";
    return false;
  }
  if (GetLE(bytes + 16, 4) != kPackedBlockSize || GetLE(bytes + 20, 4) != blocks) {
    why = "another block size or count";
    return false;
  }
  PackedIndex parsed;
  parsed.rawSize = rawSize;
  uint64_t offset = PackedHeaderSize(rawSize);
  for (uint64_t block = 0; block < blocks; block++) {
    uint32_t length = static_cast<uint32_t>(GetLE(bytes + kPackedFixedHeader + 4 * block, 4));
    if (length == 0 || length > parsed.RawLength(block)) {
      why = "a block length out of bounds";
      return false;
    }
    parsed.lengths.push_back(length);
    parsed.offsets.push_back(offset);
    offset += length;
  }
  parsed.offsets.push_back(offset);
  index = std::move(parsed);
  return true;
}

BlockInflater::BlockInflater(uint64_t rawSize, Sink sink) : rawSize_(rawSize), sink_(std::move(sink)) {
  pending_.reserve(kPackedBlockSize);
}

void BlockInflater::StartAt(const PackedIndex& index, size_t first, uint32_t skip) {
  index_ = index;
  indexed_ = true;
  packedEnd_ = index_.PackedSize();
  next_ = first;
  skip_ = skip;
  pending_.clear();
}

bool BlockInflater::Refuse(const std::string& why) {
  why_ = why;
  return false;
}

// Collects the header and index from the front of the bytes; true once it is parsed.
bool BlockInflater::TakeHeader(const uint8_t*& data, size_t& size) {
  uint64_t headerSize = PackedHeaderSize(rawSize_);
  // A header of a file too large for memory is refused before it is collected.
  if (headerSize > (64u << 20)) return Refuse("an index too large");
  size_t take = static_cast<size_t>(std::min<uint64_t>(size, headerSize - pending_.size()));
  pending_.insert(pending_.end(), data, data + take);
  data += take;
  size -= take;
  if (pending_.size() < headerSize) return true;
  if (!ParsePackedHeader(pending_.data(), pending_.size(), rawSize_, index_, why_)) return false;
  indexed_ = true;
  packedEnd_ = index_.PackedSize();
  pending_.clear();
  return true;
}

// Inflates the collected block, bounded by its raw length, and hands it on.
bool BlockInflater::EndBlock() {
  uint32_t rawLength = index_.RawLength(next_);
  const uint8_t* out = pending_.data();
  if (pending_.size() < rawLength) {
    raw_.resize(rawLength);
    uLongf produced = rawLength;
    uLong consumed = static_cast<uLong>(pending_.size());
    if (uncompress2(raw_.data(), &produced, pending_.data(), &consumed) != Z_OK || produced != rawLength ||
        consumed != pending_.size()) {
      return Refuse("block " + std::to_string(next_) + " does not inflate to its length");
    }
    out = raw_.data();
  }
  bool written = sink_(out + skip_, rawLength - skip_);
  skip_ = 0;
  next_++;
  pending_.clear();
  return written;
}

bool BlockInflater::Feed(const uint8_t* data, size_t size) {
  if (Damaged()) return false;
  if (!indexed_ && (!TakeHeader(data, size) || !indexed_)) return !Damaged();
  while (size > 0) {
    if (next_ >= index_.Blocks()) return Refuse("bytes after the last block");
    size_t take = std::min<size_t>(size, index_.lengths[next_] - pending_.size());
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    size -= take;
    if (pending_.size() == index_.lengths[next_] && !EndBlock()) return false;
  }
  return true;
}

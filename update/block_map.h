// The block map of one release file: for each block of a fixed size, a weak checksum that
// can be rolled along a file one byte at a time and a strong hash that confirms a match.
// Publish writes it as "<file>.kmmap" beside the file in the release tree; a launcher that
// holds an older version of the file finds the blocks it already has and fetches only the
// rest. The map is untrusted input: a wrong map costs bytes, never correctness, because the
// file built from it is verified whole before it is used.
//
// Layout, integers little-endian:
//
//     "KMBMAP1\n"                   8 bytes
//     block size                    u32, kMinBlockSize .. kMaxBlockSize
//     strong hash length            u32, kMinStrongBytes .. kStrongBytes
//     file size                     u64
//     file CRC-32                   u32
//     per block: weak u32, strong   ceil(file size / block size) entries; the last block may
//                                   be short and is summed over its own length
//     CRC-32 of all bytes before    u32
#pragma once
#include "core/base.h"
#include <array>

constexpr uint32_t kMinBlockSize = 1024;
// What publish writes. Every weak hit the strong hash turns down costs one block of hashing,
// so a map is held to this size: larger blocks would only make a hostile map dearer.
constexpr uint32_t kPublishBlockSize = 64u << 10;
constexpr uint32_t kMaxBlockSize = kPublishBlockSize;
constexpr uint32_t kMinStrongBytes = 8;
constexpr uint32_t kStrongBytes = 16;  // leading bytes of the block's SHA-256
constexpr size_t kBlockMapHeaderSize = 28;

using StrongHash = std::array<uint8_t, kStrongBytes>;  // unused trailing bytes are zero

struct BlockEntry {
  uint32_t weak = 0;
  StrongHash strong{};
};

struct BlockMap {
  uint32_t blockSize = 0;
  uint32_t strongBytes = kStrongBytes;
  uint64_t fileSize = 0;
  uint32_t fileCrc = 0;
  std::vector<BlockEntry> blocks;

  uint64_t BlockStart(size_t index) const { return uint64_t(index) * blockSize; }
  uint32_t BlockLength(size_t index) const;
};

// The weak checksum's two running sums over a window of n bytes x[0..n-1]:
// a = sum x[i], b = sum (n - i) * x[i], both modulo 2^32. Rolling one byte on is
// a += in - out, b += a - n * out (with the new a).
struct WeakSums {
  uint32_t a = 0;
  uint32_t b = 0;
};

WeakSums WeakSumsOf(const uint8_t* data, size_t size);

// The 32-bit weak checksum the map stores: the two sums mixed so that the high bits of the
// result depend on both (the sums alone cluster on data with few distinct bytes).
// The odd multiplier carries every bit of b upwards, where the scan's filter looks; a (at
// most 255 * block size) is added below. Two operations: the scan computes this at every
// offset of the old file.
inline uint32_t WeakChecksum(WeakSums sums) { return sums.b * 0x9E3779B1u + sums.a; }

// The first strongBytes bytes of the SHA-256 of the block, the rest zero.
StrongHash StrongHashOf(const uint8_t* data, size_t size, uint32_t strongBytes);

// Feeds a file's bytes in any pieces; gives the map of all bytes fed.
class BlockMapBuilder {
 public:
  explicit BlockMapBuilder(uint32_t blockSize);
  void Add(const uint8_t* data, size_t size);
  BlockMap Finish(uint32_t fileCrc);

 private:
  void EndBlock();
  BlockMap map_;
  std::vector<uint8_t> pending_;
};

std::string SerializeBlockMap(const BlockMap& map);

// False, map untouched, unless the bytes are exactly one well-formed map: magic, limits,
// entry count matching the file size, and the trailing CRC-32.
bool ParseBlockMap(const std::string& bytes, BlockMap& map);

// The largest map a file of this size can have; a longer answer is not its map.
uint64_t MaxBlockMapSize(uint64_t fileSize);

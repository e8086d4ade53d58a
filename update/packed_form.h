// The packed form of a release file: its block-map blocks (block_map.h), each compressed
// on its own with zlib, behind an index of their packed lengths. Publish writes it as
// "<file>.kmpack" beside the file; a launcher fetches it instead of the file and inflates it
// block by block into the part file. Because the packed offset of every block follows from
// the index, any run of blocks is one Range request: a resume starts at the block the part
// file has reached. The packed form is untrusted input: every length is bounded, a block
// must inflate to exactly its raw length, and the inflated whole is verified by CRC-32 (and
// SHA-256) like any download.
//
// Layout, integers little-endian:
//
//     "KMPACK1\n"       8 bytes
//     raw size          u64, the file's size
//     block size        u32, kPackedBlockSize
//     block count       u32, ceil(raw size / block size)
//     per block         u32 packed length: 1 .. the block's raw length; equal to it means
//                       the block is stored as it is, shorter is a zlib stream
//     the blocks        in order, nothing after the last
#pragma once
#include "core/base.h"
#include "update/block_map.h"
#include <atomic>
#include <functional>

// "packed <path>" announces the packed form beside the file of that path. The manifest
// grammar reads such a line as a file line whose CRC-32 is not hex ('p' is no hex digit)
// and skips it, so launchers without packed transfer fetch the file itself.
constexpr char kPackedLinePrefix[] = "packed ";
constexpr char kPackedSuffix[] = ".kmpack";
constexpr uint32_t kPackedBlockSize = kPublishBlockSize;
constexpr size_t kPackedFixedHeader = 24;

uint64_t PackedBlockCount(uint64_t rawSize);
// The header with its index; a packed form is never shorter.
uint64_t PackedHeaderSize(uint64_t rawSize);

// One block compressed (level: zlib's 1 .. 9); as it is when that saves nothing.
void PackBlock(const uint8_t* data, size_t size, int level, std::string& packed);
std::string FormatPackedHeader(uint64_t rawSize, const std::vector<uint32_t>& lengths);

struct PackedIndex {
  uint64_t rawSize = 0;
  std::vector<uint32_t> lengths;
  std::vector<uint64_t> offsets;  // where each block starts in the packed form; one more: its end

  size_t Blocks() const { return lengths.size(); }
  uint32_t RawLength(size_t block) const;
  uint64_t PackedSize() const { return offsets.empty() ? 0 : offsets.back(); }
};

// The header and index at the start of bytes (at least PackedHeaderSize(rawSize) of them),
// for a file of rawSize bytes. False, with the reason, for another magic, size or block
// size, and for a length of 0 or above its block's raw length.
bool ParsePackedHeader(const uint8_t* bytes, size_t size, uint64_t rawSize, PackedIndex& index, std::string& why);

// Turns the packed form's bytes, fed in any pieces, into the file's bytes, one block at a
// time (memory: two blocks). Fed from the packed form's first byte it reads the header
// itself; after StartAt it takes bytes from the start of a chosen block.
class BlockInflater {
 public:
  using Sink = std::function<bool(const uint8_t* data, size_t size)>;  // false: a write failed

  BlockInflater(uint64_t rawSize, Sink sink);
  // The bytes fed begin at block first; the first skip raw bytes of it are already held.
  void StartAt(const PackedIndex& index, size_t first, uint32_t skip);

  // False when the bytes are not a sound packed form of the file (Damaged() then tells
  // why) or the sink failed; nothing more may be fed.
  bool Feed(const uint8_t* data, size_t size);
  bool Complete() const { return indexed_ && next_ == index_.Blocks(); }
  bool Damaged() const { return !why_.empty(); }
  const std::string& Why() const { return why_; }
  // Where the packed form ends, once the header is known (else 0); safe to ask from another
  // thread than the one feeding.
  uint64_t PackedEnd() const { return packedEnd_.load(); }

 private:
  bool TakeHeader(const uint8_t*& data, size_t& size);
  bool EndBlock();
  bool Refuse(const std::string& why);

  uint64_t rawSize_;
  Sink sink_;
  PackedIndex index_;
  bool indexed_ = false;
  size_t next_ = 0;     // the block being collected
  uint32_t skip_ = 0;   // raw bytes of the next block to drop
  std::vector<uint8_t> pending_;  // the header, then the packed bytes of the block next_
  std::vector<uint8_t> raw_;
  std::string why_;
  std::atomic<uint64_t> packedEnd_{0};
};

// Finds the blocks of a block map in an older version of the file: the weak checksum is
// rolled along the old bytes one offset at a time, so blocks that moved because bytes were
// inserted or removed before them are found as well as blocks that stayed in place. A weak
// hit is confirmed by the strong hash before it counts. A large old file is first sampled
// at a few places, so one with nothing reusable costs little.
//
// The map is untrusted: one whose weak checksums hit at every offset but whose strong hashes
// never match would have a block hashed at every byte of the old file. So the strong hashing
// of one scan is bounded (kept to about the old file once over), and a map that would go
// beyond it is a bad map: nothing is reused and the file is downloaded whole.
#pragma once
#include "core/base.h"
#include "update/block_map.h"
#include <functional>

constexpr uint64_t kNotFound = UINT64_MAX;

struct BlockScan {
  std::vector<uint64_t> oldOffset;  // per map block: where the old bytes hold it, or kNotFound
  uint64_t reusableBytes = 0;       // bytes of the new file those blocks cover
  bool sampledOnly = false;         // stretches spread over a large old file held no block,
                                    // so the rest was not scanned: nothing found
  bool overBudget = false;          // the map asked for more strong hashing than the bound
                                    // allows: a bad map, nothing found
  uint64_t bytesHashed = 0;         // strong hashing done, in bytes
};

// The most strong hashing one scan of an old file of this size may do.
uint64_t StrongHashBudget(uint64_t oldSize, uint32_t blockSize);

// Called after about every kScanPollWork bytes of work (offsets rolled over plus bytes
// hashed, a few milliseconds) with the old-file offset reached; true stops the scan.
constexpr uint64_t kScanPollWork = 1u << 20;
using ScanPoll = std::function<bool(uint64_t scanned)>;

// False when the poll stopped it. The old bytes are read in place (a mapped file).
bool ScanOldBytes(const BlockMap& map, const uint8_t* old, uint64_t oldSize, BlockScan& scan,
                  const ScanPoll& poll = nullptr);

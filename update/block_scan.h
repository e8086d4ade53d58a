// Finds the blocks of a block map in an older version of the file: the weak checksum is
// rolled along the old bytes one offset at a time, so blocks that moved because bytes were
// inserted or removed before them are found as well as blocks that stayed in place. A weak
// hit is confirmed by the strong hash before it counts. A large old file is first sampled
// at a few places, so one with nothing reusable costs little.
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
};

// Called about every 4 MiB of old bytes scanned with the count so far; true stops the scan.
using ScanPoll = std::function<bool(uint64_t scanned)>;

// False when the poll stopped it. The old bytes are read in place (a mapped file).
bool ScanOldBytes(const BlockMap& map, const uint8_t* old, uint64_t oldSize, BlockScan& scan,
                  const ScanPoll& poll = nullptr);

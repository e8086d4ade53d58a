// Turns a scan into the steps that build the new file in order: runs copied from the old
// file and runs fetched with Range requests. Short copies between two fetches are fetched
// instead, so a file with scattered changes costs a few requests rather than hundreds.
#pragma once
#include "core/base.h"
#include "update/block_map.h"
#include "update/block_scan.h"

struct DeltaRun {
  bool fetch = false;
  uint64_t newOffset = 0;
  uint64_t oldOffset = 0;  // copies only
  uint64_t length = 0;
};

struct DeltaPlan {
  std::vector<DeltaRun> runs;  // in file order, covering [from, file size) exactly
  uint64_t copyBytes = 0;
  uint64_t fetchBytes = 0;
  size_t requests = 0;  // fetch runs
};

// A copy shorter than this between two fetches is fetched with them: one request less is
// worth more than this many bytes on most links (a round trip of 50 ms at 20 Mbit/s).
constexpr uint64_t kCopyGapWorthARequest = 128u << 10;

// The runs for the bytes from `from` on (what a resumed part file does not hold yet).
DeltaPlan PlanDelta(const BlockMap& map, const BlockScan& scan, uint64_t from,
                    uint64_t mergeGap = kCopyGapWorthARequest);

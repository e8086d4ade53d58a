// The block map of a whole file held in memory, for tests and benchmarks (publish feeds files
// piece by piece to BlockMapBuilder instead).
#pragma once
#include "update/block_map.h"
#include "update/crc32.h"

inline BlockMap MakeBlockMap(const uint8_t* data, size_t size, uint32_t blockSize) {
  BlockMapBuilder builder(blockSize);
  builder.Add(data, size);
  return builder.Finish(Crc32Of(data, size));
}

// Fuzzes the block map parse and checks what the scan and the plan rely on: a map that
// parses has one entry per block of the size it states, serializes back to the same bytes,
// and a plan from it covers the file exactly, whatever the old bytes are. The input is read
// as it is and again with its right CRC-32 appended, so the fields behind the CRC are
// reached too.
#include "update/block_map.h"
#include "update/block_scan.h"
#include "update/crc32.h"
#include "update/delta_plan.h"
#include <cstdlib>

namespace {
void Check(const std::string& bytes, const uint8_t* old, size_t oldSize) {
  BlockMap map;
  if (!ParseBlockMap(bytes, map)) return;
  if (map.blocks.size() != map.fileSize / map.blockSize + (map.fileSize % map.blockSize != 0)) abort();
  if (SerializeBlockMap(map) != bytes || bytes.size() > MaxBlockMapSize(map.fileSize)) abort();
  BlockScan scan;
  ScanOldBytes(map, old, oldSize, scan);
  uint64_t at = 0;
  for (const DeltaRun& run : PlanDelta(map, scan, 0).runs) {
    if (run.newOffset != at || run.length == 0) abort();
    if (!run.fetch && run.oldOffset + run.length > oldSize) abort();
    at += run.length;
  }
  if (at != map.fileSize) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(bytes, data, size);
  uint32_t crc = Crc32Of(data, size);
  for (int i = 0; i < 4; i++) bytes += static_cast<char>(crc >> (8 * i));
  Check(bytes, data, size);
  return 0;
}

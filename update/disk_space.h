// How much room an update pass needs on the game folder's volume, decided before its first
// download so that a pass that cannot fit starts none and leaves the disk as it was.
#pragma once
#include "core/base.h"

// One file the pass still has to write.
struct PendingWrite {
  uint64_t size = 0;      // the new file's size
  uint64_t partSize = 0;  // what its part file already holds (0 when none)
  bool patched = false;   // built from its old version: written whole into the part file
};

// Room kept for what the pass writes besides game files: the cache file and the log.
constexpr uint64_t kDiskReserve = 1048576;

// What the pass holds on the disk at its peak: each downloaded file's size less a usable
// part file (one not longer than the file), a patched file's whole new size, plus the
// reserve, and one stretch more when a file is big enough to go over several connections
// (the side file being joined onto the part file is held twice for a moment). Nothing is
// counted as freed: old versions and overlong part files go only as files are moved into
// place. The sum saturates at UINT64_MAX (never fits).
uint64_t BytesStillToWrite(const std::vector<PendingWrite>& writes);

// a + b, or UINT64_MAX when that does not fit 64 bits.
inline uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// "The update needs 42.0 MB on C:, 20.0 MB are free. Free some space and press RETRY."
std::string DiskSpaceShortage(uint64_t needed, const std::string& drive, uint64_t freeBytes);

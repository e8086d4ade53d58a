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

// The bytes still to be written: each downloaded file's size less a usable part file (one
// not longer than the file), a patched file's whole size; plus a margin of the largest of
// these, for the file systems' own use and a file growing while it is fetched. The margin
// also holds what a download over several connections keeps twice for a moment: the side
// file being joined onto the part file (a stretch, far smaller than such a file). Bytes
// already in side files are counted as still to write, which can only overstate the need.
uint64_t BytesStillToWrite(const std::vector<PendingWrite>& writes);

// "The update needs 42.0 MB on C:, 20.0 MB are free. Free some space and press RETRY."
std::string DiskSpaceShortage(uint64_t needed, const std::string& drive, uint64_t freeBytes);

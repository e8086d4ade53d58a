// Disk room of an update pass; see disk_space.h.
#include "update/disk_space.h"
#include "core/text.h"
#include <algorithm>

uint64_t BytesStillToWrite(const std::vector<PendingWrite>& writes) {
  uint64_t total = 0, largest = 0;
  for (const PendingWrite& write : writes) {
    // A part file longer than the file is deleted and the download starts from zero.
    bool usablePart = !write.patched && write.partSize <= write.size;
    uint64_t bytes = usablePart ? write.size - write.partSize : write.size;
    total += bytes;
    largest = std::max(largest, bytes);
  }
  return total + largest;
}

std::string DiskSpaceShortage(uint64_t needed, const std::string& drive, uint64_t freeBytes) {
  return Fmt("The update needs %s on %s, %s are free. Free some space and press RETRY.", Megabytes(needed).c_str(),
             drive.c_str(), Megabytes(freeBytes).c_str());
}

// Disk room of an update pass; see disk_space.h.
#include "update/disk_space.h"
#include "core/text.h"
#include "update/stretch_plan.h"

uint64_t BytesStillToWrite(const std::vector<PendingWrite>& writes) {
  uint64_t total = kDiskReserve;
  bool split = false;
  for (const PendingWrite& write : writes) {
    // A part file longer than the file is deleted and the download starts from zero.
    bool usablePart = !write.patched && write.partSize <= write.size;
    total = SaturatingAdd(total, usablePart ? write.size - write.partSize : write.size);
    split = split || (!write.patched && write.size >= kSplitFrom);
  }
  return split ? SaturatingAdd(total, kStretchMax) : total;
}

std::string DiskSpaceShortage(uint64_t needed, const std::string& drive, uint64_t freeBytes) {
  return Fmt("The update needs %s on %s, %s are free. Free some space and press RETRY.", Megabytes(needed).c_str(),
             drive.c_str(), Megabytes(freeBytes).c_str());
}

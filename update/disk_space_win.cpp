// Room for an update pass; see disk_space_win.h. The first estimate assumes no part file
// and no patch, which can only overstate the need: when even that fits, no file is looked
// up (under Wine each look-up of a missing part file reads its whole folder).
#include "update/disk_space_win.h"
#include "core/globals_win.h"
#include "core/text.h"
#include "core/wide_text_win.h"
#include "update/disk_space.h"
#include "update/file_state_win.h"
#include "update/part_file_win.h"

namespace {
// "C:" for a drive letter, else the volume's root as Windows names it (a share, a mount).
std::string DriveName(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':') return folder.substr(0, 2);
  wchar_t volume[MAX_PATH] = {};
  std::string name = GetVolumePathNameW(WideFromAnsi(folder).c_str(), volume, MAX_PATH) ? AnsiFromWide(volume) : folder;
  if (name.size() > 1 && name.back() == '\\') name.pop_back();
  return name;
}

PendingWrite WriteOf(const RemoteFile& file) {
  PendingWrite write;
  write.size = file.size;
  uint64_t size = 0, mtime = 0;
  std::string localPath = LocalPath(file.path);
  if (FileInfo(PartPathOf(localPath), size, mtime)) write.partSize = size;
  bool completePart = write.partSize >= file.size && write.partSize > 0;
  // Patched files are built whole in the part file from the old version (see the pass).
  write.patched = file.hasBlockMap && !completePart && FileInfo(localPath, size, mtime) && size > 0;
  return write;
}
}  // namespace

std::string DiskSpaceShortfall(const std::vector<RemoteFile>& files, const std::vector<size_t>& updates, size_t from) {
  ULARGE_INTEGER available = {};
  if (!GetDiskFreeSpaceExA(g_exeDir.c_str(), &available, nullptr, nullptr)) return std::string();
  std::vector<PendingWrite> writes;
  for (size_t k = from; k < updates.size(); k++) {
    PendingWrite whole;
    whole.size = files[updates[k]].size;
    writes.push_back(whole);
  }
  if (BytesStillToWrite(writes) <= available.QuadPart) return std::string();
  for (size_t k = from; k < updates.size(); k++) writes[k - from] = WriteOf(files[updates[k]]);
  uint64_t needed = BytesStillToWrite(writes);
  if (needed <= available.QuadPart) return std::string();
  return DiskSpaceShortage(needed, DriveName(g_exeDir), available.QuadPart);
}

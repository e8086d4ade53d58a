// The file-state cache on disk and the up-to-date test; see file_state_win.h.
#include "update/file_state_win.h"
#include "core/globals_win.h"
#include "core/replace_file_win.h"
#include "core/text.h"
#include <windows.h>

FileStateCache g_cache;

namespace {
// Guards g_cache between the update worker and the final save at exit.
struct CacheLock {
  CacheLock() { EnterCriticalSection(Section()); }
  ~CacheLock() { LeaveCriticalSection(Section()); }
  static CRITICAL_SECTION* Section() {
    static CRITICAL_SECTION section;
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(&once, [](PINIT_ONCE, PVOID, PVOID*) -> BOOL {
      InitializeCriticalSection(&section);
      return TRUE;
    }, nullptr, nullptr);
    return &section;
  }
};

std::string CachePath() { return g_exeDir + "KMLauncher.crc"; }
}  // namespace

bool FileInfo(const std::string& path, uint64_t& size, uint64_t& mtime) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  mtime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
          data.ftLastWriteTime.dwLowDateTime;
  return true;
}

void LoadCache() {
  std::string text;
  if (!ReadWholeFile(CachePath(), text)) return;
  CacheLock lock;
  ParseCacheText(text, g_cache);
}

void SaveCache() {
  std::string text;
  {
    CacheLock lock;
    text = FormatCacheText(g_cache);
  }
  // The lines end in CR LF on disk, as text mode writes them. Written whole, through a new
  // file that replaces the old one: a crash mid-write keeps the old cache, and with it the
  // release floor of a signed install.
  std::string onDisk;
  onDisk.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') onDisk += '\r';
    onDisk += c;
  }
  ReplaceFileWhole(CachePath(), onDisk, nullptr);
}

void StoreCacheEntry(const std::string& key, const CacheEntry& entry) {
  CacheLock lock;
  g_cache[key] = entry;
}

bool FindCacheEntry(const std::string& key, CacheEntry& entry) {
  CacheLock lock;
  auto found = g_cache.find(key);
  if (found == g_cache.end()) return false;
  entry = found->second;
  return true;
}

bool IsUpToDate(const RemoteFile& remote) {
  uint64_t size = 0, mtime = 0;
  if (!FileInfo(LocalPath(remote.path), size, mtime)) return false;
  if (size != remote.size) return false;
  std::string key = Lower(remote.path);
  CacheEntry entry;
  if (FindCacheEntry(key, entry) && entry.size == size && entry.mtime == mtime) {
    return entry.crc == remote.crc;
  }
  uint32_t running = 0;
  if (!HashFile(LocalPath(remote.path), running)) return false;
  CacheEntry fresh{~running, size, mtime};
  StoreCacheEntry(key, fresh);
  return fresh.crc == remote.crc;
}

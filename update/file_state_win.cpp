// The file-state cache on disk and the up-to-date test; see file_state_win.h.
#include "update/file_state_win.h"
#include "core/globals_win.h"
#include "core/replace_file_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include <windows.h>
#include <algorithm>
#include <thread>

FileStateCache g_cache;
std::atomic<uint64_t> g_hashedBytes{0};

namespace {
constexpr DWORD kHashPiece = 1048576;
// Each view costs round trips to the Wine server to map and unmap; 32 MiB views checked
// a page-cached file about a tenth faster than 8 MiB ones (bench/download_vs_curl.py).
constexpr uint64_t kHashView = 32 * 1048576;
// Files from this size on are hashed in two halves at once.
constexpr uint64_t kSplitFrom = 4 * kHashView;

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
  // Text mode: the lines end in CR LF on disk.
  FILE* file = fopen(CachePath().c_str(), "w");
  if (!file) return;
  fwrite(text.data(), 1, text.size(), file);
  fclose(file);
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

namespace {
enum class MappedHash { Done, Stopped, NotMapped };

// The one place where a local file's bytes enter its checksum.
void HashPiece(const unsigned char* data, size_t size, uint32_t& crc) {
  g_hashedBytes += size;
  crc = Crc32Update(crc, data, size);
}

// Runs the CRC-32 register crc over bytes [offset, offset + length) of the mapping, straight
// over the file's pages one view at a time: no copy into a buffer, and the resident set grows
// by one view at most. NotMapped when a view could not be mapped.
MappedHash HashViews(HANDLE mapping, uint64_t offset, uint64_t length, uint32_t& crc) {
  for (uint64_t end = offset + length; offset < end; offset += kHashView) {
    size_t viewLength = static_cast<size_t>(std::min<uint64_t>(kHashView, end - offset));
    const unsigned char* view = static_cast<const unsigned char*>(MapViewOfFile(
        mapping, FILE_MAP_READ, static_cast<DWORD>(offset >> 32), static_cast<DWORD>(offset), viewLength));
    if (!view) return MappedHash::NotMapped;
    bool stopped = false;
    for (size_t done = 0; done < viewLength && !stopped; done += kHashPiece) {
      stopped = QuitRequested();
      if (!stopped) HashPiece(view + done, std::min<size_t>(kHashPiece, viewLength - done), crc);
    }
    UnmapViewOfFile(view);
    if (stopped) return MappedHash::Stopped;
  }
  return MappedHash::Done;
}

// The file's CRC-32 register from crc over a mapping of it. A large file's second half is
// hashed on another thread at the same time and joined to the first with Crc32Concat: the
// time goes into mapping pages as much as into the checksum, and both halve.
MappedHash HashMappedFile(HANDLE file, uint64_t size, uint32_t& crc) {
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!mapping) return MappedHash::NotMapped;
  uint64_t half = size < kSplitFrom ? size : size / 2 / kHashView * kHashView;
  uint32_t second = 0;
  MappedHash secondOutcome = MappedHash::Done;
  std::thread helper;
  if (half < size) helper = std::thread([&] { secondOutcome = HashViews(mapping, half, size - half, second); });
  MappedHash outcome = HashViews(mapping, 0, half, crc);
  if (helper.joinable()) helper.join();
  CloseHandle(mapping);
  if (outcome == MappedHash::NotMapped || secondOutcome == MappedHash::NotMapped) return MappedHash::NotMapped;
  if (outcome == MappedHash::Stopped || secondOutcome == MappedHash::Stopped) return MappedHash::Stopped;
  if (half < size) crc = Crc32Concat(crc, second, size - half);
  return MappedHash::Done;
}

bool HashByReading(HANDLE file, uint32_t& crc) {
  std::vector<unsigned char> buffer(kHashPiece);
  for (;;) {
    if (QuitRequested()) return false;
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), kHashPiece, &got, nullptr)) return false;  // never cached as whole
    if (got == 0) return true;
    HashPiece(buffer.data(), got, crc);
  }
}
}  // namespace

bool HashOpenFile(void* file, uint32_t& crc) {
  crc = kCrc32Start;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart == 0) return HashByReading(file, crc);
  switch (HashMappedFile(file, static_cast<uint64_t>(size.QuadPart), crc)) {
    case MappedHash::Done: return true;
    case MappedHash::Stopped: return false;
    case MappedHash::NotMapped: break;
  }
  crc = kCrc32Start;
  return HashByReading(file, crc);
}

bool HashFile(const std::string& path, uint32_t& crc) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = HashOpenFile(file, crc);
  CloseHandle(file);
  return complete;
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

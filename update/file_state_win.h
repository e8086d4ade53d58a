// The local side of the file-state cache: file facts from the file system, the process-wide
// cache g_cache with its file KMLauncher.crc, and the CRC-32 of a file on disk.
#pragma once
#include "core/base.h"
#include "update/cache_file.h"
#include "update/manifest.h"
#include <atomic>

extern FileStateCache g_cache;

// True when the path names an existing file that is not a folder.
bool FileInfo(const std::string& path, uint64_t& size, uint64_t& mtime);

// KMLauncher.crc in the game folder. The cache has its own lock so the final save at exit
// never meets a worker that is still changing an entry.
void LoadCache();
void SaveCache();
void StoreCacheEntry(const std::string& key, const CacheEntry& entry);
bool FindCacheEntry(const std::string& key, CacheEntry& entry);

// Counts the file bytes read for checksums in this process (tests and diagnostics).
extern std::atomic<uint64_t> g_hashedBytes;

// Reads the file with the sequential-scan hint, g_quit checked between 1 MiB pieces. False
// when it cannot be opened, a read failed part-way or g_quit was set while reading: only a
// whole read gives a value the cache may keep. crc receives the running (uncomplemented) value.
bool HashFile(const std::string& path, uint32_t& crc);

// The same over an open file, from its start; false when a read failed or g_quit stopped it.
// The file is hashed through views of its pages where it can be mapped, else read piece by
// piece.
bool HashOpenFile(void* file, uint32_t& crc);

// The up-to-date test of one manifest entry; may add to the cache.
bool IsUpToDate(const RemoteFile& file);

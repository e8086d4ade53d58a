// The local side of the file-state cache: file facts from the file system, the process-wide
// cache g_cache with its file KMLauncher.crc, and the up-to-date test. The CRC-32 of a file on
// disk (HashFile, HashOpenFile) lives in file_hash_win.h, included here for its callers.
#pragma once
#include "core/base.h"
#include "update/cache_file.h"
#include "update/file_hash_win.h"
#include "update/manifest.h"

extern FileStateCache g_cache;

// True when the path names an existing file that is not a folder.
bool FileInfo(const std::string& path, uint64_t& size, uint64_t& mtime);

// KMLauncher.crc in the game folder. The cache has its own lock so the final save at exit
// never meets a worker that is still changing an entry.
void LoadCache();
void SaveCache();
void StoreCacheEntry(const std::string& key, const CacheEntry& entry);
bool FindCacheEntry(const std::string& key, CacheEntry& entry);

// The up-to-date test of one manifest entry; may add to the cache.
bool IsUpToDate(const RemoteFile& file);

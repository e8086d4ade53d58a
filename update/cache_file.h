// The file-state cache: what the launcher knew of each game file (CRC-32, size, last-write
// time) when it last hashed or installed it, and the text form of KMLauncher.crc.
#pragma once
#include "core/base.h"
#include <map>

struct CacheEntry {
  uint32_t crc = 0;
  uint64_t size = 0;
  uint64_t mtime = 0;
};

// Keyed by the lower-cased manifest path; std::map orders keys by byte comparison.
using FileStateCache = std::map<std::string, CacheEntry>;

// Adds the entries of one cache file's text (LF or CR LF lines; damaged lines skipped; a
// later line for a key overwrites an earlier one).
void ParseCacheText(const std::string& text, FileStateCache& cache);

// The file's text, one "%08lX %llu %llu %s\n" line per entry in key order.
std::string FormatCacheText(const FileStateCache& cache);

// The player's own files that no update lists, replaces or deletes (p lower-cased).
bool IsPlayerFile(const std::string& lowerPath);

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

// The reader takes lines in pieces of at most this many bytes (a 1200-byte line buffer); a
// longer line arrives as several pieces, each read as a line of its own.
constexpr size_t kCacheLineMax = 1199;

// Adds the entries of one cache file's text (LF or CR LF lines; damaged lines skipped; a
// later line for a key overwrites an earlier one). A line is "crc size mtime key": hex
// CRC-32 of at most 32 bits, two unsigned decimals, and the key up to the line end, which
// loses its trailing CR and LF bytes and is lower-cased. A line with a '-' sign or a number
// too wide for its field is damaged.
void ParseCacheText(const std::string& text, FileStateCache& cache);

// One entry as "%08lX %llu %llu %s\n" would print it: 8 upper-case hex digits, size, mtime,
// key, LF. The same bytes on every platform.
std::string FormatCacheLine(const std::string& key, const CacheEntry& entry);

// The file's text, one FormatCacheLine per entry in key order. An entry whose line (without
// its LF) is longer than kCacheLineMax is left out: the reader would cut it into pieces,
// shorten its key and could read the rest as another entry. Leaving it out costs one more
// hash of that file.
std::string FormatCacheText(const FileStateCache& cache);

// The player's own files that no update lists, replaces or deletes (p lower-cased).
bool IsPlayerFile(const std::string& lowerPath);

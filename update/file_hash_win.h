// The CRC-32 of a file on disk: the check pass, the resume of a part file and the patch of an
// old file read local files through these two functions.
#pragma once
#include "core/base.h"
#include <atomic>

// Counts the file bytes read for checksums in this process (tests and diagnostics).
extern std::atomic<uint64_t> g_hashedBytes;

// Reads the file with the sequential-scan hint, g_quit checked between blocks of 512 KiB.
// False when it cannot be opened, a read failed part-way, it ended before its size or g_quit
// was set while reading: only a whole read gives a value the cache may keep. crc receives the
// running (uncomplemented) value.
bool HashFile(const std::string& path, uint32_t& crc);

// The same over an open file, from its start; false when a read failed, the file ended before
// its size or g_quit stopped it.
bool HashOpenFile(void* file, uint32_t& crc);

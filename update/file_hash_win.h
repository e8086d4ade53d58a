// Reading a file on disk to hash it: the CRC-32 of the check pass, of a resumed part file and of
// an old file to patch, and a signed file's SHA-256, all read local files through here.
#pragma once
#include "core/base.h"
#include <atomic>
#include <functional>

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

// Takes one block of a file's bytes; false stops the reading.
using BlockReader = std::function<bool(const unsigned char* data, size_t size)>;

// Reads an open file from its start, in blocks of 512 KiB into one buffer. True only when every
// byte up to its size (as it was when reading began) was read and taken.
bool ReadFileInBlocks(void* file, const BlockReader& take);

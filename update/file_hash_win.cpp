// Hashing a local file: ReadFile in blocks of 512 KiB into one reused buffer, and the CRC-32
// over each block straight after its read, while the block is still in the core's own cache.
//
// Chosen by measurement under Wine on the shared 2-core machine (bench/check_vs_readall.py and
// trial programs, 2 GiB page-cached): with the wide CRC kernels the hash of a cached block
// costs a tenth of the copy out of the page cache, and a buffer that fits the core's cache
// makes the copy itself cheaper, so this loop ran at 0.89 (median of 11 runs) of reading the
// file with 4 MiB blocks and nothing else. One reader feeding a hashing thread through a ring
// of 2 MiB blocks reached medians of 0.75 and 0.79, two halves read and hashed at once 0.60
// and 0.65: on a machine whose second core is seldom free, the hand-over and the second copy
// stream cost more than the hash they hide.
//
// Why reads and not mapped views: a read error, or a file cut short by another program, under
// a mapped view is an access violation (the launcher dies) instead of a failed hash; a bad
// sector must make a file "needs updating", never a crash or a partial checksum that looks
// whole.
#include "update/file_hash_win.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include <windows.h>
#include <algorithm>
#include <memory>
#include <new>

std::atomic<uint64_t> g_hashedBytes{0};

namespace {
constexpr DWORD kBlock = 512 * 1024;

// The one place where a local file's bytes enter its checksum.
void HashPiece(const unsigned char* data, size_t size, uint32_t& crc) {
  g_hashedBytes += size;
  crc = Crc32Update(crc, data, size);
}

// With a known size exactly that many bytes (an end before it means the file was cut while
// read: not whole); without one (a pipe, a device) up to the end.
bool ReadBlocks(HANDLE file, bool sizeKnown, uint64_t size, const BlockReader& take) {
  uint64_t left = sizeKnown ? size : UINT64_MAX;
  if (left == 0) return true;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[std::min<uint64_t>(kBlock, left)]);
  if (!buffer) return false;
  while (left > 0) {
    DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBlock, left));
    DWORD got = 0;
    if (!ReadFile(file, buffer.get(), want, &got, nullptr)) return false;  // never a partial checksum
    if (got == 0) return !sizeKnown;
    if (!take(buffer.get(), got)) return false;
    left -= got;
  }
  return true;
}
}  // namespace

bool ReadFileInBlocks(void* file, const BlockReader& take) {
  LARGE_INTEGER start{};
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);  // fails harmlessly on a pipe
  LARGE_INTEGER size;
  // Read to the end, like a stream, when it has no size or says 0 (some devices do).
  bool sizeKnown = GetFileSizeEx(file, &size) && size.QuadPart > 0;
  return ReadBlocks(file, sizeKnown, sizeKnown ? static_cast<uint64_t>(size.QuadPart) : 0, take);
}

bool HashOpenFile(void* file, uint32_t& crc) {
  crc = kCrc32Start;
  if (QuitRequested()) return false;
  return ReadFileInBlocks(file, [&crc](const unsigned char* data, size_t size) {
    HashPiece(data, size, crc);
    return !QuitRequested();
  });
}

bool HashFile(const std::string& path, uint32_t& crc) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = HashOpenFile(file, crc);
  CloseHandle(file);
  return complete;
}

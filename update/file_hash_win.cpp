// Hashing a local file: ReadFile in blocks of 2 MiB into a reused buffer, the CRC-32 run over
// each block while it is still in the core's cache. A file of 16 MiB or more is read in two
// halves at once, the second on a helper thread from its own offset, and the two registers
// are joined with Crc32Concat: one half is being read while the other is being hashed, and the
// memory is two blocks whatever the file's size.
//
// Why reads and not mapped views: a read error or a file cut short under a view becomes an
// access violation instead of a failed hash, and a failed read must never leave a partial
// checksum that looks whole. Why two halves rather than one reader feeding a hashing thread:
// with the wide CRC kernels the hash is about a third of the copy's cost, so a lone reader
// keeps the hashing thread idle most of the time, while two halves keep both cores busy
// (bench/check_vs_readall.py measured 0.71 to 1.36 of the ReadFile floor for the feeding
// ring, against ... for the halves).
#include "update/file_hash_win.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include <windows.h>
#include <algorithm>
#include <memory>
#include <new>

std::atomic<uint64_t> g_hashedBytes{0};

namespace {
constexpr DWORD kBlock = 2 * 1048576;
// Starting the helper costs Wine server requests (about half a millisecond under load); the
// second half saves about a thirtieth of a millisecond per MiB, so smaller files are read on
// the calling thread alone.
constexpr uint64_t kSplitFrom = 16 * 1048576;

// The one place where a local file's bytes enter its checksum.
void HashPiece(const unsigned char* data, size_t size, uint32_t& crc) {
  g_hashedBytes += size;
  crc = Crc32Update(crc, data, size);
}

std::unique_ptr<unsigned char[]> NewBlock(uint64_t atMost) {
  return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[std::min<uint64_t>(kBlock, atMost)]);
}

// A stream without a size (a pipe, a device): read on to its end.
bool HashStream(HANDLE file, uint32_t& crc) {
  std::unique_ptr<unsigned char[]> buffer = NewBlock(kBlock);
  if (!buffer) return false;
  for (;;) {
    if (QuitRequested()) return false;
    DWORD got = 0;
    if (!ReadFile(file, buffer.get(), kBlock, &got, nullptr)) return false;  // never a partial checksum
    if (got == 0) return true;
    HashPiece(buffer.get(), got, crc);
  }
}

// One part of a file, read at its own offsets so two parts can be read at once through one
// handle. Stops at the first failed read, at an end of file before the part's end (the file
// was cut while hashed), when g_quit is set or when the other part failed.
struct Part {
  HANDLE file;
  uint64_t offset;
  uint64_t length;
  uint32_t crc;
  std::atomic<bool>* failed;

  bool Hash() {
    std::unique_ptr<unsigned char[]> buffer = NewBlock(length);
    if (length > 0 && !buffer) return false;
    for (uint64_t done = 0; done < length;) {
      if (QuitRequested() || failed->load()) return false;
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset + done);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
      DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBlock, length - done));
      DWORD got = 0;
      if (!ReadFile(file, buffer.get(), want, &got, &at) || got == 0) return false;
      HashPiece(buffer.get(), got, crc);
      done += got;
    }
    return true;
  }

  // Hash() whose failure stops the other part at its next block.
  bool HashOrStopTheOther() {
    bool whole = Hash();
    if (!whole) failed->store(true);
    return whole;
  }
};

DWORD WINAPI HashPartThread(void* parameter) {
  static_cast<Part*>(parameter)->HashOrStopTheOther();
  return 0;
}

// The whole file of the given size: two halves at once from kSplitFrom on, else one pass.
bool HashSized(HANDLE file, uint64_t size, uint32_t& crc) {
  std::atomic<bool> failed{false};
  uint64_t half = size < kSplitFrom ? size : size / 2 / kBlock * kBlock;
  Part first{file, 0, half, crc, &failed};
  Part second{file, half, size - half, 0, &failed};
  HANDLE helper = half < size ? CreateThread(nullptr, 0, HashPartThread, &second, 0, nullptr) : nullptr;
  if (half < size && !helper) first.length = size;  // no helper: this thread reads it all
  bool whole = first.HashOrStopTheOther();
  if (helper) {
    WaitForSingleObject(helper, INFINITE);
    CloseHandle(helper);
    whole = whole && !failed.load();
  }
  crc = first.crc;
  if (whole && helper) crc = Crc32Concat(first.crc, second.crc, second.length);
  return whole;
}
}  // namespace

bool HashOpenFile(void* file, uint32_t& crc) {
  crc = kCrc32Start;
  LARGE_INTEGER size;
  // Read to its end, like a stream, when it has no size or seems empty (some devices say 0).
  if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) return HashStream(file, crc);
  return HashSized(file, static_cast<uint64_t>(size.QuadPart), crc);
}

bool HashFile(const std::string& path, uint32_t& crc) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = HashOpenFile(file, crc);
  CloseHandle(file);
  return complete;
}

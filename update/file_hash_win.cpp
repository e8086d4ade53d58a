// Hashing a local file: ReadFile in blocks of 2 MiB, and for a large file a helper thread that
// reads into a ring of four blocks while the calling thread runs the CRC-32 over the blocks
// already read, so reading and hashing overlap on two cores and the memory stays at the ring
// whatever the file's size.
//
// Why reads and not mapped views: a read error, or a file cut short by another program, under
// a mapped view is an access violation (the launcher dies) instead of a failed hash; a bad
// sector must make a file "needs updating", never a crash or a partial checksum that looks
// whole. Views cost less CPU (no copy) and measured faster where the machine had cores to
// spare; see bench/check_vs_readall.py. Why one reader feeding the hashing thread rather than
// two halves each read and hashed on its own thread: the halves measured slower here (0.58 to
// 0.70 of the ReadFile floor against 0.68 to 1.36 for the ring, in runs side by side).
// The ring and its two counters are guarded by an SRW lock with a condition variable.
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
constexpr int kRingBlocks = 4;
// Starting the helper costs Wine server requests (about half a millisecond under load); the
// overlap saves the CRC's share of the time, about a thirtieth of a millisecond per MiB, so
// smaller files are read and hashed on the calling thread alone.
constexpr uint64_t kRingFrom = 16 * 1048576;

// The one place where a local file's bytes enter its checksum.
void HashPiece(const unsigned char* data, size_t size, uint32_t& crc) {
  g_hashedBytes += size;
  crc = Crc32Update(crc, data, size);
}

enum class Read { Bytes, End, Failed };

// Reads up to want bytes.
Read ReadSome(HANDLE file, unsigned char* buffer, DWORD want, DWORD& got) {
  got = 0;
  if (!ReadFile(file, buffer, want, &got, nullptr)) return Read::Failed;
  return got > 0 ? Read::Bytes : Read::End;
}

// The whole file on this thread. With a known size, exactly that many bytes; without one (a
// pipe, a device) up to the end.
bool HashOnThisThread(HANDLE file, bool sizeKnown, uint64_t size, uint32_t& crc) {
  uint64_t left = sizeKnown ? size : UINT64_MAX;
  if (left == 0) return true;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[std::min<uint64_t>(kBlock, left)]);
  if (!buffer) return false;
  while (left > 0) {
    if (QuitRequested()) return false;
    DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBlock, left));
    DWORD got = 0;
    Read read = ReadSome(file, buffer.get(), want, got);
    if (read == Read::Failed) return false;  // never a partial checksum
    // The end of a stream is its whole; a sized file that ends early changed under us.
    if (read == Read::End) return !sizeKnown;
    HashPiece(buffer.get(), got, crc);
    left -= got;
  }
  return true;
}

enum class ReadEnd { Reading, Done, Failed, Stopped };

// The blocks between the reader and the hasher. Block n lives in slot n % kRingBlocks; the
// reader may fill block n once block n - kRingBlocks is hashed.
struct Ring {
  HANDLE file = nullptr;
  uint64_t size = 0;
  std::unique_ptr<unsigned char[]> memory{new (std::nothrow) unsigned char[static_cast<size_t>(kBlock) * kRingBlocks]};
  DWORD lengths[kRingBlocks] = {};
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
  uint64_t filled = 0;        // blocks read
  uint64_t hashed = 0;        // blocks hashed, their slots free again
  ReadEnd end = ReadEnd::Reading;
  bool abandoned = false;     // the hasher stopped; the reader must too

  unsigned char* Slot(uint64_t block) { return memory.get() + static_cast<size_t>(block % kRingBlocks) * kBlock; }

  // Runs change under the lock and wakes the other side.
  template <typename Change>
  void Publish(Change change) {
    AcquireSRWLockExclusive(&lock);
    change();
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&changed);
  }

  // Waits under the lock until ready() holds; returns with the lock held.
  template <typename Ready>
  void WaitLocked(Ready ready) {
    AcquireSRWLockExclusive(&lock);
    while (!ready()) SleepConditionVariableSRW(&changed, &lock, INFINITE, 0);
  }
};

// The helper thread: reads the file's size in blocks, in order, into free slots.
DWORD WINAPI ReadIntoRing(void* parameter) {
  Ring& ring = *static_cast<Ring*>(parameter);
  ReadEnd end = ReadEnd::Done;
  uint64_t offset = 0;
  for (uint64_t block = 0; offset < ring.size; block++) {
    ring.WaitLocked([&] { return block - ring.hashed < kRingBlocks || ring.abandoned; });
    bool abandoned = ring.abandoned;
    ReleaseSRWLockExclusive(&ring.lock);
    if (abandoned) return 0;
    if (QuitRequested()) {
      end = ReadEnd::Stopped;
      break;
    }
    unsigned char* slot = ring.Slot(block);
    DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBlock, ring.size - offset));
    DWORD length = 0;
    while (length < want) {  // a block is filled whole, so only the last one is short
      DWORD got = 0;
      if (ReadSome(ring.file, slot + length, want - length, got) != Read::Bytes) break;
      length += got;
    }
    if (length < want) {  // a failed read, or the file ended before its size
      end = ReadEnd::Failed;
      break;
    }
    offset += length;
    ring.Publish([&] {
      ring.lengths[block % kRingBlocks] = length;
      ring.filled = block + 1;
    });
  }
  ring.Publish([&] { ring.end = end; });
  return 0;
}

// This thread's side: hashes each block as soon as it is read. True only when every block of
// the file was read and hashed.
bool HashFromRing(Ring& ring, uint32_t& crc) {
  for (uint64_t block = 0;; block++) {
    ring.WaitLocked([&] { return ring.filled > block || ring.end != ReadEnd::Reading; });
    bool have = ring.filled > block && ring.end != ReadEnd::Failed && ring.end != ReadEnd::Stopped;
    ReadEnd end = ring.end;
    ReleaseSRWLockExclusive(&ring.lock);
    if (!have) return end == ReadEnd::Done;
    if (QuitRequested()) return false;
    HashPiece(ring.Slot(block), ring.lengths[block % kRingBlocks], crc);
    ring.Publish([&] { ring.hashed = block + 1; });
  }
}

// False when the ring or its helper thread could not be had (nothing was read then) or the
// hash is not whole; started tells which.
bool HashThroughRing(HANDLE file, uint64_t size, uint32_t& crc, bool& started) {
  Ring ring;
  ring.file = file;
  ring.size = size;
  started = false;
  if (!ring.memory) return false;
  HANDLE reader = CreateThread(nullptr, 0, ReadIntoRing, &ring, 0, nullptr);
  started = reader != nullptr;
  if (!started) return false;
  bool whole = HashFromRing(ring, crc);
  ring.Publish([&] { ring.abandoned = true; });
  WaitForSingleObject(reader, INFINITE);
  CloseHandle(reader);
  return whole;
}
}  // namespace

bool HashOpenFile(void* file, uint32_t& crc) {
  crc = kCrc32Start;
  LARGE_INTEGER start{};
  SetFilePointerEx(file, start, nullptr, FILE_BEGIN);  // fails harmlessly on a pipe
  LARGE_INTEGER size;
  bool sizeKnown = GetFileSizeEx(file, &size) && size.QuadPart >= 0;
  if (sizeKnown && static_cast<uint64_t>(size.QuadPart) >= kRingFrom) {
    bool started = false;
    bool whole = HashThroughRing(file, static_cast<uint64_t>(size.QuadPart), crc, started);
    if (started) return whole;
  }
  return HashOnThisThread(file, sizeKnown, sizeKnown ? static_cast<uint64_t>(size.QuadPart) : 0, crc);
}

bool HashFile(const std::string& path, uint32_t& crc) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool complete = HashOpenFile(file, crc);
  CloseHandle(file);
  return complete;
}

// The process-wide download speed cap; see download_cap_win.h.
#include "core/download_cap_win.h"
#include "core/token_bucket.h"
#include "core/worker_flags.h"
#include <atomic>

namespace {
SRWLOCK g_capLock = SRWLOCK_INIT;
TokenBucket g_bucket;
std::atomic<uint32_t> g_capKBps{0};
// Sleeps in steps this long so that closing the launcher is never held up by the cap.
constexpr uint64_t kWaitStepMs = 100;

struct CapLock {
  CapLock() { AcquireSRWLockExclusive(&g_capLock); }
  ~CapLock() { ReleaseSRWLockExclusive(&g_capLock); }
};
}  // namespace

void SetDownloadCap(uint32_t kilobytesPerSecond) {
  CapLock lock;
  g_bucket.SetRate(static_cast<uint64_t>(kilobytesPerSecond) * 1024, GetTickCount64());
  g_capKBps = kilobytesPerSecond;
}

uint32_t DownloadCap() { return g_capKBps.load(); }

DWORD CappedReadSize(DWORD wanted) {
  if (g_capKBps.load() == 0) return wanted;
  CapLock lock;
  return static_cast<DWORD>(g_bucket.ReadSize(wanted));
}

void Downloaded(uint64_t bytes) {
  if (g_capKBps.load() == 0 || bytes == 0) return;
  uint64_t wait = 0;
  {
    CapLock lock;
    wait = g_bucket.Take(bytes, GetTickCount64());
  }
  while (wait > 0 && !QuitRequested()) {
    uint64_t step = wait < kWaitStepMs ? wait : kWaitStepMs;
    Sleep(static_cast<DWORD>(step));
    wait -= step;
  }
}

// A token bucket for a byte rate: what a download that has just received some bytes must wait
// so that everything received through the bucket stays within the rate. Times are
// milliseconds of any steady clock; the caller does the waiting.
#pragma once
#include "core/base.h"

class TokenBucket {
 public:
  // bytesPerSecond 0: no limit. The bucket starts full.
  void SetRate(uint64_t bytesPerSecond, uint64_t nowMs);
  uint64_t Rate() const { return rate_; }

  // Counts bytes just received; returns the milliseconds to wait before receiving more. The
  // bytes of several receivers add up: the debt of one is waited for by the next as well.
  uint64_t Take(uint64_t bytes, uint64_t nowMs);

  // The most a receiver should ask for in one read, so that no single read overshoots by
  // much: a hundredth of a second of the rate, at least 16 KiB; wanted when there is no limit.
  uint64_t ReadSize(uint64_t wanted) const;

 private:
  uint64_t Burst() const;
  uint64_t rate_ = 0;
  double tokens_ = 0;  // negative: bytes received ahead of the rate
  uint64_t last_ = 0;
};

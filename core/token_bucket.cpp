// The download speed cap's arithmetic; see token_bucket.h.
#include "core/token_bucket.h"
#include <algorithm>
#include <cmath>

// A hundredth of a second: a dozen readers each a read ahead stay within about 1 % of the rate.
uint64_t TokenBucket::Burst() const { return std::max<uint64_t>(16384, rate_ / 100); }

void TokenBucket::SetRate(uint64_t bytesPerSecond, uint64_t nowMs) {
  rate_ = bytesPerSecond;
  tokens_ = static_cast<double>(Burst());
  last_ = nowMs;
}

uint64_t TokenBucket::Take(uint64_t bytes, uint64_t nowMs) {
  if (rate_ == 0) return 0;
  if (nowMs > last_) {
    double refill = static_cast<double>(rate_) * static_cast<double>(nowMs - last_) / 1000.0;
    tokens_ = std::min(static_cast<double>(Burst()), tokens_ + refill);
    last_ = nowMs;
  }
  tokens_ -= static_cast<double>(bytes);
  if (tokens_ >= 0) return 0;
  return static_cast<uint64_t>(std::ceil(-tokens_ * 1000.0 / static_cast<double>(rate_)));
}

uint64_t TokenBucket::ReadSize(uint64_t wanted) const {
  if (rate_ == 0) return wanted;
  return std::max<uint64_t>(1, std::min(wanted, Burst()));
}

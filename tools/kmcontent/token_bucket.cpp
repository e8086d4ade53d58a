// Token buckets; see token_bucket.h.
#include "tools/kmcontent/token_bucket.h"
#include <algorithm>

namespace {

constexpr size_t kBucketsBeforeSweep = 10000;

}  // namespace

bool TokenBuckets::Take(const std::string& client, double now, double& retryAfter) {
  std::lock_guard<std::mutex> hold(lock_);
  if (buckets_.size() >= kBucketsBeforeSweep) DropFullBuckets(now);
  auto found = buckets_.find(client);
  if (found == buckets_.end()) found = buckets_.emplace(client, Bucket{burst_, now}).first;
  Bucket& bucket = found->second;
  bucket.tokens = std::min(burst_, bucket.tokens + (now - bucket.updated) * perSecond_);
  bucket.updated = now;
  if (bucket.tokens >= 1.0) {
    bucket.tokens -= 1.0;
    retryAfter = 0;
    return true;
  }
  retryAfter = perSecond_ > 0 ? (1.0 - bucket.tokens) / perSecond_ : 3600.0;
  return false;
}

// A bucket that has refilled completely is the same as no bucket.
void TokenBuckets::DropFullBuckets(double now) {
  for (auto it = buckets_.begin(); it != buckets_.end();) {
    bool full = it->second.tokens + (now - it->second.updated) * perSecond_ >= burst_;
    it = full ? buckets_.erase(it) : std::next(it);
  }
}

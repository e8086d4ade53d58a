// The download speed cap's token bucket: what it lets through over time, shared by several
// receivers, and what it asks a reader to read at once.
#include "core/token_bucket.h"
#include <gtest/gtest.h>

namespace {
// Receives reads of size bytes for seconds of simulated time, waiting as the bucket says;
// returns the bytes received.
uint64_t Simulate(TokenBucket& bucket, uint64_t size, int readers, uint64_t seconds) {
  std::vector<uint64_t> readyAt(readers, 0);
  uint64_t received = 0;
  for (;;) {
    size_t next = 0;
    for (size_t i = 1; i < readyAt.size(); i++) {
      if (readyAt[i] < readyAt[next]) next = i;
    }
    uint64_t now = readyAt[next];
    if (now >= seconds * 1000) return received;
    received += size;
    readyAt[next] = now + 1 + bucket.Take(size, now);  // a read takes a millisecond
  }
}
}  // namespace

TEST(TokenBucket, NoRateNeverWaitsAndReadsWhatIsWanted) {
  TokenBucket bucket;
  EXPECT_EQ(bucket.Take(1u << 30, 5), 0u);
  EXPECT_EQ(bucket.ReadSize(1u << 20), 1u << 20);
}

TEST(TokenBucket, ThroughputStaysWithinTheRateForOneAndForManyReaders) {
  for (uint64_t rate : {1ull << 20, 10ull << 20, 50ull << 20}) {
    for (int readers : {1, 12}) {
      TokenBucket bucket;
      bucket.SetRate(rate, 0);
      uint64_t received = Simulate(bucket, bucket.ReadSize(1u << 20), readers, 10);
      double share = static_cast<double>(received) / (10.0 * rate);
      EXPECT_GT(share, 0.95) << rate << " " << readers;
      EXPECT_LT(share, 1.05) << rate << " " << readers;
    }
  }
}

TEST(TokenBucket, DebtIsWaitedForAndANewRateStartsAfresh) {
  TokenBucket bucket;
  bucket.SetRate(100000, 1000);  // burst of 16384 bytes
  EXPECT_EQ(bucket.Take(16384, 1000), 0u);
  EXPECT_EQ(bucket.Take(50000, 1000), 500u);  // 50000 bytes ahead of the rate
  EXPECT_EQ(bucket.Take(1, 1500), 1u);       // refilled exactly up to zero by then
  EXPECT_EQ(bucket.ReadSize(1u << 20), 16384u);
  bucket.SetRate(0, 1600);
  EXPECT_EQ(bucket.Take(1u << 20, 1600), 0u);
}

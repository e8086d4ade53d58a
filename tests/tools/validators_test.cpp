// Conditional requests, client addresses and the per-client token bucket of the server: the
// decisions a resuming launcher, a proxy in front of the server and a flood of requests meet.
#include "tools/kmcontent/client_address.h"
#include "tools/kmcontent/token_bucket.h"
#include "tools/kmcontent/validators.h"
#include <gtest/gtest.h>

namespace {

TEST(Validators, EntityTagChangesWithAnyPartOfTheStamp) {
  FileStamp stamp{1000, 42, 1700000000, 5};
  std::string tag = EntityTag(stamp);
  EXPECT_EQ(tag.front(), '"');
  EXPECT_EQ(tag.back(), '"');
  for (int part = 0; part < 4; part++) {
    FileStamp other = stamp;
    if (part == 0) other.size++;
    if (part == 1) other.inode++;
    if (part == 2) other.modifiedSeconds++;
    if (part == 3) other.modifiedNanos++;
    EXPECT_NE(EntityTag(other), tag) << part;
  }
}

TEST(Validators, HttpDateIsTheFixedFormat) {
  EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(HttpDate(1796720419), "Tue, 08 Dec 2026 09:00:19 GMT");
}

TEST(Validators, IfRangeHonoursTheRangeOnlyForTheSameFile) {
  const std::string tag = "\"a-b-c.d\"";
  const std::string date = "Tue, 08 Dec 2026 10:20:19 GMT";
  EXPECT_TRUE(IfRangeAllowsRange("", tag, date));  // no If-Range at all
  EXPECT_TRUE(IfRangeAllowsRange(tag, tag, date));
  EXPECT_TRUE(IfRangeAllowsRange(" " + date, tag, date));
  EXPECT_FALSE(IfRangeAllowsRange("W/" + tag, tag, date));  // weak tags never match
  EXPECT_FALSE(IfRangeAllowsRange("\"other\"", tag, date));
  EXPECT_FALSE(IfRangeAllowsRange("Mon, 07 Dec 2026 10:20:19 GMT", tag, date));
  EXPECT_FALSE(IfRangeAllowsRange("   ", tag, date));
}

TEST(Validators, IfNoneMatchTakesListsStarAndWeakTags) {
  const std::string tag = "\"x1\"";
  EXPECT_TRUE(IfNoneMatchHits("*", tag));
  EXPECT_TRUE(IfNoneMatchHits("\"a\", W/\"x1\"", tag));
  EXPECT_TRUE(IfNoneMatchHits("\"x1\"", tag));
  EXPECT_FALSE(IfNoneMatchHits("", tag));
  EXPECT_FALSE(IfNoneMatchHits("\"x12\", \"x\"", tag));
  EXPECT_FALSE(IfNoneMatchHits(",,", tag));
}

TEST(ClientAddress, ForwardedAddressOnlyFromTheTrustedProxy) {
  EXPECT_EQ(ClientAddress("10.0.0.5", "203.0.113.9", ""), "10.0.0.5");
  EXPECT_EQ(ClientAddress("10.0.0.5", "203.0.113.9", "10.0.0.6"), "10.0.0.5");
  EXPECT_EQ(ClientAddress("10.0.0.6", "203.0.113.9", "10.0.0.6"), "203.0.113.9");
  // A client may put anything first; the proxy appends the address it saw.
  EXPECT_EQ(ClientAddress("10.0.0.6", "1.2.3.4, 2001:db8::7 ", "10.0.0.6"), "2001:db8::7");
  EXPECT_EQ(ClientAddress("10.0.0.6", "1.2.3.4, evil\nline", "10.0.0.6"), "10.0.0.6");
  EXPECT_EQ(ClientAddress("10.0.0.6", "", "10.0.0.6"), "10.0.0.6");
}

TEST(TokenBuckets, BurstThenRefillPerClient) {
  TokenBuckets buckets(6, 3);  // 3 at once, then one every 10 s
  double retry = 0;
  for (int i = 0; i < 3; i++) EXPECT_TRUE(buckets.Take("a", 100, retry)) << i;
  EXPECT_FALSE(buckets.Take("a", 100, retry));
  EXPECT_NEAR(retry, 10.0, 1e-9);
  EXPECT_TRUE(buckets.Take("b", 100, retry));  // another client is not slowed
  EXPECT_FALSE(buckets.Take("a", 109, retry));
  EXPECT_NEAR(retry, 1.0, 1e-9);
  EXPECT_TRUE(buckets.Take("a", 110, retry));
  EXPECT_FALSE(buckets.Take("a", 110, retry));
  EXPECT_TRUE(buckets.Take("a", 1000, retry));  // refilled, but never above the burst
  EXPECT_TRUE(buckets.Take("a", 1000, retry));
  EXPECT_TRUE(buckets.Take("a", 1000, retry));
  EXPECT_FALSE(buckets.Take("a", 1000, retry));
}

}  // namespace

struct TokenBucketsProbe {
  static size_t Held(TokenBuckets& buckets) {
    std::lock_guard<std::mutex> hold(buckets.lock_);
    return buckets.buckets_.size();
  }
};

namespace {

TEST(TokenBuckets, FullBucketsAreDroppedSoTheMapStaysBounded) {
  TokenBuckets buckets(60, 1);
  double retry = 0;
  for (int i = 0; i < 30000; i++) buckets.Take("client" + std::to_string(i), i * 2.0, retry);
  EXPECT_LT(TokenBucketsProbe::Held(buckets), 10001u);
}

}  // namespace

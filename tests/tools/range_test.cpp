// Range header plans of the file server: what a resuming launcher, a CDN in front of the
// server, and a hostile client send.
#include "tools/kmcontent/range.h"
#include <gtest/gtest.h>

namespace {

void ExpectPartial(const char* header, uint64_t size, uint64_t first, uint64_t length) {
  RangePlan plan = PlanRange(header, size);
  EXPECT_EQ(plan.answer, RangeAnswer::Partial) << header;
  EXPECT_EQ(plan.first, first) << header;
  EXPECT_EQ(plan.length, length) << header;
}

void ExpectWhole(const char* header, uint64_t size) {
  RangePlan plan = PlanRange(header, size);
  EXPECT_EQ(plan.answer, RangeAnswer::Whole) << header;
  EXPECT_EQ(plan.first, 0u) << header;
  EXPECT_EQ(plan.length, size) << header;
}

TEST(RangePlan, NoHeaderServesTheWholeFile) { ExpectWhole("", 1000); }

TEST(RangePlan, FirstMiddleAndLastByte) {
  ExpectPartial("bytes=0-0", 1000, 0, 1);
  ExpectPartial("bytes=400-599", 1000, 400, 200);
  ExpectPartial("bytes=999-999", 1000, 999, 1);
}

TEST(RangePlan, OpenEndedRangeRunsToTheEnd) {
  ExpectPartial("bytes=250-", 1000, 250, 750);
  ExpectPartial("bytes=0-", 1000, 0, 1000);
}

TEST(RangePlan, LastPositionPastTheEndIsCut) { ExpectPartial("bytes=900-5000", 1000, 900, 100); }

TEST(RangePlan, SuffixRangeGivesTheLastBytes) {
  ExpectPartial("bytes=-100", 1000, 900, 100);
  ExpectPartial("bytes=-5000", 1000, 0, 1000);
}

TEST(RangePlan, StartAtOrPastTheEndIsUnsatisfiable) {
  EXPECT_EQ(PlanRange("bytes=1000-", 1000).answer, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(PlanRange("bytes=1000-2000", 1000).answer, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(PlanRange("bytes=0-", 0).answer, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(PlanRange("bytes=-0", 1000).answer, RangeAnswer::Unsatisfiable);
  EXPECT_EQ(PlanRange("bytes=-10", 0).answer, RangeAnswer::Unsatisfiable);
}

TEST(RangePlan, HugeNumbersSaturateInsteadOfWrapping) {
  EXPECT_EQ(PlanRange("bytes=99999999999999999999999-", 1000).answer, RangeAnswer::Unsatisfiable);
  ExpectPartial("bytes=10-99999999999999999999999", 1000, 10, 990);
}

TEST(RangePlan, FilesBeyondFourGigabytes) {
  uint64_t size = 6ull << 30;
  ExpectPartial("bytes=5368709120-", size, 5368709120ull, size - 5368709120ull);
}

TEST(RangePlan, HeadersThisServerDoesNotServeAreIgnored) {
  ExpectWhole("bytes=0-1,5-6", 1000);   // several ranges
  ExpectWhole("items=0-5", 1000);       // another unit
  ExpectWhole("bytes=5-2", 1000);       // last before first
  ExpectWhole("bytes=-", 1000);
  ExpectWhole("bytes=abc", 1000);
  ExpectWhole("bytes=1-2x", 1000);
}

TEST(RangePlan, UnitAndBlanksAreReadLeniently) {
  ExpectPartial("Bytes=1-2", 1000, 1, 2);
  ExpectPartial("bytes= 1-2 ", 1000, 1, 2);
}

TEST(ContentRange, NamesTheBytesSentAndTheSize) {
  EXPECT_EQ(ContentRangeValue(PlanRange("bytes=400-599", 1000), 1000), "bytes 400-599/1000");
  EXPECT_EQ(ContentRangeValue(PlanRange("bytes=2000-", 1000), 1000), "bytes */1000");
}

}  // namespace

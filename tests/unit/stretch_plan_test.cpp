// Stretches of a file fetched over several connections: resuming what a killed run left,
// claims, sharing and stealing, joins onto the part file, side file names, the answers taken
// as ranges, and how many connections the governor asks for.
#include "update/stretch_plan.h"
#include <gtest/gtest.h>
#include <random>

namespace {
constexpr uint64_t kMiB = 1u << 20;

// Stretches cover the file end to end, the first from byte 0, each holding no more than it spans.
void ExpectPartition(const StretchPlan& plan, uint64_t size) {
  const auto& stretches = plan.Stretches();
  ASSERT_FALSE(stretches.empty());
  EXPECT_EQ(stretches[0].start, 0u);
  for (size_t i = 0; i < stretches.size(); i++) {
    EXPECT_LE(stretches[i].Next(), stretches[i].end) << i;
    EXPECT_EQ(stretches[i].end, i + 1 < stretches.size() ? stretches[i + 1].start : size) << i;
  }
}

TEST(StretchPlan, ResumeKeepsUsablePiecesAndNamesTheRest) {
  std::vector<SidePiece> unusable;
  StretchPlan plan(100 * kMiB, 10 * kMiB,
                   {{60 * kMiB, 5 * kMiB}, {5 * kMiB, 1 * kMiB}, {30 * kMiB, 4 * kMiB}, {32 * kMiB, 1 * kMiB},
                    {99 * kMiB, 2 * kMiB}, {70 * kMiB, 0}},
                   16 * kMiB, &unusable);
  ExpectPartition(plan, 100 * kMiB);
  ASSERT_EQ(plan.Stretches().size(), 3u);
  EXPECT_EQ(plan.Stretches()[1].start, 30 * kMiB);
  EXPECT_EQ(plan.Stretches()[2].start, 60 * kMiB);
  EXPECT_EQ(plan.Held(), 19 * kMiB);
  // Inside the part file (a kill after its join), inside another piece, past the end, empty.
  EXPECT_EQ(unusable.size(), 4u);
}

TEST(StretchPlan, ClaimsCutToTheMostAStretchMayHoldInFileOrder) {
  StretchPlan plan(40 * kMiB, 0, {}, 16 * kMiB);
  ASSERT_TRUE(plan.ClaimFirst());
  EXPECT_EQ(plan.EndOf(0), 40 * kMiB);  // the first connection alone may end the file
  plan.SetFilled(0, 3 * kMiB);
  ASSERT_TRUE(plan.ShareFirst());
  EXPECT_EQ(plan.EndOf(0), 19 * kMiB);
  uint64_t start = 0;
  ASSERT_TRUE(plan.Claim(start));
  EXPECT_EQ(start, 19 * kMiB);
  EXPECT_EQ(plan.EndOf(start), 35 * kMiB);
  ASSERT_TRUE(plan.Claim(start));
  EXPECT_EQ(start, 35 * kMiB);
  EXPECT_EQ(plan.EndOf(start), 40 * kMiB);
  ExpectPartition(plan, 40 * kMiB);
}

TEST(StretchPlan, OneConnectionClaimsAStretchWhole) {
  StretchPlan plan(100 * kMiB, 4 * kMiB, {}, 16 * kMiB);
  uint64_t start = 1;
  ASSERT_TRUE(plan.Claim(start, false));
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(plan.EndOf(0), 100 * kMiB);
  EXPECT_FALSE(plan.Claim(start, false));  // nothing is stolen either
}

TEST(StretchPlan, StealingTakesTheSecondHalfOfTheBusiestStretchBeyondTheMargin) {
  StretchPlan plan(32 * kMiB, 0, {}, 16 * kMiB);
  uint64_t a = 0, b = 0, c = 0;
  ASSERT_TRUE(plan.Claim(a));
  ASSERT_TRUE(plan.Claim(b));
  plan.SetFilled(a, 14 * kMiB + 1);  // 2 MiB - 1 left: inside the margin, never cut
  plan.SetFilled(b, 4 * kMiB);
  ASSERT_TRUE(plan.Claim(c));
  EXPECT_EQ(c, 16 * kMiB + 4 * kMiB + 6 * kMiB);
  EXPECT_EQ(plan.EndOf(b), c);
  EXPECT_EQ(plan.EndOf(a), 16 * kMiB);
  plan.SetFilled(b, 9 * kMiB);
  plan.SetFilled(c, 5 * kMiB);
  EXPECT_FALSE(plan.Claim(c));  // b has 1 MiB left, c 1 MiB: too little to share
  ExpectPartition(plan, 32 * kMiB);
}

TEST(StretchPlan, JoinsOnlyACompletePartStretchWithAnIdleNext) {
  StretchPlan plan(48 * kMiB, 0, {}, 16 * kMiB);
  uint64_t first = 0, second = 0;
  ASSERT_TRUE(plan.Claim(first));
  ASSERT_TRUE(plan.Claim(second));
  SidePiece next;
  plan.SetFilled(first, 16 * kMiB);
  EXPECT_FALSE(plan.BeginJoin(next));  // the part file's connection still holds it
  plan.Release(first);
  EXPECT_FALSE(plan.BeginJoin(next));  // the next stretch is still fetched
  plan.SetFilled(second, 7 * kMiB);
  plan.Release(second);  // its connection failed part-way
  ASSERT_TRUE(plan.BeginJoin(next));
  EXPECT_EQ(next.start, 16 * kMiB);
  EXPECT_EQ(next.size, 7 * kMiB);
  uint64_t start = 0;
  EXPECT_TRUE(plan.Claim(start));  // only the third stretch is free while the join runs
  EXPECT_EQ(start, 32 * kMiB);
  plan.Joined(7 * kMiB);
  EXPECT_EQ(plan.Stretches()[0].filled, 23 * kMiB);
  EXPECT_EQ(plan.EndOf(0), 32 * kMiB);
  ASSERT_TRUE(plan.Claim(start, false));  // the part file resumes from its size
  EXPECT_EQ(start, 0u);
  ExpectPartition(plan, 48 * kMiB);
}

TEST(StretchPlan, CollapseLeavesThePartFileToEndTheFile) {
  StretchPlan plan(64 * kMiB, 5 * kMiB, {{40 * kMiB, 3 * kMiB}}, 16 * kMiB);
  plan.Collapse();
  ASSERT_EQ(plan.Stretches().size(), 1u);
  EXPECT_EQ(plan.EndOf(0), 64 * kMiB);
  EXPECT_EQ(plan.Held(), 5 * kMiB);
}

// Connections that fetch random amounts, fail at random and are joined whenever they can:
// the plan always covers the file and ends with the part file holding all of it.
TEST(StretchPlan, RandomConnectionsAndFailuresEndWithTheWholeFileInThePart) {
  std::mt19937_64 random(29);
  for (int round = 0; round < 200; round++) {
    uint64_t size = 32 * kMiB + random() % (200 * kMiB);
    StretchPlan plan(size, random() % (8 * kMiB), {}, 16 * kMiB);
    std::vector<uint64_t> busy;
    if (plan.ClaimFirst()) busy.push_back(0);
    for (int step = 0; step < 100000 && !plan.Done(); step++) {
      uint64_t start = 0;
      if (busy.size() < 1 + random() % 8 && plan.Claim(start, true)) busy.push_back(start);
      if (!busy.empty()) {
        size_t pick = random() % busy.size();
        uint64_t at = busy[pick], end = plan.EndOf(at);
        uint64_t filled = 0;
        for (const Stretch& s : plan.Stretches()) filled = s.start == at ? s.filled : filled;
        uint64_t got = std::min<uint64_t>(end - at - filled, random() % (kMiB + 1));
        plan.SetFilled(at, filled + got);
        if (at + filled + got >= end || random() % 50 == 0) {
          plan.Release(at);
          busy.erase(busy.begin() + pick);
        }
      }
      SidePiece next;
      while (plan.BeginJoin(next)) plan.Joined(random() % 20 == 0 ? next.size / 2 : next.size);
      ExpectPartition(plan, size);
    }
    ASSERT_TRUE(plan.Done()) << round;
    EXPECT_EQ(plan.Held(), size);
  }
}

TEST(SideFileName, NamesTheFileItsVersionAndWhereItStarts) {
  std::string path = SidePath("C:\\Games\\data\\big.pak", 0x00AB12CDu, 16777216);
  EXPECT_EQ(path, "C:\\Games\\data\\big.pak.00AB12CD-16777216.part");
  uint64_t start = 0;
  EXPECT_TRUE(ParseSideName("big.pak.00AB12CD-16777216.part", "big.pak", 0x00AB12CDu, start));
  EXPECT_EQ(start, 16777216u);
  EXPECT_TRUE(ParseSideName("BIG.PAK.00ab12cd-5.PART", "big.pak", 0x00AB12CDu, start));  // Windows' letter case
  EXPECT_FALSE(ParseSideName("big.pak.00AB12CE-5.part", "big.pak", 0x00AB12CDu, start));  // another version
  EXPECT_TRUE(IsSideNameOf("big.pak.00AB12CE-5.part", "big.pak"));
  for (const char* name : {"big.pak.part", "big.pak.00AB12CD-.part", "big.pak.00AB12CD-+5.part",
                           "big.pak.00AB12CD-0.part", "big.pak.00AB12CD-5x.part", "big.pakx.00AB12CD-5.part",
                           "big.pak.00AB12CD-99999999999999999999999.part"}) {
    EXPECT_FALSE(ParseSideName(name, "big.pak", 0x00AB12CDu, start)) << name;
  }
  EXPECT_FALSE(IsSideNameOf("big.pak.notes-5.part", "big.pak"));
}

TEST(ContentRange, OnlyTheRestOfThisFileFromTheByteAsked) {
  EXPECT_TRUE(ContentRangeFits("bytes 100-999/1000", 100, 1000));
  EXPECT_FALSE(ContentRangeFits("bytes 0-999/1000", 100, 1000));    // the whole file in a 206
  EXPECT_FALSE(ContentRangeFits("bytes 100-499/1000", 100, 1000));  // a closed range
  EXPECT_FALSE(ContentRangeFits("bytes 100-999/2000", 100, 1000));  // another file
  EXPECT_FALSE(ContentRangeFits("bytes 100-999/*", 100, 1000));
  EXPECT_FALSE(ContentRangeFits("items 100-999/1000", 100, 1000));
  EXPECT_FALSE(ContentRangeFits("bytes 100-999/1000 ", 100, 1000));
}

// Feeds the governor a line of perConnection bytes a second per connection, at most line in
// all, for seconds; returns the connections it asked for at the end.
unsigned Govern(ConnectionGovernor& governor, double perConnection, double line, int seconds) {
  double received = 0;
  unsigned wanted = governor.Update(0, 0);
  for (uint64_t ms = 100; ms <= uint64_t(seconds) * 1000; ms += 100) {
    received += std::min(line, perConnection * wanted) / 10;
    wanted = governor.Update(ms, static_cast<uint64_t>(received));
  }
  return wanted;
}

TEST(ConnectionGovernor, GrowsWhileTheLineGivesMoreAndNeverPastItsLimit) {
  ConnectionGovernor fast(512 * kMiB, 8);
  EXPECT_EQ(Govern(fast, 700.0 * kMiB, 1e12, 1), 1u);  // loopback: over before sharing pays
  ConnectionGovernor huge(64ull << 30, 8);
  EXPECT_EQ(Govern(huge, 100.0 * kMiB, 1e12, 5), 1u);  // a fast connection is never shared
  ConnectionGovernor stalled(128 * kMiB, 8);
  EXPECT_EQ(Govern(stalled, 0, 1e12, 2), 1u);  // nothing received: nothing to judge by
  ConnectionGovernor line(128 * kMiB, 12);
  EXPECT_EQ(Govern(line, 4.0 * kMiB, 16.0 * kMiB, 10), 8u);  // 6 fill the line, 8 added nothing
  ConnectionGovernor open(1024 * kMiB, 8);
  EXPECT_EQ(Govern(open, 4.0 * kMiB, 1e12, 10), 8u);
  ConnectionGovernor refused(1024 * kMiB, 8);
  refused.Single();
  EXPECT_EQ(Govern(refused, 1.0 * kMiB, 1e12, 5), 1u);
}
}  // namespace

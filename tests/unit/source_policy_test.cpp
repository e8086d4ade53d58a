// The pass's source rules, walked file by file as the pass walks them: the mirror's calls per
// file, its failures in a row and when they turn it off, and the content server's retries.
#include "update/source_policy.h"
#include <gtest/gtest.h>
#include <deque>

namespace {
// One pass over files whose mirror calls give the results listed (in call order, each file
// its own list); returns per file "M" for each mirror call made and "S" when the content
// server was asked, and "!" after the failure that turned the mirror off.
std::vector<std::string> Walk(std::vector<std::deque<DownloadResult>> files) {
  std::vector<std::string> calls;
  int failures = 0;
  for (auto& results : files) {
    std::string made;
    if (MirrorInUse(true, failures)) {
      MirrorStep step = MirrorStep::CallAgain;
      for (int call = 1; step == MirrorStep::CallAgain && call <= 2; call++) {
        made += "M";
        step = AfterMirrorCall(call, results.front());
        results.pop_front();
      }
      if (step == MirrorStep::Supplied) failures = 0;
      if (step == MirrorStep::Failed && TurnsMirrorOff(++failures)) made += "!";
      if (step == MirrorStep::Failed) made += "S";
    } else {
      made += "S";
    }
    calls.push_back(made);
  }
  return calls;
}

TEST(SourcePolicy, TheMirrorIsCalledTwiceAfterAFailureButOnceAfterAWrongFile) {
  EXPECT_EQ(Walk({{kDownloadFailed, kDownloadOk}, {kDownloadFailed, kDownloadFailed}, {kDownloadBadCrc}}),
            (std::vector<std::string>{"MM", "MMS", "MS"}));
}

TEST(SourcePolicy, ThreeFilesFailedInARowTurnTheMirrorOffAndASuccessBetweenKeepsIt) {
  DownloadResult f = kDownloadFailed, ok = kDownloadOk, bad = kDownloadBadCrc;
  EXPECT_EQ(Walk({{f, f}, {bad}, {f, f}, {ok}, {ok}}), (std::vector<std::string>{"MMS", "MS", "MM!S", "S", "S"}));
  EXPECT_EQ(Walk({{f, f}, {bad}, {ok}, {f, f}, {bad}, {f, ok}}),
            (std::vector<std::string>{"MMS", "MS", "M", "MMS", "MS", "MM"}));
  EXPECT_FALSE(MirrorInUse(false, 0));
}

TEST(SourcePolicy, AStopOrAFullDiskEndsTheFileAtOnceFromEitherSource) {
  for (DownloadResult result : {kDownloadStopped, kDownloadDiskFull}) {
    EXPECT_EQ(AfterMirrorCall(1, result), MirrorStep::Ends);
    EXPECT_EQ(AfterServerCall(1, result), ServerStep::Ends);
  }
  EXPECT_EQ(AfterMirrorCall(2, kDownloadDiskFull), MirrorStep::Ends);
}

TEST(SourcePolicy, TheContentServerIsCalledThreeTimesWhateverTheFailure) {
  for (DownloadResult result : {kDownloadFailed, kDownloadBadCrc}) {
    EXPECT_EQ(AfterServerCall(1, result), ServerStep::Retry);
    EXPECT_EQ(AfterServerCall(2, result), ServerStep::Retry);
    EXPECT_EQ(AfterServerCall(3, result), ServerStep::GivesUp);
  }
  EXPECT_EQ(AfterServerCall(3, kDownloadOk), ServerStep::Ends);
}
}  // namespace

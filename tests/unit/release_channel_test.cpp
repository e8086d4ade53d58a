// Channel and rollout lines: launchers that know neither read a manifest with them exactly as
// one without; the lines themselves are read strictly; cohorts are stable and spread.
#include "update/release_channel.h"
#include "update/manifest.h"
#include <gtest/gtest.h>

namespace {

const char kPlain[] = "KMCONTENT\nversion 12\nname N\nmirror /releases/v12/files\nfiles 1\n0000ABCD 5 readme.txt\n";

TEST(ReleaseChannelLines, AreSkippedByTheManifestGrammar) {
  std::string plain = kPlain;
  std::string marked = plain + "channel beta\nrollout 30 v12 v11\n";
  Manifest before = ParseManifest(plain), after = ParseManifest(marked);
  ASSERT_EQ(after.files.size(), 1u);
  EXPECT_EQ(after.files[0].path, "readme.txt");
  EXPECT_EQ(after.version, before.version);
  EXPECT_EQ(after.mirror, before.mirror);
  EXPECT_TRUE(after.unsafePaths.empty());
}

TEST(ReleaseChannelLines, ChannelIsReadStrictly) {
  std::string channel, reason;
  EXPECT_TRUE(ReadManifestChannel(kPlain, channel, reason));
  EXPECT_EQ(channel, "");
  EXPECT_TRUE(ReadManifestChannel(std::string(kPlain) + "channel beta\r\n", channel, reason));
  EXPECT_EQ(channel, "beta");
  for (const char* bad : {"channel beta\nchannel beta\n", "channel Beta\n", "channel live\n", "channel \n",
                          "channel a/b\n", "channel ../x\n"}) {
    EXPECT_FALSE(ReadManifestChannel(std::string(kPlain) + bad, channel, reason)) << bad;
  }
}

TEST(ReleaseChannelLines, RolloutIsReadStrictly) {
  Rollout rollout;
  std::string reason;
  ASSERT_TRUE(ReadRollout(std::string(kPlain) + "rollout 30 v12 v11\n", rollout, reason));
  EXPECT_TRUE(rollout.present);
  EXPECT_EQ(rollout.percent, 30u);
  EXPECT_EQ(rollout.release, "v12");
  EXPECT_EQ(rollout.previous, "v11");
  EXPECT_EQ(RolloutLine(rollout), "rollout 30 v12 v11\n");
  for (const char* bad : {"rollout 101 v12 v11\n", "rollout 030 v12 v11\n", "rollout -1 v12 v11\n",
                          "rollout 30 v12\n", "rollout 30 v12 ../v11\n", "rollout 30 v12 v12\n",
                          "rollout 30 v12 v11 x\n", "rollout 30 v12 v11\nrollout 40 v12 v11\n", "rollout x v1 v2\n"}) {
    EXPECT_FALSE(ReadRollout(std::string(kPlain) + bad, rollout, reason)) << bad;
  }
}

TEST(ReleaseChannelLines, PreloadNamesOneKeptRelease) {
  std::string release, reason;
  EXPECT_TRUE(ReadPreload(kPlain, release, reason));
  EXPECT_EQ(release, "");
  EXPECT_TRUE(ReadPreload(std::string(kPlain) + "preload v13\n", release, reason));
  EXPECT_EQ(release, "v13");
  for (const char* bad : {"preload ../v13\n", "preload v13\npreload v14\n", "preload \n", "preload a/b\n"}) {
    EXPECT_FALSE(ReadPreload(std::string(kPlain) + bad, release, reason)) << bad;
  }
}

TEST(ReleaseChannelPaths, LiveIsTheRootAndChannelsLieBelowIt) {
  EXPECT_EQ(ChannelManifestPath(""), "/manifest");
  EXPECT_EQ(ChannelFilesPath(""), "/files/");
  EXPECT_EQ(ChannelManifestPath("beta"), "/channels/beta/manifest");
  EXPECT_EQ(ReleaseManifestPath("beta", "v3"), "/channels/beta/releases/v3/manifest");
  EXPECT_EQ(ReleaseFilesPath("", "v11.2"), "/releases/v11.2/files/");
}

TEST(RolloutCohort, RaisingThePercentageKeepsEveryoneInAndReleasesDrawAfresh) {
  int inAt30 = 0, keptAt60 = 0, sameInNext = 0;
  const int installs = 2000;
  for (int i = 0; i < installs; i++) {
    std::string id = "install-" + std::to_string(i);
    Rollout at30{true, 30, "v12", "v11"}, at60{true, 60, "v12", "v11"}, next{true, 30, "v13", "v12"};
    if (!InRollout(at30, id)) continue;
    inAt30++;
    keptAt60 += InRollout(at60, id);
    sameInNext += InRollout(next, id);
  }
  EXPECT_EQ(keptAt60, inAt30);
  EXPECT_NEAR(inAt30, installs * 0.3, installs * 0.05);
  EXPECT_NEAR(sameInNext, inAt30 * 0.3, inAt30 * 0.1);  // the next release's cohorts do not repeat these
  EXPECT_TRUE(InRollout(Rollout{}, "any"));
  EXPECT_FALSE(InRollout(Rollout{true, 0, "v12", "v11"}, "install-1"));
}

}  // namespace

// The outcome report's text: what the launcher writes serve reads back, nothing else.
#include "update/outcome_report.h"

namespace {

TEST(OutcomeReportText, RoundTripsAndClassifiesPassEnds) {
  OutcomeReport sent{"v12.2", "beta", 30, OutcomeClass::Held, 1048576, 12};
  std::string body = FormatOutcomeReport(sent);
  EXPECT_EQ(body, "release=v12.2&channel=beta&percent=30&outcome=held&bytes=1048576&seconds=12");
  OutcomeReport read;
  ASSERT_TRUE(ParseOutcomeReport(body, read));
  EXPECT_EQ(FormatOutcomeReport(read), body);
  EXPECT_EQ(ClassifyPassEnd(Ready, "Up to date  -  version 3", false, 0), OutcomeClass::UpToDate);
  EXPECT_EQ(ClassifyPassEnd(Ready, "Up to date  -  version 3", false, 5), OutcomeClass::Done);
  EXPECT_EQ(ClassifyPassEnd(Offline, "Could not reach the update server.", false, 0), OutcomeClass::Offline);
  EXPECT_EQ(ClassifyPassEnd(Offline, "The update server's certificate has expired or is not valid yet.", false, 0),
            OutcomeClass::Certificate);
  EXPECT_EQ(ClassifyPassEnd(Offline, "Could not verify the update server's release.", false, 0), OutcomeClass::Failed);
  EXPECT_EQ(ClassifyPassEnd(UpdateFailed, "Not enough disk space", false, 9), OutcomeClass::DiskSpace);
  EXPECT_EQ(ClassifyPassEnd(UpdateFailed, "A game file is in use.", false, 9), OutcomeClass::Held);
  EXPECT_EQ(ClassifyPassEnd(UpdateFailed, "The update could not be downloaded.", true, 9), OutcomeClass::Crc);
  EXPECT_EQ(ClassifyPassEnd(UpdateFailed, "The update could not be downloaded.", false, 9), OutcomeClass::Failed);
}

}  // namespace

// KMLauncher.cfg reading rules and templates.
#include "core/launcher_config.h"
#include <gtest/gtest.h>

namespace {
const std::string kStart = "1.2.3.4:25858";

std::string Read(const std::string& text) { return ServerFromConfigText(text, kStart); }
}  // namespace

TEST(LauncherConfig, KeyMatchesInAnyLetterCase) {
  EXPECT_EQ(Read("server=10.1.1.1:1\n"), "10.1.1.1:1");
  EXPECT_EQ(Read("SeRvEr=10.1.1.1:2\n"), "10.1.1.1:2");
}

TEST(LauncherConfig, BlankBeforeEqualsDoesNotMatch) {
  EXPECT_EQ(Read("Server =10.1.1.1:1\n"), kStart);
  EXPECT_EQ(Read(" Server=10.1.1.1:1\n"), kStart);
}

TEST(LauncherConfig, EmptyValueKeepsTheCurrentServer) {
  EXPECT_EQ(Read("Server=\n"), kStart);
  EXPECT_EQ(Read("Server=   \n"), kStart);
}

TEST(LauncherConfig, CommentsAndLinesWithoutEqualsAreSkipped) {
  EXPECT_EQ(Read("#Server=10.0.0.1:1\n;Server=10.0.0.2:2\nServer\n"), kStart);
}

TEST(LauncherConfig, LastNonEmptyServerLineWins) {
  EXPECT_EQ(Read("Server=a:1\nServer=b:2\nServer=\n"), "b:2");
}

TEST(LauncherConfig, TrailingBlanksAndCarriageReturnsGoTabStays) {
  EXPECT_EQ(Read("Server=a:1  \r\r\n"), "a:1");
  EXPECT_EQ(Read("Server=a:1\t\n"), "a:1\t");
  EXPECT_EQ(Read("Server=  a:1=x\n"), "  a:1=x");
}

TEST(LauncherConfig, LastLineWithoutLineBreakCounts) { EXPECT_EQ(Read("Server=a:1"), "a:1"); }

TEST(LauncherConfig, LongLinesArriveIn511CharacterPieces) {
  // The second piece of a long line is read as a line of its own.
  std::string filler(511, 'x');
  EXPECT_EQ(Read(filler + "Server=c:3\n"), "c:3");
  std::string longValue = "Server=" + std::string(504, 'v');  // exactly 511 characters
  EXPECT_EQ(Read(longValue + "tail\n"), std::string(504, 'v'));
  EXPECT_EQ(Read(longValue + "\n"), std::string(504, 'v'));
}

TEST(LauncherConfig, TunnelledAddressesAreRecognisedInAnyCase) {
  EXPECT_TRUE(IsTunnelledServer(std::string("abc") + kTunnelHostSuffix + ":443"));
  std::string upper = kTunnelHostSuffix;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(IsTunnelledServer("x" + upper));
  EXPECT_FALSE(IsTunnelledServer("203.0.113.9:25858"));
}

TEST(LauncherConfig, TemplatesHaveTheirLines) {
  EXPECT_EQ(LauncherConfigText(ConfigTemplate::Startup, "s:1"),
            "; Kelmorra launcher\n"
            "; Content server (address:port) the launcher updates from.\n"
            "; On the server PC itself use Server=127.0.0.1:25858\n"
            "Server=s:1\n");
  EXPECT_EQ(LauncherConfigText(ConfigTemplate::Install, "s:1"),
            "; Kelmorra launcher\n"
            "; Content server (address:port) the launcher updates from.\n"
            "Server=s:1\n");
}

TEST(LauncherConfig, DefaultServerUsesTheGamePort) {
  std::string server = kDefaultServer;
  EXPECT_EQ(server.substr(server.find(':')), ":25858");
}

// ---- the download speed cap ----

TEST(LauncherConfigSpeedCap, ReadByTheServerRulesAndLeavesTheServerAlone) {
  std::string text = "Server=a:1\nMAXDOWNLOADKBPS=100\n; MaxDownloadKBps=7\nMaxDownloadKBps =9\nmaxdownloadkbps=\n";
  EXPECT_EQ(ConfigValueFromText(text, "maxdownloadkbps"), "100");
  EXPECT_EQ(Read(text), "a:1");
  EXPECT_EQ(ConfigValueFromText("Server=a:1\n", "maxdownloadkbps"), "");
  // A piece of a long line counts as a line, for the cap as for the server.
  EXPECT_EQ(ConfigValueFromText("; " + std::string(509, 'x') + "MaxDownloadKBps=5\n", "maxdownloadkbps"), "5");
}

TEST(LauncherConfigSpeedCap, OnlyWholeNumbersWithinRange) {
  uint32_t cap = 99;
  EXPECT_TRUE(ParseSpeedCap("0", cap));
  EXPECT_EQ(cap, 0u);
  EXPECT_TRUE(ParseSpeedCap("4000000", cap));
  EXPECT_EQ(cap, 4000000u);
  for (const char* bad : {"", "4000001", "99999999999", "-1", "+5", " 5", "5 ", "5\t", "1e3", "0x10", "12k"}) {
    EXPECT_FALSE(ParseSpeedCap(bad, cap)) << bad;
  }
}

TEST(LauncherConfigSpeedCap, WritingReplacesEveryCapLineKeepsTheRestAndWinsOverHiddenOnes) {
  std::string text = "; Kelmorra launcher\nServer=h:1\nmaxDownloadKBps=5\n# note\nMaxDownloadKBps=7";
  std::string written = WithSpeedCap(text, 300);
  EXPECT_EQ(written, "; Kelmorra launcher\nServer=h:1\n# note\nMaxDownloadKBps=300\n");
  EXPECT_EQ(WithSpeedCap("", 0), "MaxDownloadKBps=0\n");
  // A value hidden in the second piece of a long line is overruled by the line written last.
  std::string hidden = "; " + std::string(509, 'x') + "MaxDownloadKBps=5\nServer=h:1\n";
  std::string rewritten = WithSpeedCap(hidden, 64);
  EXPECT_EQ(ConfigValueFromText(rewritten, "maxdownloadkbps"), "64");
  EXPECT_EQ(ServerFromConfigText(rewritten, kStart), "h:1");
}

// ---- rewrites keep what they do not own ----

TEST(LauncherConfigRewrite, TunnelResetWritesTheTemplateAndKeepsEveryOtherSetting) {
  std::string old =
      "; Kelmorra launcher\n"
      "; Content server (address:port) the launcher updates from.\n"
      "; On the server PC itself use Server=127.0.0.1:25858\n"
      "Server=abc.ngrok-free.app:443\n"
      "MaxDownloadKBps=512\n"
      "# my own note\n"
      "Channel=beta\n"
      "server=second.ngrok-free.app:1\n"
      "Report=https://r.example\r\n";
  std::string written = RewrittenConfigText(ConfigTemplate::Startup, "1.2.3.4:25858", old);
  EXPECT_EQ(written, LauncherConfigText(ConfigTemplate::Startup, "1.2.3.4:25858") +
                         "MaxDownloadKBps=512\n# my own note\nChannel=beta\nReport=https://r.example\r\n");
  EXPECT_EQ(ServerFromConfigText(written, kStart), "1.2.3.4:25858");
  EXPECT_EQ(ConfigValueFromText(written, "maxdownloadkbps"), "512");
  // Rewriting again changes nothing: the template's lines are not piled up.
  EXPECT_EQ(RewrittenConfigText(ConfigTemplate::Startup, "1.2.3.4:25858", written), written);
}

TEST(LauncherConfigRewrite, AServerHiddenInALongLineIsDroppedSoTheNewOneCounts) {
  std::string old = "; " + std::string(509, 'x') + "Server=evil.ngrok-free.app:1\nMaxDownloadKBps=7";
  std::string written = RewrittenConfigText(ConfigTemplate::Install, "h:2", old);
  EXPECT_EQ(written, LauncherConfigText(ConfigTemplate::Install, "h:2") + "MaxDownloadKBps=7\n");
  EXPECT_EQ(ServerFromConfigText(written, kStart), "h:2");
}

TEST(LauncherConfigRewrite, NoOldFileGivesTheBareTemplate) {
  EXPECT_EQ(RewrittenConfigText(ConfigTemplate::Install, "h:2", ""),
            LauncherConfigText(ConfigTemplate::Install, "h:2"));
}

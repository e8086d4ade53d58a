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

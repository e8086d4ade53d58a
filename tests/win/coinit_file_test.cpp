// coinit.tmp on disk under Wine: creation, the unchanged second run, address changes, the
// local content server, length limits, read-only and empty files, failed writes and the lock.
#include "core/globals_win.h"
#include "core/log.h"
#include "gameconfig/axcrypt.h"
#include "gameconfig/coinit_file_win.h"
#include "tests/win/win_test_support.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <thread>

namespace {

const char* const kLocalMessage =
    "Content server is on this PC - leaving the game server address in coinit.tmp alone";

class CoinitFile : public ::testing::Test {
 protected:
  void SetUp() override {
    g_exeDir = MakeTestFolder("coinit");
    g_server = "203.0.113.5:25858";
    OpenTestLog(g_exeDir);
  }
  void TearDown() override { CloseLog(); }

  std::string Path() const { return g_exeDir + "coinit.tmp"; }
  std::string File() const { return ReadFileOrEmpty(Path()); }
};

std::vector<std::string> CrLfLines(const std::string& content) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find("\r\n", pos);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

std::string FieldValue(const std::vector<std::string>& lines, int field) {
  std::string text = lines[2 * field - 2] + "\r\n" + lines[2 * field - 1];
  char out[256];
  ax_decrypt(kCoinitPassphrase, text.c_str(), out, sizeof out);
  return out;
}

bool IsBase64Line(const std::string& line) {
  return !line.empty() && line.find_first_not_of(
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") == std::string::npos;
}

bool Logged(const std::string& line) {
  std::vector<std::string> lines = LogLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST_F(CoinitFile, CreatedWithTenBase64LinesAndThePlainBlock) {
  ApplyGameServer("game.example.net:7000");
  std::string content = File();
  const std::string block = "0\r\n1\r\n1024\r\n768\r\n32\r\n";
  ASSERT_GT(content.size(), block.size());
  EXPECT_EQ(content.substr(content.size() - block.size()), block);
  std::vector<std::string> lines = CrLfLines(content);
  ASSERT_EQ(lines.size(), 15u);
  for (int i = 0; i < 10; i += 2) {
    EXPECT_EQ(lines[i].size(), 76u);
    EXPECT_TRUE(lines[i + 1].size() >= 12 && lines[i + 1].size() <= 76);
    EXPECT_TRUE(IsBase64Line(lines[i]) && IsBase64Line(lines[i + 1]));
  }
  EXPECT_EQ(FieldValue(lines, 1), "player");
  EXPECT_EQ(FieldValue(lines, 2), "player");
  EXPECT_EQ(FieldValue(lines, 3), "KELMORRA");
  EXPECT_EQ(FieldValue(lines, 4), "203.0.113.5:25858");
  EXPECT_EQ(FieldValue(lines, 5), "game.example.net:7000");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"Created coinit.tmp with game server game.example.net:7000"});
  EXPECT_FALSE(FileExists(Path() + ".new"));
}

TEST_F(CoinitFile, SecondRunChangesNoByteAndLogsNothing) {
  ApplyGameServer("game.example.net:7000");
  std::string first = File();
  size_t logged = LogLines().size();
  Sleep(1100);  // a rewrite would now encrypt in another second and so differ
  ApplyGameServer("game.example.net:7000");
  EXPECT_EQ(File(), first);
  EXPECT_EQ(LogLines().size(), logged);
}

TEST_F(CoinitFile, ChangedAddressReplacesOnlyLinesNineAndTen) {
  ApplyGameServer("old.example:7000");
  WriteTestFile(Path(), File() + "kept after the plain lines\r\n");
  std::vector<std::string> before = CrLfLines(File());
  ApplyGameServer("new.example:7001");
  std::vector<std::string> after = CrLfLines(File());
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); i++) {
    if (i == 8 || i == 9) continue;
    EXPECT_EQ(after[i], before[i]) << "line " << i + 1;
  }
  EXPECT_EQ(FieldValue(after, 5), "new.example:7001");
  EXPECT_TRUE(Logged("Game server address set to new.example:7001 (was old.example:7000)"));
}

TEST_F(CoinitFile, DamagedFieldFiveIsOverwrittenAndLoggedAsEmpty) {
  ApplyGameServer("old.example:7000");
  std::vector<std::string> lines = CrLfLines(File());
  lines[8] = "AAAA";
  lines[9] = "AAAA";
  std::string damaged;
  for (const std::string& line : lines) damaged += line + "\r\n";
  WriteTestFile(Path(), damaged);
  ApplyGameServer("new.example:7001");
  EXPECT_EQ(FieldValue(CrLfLines(File()), 5), "new.example:7001");
  EXPECT_TRUE(Logged("Game server address set to new.example:7001 (was empty)"));
}

TEST_F(CoinitFile, LocalContentServerLeavesTheFileAlone) {
  for (const char* server : {"LocalHost:25858", "127.0.0.1:25858", "localhost"}) {
    g_server = server;
    DeleteFileA(Path().c_str());
    ApplyGameServer("game.example.net:7000");
    EXPECT_FALSE(FileExists(Path())) << server;
    WriteTestFile(Path(), "not a coinit file");
    ApplyGameServer("game.example.net:7000");
    EXPECT_EQ(File(), "not a coinit file") << server;
  }
  EXPECT_EQ(LogLines(), std::vector<std::string>(6, kLocalMessage));
}

TEST_F(CoinitFile, LookalikeHostsAreNotLocal) {
  for (const char* server : {"localhost2:25858", "10.0.0.1:25858"}) {
    g_server = server;
    DeleteFileA(Path().c_str());
    ApplyGameServer("game.example.net:7000");
    EXPECT_EQ(FieldValue(CrLfLines(File()), 4), server);
  }
  EXPECT_FALSE(Logged(kLocalMessage));
}

TEST_F(CoinitFile, GameServerOf64CharactersWrittenAnd65Refused) {
  std::string longest(64, 'g');
  ApplyGameServer(longest);
  EXPECT_EQ(FieldValue(CrLfLines(File()), 5), longest);
  std::string before = File();
  std::string tooLong(65, 'h');
  ApplyGameServer(tooLong);
  EXPECT_EQ(File(), before);
  EXPECT_TRUE(Logged("Game server address too long for coinit.tmp: " + tooLong));
}

TEST_F(CoinitFile, ContentServerTooLongForFieldFourCreatesNothing) {
  g_server = std::string(60, 'c') + ":25858";
  ApplyGameServer("game.example.net:7000");
  EXPECT_FALSE(FileExists(Path()));
  EXPECT_TRUE(Logged("Content server address too long for coinit.tmp: " + g_server));
}

TEST_F(CoinitFile, EmptyGameServerDoesNothing) {
  ApplyGameServer("");
  EXPECT_FALSE(FileExists(Path()));
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(CoinitFile, ReadOnlyFileIsStillReplaced) {
  ApplyGameServer("old.example:7000");
  ASSERT_TRUE(SetFileAttributesA(Path().c_str(), FILE_ATTRIBUTE_READONLY));
  ApplyGameServer("new.example:7001");
  EXPECT_EQ(FieldValue(CrLfLines(File()), 5), "new.example:7001");
}

TEST_F(CoinitFile, ZeroByteFileIsCreatedAfreshButReadsAsDefaults) {
  WriteTestFile(Path(), "");
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ASSERT_TRUE(ReadCoinit(encrypted, plain));
  EXPECT_EQ(encrypted, "\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(plain[2], "1024");
  ApplyGameServer("game.example.net:7000");
  EXPECT_EQ(CrLfLines(File()).size(), 15u);
  EXPECT_TRUE(Logged("Created coinit.tmp with game server game.example.net:7000"));
}

TEST_F(CoinitFile, ReadCoinitGivesTheEncryptedLinesAndPlainValues) {
  std::string encrypted = "unchanged";
  std::string plain[kCoinitPlainCount] = {"x"};
  EXPECT_FALSE(ReadCoinit(encrypted, plain));
  EXPECT_EQ(encrypted, "unchanged");
  EXPECT_EQ(plain[0], "x");
  ApplyGameServer("game.example.net:7000");
  std::string content = File();
  ASSERT_TRUE(ReadCoinit(encrypted, plain));
  EXPECT_EQ(encrypted + "0\r\n1\r\n1024\r\n768\r\n32\r\n", content);
  EXPECT_EQ(plain[3], "768");
}

TEST_F(CoinitFile, UnwritableNewFileIsLoggedAndTheFileKept) {
  ApplyGameServer("old.example:7000");
  std::string before = File();
  ASSERT_TRUE(CreateDirectoryA((Path() + ".new").c_str(), nullptr));
  ApplyGameServer("new.example:7001");
  EXPECT_EQ(File(), before);
  EXPECT_TRUE(Logged("Cannot write " + Path() + ".new"));
}

TEST_F(CoinitFile, FailedReplaceIsLoggedAndTheNewFileStays) {
  ASSERT_TRUE(CreateDirectoryA(Path().c_str(), nullptr));  // nothing can be moved over it
  ApplyGameServer("game.example.net:7000");
  EXPECT_TRUE(FileExists(Path() + ".new"));
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind("Cannot replace coinit.tmp (error ", 0), 0u) << lines[1];
}

TEST_F(CoinitFile, WriteCoinitReplacesTheWholeFile) {
  ApplyGameServer("game.example.net:7000");
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ASSERT_TRUE(ReadCoinit(encrypted, plain));
  plain[0] = "1";
  ASSERT_TRUE(SetFileAttributesA(Path().c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(WriteCoinit(CoinitContent(encrypted, plain)));
  EXPECT_EQ(CrLfLines(File())[10], "1");
}

TEST_F(CoinitFile, HeldLockKeepsTheOtherWriterWaiting) {
  std::thread worker;
  {
    CoinitLock lock;
    worker = std::thread([] { ApplyGameServer("game.example.net:7000"); });
    Sleep(300);
    EXPECT_FALSE(FileExists(Path()));
    EXPECT_TRUE(LogLines().empty());
  }
  worker.join();
  EXPECT_EQ(FieldValue(CrLfLines(File()), 5), "game.example.net:7000");
}

TEST_F(CoinitFile, TwoThreadsRewritingNeverBreakTheFile) {
  ApplyGameServer("a.example:1");
  auto writer = [](const char* first, const char* second) {
    for (int i = 0; i < 6; i++) ApplyGameServer(i % 2 ? second : first);
  };
  std::thread one(writer, "b.example:2", "a.example:1");
  std::thread two(writer, "a.example:1", "b.example:2");
  one.join();
  two.join();
  std::vector<std::string> lines = CrLfLines(File());
  ASSERT_EQ(lines.size(), 15u);
  std::string value = FieldValue(lines, 5);
  EXPECT_TRUE(value == "a.example:1" || value == "b.example:2") << value;
  for (const std::string& line : LogLines()) EXPECT_EQ(line.find("Cannot"), std::string::npos) << line;
  EXPECT_FALSE(FileExists(Path() + ".new"));
}

}  // namespace

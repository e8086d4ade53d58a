// coinit.tmp byte logic: field splitting, reading the plain values, the local-server test,
// and the content built when the file is created or its game server address changes.
#include "gameconfig/axcrypt.h"
#include "gameconfig/coinit.h"

#include <gtest/gtest.h>

namespace {

std::string DecryptField(const std::string& text) {
  char out[256];
  ax_decrypt(kCoinitPassphrase, text.c_str(), out, sizeof out);
  return out;
}

std::string NewFile(const std::string& server, const std::string& gameServer) {
  std::string content;
  EXPECT_EQ(NewCoinitContent(server, gameServer, content), CoinitCreate::Created);
  return content;
}

// ---- CoinitField ----

TEST(CoinitField, TakesOneOrTwoLinesAndMovesPastTheLineEnd) {
  std::string text = "ab\r\ncd\r\nef\r\ngh";
  size_t pos = 0;
  EXPECT_EQ(CoinitField(text, pos, 1), "ab\r\ncd");
  EXPECT_EQ(pos, 8u);
  EXPECT_EQ(CoinitField(text, pos, 0), "ef");
  EXPECT_EQ(pos, 12u);
  EXPECT_EQ(CoinitField(text, pos, 0), "gh");  // no line end: runs to the end
  EXPECT_EQ(pos, text.size());
}

TEST(CoinitField, LoneCrAndLfAreFieldContent) {
  std::string text = "a\rb\nc\r\nd";
  size_t pos = 0;
  EXPECT_EQ(CoinitField(text, pos, 0), "a\rb\nc");
  std::string cut = "ab\r";
  pos = 0;
  EXPECT_EQ(CoinitField(cut, pos, 0), "ab\r");
  EXPECT_EQ(pos, cut.size());
}

TEST(CoinitField, FieldStartingWithAnEmptyLineIsEmpty) {
  std::string text = "\r\nxy\r\nzz\r\n";
  size_t pos = 0;
  EXPECT_EQ(CoinitField(text, pos, 1), "");
  EXPECT_EQ(pos, 2u);
  EXPECT_EQ(CoinitField(text, pos, 1), "xy\r\nzz");
  EXPECT_EQ(pos, text.size());
}

TEST(CoinitField, SecondLineMayBeEmpty) {
  std::string text = "ab\r\n\r\ncd\r\n";
  size_t pos = 0;
  EXPECT_EQ(CoinitField(text, pos, 1), "ab\r\n");
  EXPECT_EQ(CoinitField(text, pos, 0), "cd");
}

// ---- ParseCoinit ----

TEST(ParseCoinit, SplitsTenEncryptedLinesFromThePlainValues) {
  std::string content = "A1\r\nA2\r\nB1\r\nB2\r\nC1\r\nC2\r\nD1\r\nD2\r\nE1\r\nE2\r\n1\r\n7\r\n1920\r\n1080\r\n16\r\n";
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ParseCoinit(content, encrypted, plain);
  EXPECT_EQ(encrypted, content.substr(0, 40));
  const char* const expected[] = {"1", "7", "1920", "1080", "16"};
  for (int i = 0; i < kCoinitPlainCount; i++) EXPECT_EQ(plain[i], expected[i]);
}

TEST(ParseCoinit, MissingEmptyAndPaddedValues) {
  const std::string fields = "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh\r\ni\r\nj\r\n";
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ParseCoinit(fields + "1\r\n1\r\n1920\r\n1080\r\n", encrypted, plain);
  EXPECT_EQ(plain[3], "1080");
  EXPECT_EQ(plain[4], "32");
  ParseCoinit(fields + "0\r\n \r\n1280 \r\r\n800", encrypted, plain);
  EXPECT_EQ(plain[1], "1");     // blank line: default
  EXPECT_EQ(plain[2], "1280");  // trailing blank and CR removed
  EXPECT_EQ(plain[3], "800");   // last line without CR LF read whole
  EXPECT_EQ(plain[4], "32");
}

TEST(ParseCoinit, EmptyFileGivesFiveBareLineEndsAndDefaults) {
  std::string encrypted = "junk";
  std::string plain[kCoinitPlainCount];
  ParseCoinit("", encrypted, plain);
  EXPECT_EQ(encrypted, "\r\n\r\n\r\n\r\n\r\n");
  for (int i = 0; i < kCoinitPlainCount; i++) EXPECT_EQ(plain[i], kCoinitPlainDefaults[i]);
}

TEST(ParseCoinit, WhatTheSettingsSaveWritesReadsBackTheSame) {
  for (const std::string& source : {std::string(), NewFile("203.0.113.5:25858", "game.example:7000")}) {
    std::string encrypted;
    std::string plain[kCoinitPlainCount];
    ParseCoinit(source, encrypted, plain);
    const std::string chosen[kCoinitPlainCount] = {"1", plain[1], "1920", "1080", "32"};
    std::string saved = CoinitContent(encrypted, chosen);
    std::string again;
    std::string reread[kCoinitPlainCount];
    ParseCoinit(saved, again, reread);
    EXPECT_EQ(again, encrypted);
    for (int i = 0; i < kCoinitPlainCount; i++) EXPECT_EQ(reread[i], chosen[i]);
  }
}

// ---- the content server test ----

TEST(LocalContentServer, LocalhostAndLoopbackOnlyByHost) {
  EXPECT_TRUE(IsLocalContentServer("LocalHost:25858"));
  EXPECT_TRUE(IsLocalContentServer("127.0.0.1:25858"));
  EXPECT_TRUE(IsLocalContentServer("localhost"));
  EXPECT_TRUE(IsLocalContentServer("127.9.9.9"));
  EXPECT_FALSE(IsLocalContentServer("localhost2:25858"));
  EXPECT_FALSE(IsLocalContentServer("10.0.0.1:25858"));
  EXPECT_FALSE(IsLocalContentServer("content.example:127"));
  EXPECT_FALSE(IsLocalContentServer("1270.0.0.1"));
  EXPECT_TRUE(IsLocalContentServer("https://localhost:8443"));
  EXPECT_TRUE(IsLocalContentServer("HTTP://127.0.0.1"));
  EXPECT_FALSE(IsLocalContentServer("https://content.example:127"));
}

// ---- creating the file ----

TEST(NewCoinitContent, RefusesAContentServerThatWouldNotFitTwoLines) {
  std::string content = "untouched";
  EXPECT_EQ(NewCoinitContent(std::string(65, 'h'), "game:1", content), CoinitCreate::ServerTooLong);
  EXPECT_EQ(content, "untouched");
  std::string server(64, 'h');
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ParseCoinit(NewFile(server, "game:1"), encrypted, plain);
  size_t pos = 0;
  for (int f = 0; f < 3; f++) CoinitField(encrypted, pos, 1);
  EXPECT_EQ(DecryptField(CoinitField(encrypted, pos, 1)), server);
  EXPECT_EQ(DecryptField(CoinitField(encrypted, pos, 1)), "game:1");
  EXPECT_EQ(plain[2], "1024");
}

TEST(NewCoinitContent, FailsWhenAFieldCannotBeEncrypted) {
  std::string content;
  EXPECT_EQ(NewCoinitContent("", "game:1", content), CoinitCreate::CannotEncrypt);
}

// ---- setting the game server ----

TEST(SetGameServerField, UndecryptableFieldFiveIsOverwrittenAndTheRestKept) {
  std::string content = "F1a\r\nF1b\r\nF2a\r\nF2b\r\nF3a\r\nF3b\r\nF4a\r\nF4b\r\n!!\r\n??\r\n1\r\n1\r\n800\r\n600\r\n32\r\n";
  std::string newContent;
  std::string old;
  ASSERT_EQ(SetGameServerField(content, "game:1", newContent, old), GameServerEdit::Replaced);
  EXPECT_EQ(old, "");
  EXPECT_EQ(newContent.substr(0, 40), content.substr(0, 40));
  const std::string plainLines = "1\r\n1\r\n800\r\n600\r\n32\r\n";
  EXPECT_EQ(newContent.substr(newContent.size() - plainLines.size()), plainLines);
}

TEST(SetGameServerField, ContentWithEmptyFieldsStaysReadable) {
  // An empty coinit.tmp saved by the settings window: five bare line ends and plain values.
  std::string encrypted;
  std::string plain[kCoinitPlainCount];
  ParseCoinit("", encrypted, plain);
  const std::string chosen[kCoinitPlainCount] = {"1", "1", "1920", "1080", "32"};
  std::string newContent;
  std::string old;
  ASSERT_EQ(SetGameServerField(CoinitContent(encrypted, chosen), "game:1", newContent, old),
            GameServerEdit::Replaced);
  std::string reread[kCoinitPlainCount];
  ParseCoinit(newContent, encrypted, reread);
  for (int i = 0; i < kCoinitPlainCount; i++) EXPECT_EQ(reread[i], chosen[i]);
  EXPECT_EQ(SetGameServerField(newContent, "game:1", newContent, old), GameServerEdit::AlreadySet);
}

TEST(SetGameServerField, AddressTooLongToEncryptFails) {
  std::string content = NewFile("203.0.113.5:25858", "game:1");
  std::string newContent;
  std::string old;
  EXPECT_EQ(SetGameServerField(content, std::string(129, 'g'), newContent, old),
            GameServerEdit::CannotEncrypt);
}

TEST(LoggableFieldValue, ControlBytesMaskedEmptyNamed) {
  EXPECT_EQ(LoggableFieldValue(""), "empty");
  EXPECT_EQ(LoggableFieldValue("a\r\nb\x01\x7f" "c"), "a??b??c");
  EXPECT_EQ(LoggableFieldValue("game.example:7000"), "game.example:7000");
}

}  // namespace

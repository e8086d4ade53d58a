// The log under Windows: line form, the 1023-character cut, and logging while no log is open.
#include "core/log.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <thread>

TEST(Log, LongMessageIsCutAt1023CharactersAndEndsInCrLf) {
  std::string folder = MakeTestFolder("log");
  OpenTestLog(folder);
  std::string message(2000, 'm');
  LogLine("%s", message.c_str());
  CloseLog();
  std::string raw = ReadFileOrEmpty(folder + "test.log");
  // "YYYY-MM-DD [hh:mm:ss] " + 1023 characters + CR LF
  ASSERT_EQ(raw.size(), 22u + 1023u + 2u);
  EXPECT_EQ(raw.substr(10, 2), " [");
  EXPECT_EQ(raw.substr(20, 2), "] ");
  EXPECT_EQ(raw.substr(22, 1023), message.substr(0, 1023));
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST(Log, LoggingWithoutAnOpenLogDoesNothing) {
  CloseLog();
  LogLine("nobody reads this %d", 1);
  EXPECT_EQ(g_logFile, nullptr);
}

TEST(Log, OpeningAppendsUpToOneMebibyteAndEmptiesAbove) {
  std::string folder = MakeTestFolder("logsize");
  std::string path = folder + "KMLauncher.log";
  WriteTestFile(path, std::string(1048576, 'x'));
  ASSERT_TRUE(OpenLog(path));
  LogLine("appended");
  CloseLog();
  EXPECT_GT(ReadFileOrEmpty(path).size(), 1048576u);
  WriteTestFile(path, std::string(1048577, 'x'));
  ASSERT_TRUE(OpenLog(path));
  LogLine("fresh");
  CloseLog();
  EXPECT_EQ(ReadFileOrEmpty(path).substr(22), "fresh\r\n");
}

TEST(Log, ACaptureHoldsItsThreadsLinesUntilTheyAreWrittenInOrder) {
  std::string folder = MakeTestFolder("logcapture");
  OpenTestLog(folder);
  std::vector<std::string> held;
  {
    LogCapture capture;
    LogLine("ahead %d", 1);
    std::thread other([] { LogLine("from another thread"); });
    other.join();
    LogLine("ahead %d", 2);
    held = capture.messages;
  }
  LogLine("after");
  EXPECT_EQ(held, (std::vector<std::string>{"ahead 1", "ahead 2"}));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"from another thread", "after"}));
  LogMessages(held);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"from another thread", "after", "ahead 1", "ahead 2"}));
  CloseLog();
}

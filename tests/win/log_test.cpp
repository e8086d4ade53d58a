// The log under Windows: line form, the 1023-character cut, logging while no log is open
// and while another thread closes it.
#include "core/log.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>

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

namespace {
std::atomic<bool> g_stopLogging{false};

DWORD WINAPI KeepLogging(void*) {
  while (!g_stopLogging) LogLine("worker line");
  return 0;
}
}  // namespace

TEST(Log, WorkersLoggingWhileTheLogClosesWriteWholeLinesAndNothingElsewhere) {
  std::string folder = MakeTestFolder("logclose");
  OpenTestLog(folder);
  g_stopLogging = false;
  HANDLE workers[3];
  for (HANDLE& worker : workers) worker = CreateThread(nullptr, 0, KeepLogging, nullptr, 0, nullptr);
  Sleep(50);
  CloseLog();
  // The closed stream's slot is free for the next file opened; no late line may land there.
  FILE* other = fopen((folder + "other.txt").c_str(), "w");
  Sleep(50);
  fclose(other);
  g_stopLogging = true;
  WaitForMultipleObjects(3, workers, TRUE, INFINITE);
  for (HANDLE worker : workers) CloseHandle(worker);
  EXPECT_EQ(ReadFileOrEmpty(folder + "other.txt"), "");
  std::string log = ReadFileOrEmpty(folder + "test.log");
  ASSERT_FALSE(log.empty());
  for (size_t start = 0; start < log.size();) {
    size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "a cut last line";
    EXPECT_EQ(log.substr(start + 22, end - start - 22), "worker line");
    start = end + 2;
  }
}

// Helpers for the Windows-side tests; see win_test_support.h. Start-up normally initialises
// the lock and the CRC table; here a static initialiser does it before any test runs.
#include "tests/win/win_test_support.h"
#include "core/log.h"
#include "core/replace_file_win.h"
#include "core/status_win.h"
#include "update/crc32.h"
#include <windows.h>

namespace {
struct ProcessSetUp {
  ProcessSetUp() {
    InitializeCriticalSection(&g_lock);
    Crc32Init();
  }
} g_processSetUp;

std::string g_testLogPath;
}  // namespace

std::string MakeTestFolder(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  // Wine hands out the same process ids again in later runs: the clock keeps names apart.
  static int counter = 0;
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  std::string folder = std::string(temp) + "kmwin-" + name + "-" + std::to_string(now.QuadPart) + "-" +
                       std::to_string(++counter) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::string content;
  ReadWholeFile(path, content);
  return content;
}

void WriteTestFile(const std::string& path, const std::string& content) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void OpenTestLog(const std::string& folder) {
  CloseLog();
  g_testLogPath = folder + "test.log";
  DeleteFileA(g_testLogPath.c_str());
  OpenLog(g_testLogPath);
}

std::vector<std::string> LogLines() {
  if (g_logFile) fflush(g_logFile);
  std::string text = ReadFileOrEmpty(g_testLogPath);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "2026-03-01 [14:05:09] " is 22 characters.
    lines.push_back(line.size() >= 22 ? line.substr(22) : line);
    pos = end + 1;
  }
  return lines;
}

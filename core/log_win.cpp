// The log stream; see log.h. The stream's own lock keeps lines of different threads whole:
// each line is written by one fprintf call.
#include "core/log.h"
#include "core/text.h"
#include <windows.h>

FILE* g_logFile = nullptr;

namespace {
constexpr long long kLogRestartSize = 1048576;

thread_local LogCapture* t_capture = nullptr;

void WriteLogLine(const std::string& message) {
  if (!g_logFile) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  fprintf(g_logFile, "%04d-%02d-%02d [%02d:%02d:%02d] %s\n", now.wYear, now.wMonth, now.wDay,
          now.wHour, now.wMinute, now.wSecond, message.c_str());
  fflush(g_logFile);
}
}  // namespace

bool OpenLog(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  bool tooBig = false;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    long long size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    tooBig = size > kLogRestartSize;
  }
  g_logFile = fopen(path.c_str(), tooBig ? "w" : "a");
  return g_logFile != nullptr;
}

void CloseLog() {
  if (g_logFile) fclose(g_logFile);
  g_logFile = nullptr;
}

void LogLine(const char* format, ...) {
  if (!g_logFile && !t_capture) return;
  va_list args;
  va_start(args, format);
  std::string message = FmtV(format, args);
  va_end(args);
  if (t_capture) {
    t_capture->messages.push_back(message);
  } else {
    WriteLogLine(message);
  }
}

LogCapture::LogCapture() { t_capture = this; }

LogCapture::~LogCapture() { t_capture = nullptr; }

void LogMessages(const std::vector<std::string>& messages) {
  for (const std::string& message : messages) WriteLogLine(message);
}

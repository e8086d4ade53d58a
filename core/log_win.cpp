// The log stream; see log.h. One lock guards the stream: lines of different threads stay
// whole, and a worker that shutdown does not wait for (install, account, an update worker
// past the 5 s wait) can still log while the main thread closes the stream.
#include "core/log.h"
#include "core/text.h"
#include <windows.h>

FILE* g_logFile = nullptr;

namespace {
constexpr long long kLogRestartSize = 1048576;
SRWLOCK g_logLock = SRWLOCK_INIT;

thread_local LogCapture* t_capture = nullptr;

void WriteLogLine(const std::string& message) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  AcquireSRWLockExclusive(&g_logLock);
  if (g_logFile) {
    fprintf(g_logFile, "%04d-%02d-%02d [%02d:%02d:%02d] %s\n", now.wYear, now.wMonth, now.wDay,
            now.wHour, now.wMinute, now.wSecond, message.c_str());
    fflush(g_logFile);
  }
  ReleaseSRWLockExclusive(&g_logLock);
}
}  // namespace

bool OpenLog(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  bool tooBig = false;
  if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    long long size = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    tooBig = size > kLogRestartSize;
  }
  FILE* file = fopen(path.c_str(), tooBig ? "w" : "a");
  AcquireSRWLockExclusive(&g_logLock);
  g_logFile = file;
  ReleaseSRWLockExclusive(&g_logLock);
  return file != nullptr;
}

void CloseLog() {
  AcquireSRWLockExclusive(&g_logLock);
  if (g_logFile) fclose(g_logFile);
  g_logFile = nullptr;
  ReleaseSRWLockExclusive(&g_logLock);
}

void LogLine(const char* format, ...) {
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

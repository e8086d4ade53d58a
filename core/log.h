// The launcher's log, its only diagnostic channel: one time-stamped line per event,
// "%04d-%02d-%02d [%02d:%02d:%02d] %s\n" in local time, flushed at once.
#pragma once
#include "core/base.h"

extern FILE* g_logFile;

// Opens the log stream (mode "a", or "w" when the file has grown past 1 MiB). Returns
// false when it cannot be opened; logging is then off.
bool OpenLog(const std::string& path);
void CloseLog();

// Appends one line (message cut at 1023 characters), or keeps it in this thread's
// LogCapture. Does nothing while no log is open and no capture lives.
void LogLine(const char* format, ...) KM_PRINTF(1, 2);

// While one lives, the lines its thread logs are kept in it instead of being written: work
// done ahead on another thread is logged later, in the order the update pass would have
// logged it. Capturing is per thread; other threads keep writing.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  std::vector<std::string> messages;
};

// Writes messages as LogLine writes its lines, stamped now.
void LogMessages(const std::vector<std::string>& messages);

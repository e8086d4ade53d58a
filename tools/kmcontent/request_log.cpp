// Request log lines; see request_log.h.
#include "tools/kmcontent/request_log.h"

std::string EscapeForLog(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c <= 0x20 || c >= 0x7F || c == '\\') {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string FormatRequestLogLine(const RequestLogEntry& entry) {
  struct tm local;
  localtime_r(&entry.when, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  char numbers[64];
  snprintf(numbers, sizeof numbers, " %d %llu %.3fs", entry.status,
           static_cast<unsigned long long>(entry.bytes), entry.seconds);
  std::string line = std::string(stamp) + " " + EscapeForLog(entry.remote) + " " +
                     EscapeForLog(entry.method) + " " + EscapeForLog(entry.target) + numbers;
  if (!entry.note.empty()) line += " " + entry.note;
  return line + "\n";
}

// The server's request log: one line per answered request, written whole so lines from
// many connections never mix. Targets are escaped, so a request cannot forge a log line.
#pragma once
#include "core/base.h"
#include <ctime>

struct RequestLogEntry {
  time_t when = 0;
  std::string remote;   // "address:port"
  std::string method;
  std::string target;   // raw request target
  int status = 0;
  uint64_t bytes = 0;   // body bytes sent
  double seconds = 0;   // from the start of the answer to its last byte (0 when unknown)
  std::string note;     // why a request was refused, or empty
};

// "2026-12-08 09:50:22 127.0.0.1:40312 GET /files/a%20b 206 1048576 0.012s range 0-1048575/9000000"
// (local time; the note, when there is one, at the end).
std::string FormatRequestLogLine(const RequestLogEntry& entry);

// Bytes below 0x20, 0x7F and above, blanks, and '\' as \xNN, so the text stays one token.
std::string EscapeForLog(const std::string& text);

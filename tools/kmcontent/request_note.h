// What the handlers of one request tell the request log: the body bytes actually sent, when
// the answer started and why a request was refused. A connection is served by one thread
// from the request to its log line, so a thread-local record needs no lock.
#pragma once
#include "core/base.h"
#include <chrono>

struct RequestNote {
  std::chrono::steady_clock::time_point start{};
  bool started = false;
  bool streamed = false;  // bytes counts a streamed file body
  uint64_t bytes = 0;
  std::string note;
};

RequestNote& CurrentRequestNote();

// One HTTP request as the server's handlers see it: created when its request line arrives,
// filled in by the handler that answers it, written to the request log and freed when it
// completes (or is cut off). Also the helpers that queue an answer and remember what went
// out, so the log line tells the truth.
#pragma once
#include "core/base.h"
#include <chrono>
#include <microhttpd.h>

struct ServeRequest {
  std::chrono::steady_clock::time_point start;  // when the request line arrived
  std::string target;      // raw request target, as sent
  std::string method;
  std::string client;      // address (the forwarded one from a trusted proxy)
  std::string remote;      // client plus port, for the log
  bool handled = false;    // the head was complete and a handler has seen it
  bool received = false;   // the whole request (a body too) is in
  int status = 0;
  uint64_t bodyLength = 0; // body bytes of the queued answer (0 for HEAD)
  uint64_t headBytes = 0;  // about how many bytes the status line and header fields take
  uint64_t ackedAtStart = 0;  // bytes the peer had acknowledged on this connection before
  std::string note;        // why a request was refused, or what failed
  bool closeAfter = false; // the answer ends the connection (request limit reached, draining)
  // POST /register
  std::string body;
  bool bodyTooLarge = false;
  unsigned bodyCalls = 0;  // handler calls seen for the body
  int registerState = 0;   // 0 not started, 1 answer being prepared, 2 answer ready
  int answerStatus = 200;
  std::string answer;
  std::string retryAfter;
};

// Sets the header fields every answer carries (Connection: close when closeAfter), queues it, records status and length, and
// releases the response. A response that is null (out of memory) ends the connection.
MHD_Result QueueAnswer(MHD_Connection* connection, ServeRequest* request, int status, MHD_Response* response,
                       uint64_t bodyLength);

// A short text answer ("Not found\n"); note goes to the log when it is not null.
MHD_Result QueueText(MHD_Connection* connection, ServeRequest* request, int status, const std::string& text,
                     const char* note = nullptr);

// A request header by name, or empty.
std::string HeaderValue(MHD_Connection* connection, const char* name);

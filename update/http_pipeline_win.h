// GET requests sent back to back on one kept-alive connection, their answers read in order.
// Under Wine every network call is a round trip to the Wine server, and WinINet spends a
// dozen on each small answer; here one send carries many requests and one read takes in
// many answers. Only for direct connections to plain http servers (see http_wire.h).
#pragma once
#include "core/base.h"
#include "update/http_win.h"
#include "update/http_wire.h"
#include <atomic>

class HttpPipeline : private AnswerBody {
 public:
  // cancel, once set, ends every wait at once (the connection is then closed).
  explicit HttpPipeline(const std::atomic<bool>& cancel);
  ~HttpPipeline();
  HttpPipeline(const HttpPipeline&) = delete;
  HttpPipeline& operator=(const HttpPipeline&) = delete;

  // Sends a GET for each target, connecting to authority first unless the open connection
  // goes there and has no answer left unread. False when that failed.
  bool Send(const std::string& authority, const std::vector<std::string>& targets);

  // Reads the head of the next answer. False when the connection ended, failed, stayed silent
  // for 15 s or sent something unusable: it is closed then, and the requests it did not answer
  // are left to others.
  bool NextHead(ResponseHead& head);

  // The body of the answer whose head was read last; it ends after the head's length.
  AnswerBody& Body() { return *this; }

  // Ends the current answer: skips what is left of its body when that is short, else
  // closes the connection. Closes it too when the server said it would. False when closed.
  bool EndAnswer();

  // True when the last Send went on a kept connection that then ended without a byte: one
  // the server had closed while idle. Its requests may be sent again on a new one.
  bool WentStale() const { return reused_ && !heardSinceSend_; }

 private:
  bool Read(unsigned char* buffer, DWORD size, DWORD& got) override;
  bool Connect(const std::string& authority);
  bool SendAll(const std::string& text);
  bool Fill();
  bool WaitUntil(bool forWriting);
  void Close();

  const std::atomic<bool>& cancel_;
  uintptr_t socket_;
  std::string authority_;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // unread bytes are buffer_[begin_, end_)
  size_t end_ = 0;
  size_t unanswered_ = 0;  // requests sent whose answers were not read yet
  uint64_t bodyLeft_ = 0;
  bool closesAfterBody_ = false;
  bool reused_ = false;          // the last Send went on a kept connection
  bool heardSinceSend_ = false;  // a byte has come since
  bool winsock_ = false;
};

// Connections whose request head is late, and answers the client takes too slowly. The
// library's time-out restarts with every byte, so a client sending its header one byte a
// second would hold a connection for ever; here every head (the first, and each next one on
// a kept-alive connection) must arrive whole within a deadline (with its body, if it has
// one), and a connection that misses it is shut down. In the same way a client reading a
// few bytes now and then would hold its answer (and its file and buffers) for ever: an
// answer must move at a minimum rate, judged by what the peer acknowledged, over a window.
// Thread-safe.
#pragma once
#include "core/base.h"
#include <chrono>
#include <mutex>
#include <set>

struct WatchedConnection {
  int fd = -1;
  std::string address;      // the peer's, as the per-address limit counted it
  unsigned requests = 0;    // request lines received on this connection (written by its event thread)
  bool lineSeen = false;    // the request line of the head being waited for has arrived
  std::chrono::steady_clock::time_point headSince;  // the head being waited for began
  bool inHead = true;                               // false while a request is being answered
  uint64_t ackedAtMark = 0;                         // bytes the peer had acknowledged at ...
  std::chrono::steady_clock::time_point markSince;  // ... the start of the rate window
};

// Bytes the peer has acknowledged on this socket so far (0 when the kernel cannot say).
uint64_t BytesAcked(int fd);

class ConnectionWatch {
 public:
  WatchedConnection* Add(int fd);
  void Remove(WatchedConnection* connection);
  void HeadComplete(WatchedConnection* connection);
  void AnswerComplete(WatchedConnection* connection);  // the next head may begin
  void RequestLineArrived(WatchedConnection* connection);
  // Shuts down every connection whose head began more than `deadline` ago. Returns how many
  // of them were sending a head; the others were kept-alive connections left idle.
  size_t CutLate(std::chrono::steady_clock::duration deadline);
  // Shuts down every connection whose answer the peer took at less than minBytesPerSecond
  // over the last window; returns how many.
  size_t CutSlow(uint64_t minBytesPerSecond, std::chrono::seconds window);
  size_t Busy();  // connections with a request being answered

 private:
  std::mutex lock_;
  std::set<WatchedConnection*> connections_;
};

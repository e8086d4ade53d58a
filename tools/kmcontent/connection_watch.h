// Connections whose request head is late. The library's time-out restarts with every byte,
// so a client sending its header one byte a second would hold a connection for ever; here
// every head (the first, and each next one on a kept-alive connection) must arrive whole
// within a deadline (with its body, if it has one), and a connection that misses it is
// shut down. Thread-safe.
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
};

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
  size_t Busy();  // connections with a request being answered

 private:
  std::mutex lock_;
  std::set<WatchedConnection*> connections_;
};

// Late request heads; see connection_watch.h. A connection is shut down (not closed) under
// the lock, and the library removes it (Remove) under the same lock before it closes the
// descriptor, so the descriptor shut down is always still this connection's.
#include "tools/kmcontent/connection_watch.h"
#include <sys/socket.h>

WatchedConnection* ConnectionWatch::Add(int fd) {
  auto* connection = new WatchedConnection;
  connection->fd = fd;
  connection->headSince = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> hold(lock_);
  connections_.insert(connection);
  return connection;
}

void ConnectionWatch::Remove(WatchedConnection* connection) {
  std::lock_guard<std::mutex> hold(lock_);
  connections_.erase(connection);
  delete connection;
}

void ConnectionWatch::HeadComplete(WatchedConnection* connection) {
  std::lock_guard<std::mutex> hold(lock_);
  connection->inHead = false;
}

void ConnectionWatch::RequestLineArrived(WatchedConnection* connection) {
  std::lock_guard<std::mutex> hold(lock_);
  connection->lineSeen = true;
  connection->requests++;
}

void ConnectionWatch::AnswerComplete(WatchedConnection* connection) {
  std::lock_guard<std::mutex> hold(lock_);
  connection->inHead = true;
  connection->lineSeen = false;
  connection->headSince = std::chrono::steady_clock::now();
}

size_t ConnectionWatch::CutLate(std::chrono::steady_clock::duration deadline) {
  auto now = std::chrono::steady_clock::now();
  size_t cut = 0;
  std::lock_guard<std::mutex> hold(lock_);
  for (WatchedConnection* connection : connections_) {
    if (!connection->inHead || now - connection->headSince <= deadline) continue;
    shutdown(connection->fd, SHUT_RDWR);
    connection->headSince = now;  // once is enough; the library closes it next
    bool idle = connection->requests > 0 && !connection->lineSeen;
    cut += idle ? 0 : 1;
  }
  return cut;
}

size_t ConnectionWatch::Busy() {
  std::lock_guard<std::mutex> hold(lock_);
  size_t busy = 0;
  for (WatchedConnection* connection : connections_) busy += connection->inHead ? 0 : 1;
  return busy;
}

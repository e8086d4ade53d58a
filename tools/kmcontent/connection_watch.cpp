// Late request heads; see connection_watch.h. A connection is shut down (not closed) under
// the lock, and the library removes it (Remove) under the same lock before it closes the
// descriptor, so the descriptor shut down is always still this connection's.
#include "tools/kmcontent/connection_watch.h"
#include <cstddef>
#include <cstring>
#include <linux/tcp.h>  // its tcp_info has the byte counters
#include <netinet/in.h>
#include <sys/socket.h>

uint64_t BytesAcked(int fd) {
  struct tcp_info info;
  socklen_t length = sizeof info;
  memset(&info, 0, sizeof info);
  if (fd < 0 || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return 0;
  return length >= offsetof(struct tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked ? info.tcpi_bytes_acked : 0;
}

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
  uint64_t acked = BytesAcked(connection->fd);
  std::lock_guard<std::mutex> hold(lock_);
  connection->inHead = false;
  connection->ackedAtMark = acked;
  connection->markSince = std::chrono::steady_clock::now();
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

size_t ConnectionWatch::CutSlow(uint64_t minBytesPerSecond, std::chrono::seconds window) {
  auto now = std::chrono::steady_clock::now();
  uint64_t least = minBytesPerSecond * static_cast<uint64_t>(window.count());
  size_t cut = 0;
  std::lock_guard<std::mutex> hold(lock_);
  for (WatchedConnection* connection : connections_) {
    if (connection->inHead || now - connection->markSince < window) continue;
    uint64_t acked = BytesAcked(connection->fd);
    uint64_t moved = acked > connection->ackedAtMark ? acked - connection->ackedAtMark : 0;
    connection->ackedAtMark = acked;
    connection->markSince = now;
    if (moved >= least) continue;
    // Reset, not closed in order: the queued answer would still trickle out at the client's pace.
    struct linger reset = {1, 0};
    setsockopt(connection->fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    shutdown(connection->fd, SHUT_RDWR);  // the library closes it next
    cut++;
  }
  return cut;
}

size_t ConnectionWatch::Busy() {
  std::lock_guard<std::mutex> hold(lock_);
  size_t busy = 0;
  for (WatchedConnection* connection : connections_) busy += connection->inHead ? 0 : 1;
  return busy;
}

// The listening socket; see listen_socket.h.
#include "tools/kmcontent/listen_socket.h"
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

bool FillAddress(const std::string& host, int port, sockaddr_storage& address, socklen_t& length) {
  memset(&address, 0, sizeof address);
  auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
  if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
    return true;
  }
  if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
    return true;
  }
  return false;
}

}  // namespace

int OpenListenSocket(const std::string& host, int port, int& boundPort, std::string& error) {
  sockaddr_storage address;
  socklen_t length = 0;
  if (!FillAddress(host, port, address, length)) {
    error = "not an IP address";
    return -1;
  }
  int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int on = 1;
  bool ok = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
            (address.ss_family != AF_INET6 || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) == 0) &&
            bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd, 1024) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (!ok) {
    error = strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  SocketAddressText(reinterpret_cast<sockaddr*>(&address), boundPort);
  return fd;
}

std::string SocketAddressText(const struct sockaddr* address, int& port) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (address->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address->sa_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  return text;
}

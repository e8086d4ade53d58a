// The listening socket of serve, made here rather than by the HTTP library so that a port
// in use or an address not on this machine is reported with its reason before anything
// starts, and port 0 can tell which port it took.
#pragma once
#include "core/base.h"
#include <sys/socket.h>

// A listening TCP socket on host (an IPv4 or IPv6 address) and port (0: any free port);
// -1 with a message when it cannot be had. boundPort is the port taken.
int OpenListenSocket(const std::string& host, int port, int& boundPort, std::string& error);

// "192.0.2.1" or "2001:db8::1" and the port of a socket address.
std::string SocketAddressText(const struct sockaddr* address, int& port);

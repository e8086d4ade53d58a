// The content server's address forms; see server_address.h.
#include "core/server_address.h"
#include "core/text.h"
#include <cstring>

namespace {
bool IsHostByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_';
}

bool IsHost(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); i++) {
      char c = host[i];
      if (!std::strchr("0123456789abcdefABCDEF:.", c)) return false;
    }
    return true;
  }
  for (char c : host) {
    if (!IsHostByte(c)) return false;
  }
  return true;
}

// "1" to "65535", digits only.
bool ParsePort(const std::string& text, unsigned short& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<unsigned short>(value);
  return true;
}

// host[:port] into address; false with problem set when it is not one.
bool ParseAuthority(const std::string& authority, unsigned short defaultPort, ServerAddress& address) {
  size_t hostEnd = authority.front() == '[' ? authority.find(']') : authority.find(':');
  if (hostEnd != std::string::npos && authority.front() == '[') hostEnd++;
  address.host = authority.substr(0, hostEnd);
  address.port = defaultPort;
  if (!IsHost(address.host)) {
    address.problem = "the host name is missing or has characters a host name cannot have";
    return false;
  }
  if (hostEnd == std::string::npos || hostEnd == authority.size()) return true;
  if (authority[hostEnd] != ':' || !ParsePort(authority.substr(hostEnd + 1), address.port)) {
    address.problem = "the port is not a number from 1 to 65535";
    return false;
  }
  return true;
}

ServerAddress Refused(const char* problem) {
  ServerAddress address;
  address.problem = problem;
  return address;
}
}  // namespace

ServerAddress ParseServerAddress(const std::string& server) {
  std::string lower = Lower(server);
  ServerAddress address;
  if (StartsWith(lower, "http://") || StartsWith(lower, "https://")) {
    bool secure = lower[4] == 's';
    std::string authority = server.substr(secure ? 8 : 7);
    if (!authority.empty() && authority.back() == '/') authority.pop_back();
    if (authority.find('/') != std::string::npos) {
      return Refused("only a server, not a path on it, may follow http:// or https://");
    }
    if (authority.empty() || !ParseAuthority(authority, secure ? 443 : 80, address)) {
      return Refused(address.problem[0] ? address.problem : "the host name is missing");
    }
    address.form = secure ? ServerForm::Https : ServerForm::Http;
    address.base = (secure ? "https://" : "http://") + address.host + ":" + std::to_string(address.port);
    return address;
  }
  if (lower.find("://") != std::string::npos) return Refused("only http:// and https:// are understood");
  if (server.empty() || !ParseAuthority(server, 80, address)) {
    return Refused(address.problem[0] ? address.problem : "it is empty");
  }
  // Plain addresses keep their old meaning byte for byte: "http://" and the text as written.
  address.form = ServerForm::Plain;
  address.base = "http://" + server;
  return address;
}

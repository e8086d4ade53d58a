// The content server as KMLauncher.cfg or the build names it: "address[:port]" (plain http,
// as it always was), "http://host[:port]" or "https://host[:port]" (port 443 by default).
// Anything else is refused here, before a request is made of it.
#pragma once
#include "core/base.h"

enum class ServerForm { Plain, Http, Https, Invalid };

struct ServerAddress {
  ServerForm form = ServerForm::Invalid;
  std::string host;           // as written; an IPv6 address keeps its brackets
  unsigned short port = 0;
  std::string base;           // what a path on the server is appended to, e.g. "https://h:443"
  const char* problem = "";   // for Invalid: what is wrong, for the log
};

ServerAddress ParseServerAddress(const std::string& server);

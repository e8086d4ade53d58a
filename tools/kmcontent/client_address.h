// Which address a request comes from. Behind a reverse proxy every connection comes from the
// proxy, which names the player in X-Forwarded-For; that header is believed only from the
// proxy the operator named, since anyone else can write anything into it.
#pragma once
#include "core/base.h"
#include <set>

// peer: the connection's address (no port). forwardedFor: the X-Forwarded-For value or
// empty. trustedProxy: the operator's proxy addresses, comma-separated, or empty. The last address of the list
// is the one the proxy itself added; it is used when it looks like an address.
std::string ClientAddress(const std::string& peer, const std::string& forwardedFor, const std::string& trustedProxy);

// The addresses of a comma-separated list ("10.0.0.2, ::1"), blanks trimmed, empty ones left out.
std::set<std::string> AddressList(const std::string& text);

// HTTP/1.1 as it goes over the wire, for the launcher's own pipelined GET requests: which
// URLs they may carry, the request text, and the reading of an answer's head. Anything
// unusual is refused here, and the caller leaves such a request to WinINet.
#pragma once
#include "core/base.h"

// Splits "http://authority/target". False unless the URL is plain http, the authority is a
// host (name, IPv4 or [IPv6]) with an optional port, and the target is a path of bytes that
// need no canonicalising: no query, fragment, blank, control byte, "." or ".." segment.
bool SplitHttpUrl(const std::string& url, std::string& authority, std::string& target);

// The host and port (default "80") of an authority SplitHttpUrl accepted.
void SplitAuthority(const std::string& authority, std::string& host, std::string& port);

// One GET request, with the headers every request of the launcher carries.
std::string GetRequest(const std::string& authority, const std::string& target);

struct ResponseHead {
  unsigned status = 0;
  uint64_t bodyLength = 0;  // Content-Length; 0 for answers that never have a body
  bool closes = false;      // the server ends the connection after this answer
};

enum class HeadRead { Incomplete, Complete, Unusable };

// Reads the head at the start of data. Complete: head and headLength (bytes up to and
// including the blank line) are set. Unusable: anything a pipelined reader cannot frame or
// should not judge itself: a malformed or oversized head, an interim (1xx) answer, a body
// without exactly one Content-Length value or with a Transfer-Encoding.
HeadRead ReadResponseHead(const char* data, size_t size, ResponseHead& head, size_t& headLength);

// Heads longer than this are Unusable.
constexpr size_t kMaxResponseHead = 16384;

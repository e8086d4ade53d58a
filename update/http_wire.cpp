// HTTP/1.1 on the wire; see http_wire.h.
#include "update/http_wire.h"
#include "core/text.h"

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsHostByte(char c) { return IsAlnum(c) || c == '.' || c == '-' || c == '_'; }

// Checked for every byte of every request: no string is built for it.
bool IsOneOf(char c, const char* set) { return c != '\0' && strchr(set, c) != nullptr; }

// Bytes a path may hold as they are, in any HTTP client; '%' only as the start of an escape.
bool IsPlainPathByte(char c) { return IsAlnum(c) || IsOneOf(c, "-._~/!$&'()*+,;=:@%"); }

bool IsAllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool IsValidAuthority(const std::string& authority) {
  size_t hostEnd = authority.size();
  if (!authority.empty() && authority[0] == '[') {
    hostEnd = authority.find(']');
    if (hostEnd == std::string::npos || hostEnd == 1) return false;
    for (size_t i = 1; i < hostEnd; i++) {
      if (!IsHexDigit(authority[i]) && authority[i] != ':' && authority[i] != '.') return false;
    }
    hostEnd++;
  } else {
    hostEnd = authority.find(':');
    if (hostEnd == std::string::npos) hostEnd = authority.size();
    if (hostEnd == 0) return false;
    for (size_t i = 0; i < hostEnd; i++) {
      if (!IsHostByte(authority[i])) return false;
    }
  }
  if (hostEnd == authority.size()) return true;
  if (authority[hostEnd] != ':') return false;
  std::string port = authority.substr(hostEnd + 1);
  return IsAllDigits(port) && port.size() <= 5 && std::stoul(port) >= 1 && std::stoul(port) <= 65535;
}

bool IsPlainTarget(const std::string& target) {
  if (target.empty() || target[0] != '/') return false;
  for (size_t i = 0; i < target.size(); i++) {
    char c = target[i];
    if (!IsPlainPathByte(c)) return false;
    if (c == '%' && (i + 2 >= target.size() || !IsHexDigit(target[i + 1]) || !IsHexDigit(target[i + 2]))) return false;
  }
  // Dot segments, which a client may fold before sending.
  std::string padded = target + "/";
  return padded.find("/./") == std::string::npos && padded.find("/../") == std::string::npos;
}

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool HasToken(const std::string& list, const std::string& token) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    if (Lower(Trimmed(list.substr(start, comma - start))) == token) return true;
    start = comma + 1;
  }
  return false;
}

// "HTTP/1.x NNN reason": the status, and whether the version is 1.0.
bool ReadStatusLine(const std::string& line, unsigned& status, bool& oldVersion) {
  if (line.size() < 12 || line.compare(0, 7, "HTTP/1.") != 0 || !IsDigit(line[7]) || line[8] != ' ') return false;
  if (!IsDigit(line[9]) || !IsDigit(line[10]) || !IsDigit(line[11])) return false;
  if (line.size() > 12 && line[12] != ' ') return false;
  status = static_cast<unsigned>(std::stoul(line.substr(9, 3)));
  oldVersion = line[7] == '0';
  return status >= 100;
}

// What the header fields say about framing.
struct Fields {
  std::string length;  // the one Content-Length value
  bool lengthConflict = false;
  bool transferEncoding = false;
  bool close = false;
  bool keepAlive = false;
};

bool ReadField(const std::string& line, Fields& fields) {
  size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string name = Lower(line.substr(0, colon));
  for (char c : name) {
    if (!IsAlnum(c) && !IsOneOf(c, "!#$%&'*+-.^_`|~")) return false;
  }
  std::string value = Trimmed(line.substr(colon + 1));
  if (name == "content-length") {
    if (!fields.length.empty() && fields.length != value) fields.lengthConflict = true;
    fields.length = value;
  } else if (name == "transfer-encoding") {
    fields.transferEncoding = true;
  } else if (name == "connection") {
    fields.close = fields.close || HasToken(value, "close");
    fields.keepAlive = fields.keepAlive || HasToken(value, "keep-alive");
  }
  return true;
}

HeadRead Frame(unsigned status, bool oldVersion, const Fields& fields, ResponseHead& head) {
  if (status < 200 || fields.transferEncoding || fields.lengthConflict) return HeadRead::Unusable;
  head.status = status;
  head.closes = fields.close || (oldVersion && !fields.keepAlive);
  if (status == 204 || status == 304) {
    head.bodyLength = 0;
    return HeadRead::Complete;
  }
  if (!IsAllDigits(fields.length) || fields.length.size() > 18) return HeadRead::Unusable;
  head.bodyLength = std::stoull(fields.length);
  return HeadRead::Complete;
}
}  // namespace

bool SplitHttpUrl(const std::string& url, std::string& authority, std::string& target) {
  if (url.compare(0, 7, "http://") != 0) return false;
  size_t slash = url.find('/', 7);
  if (slash == std::string::npos) return false;
  authority = url.substr(7, slash - 7);
  target = url.substr(slash);
  return IsValidAuthority(authority) && IsPlainTarget(target);
}

void SplitAuthority(const std::string& authority, std::string& host, std::string& port) {
  size_t hostEnd = authority[0] == '[' ? authority.find(']') + 1 : authority.find(':');
  if (hostEnd == std::string::npos) hostEnd = authority.size();
  host = authority[0] == '[' ? authority.substr(1, hostEnd - 2) : authority.substr(0, hostEnd);
  port = hostEnd < authority.size() ? authority.substr(hostEnd + 1) : "80";
}

std::string GetRequest(const std::string& authority, const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + authority +
         "\r\nUser-Agent: KMLauncher/1.0\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n\r\n";
}

HeadRead ReadResponseHead(const char* data, size_t size, ResponseHead& head, size_t& headLength) {
  unsigned status = 0;
  bool oldVersion = false;
  Fields fields;
  size_t start = 0;
  for (size_t lineNumber = 0;; lineNumber++) {
    const void* found = memchr(data + start, '\n', size - start);
    if (!found) return size >= kMaxResponseHead ? HeadRead::Unusable : HeadRead::Incomplete;
    size_t end = static_cast<const char*>(found) - data;
    if (end + 1 > kMaxResponseHead) return HeadRead::Unusable;
    std::string line(data + start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (lineNumber == 0) {
      if (!ReadStatusLine(line, status, oldVersion)) return HeadRead::Unusable;
    } else if (line.empty()) {
      headLength = start;
      return Frame(status, oldVersion, fields, head);
    } else if (line[0] == ' ' || line[0] == '\t' || !ReadField(line, fields)) {
      return HeadRead::Unusable;
    }
  }
}

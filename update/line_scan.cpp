// Field scanning for manifest and cache lines; see line_scan.h.
#include "update/line_scan.h"

namespace {

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// White space and an optional '+'; false on a '-', which the launcher never writes and which
// the C scanners would turn into a huge wrapped value.
bool SkipSign(const std::string& line, size_t& pos) {
  pos = SkipSpace(line, pos);
  if (pos < line.size() && line[pos] == '-') return false;
  if (pos < line.size() && line[pos] == '+') pos++;
  return true;
}

}  // namespace

size_t SkipSpace(const std::string& line, size_t pos) {
  while (pos < line.size() && IsCSpace(line[pos])) pos++;
  return pos;
}

bool ScanHex32(const std::string& line, size_t& pos, uint32_t& value) {
  size_t at = pos;
  if (!SkipSign(line, at)) return false;
  if (at + 2 < line.size() && line[at] == '0' && (line[at + 1] | 0x20) == 'x' &&
      HexDigit(line[at + 2]) >= 0) {
    at += 2;
  }
  size_t first = at;
  uint64_t result = 0;
  for (; at < line.size() && HexDigit(line[at]) >= 0; at++) {
    result = result * 16 + static_cast<uint64_t>(HexDigit(line[at]));
    if (result > 0xFFFFFFFFu) return false;
  }
  if (at == first) return false;
  value = static_cast<uint32_t>(result);
  pos = at;
  return true;
}

bool ScanDecimal64(const std::string& line, size_t& pos, uint64_t& value) {
  size_t at = pos;
  if (!SkipSign(line, at)) return false;
  size_t first = at;
  uint64_t result = 0;
  for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; at++) {
    uint64_t digit = static_cast<uint64_t>(line[at] - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (at == first) return false;
  value = result;
  pos = at;
  return true;
}

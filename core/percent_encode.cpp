// Percent-encoding; see percent_encode.h.
#include "core/percent_encode.h"

namespace {
bool IsAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

std::string PercentEncode(const std::string& text, const char* keptPunctuation) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (unsigned char c : text) {
    if (IsAsciiAlnum(c) || (c != 0 && strchr(keptPunctuation, c))) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return encoded;
}

std::string UrlEncodePath(const std::string& path) { return PercentEncode(path, "-./_"); }

std::string FormEncode(const std::string& text) { return PercentEncode(text, "-._~"); }

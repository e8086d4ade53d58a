// Client addresses; see client_address.h.
#include "tools/kmcontent/client_address.h"

namespace {

bool LooksLikeAddress(const std::string& text) {
  if (text.empty() || text.size() > 45) return false;
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex && c != '.' && c != ':') return false;
  }
  return true;
}

}  // namespace

std::string ClientAddress(const std::string& peer, const std::string& forwardedFor, const std::string& trustedProxy) {
  if (forwardedFor.empty() || AddressList(trustedProxy).count(peer) == 0) return peer;
  size_t comma = forwardedFor.rfind(',');
  std::string last = forwardedFor.substr(comma == std::string::npos ? 0 : comma + 1);
  size_t begin = last.find_first_not_of(" \t");
  size_t end = last.find_last_not_of(" \t");
  last = begin == std::string::npos ? std::string() : last.substr(begin, end - begin + 1);
  return LooksLikeAddress(last) ? last : peer;
}

std::set<std::string> AddressList(const std::string& text) {
  std::set<std::string> addresses;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string item = text.substr(start, comma - start);
    size_t begin = item.find_first_not_of(" \t");
    size_t end = item.find_last_not_of(" \t");
    if (begin != std::string::npos) addresses.insert(item.substr(begin, end - begin + 1));
    start = comma + 1;
  }
  return addresses;
}

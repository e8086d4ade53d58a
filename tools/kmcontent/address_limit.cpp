// Connections per address; see address_limit.h.
#include "tools/kmcontent/address_limit.h"

bool AddressLimit::Admit(const std::string& address) {
  if (exempt_.count(address) != 0) return true;
  std::lock_guard<std::mutex> hold(lock_);
  unsigned& open = open_[address];
  if (open >= limit_) {
    if (open == 0) open_.erase(address);
    return false;
  }
  open++;
  return true;
}

void AddressLimit::Release(const std::string& address) {
  if (exempt_.count(address) != 0) return;
  std::lock_guard<std::mutex> hold(lock_);
  auto found = open_.find(address);
  if (found == open_.end()) return;
  if (--found->second == 0) open_.erase(found);  // the map holds only addresses with connections
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

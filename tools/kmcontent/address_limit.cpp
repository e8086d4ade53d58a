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

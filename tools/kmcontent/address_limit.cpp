// Connections per address; see address_limit.h.
#include "tools/kmcontent/address_limit.h"
#include <arpa/inet.h>

std::string AddressLimitKey(const std::string& address) {
  unsigned char bytes[16];
  if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), bytes) != 1) return address;
  static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  char text[INET6_ADDRSTRLEN];
  if (memcmp(bytes, kMapped, sizeof kMapped) == 0) {
    return inet_ntop(AF_INET, bytes + 12, text, sizeof text) ? std::string(text) : address;
  }
  memset(bytes + 8, 0, 8);
  return inet_ntop(AF_INET6, bytes, text, sizeof text) ? std::string(text) + "/64" : address;
}

bool AddressLimit::Admit(const std::string& address) {
  if (exempt_.count(address) != 0) return true;
  std::string key = AddressLimitKey(address);
  std::lock_guard<std::mutex> hold(lock_);
  unsigned& open = open_[key];
  if (open >= limit_) {
    if (open == 0) open_.erase(key);
    return false;
  }
  open++;
  return true;
}

void AddressLimit::Release(const std::string& address) {
  if (exempt_.count(address) != 0) return;
  std::string key = AddressLimitKey(address);
  std::lock_guard<std::mutex> hold(lock_);
  auto found = open_.find(key);
  if (found == open_.end()) return;
  if (--found->second == 0) open_.erase(found);  // the map holds only addresses with connections
}

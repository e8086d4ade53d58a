// The per-address connection limit: how many connections one client address may hold at
// once. Connections from a trusted proxy are exempt (they carry many players), every other
// address is held to the limit, so naming a proxy never lifts the limit for anyone else.
// An IPv6 client counts by its /64: one subscriber line gets a whole /64, so counting exact
// addresses would let one client take every slot. Thread-safe.
#pragma once
#include "core/base.h"
#include <map>
#include <mutex>
#include <set>

// What the limit counts an address under: an IPv4 address (also written IPv4-mapped) as
// itself, an IPv6 address as its /64 ("2001:db8:1:2::/64"); text that is neither as it is.
std::string AddressLimitKey(const std::string& address);

class AddressLimit {
 public:
  AddressLimit(unsigned perAddress, const std::set<std::string>& exempt) : limit_(perAddress), exempt_(exempt) {}

  // Counts a new connection from address; false (and nothing counted) when it is over the limit.
  bool Admit(const std::string& address);
  // A connection Admit counted has closed.
  void Release(const std::string& address);

 private:
  std::mutex lock_;
  std::map<std::string, unsigned> open_;
  unsigned limit_;
  std::set<std::string> exempt_;
};

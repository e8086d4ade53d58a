// The per-address connection limit: how many connections one client address may hold at
// once. Connections from a trusted proxy are exempt (they carry many players), every other
// address is held to the limit, so naming a proxy never lifts the limit for anyone else.
// Thread-safe.
#pragma once
#include "core/base.h"
#include <map>
#include <mutex>
#include <set>

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

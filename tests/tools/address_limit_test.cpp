// The per-address limit counts an IPv6 client by its /64 and an IPv4 one by its address.
#include "tools/kmcontent/address_limit.h"
#include <gtest/gtest.h>

namespace {

TEST(AddressLimit, OneSixtyFourIsOneClient) {
  EXPECT_EQ(AddressLimitKey("2001:db8:1:2:aaaa:bbbb:cccc:dddd"), "2001:db8:1:2::/64");
  EXPECT_EQ(AddressLimitKey("2001:db8:1:2::1"), AddressLimitKey("2001:db8:1:2:ffff::9"));
  EXPECT_NE(AddressLimitKey("2001:db8:1:2::1"), AddressLimitKey("2001:db8:1:3::1"));
  EXPECT_EQ(AddressLimitKey("::ffff:192.0.2.7"), "192.0.2.7");  // IPv4-mapped: the IPv4 address
  EXPECT_EQ(AddressLimitKey("192.0.2.7"), "192.0.2.7");

  AddressLimit limit(2, {"2001:db8:9::1"});
  EXPECT_TRUE(limit.Admit("2001:db8:1:2::1"));
  EXPECT_TRUE(limit.Admit("2001:db8:1:2::2"));
  EXPECT_FALSE(limit.Admit("2001:db8:1:2:dead:beef::3"));  // a third address of the same /64
  EXPECT_TRUE(limit.Admit("2001:db8:1:3::1"));              // the next /64 is another client
  limit.Release("2001:db8:1:2::2");
  EXPECT_TRUE(limit.Admit("2001:db8:1:2::77"));
  for (int i = 0; i < 5; i++) EXPECT_TRUE(limit.Admit("2001:db8:9::1"));  // a trusted proxy, exactly
  EXPECT_TRUE(limit.Admit("2001:db8:9::2"));
  EXPECT_TRUE(limit.Admit("2001:db8:9::3"));
  EXPECT_FALSE(limit.Admit("2001:db8:9::4"));  // its /64 neighbours are not trusted
}

}  // namespace

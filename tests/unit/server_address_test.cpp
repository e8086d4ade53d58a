// The content server address forms of KMLauncher.cfg: what each form requests, and that
// everything else is refused with a reason instead of being requested.
#include "core/server_address.h"
#include <gtest/gtest.h>

TEST(ServerAddress, PlainAddressesKeepTheirOldMeaningByteForByte) {
  for (const char* text : {"127.0.0.1:25858", "content.example.org:25858", "example.org", "Host-1_a.b:1",
                           "[::1]:25858"}) {
    ServerAddress address = ParseServerAddress(text);
    EXPECT_EQ(address.form, ServerForm::Plain) << text;
    EXPECT_EQ(address.base, std::string("http://") + text);
  }
  EXPECT_EQ(ParseServerAddress("example.org").port, 80);
  EXPECT_EQ(ParseServerAddress("h:65535").port, 65535);
}

TEST(ServerAddress, SchemesTakeTheirDefaultPortAndAnyLetterCase) {
  ServerAddress secure = ParseServerAddress("https://content.example.org");
  EXPECT_EQ(secure.form, ServerForm::Https);
  EXPECT_EQ(secure.host, "content.example.org");
  EXPECT_EQ(secure.port, 443);
  EXPECT_EQ(secure.base, "https://content.example.org:443");

  ServerAddress plain = ParseServerAddress("HTTP://localhost:8080/");
  EXPECT_EQ(plain.form, ServerForm::Http);
  EXPECT_EQ(plain.base, "http://localhost:8080");

  ServerAddress v6 = ParseServerAddress("HttpS://[::1]:8443");
  EXPECT_EQ(v6.form, ServerForm::Https);
  EXPECT_EQ(v6.host, "[::1]");
  EXPECT_EQ(v6.base, "https://[::1]:8443");
}

TEST(ServerAddress, EverythingElseIsRefusedWithAReason) {
  for (const char* text : {"", "https://", "http:///", "https://:443", "https://h:0", "https://h:65536",
                           "https://h:44x", "https://h:", "https://h/path", "https://user@h", "https://h?x",
                           "ftp://h", "h:port", "h:25858/", "h :1", "h:1\t", "[::1", "[zz]:1", "h:-1",
                           "https://h:443:1", "a b", "h\r\n:1", "https://[::1]x"}) {
    ServerAddress address = ParseServerAddress(text);
    EXPECT_EQ(address.form, ServerForm::Invalid) << '"' << text << '"';
    EXPECT_STRNE(address.problem, "") << text;
    EXPECT_EQ(address.base, "") << text;
  }
}

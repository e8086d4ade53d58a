// Bounded formatting, ASCII lower-casing, game-folder paths and percent-encoding.
#include "core/percent_encode.h"
#include "core/text.h"
#include <gtest/gtest.h>

TEST(Fmt, CutsAt1023Characters) {
  std::string longText(2000, 'a');
  std::string result = Fmt("%s", longText.c_str());
  EXPECT_EQ(result.size(), 1023u);
  EXPECT_EQ(result, longText.substr(0, 1023));
  EXPECT_EQ(Fmt("%d of %u  -  %s", -3, 4u, "x"), "-3 of 4  -  x");
}

// A cut inside a character of UTF-8 drops its lead bytes too; a whole character at the end stays.
TEST(Fmt, NeverCutsInsideACharacter) {
  std::string two = std::string(1022, 'a') + "\xC3\xA9";   // é ends at byte 1024
  std::string three = std::string(1021, 'a') + "\xE5\x9C\xB0";  // 地 ends at byte 1024
  std::string four = std::string(1020, 'a') + "\xF0\x9F\x97\xA1" + "b";
  std::string whole = std::string(1020, 'a') + "\xE5\x9C\xB0" + "b";
  EXPECT_EQ(Fmt("%s", two.c_str()), std::string(1022, 'a'));
  EXPECT_EQ(Fmt("%s", three.c_str()), std::string(1021, 'a'));
  EXPECT_EQ(Fmt("%s", four.c_str()), std::string(1020, 'a'));
  EXPECT_EQ(Fmt("%s", whole.c_str()), whole.substr(0, 1023));
}

TEST(Lower, MapsOnlyAsciiLetters) {
  EXPECT_EQ(Lower("KMLauncher.EXE"), "kmlauncher.exe");
  EXPECT_EQ(Lower("\xC4\xD6Z@["), "\xC4\xD6z@[");
}

TEST(JoinGamePath, TurnsEverySlashIntoABackslash) {
  EXPECT_EQ(JoinGamePath("C:\\Games\\X\\", "data/maps/a.bin"), "C:\\Games\\X\\data\\maps\\a.bin");
  EXPECT_EQ(JoinGamePath("C:/odd/", "a"), "C:\\odd\\a");
}

TEST(ParseIntLikeAtoi, ReadsLikeAtoi) {
  EXPECT_EQ(ParseIntLikeAtoi("  12abc"), 12);
  EXPECT_EQ(ParseIntLikeAtoi("-7"), -7);
  EXPECT_EQ(ParseIntLikeAtoi("x1"), 0);
  EXPECT_EQ(ParseIntLikeAtoi("99999999999999"), 2147483647);
}

TEST(UrlEncodePath, KeepsSlashesAndUnreservedPunctuation) {
  EXPECT_EQ(UrlEncodePath("maps/new area.dat"), "maps/new%20area.dat");
  EXPECT_EQ(UrlEncodePath("a\\b"), "a%5Cb");
  EXPECT_EQ(UrlEncodePath("A-b.c_d/E"), "A-b.c_d/E");
  EXPECT_EQ(UrlEncodePath("~\xE9%"), "%7E%E9%25");
}

TEST(FormEncode, EncodesBlanksAndAmpersandsAndHighBytes) {
  EXPECT_EQ(FormEncode("a b&c"), "a%20b%26c");
  EXPECT_EQ(FormEncode("-._~Az09"), "-._~Az09");
  EXPECT_EQ(FormEncode("\xE9/+"), "%E9%2F%2B");
  EXPECT_EQ(FormEncode(std::string("\0x", 2)), "%00x");
}

// Request targets under /files/ and the form body: decoding, and the refusal of every path
// that could lead out of the release.
#include "tools/kmcontent/percent.h"
#include "tools/kmcontent/request_path.h"
#include "core/percent_encode.h"
#include <gtest/gtest.h>

namespace {

std::string PathOf(const std::string& target) {
  std::string path;
  return FilePathFromTarget(target, path) ? path : std::string("<refused>");
}

TEST(FilePathFromTarget, DecodesBlanksAndNonAsciiBytes) {
  EXPECT_EQ(PathOf("/files/maps/new%20area.dat"), "maps/new area.dat");
  EXPECT_EQ(PathOf("/files/%C3%A9t%C3%A9/caf%E9.txt"), "\xC3\xA9t\xC3\xA9/caf\xE9.txt");
  EXPECT_EQ(PathOf("/files/a+b.dat"), "a+b.dat");  // "+" is a plus in a path
}

TEST(FilePathFromTarget, TakesBackWhatTheLauncherEncodes) {
  const std::string paths[] = {"maps/new area.dat", "Data/\xE9l\xE8ve (1).pak", "x/~y/#z%.bin"};
  for (const std::string& path : paths) EXPECT_EQ(PathOf("/files/" + UrlEncodePath(path)), path);
}

TEST(FilePathFromTarget, IgnoresTheQuery) { EXPECT_EQ(PathOf("/files/a.dat?v=3"), "a.dat"); }

TEST(FilePathFromTarget, RefusesTraversalInEverySpelling) {
  for (const char* target : {"/files/../manifest", "/files/a/../../x", "/files/%2e%2e/manifest",
                             "/files/%2E%2E%2Fmanifest", "/files/..", "/files/a/..",
                             "/files/..%5Cmanifest", "/files/a%5C..%5C..%5Cx", "/files/a\\b"}) {
    EXPECT_EQ(PathOf(target), "<refused>") << target;
  }
}

TEST(FilePathFromTarget, RefusesRootedEmptyAndDotParts) {
  for (const char* target : {"/files/", "/files//etc/passwd", "/files/%2Fetc/passwd", "/files/a//b",
                             "/files/./a", "/files/a/.", "/files/a/"}) {
    EXPECT_EQ(PathOf(target), "<refused>") << target;
  }
}

TEST(FilePathFromTarget, RefusesControlBytesAndBadEscapes) {
  for (const char* target : {"/files/a%00.dat", "/files/a%0A.dat", "/files/a%7F", "/files/a%",
                             "/files/a%4", "/files/a%zz"}) {
    EXPECT_EQ(PathOf(target), "<refused>") << target;
  }
}

TEST(FilePathFromTarget, RefusesTargetsOutsideFiles) {
  EXPECT_EQ(PathOf("/manifest"), "<refused>");
  EXPECT_EQ(PathOf("/filesx/a"), "<refused>");
  EXPECT_EQ(PathOf("/Files/a"), "<refused>");
}

TEST(FilePathFromTarget, NamesThatOnlyLookLikeDotsAreFine) {
  EXPECT_EQ(PathOf("/files/a/..b"), "a/..b");
  EXPECT_EQ(PathOf("/files/b../.c"), "b../.c");
}

TEST(ParseForm, ReadsTheLaunchersAccountBody) {
  FormFields fields;
  ASSERT_TRUE(ParseForm("user=Mara%20K&pass=a%26b%3Dc&email=", fields));
  EXPECT_EQ(FormValue(fields, "user"), "Mara K");
  EXPECT_EQ(FormValue(fields, "pass"), "a&b=c");
  EXPECT_EQ(FormValue(fields, "email"), "");
  EXPECT_EQ(FormValue(fields, "missing"), "");
}

TEST(ParseForm, PlusIsABlankAndTheFirstOfTwoFieldsCounts) {
  FormFields fields;
  ASSERT_TRUE(ParseForm("user=a+b&user=c&&flag", fields));
  EXPECT_EQ(FormValue(fields, "user"), "a b");
  EXPECT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[2].first, "flag");
}

TEST(ParseForm, ABadEscapeRefusesTheBody) {
  FormFields fields;
  EXPECT_FALSE(ParseForm("user=abc%2&pass=1234", fields));
  EXPECT_FALSE(ParseForm("us%zzer=abc", fields));
}

TEST(PercentDecode, DecodesEveryByteValue) {
  std::string all;
  for (int c = 0; c < 256; c++) all += static_cast<char>(c);
  std::string decoded;
  ASSERT_TRUE(PercentDecode(PercentEncode(all, ""), decoded));
  EXPECT_EQ(decoded, all);
}

}  // namespace

// The manifest parse: first line, line ends, key rules, file lines, player files and unsafe
// paths.
#include "update/manifest.h"
#include <gtest/gtest.h>

namespace {

std::vector<std::string> Paths(const Manifest& manifest) {
  std::vector<std::string> paths;
  for (const RemoteFile& file : manifest.files) paths.push_back(file.path);
  return paths;
}

Manifest ParseFileLines(const std::string& lines) { return ParseManifest("KMCONTENT\n" + lines); }

TEST(ManifestFirstLine, MagicWordMayBeFollowedByText) {
  Manifest manifest = ParseManifest("KMCONTENT 2 release\nversion 4\n");
  EXPECT_TRUE(manifest.accepted);
  EXPECT_EQ(manifest.version, 4);
  EXPECT_TRUE(ParseManifest("KMCONTENT").accepted);
}

TEST(ManifestFirstLine, WrongFirstLinesAreRejectedAndNothingIsUsed) {
  const std::string rest = "\nversion 9\nname N\nmirror http://m\nnotes x\n1234 5 a.dat\n1 2 ../x\n";
  for (const std::string first : {"kmcontent", "\xEF\xBB\xBFKMCONTENT", "", " KMCONTENT", "KMCONTEN"}) {
    Manifest manifest = ParseManifest(first + rest);
    EXPECT_FALSE(manifest.accepted) << first;
    EXPECT_EQ(manifest.version, 0);
    EXPECT_TRUE(manifest.name.empty() && manifest.mirror.empty() && manifest.notes.empty());
    EXPECT_TRUE(manifest.files.empty() && manifest.unsafePaths.empty());
  }
}

TEST(ManifestFirstLine, EmptyBodyIsAnEmptyReleaseButALoneLineEndIsNot) {
  Manifest empty = ParseManifest("");
  EXPECT_TRUE(empty.accepted);
  EXPECT_EQ(empty.version, 0);
  EXPECT_TRUE(empty.files.empty());
  EXPECT_FALSE(ParseManifest("\n").accepted);
  EXPECT_FALSE(ParseManifest("\r\n").accepted);
}

TEST(ManifestLines, CrLfParsesLikeLf) {
  const std::string lf =
      "KMCONTENT\nversion 3\nname Spring\nnotes one\nnotes\nmirror http://m/\n"
      "gameserver 1.2.3.4:5\nABCD 10 a b.dat \n";
  std::string crlf;
  for (char c : lf) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  Manifest a = ParseManifest(lf);
  Manifest b = ParseManifest(crlf);
  ASSERT_TRUE(b.accepted);
  EXPECT_EQ(b.version, a.version);
  EXPECT_EQ(b.name, "Spring");
  EXPECT_EQ(b.notes, a.notes);
  EXPECT_EQ(b.mirror, a.mirror);
  EXPECT_EQ(b.gameServer, "1.2.3.4:5");
  EXPECT_EQ(Paths(b), std::vector<std::string>{"a b.dat "});
}

TEST(ManifestLines, OnlyOneCarriageReturnIsRemoved) {
  EXPECT_EQ(ParseManifest("KMCONTENT\nname N\r\r\n").name, "N\r");
}

TEST(ManifestLines, LastLineNeedsNoLineEnd) {
  Manifest manifest = ParseManifest("KMCONTENT\r\n1 2 a\r\n3 4 b");
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"a", "b"}));
}

TEST(ManifestKeys, VersionReadsLikeAtoi) {
  EXPECT_EQ(ParseFileLines("version 12abc\n").version, 12);
  EXPECT_EQ(ParseFileLines("version abc\n").version, 0);
  EXPECT_EQ(ParseFileLines("version   -7\n").version, -7);
  EXPECT_EQ(ParseFileLines("name x\n").version, 0);
  EXPECT_EQ(ParseFileLines("version 1\nversion 2\n").version, 2);
}

TEST(ManifestKeys, MirrorLosesAllTrailingSlashesOnly) {
  EXPECT_EQ(ParseFileLines("mirror http://cdn.example/kel///\n").mirror, "http://cdn.example/kel");
  EXPECT_EQ(ParseFileLines("mirror ///\n").mirror, "");
}

TEST(ManifestKeys, LastValueWinsAndKeysMayFollowFileLines) {
  Manifest manifest = ParseFileLines(
      "name First\ngameserver a:1\n1 2 x.dat\nname Second\ngameserver b:2\nmirror m1\nmirror m2/\n");
  EXPECT_EQ(manifest.name, "Second");
  EXPECT_EQ(manifest.gameServer, "b:2");
  EXPECT_EQ(manifest.mirror, "m2");
  EXPECT_EQ(manifest.files.size(), 1u);
}

TEST(ManifestKeys, ValuesKeepTheirBlanks) {
  EXPECT_EQ(ParseFileLines("name  Two  Blanks \n").name, " Two  Blanks ");
}

TEST(ManifestKeys, KeysAreCaseSensitiveAndNeedTheirBlank) {
  // These fall through to the file-line rule and are not file lines either.
  Manifest manifest = ParseFileLines("Version 5\nNAME x\nversion\nname\nnotesx\n");
  EXPECT_EQ(manifest.version, 0);
  EXPECT_EQ(manifest.name, "");
  EXPECT_TRUE(manifest.notes.empty());
  EXPECT_TRUE(manifest.files.empty() && manifest.unsafePaths.empty());
}

TEST(ManifestNotes, BothEmptyFormsAddABlankLineInOrder) {
  Manifest manifest = ParseFileLines("notes first\nnotes\nnotes \nnotes  indented\n");
  EXPECT_EQ(manifest.notes, (std::vector<std::string>{"first", "", "", " indented"}));
}

TEST(ManifestNotes, AtMostAThousandLinesAreKept) {
  std::string lines;
  for (int i = 0; i < 1005; i++) lines += (i % 2 ? "notes\n" : "notes " + std::to_string(i) + "\n");
  Manifest manifest = ParseFileLines(lines);
  ASSERT_EQ(manifest.notes.size(), kMaxNotesLines);
  EXPECT_EQ(manifest.notes.front(), "0");
  EXPECT_EQ(manifest.notes[998], "998");
}

TEST(ManifestFiles, FilesCountLineIsIgnoredEvenWhenWrong) {
  Manifest manifest = ParseFileLines("files 7\n1 2 a\n");
  EXPECT_EQ(Paths(manifest), std::vector<std::string>{"a"});
}

TEST(ManifestFiles, FieldsAreReadAsHexDecimalAndPath) {
  Manifest manifest = ParseFileLines("DEADbeef 123456789012 Data/My File.pak  \n0 0 empty.dat\n");
  ASSERT_EQ(manifest.files.size(), 2u);
  EXPECT_EQ(manifest.files[0].crc, 0xDEADBEEFu);
  EXPECT_EQ(manifest.files[0].size, 123456789012u);
  EXPECT_EQ(manifest.files[0].path, "Data/My File.pak  ");
  EXPECT_EQ(manifest.files[1].crc, 0u);
  EXPECT_EQ(manifest.files[1].size, 0u);
  EXPECT_EQ(manifest.files[1].path, "empty.dat");
}

TEST(ManifestFiles, AnyWhiteSpaceSeparatesTheFields) {
  Manifest manifest = ParseFileLines(" \t1a2B\t\t 77 \t a.dat\n0x10 5 b.dat\n+1 +2 c.dat\n");
  ASSERT_EQ(manifest.files.size(), 3u);
  EXPECT_EQ(manifest.files[0].crc, 0x1A2Bu);
  EXPECT_EQ(manifest.files[0].path, "a.dat");
  EXPECT_EQ(manifest.files[1].crc, 0x10u);
  EXPECT_EQ(manifest.files[2].size, 2u);
}

TEST(ManifestFiles, MalformedLinesAreSkippedSilently) {
  Manifest manifest = ParseFileLines("xyz 10 a\n1234 abc\n1234\nzz\n-1 10 neg-crc\n1 -10 neg-size\n");
  EXPECT_TRUE(manifest.files.empty());
  EXPECT_TRUE(manifest.unsafePaths.empty());
}

TEST(ManifestFiles, CrcWiderThan32BitsIsMalformedButLeadingZerosAreNot) {
  Manifest manifest = ParseFileLines("1FFFFFFFF 10 wide.dat\n00000000DEADBEEF 10 zeros.dat\n");
  ASSERT_EQ(Paths(manifest), std::vector<std::string>{"zeros.dat"});
  EXPECT_EQ(manifest.files[0].crc, 0xDEADBEEFu);
}

TEST(ManifestFiles, SizeMustFitSixtyFourBits) {
  Manifest manifest = ParseFileLines("1 18446744073709551615 max.dat\n1 18446744073709551616 over.dat\n");
  ASSERT_EQ(Paths(manifest), std::vector<std::string>{"max.dat"});
  EXPECT_EQ(manifest.files[0].size, UINT64_MAX);
}

TEST(ManifestFiles, ADuplicateIsLeftOutAsUnsafeAndTheFirstEntryKept) {
  Manifest manifest = ParseFileLines("1 1 b.dat\n2 2 a.dat\n3 3 b.dat\n");
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"b.dat", "a.dat"}));
  EXPECT_EQ(manifest.files[0].crc, 1u);
  EXPECT_EQ(manifest.unsafePaths, std::vector<std::string>{"b.dat"});
}

TEST(ManifestPlayerFiles, AreLeftOutSilentlyInAnyCase) {
  Manifest manifest = ParseFileLines(
      "1 1 KMLauncher.log\n1 1 sub/Debug.LOG\n1 1 COINIT.TMP\n1 1 x.Part\n1 1 MusicSetting.cfg\n"
      "1 1 kmlauncher.crc\n1 1 KMLauncher.OLD\n1 1 kmlauncher.cfg\n"
      "1 1 Sub/musicsetting.cfg\n1 1 Sub/Readme.TXT\n1 1 KMLauncher.exe\n");
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"Sub/musicsetting.cfg", "Sub/Readme.TXT", "KMLauncher.exe"}));
  EXPECT_TRUE(manifest.unsafePaths.empty());
}

TEST(ManifestPlayerFiles, SpellingsWindowsResolvesToThemAreLeftOutToo) {
  Manifest manifest = ParseFileLines(
      "1 1 ./coinit.tmp\n1 1 .\\KMLauncher.cfg\n1 1 coinit.tmp.\n1 1 kmlauncher.log . \n"
      "1 1 data/debug.log.\n1 1 coinit.tmp/\n1 1 sub/./kmlauncher.cfg\n1 1 sub/data.\n");
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"sub/data."}));
  // Not a player file (those count only at the top), but a "." part is refused and reported.
  EXPECT_EQ(manifest.unsafePaths, (std::vector<std::string>{"sub/./kmlauncher.cfg"}));
}

TEST(ManifestUnsafePaths, EveryFormIsRefusedAndReported) {
  const std::vector<std::string> unsafe = {
      "../x.dat", "a/../x.dat", "..\\x.dat", "a\\..\\x.dat", "a/..\\x.dat", "..", "a/..",
      "/x.dat", "\\x.dat", "C:x.dat", "c:\\x.dat", "a/b:stream"};
  std::string lines;
  for (const std::string& path : unsafe) lines += "1 2 " + path + "\n";
  lines += "1 2\n1 2   \n";  // no path at all
  Manifest manifest = ParseFileLines(lines);
  std::vector<std::string> expected = unsafe;
  expected.push_back("");
  expected.push_back("");
  EXPECT_EQ(manifest.unsafePaths, expected);
  EXPECT_TRUE(manifest.files.empty());
}

TEST(ManifestUnsafePaths, NulByteIsRefusedBecauseFileCallsStopThere) {
  // Windows would see "coinit.tmp" here, a player file the checks above never saw.
  Manifest manifest = ParseManifest(std::string("KMCONTENT\n1 2 coinit.tmp\0.dat\n", 30));
  ASSERT_EQ(manifest.unsafePaths.size(), 1u);
  EXPECT_EQ(manifest.unsafePaths[0], std::string("coinit.tmp\0.dat", 15));
  EXPECT_TRUE(manifest.files.empty());
}

TEST(ManifestUnsafePaths, DotsThatAreNotAWholePartAreAccepted) {
  Manifest manifest = ParseFileLines("1 2 a/..b\n1 2 a/b..\n1 2 ..a\n1 2 a.b/x\n1 2 a/.hidden\n");
  EXPECT_EQ(Paths(manifest), (std::vector<std::string>{"a/..b", "a/b..", "..a", "a.b/x", "a/.hidden"}));
  EXPECT_TRUE(manifest.unsafePaths.empty());
}

}  // namespace

TEST(ManifestParse, SizesThatAddUpPastSixtyFourBitsRefuseTheManifest) {
  Manifest manifest = ParseManifest("KMCONTENT\n00000000 18446744073709549568 a.dat\n00000000 4096 b.dat\n");
  EXPECT_FALSE(manifest.accepted);
  EXPECT_TRUE(manifest.files.empty());
  EXPECT_TRUE(ParseManifest("KMCONTENT\n00000000 18446744073709549568 a.dat\n00000000 2047 b.dat\n").accepted);
}

// The one rule for manifest paths that the launcher and publish share: names Windows cannot
// place, names it resolves elsewhere, and the ordinary names that must keep working.
#include "update/manifest_path.h"
#include <gtest/gtest.h>

namespace {

TEST(ManifestPathRule, NamesWindowsCannotPlaceOrResolvesElsewhereAreUnsafe) {
  const std::vector<std::string> unsafe = {
      // parts of only dots and blanks, and empty parts
      ".. /x.txt", "a/... /y.txt", "./x.dat", "a/./x.dat", "a\\.\\x.dat", "...", " /x.dat", "a//b.dat", "a/",
      // folders ending in a dot or blank
      "b../c.txt", "b /c.txt", "data./maps/x.dat",
      // devices, with extensions, blanks and in any case
      "nul.txt", "con/z.dat", "COM1.bin", "Aux", "prn.x.y", "lpt9.log2", "COM0", "nul .txt", "CONIN$",
      "sub/conout$.dat", "lpt\xB9.dat", "com\xB3", "lpt\xC2\xB9.dat", "COM\xC2\xB2",
      // bytes Windows forbids in names
      "a<b", "a>b", "what?.txt", "star*.dat", "pipe|x", "quote\"x", "tab\there", "bell\x07",
      // short names that may stand for any long name of their folder
      "KMLAUN~1.CFG", "kmlaun~1.exe", "KM1A2B~1.EXE", "data/TEXTUR~2", "MUSIC~12.CF",
      // the launcher under a name Windows resolves to it
      "KMLauncher.exe.", "kmlauncher.EXE  ", "KMLauncher.exe . ",
      // rooted, drives, streams, NUL (as before)
      "", "/x.dat", "\\x.dat", "C:x.dat", "a/b:stream", std::string("ok\0.dat", 7)};
  for (const std::string& path : unsafe) EXPECT_TRUE(IsUnsafeManifestPath(path)) << path;
}

TEST(ManifestPathRule, OrdinaryNamesAndLookalikesStaySafe) {
  const std::vector<std::string> safe = {
      "KMLauncher.exe", "kmlauncher.EXE", "sub/KMLauncher.exe.", "a/b..", "readme.txt ", "a\\b\\c.dat",
      "..a", "a/..b", "a/.hidden", "con_fig.txt", "COM10.dat", "console.dat", "lpt.txt", "nulx",
      "a~b.txt", "~1.txt", "longname~1.txt", "data~1.pack", "a.b.c~1", "x~1y.dat", "caf\xC3\xA9/\xC3\xA9t\xC3\xA9.pak",
      "del\x7F.dat", "Data/maps/new area.dat"};
  for (const std::string& path : safe) EXPECT_FALSE(IsUnsafeManifestPath(path)) << path;
}

// Windows turns every ill-formed sequence into U+FFFD, so "\xE9.dat" and "\xFF.dat" would be
// one file under two manifest lines; well-formed names in any script stay.
TEST(ManifestPathRule, PathsThatAreNotWellFormedUtf8AreUnsafe) {
  const std::vector<std::string> unsafe = {
      "caf\xE9/\xE9t\xE9.pak", "\xFF.dat", "data/\xE6\x97/x",  // Latin-1, a stray byte, a cut sequence
      "a\xC0\xAF.dat", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",     // overlong "/" in two, three, four bytes
      "x\xED\xA0\x80.dat", "x\xED\xBF\xBF",                     // UTF-16 surrogates
      "\xF4\x90\x80\x80.dat", "\xF5\x80\x80\x80", "\x80.dat"};  // above U+10FFFF, a lone continuation
  for (const std::string& path : unsafe) EXPECT_TRUE(IsUnsafeManifestPath(path)) << path;
  const std::vector<std::string> safe = {
      "data/\xC3\xA9p\xC3\xA9" "e.txt",                                       // épée
      "data/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE5\x9C\xB0\xE5\x9B\xB3.dat",  // 日本語/地図
      "e\xCC\x81.dat",                                                         // decomposed é
      "\xF0\x9F\x97\xA1.pak", "\xF4\x8F\xBF\xBF", "\xEF\xBF\xBD.dat"};           // 4 bytes, U+10FFFF, U+FFFD
  for (const std::string& path : safe) EXPECT_FALSE(IsUnsafeManifestPath(path)) << path;
}

TEST(ManifestPathRule, PlayerFilesAreFoundBehindTheNamesWindowsDrops) {
  for (const char* path : {"./coinit.tmp", "coinit.tmp.", "KMLauncher.log . ", "data/debug.log.", "coinit.tmp/"}) {
    EXPECT_TRUE(ResolvesToPlayerFile(path)) << path;
  }
  for (const char* path : {"sub/./kmlauncher.cfg", "coinit.tmpx", "KMLauncher.exe."}) {
    EXPECT_FALSE(ResolvesToPlayerFile(path)) << path;
  }
}

}  // namespace

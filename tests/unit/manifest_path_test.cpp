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
      "sub/conout$.dat", "lpt\xB9.dat", "com\xB3",
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
      "a~b.txt", "~1.txt", "longname~1.txt", "data~1.pack", "a.b.c~1", "x~1y.dat", "caf\xE9/\xE9t\xE9.pak",
      "del\x7F.dat", "Data/maps/new area.dat"};
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

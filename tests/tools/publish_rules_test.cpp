// Paths publish refuses: what the launcher refuses, leaves out or cannot create on Windows.
#include "tools/kmcontent/publish_rules.h"
#include <gtest/gtest.h>

namespace {

bool Refused(const std::string& path) { return !PublishPathProblem(path).empty(); }

TEST(PublishPathProblem, OrdinaryGamePathsPass) {
  for (const char* path : {"Kelmorra.exe", "KMLauncher.exe", "Data/maps/new area.dat", "a/..b",
                           "Sub/musicsetting.cfg", "Sub/Readme.TXT", "caf\xC3\xA9/\xC3\xA9t\xC3\xA9.pak", "data/\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/\xE5\x9C\xB0\xE5\x9B\xB3.dat", "con_fig.txt",
                           "COM10.dat", "notes.txt"}) {
    EXPECT_EQ(PublishPathProblem(path), "") << path;
  }
}

TEST(PublishPathProblem, PlayerFilesAreRefusedInAnyLetterCase) {
  for (const char* path : {"coinit.tmp", "KMLauncher.cfg", "kmlauncher.CRC", "KMLauncher.log", "KMLauncher.old",
                           "MusicSetting.cfg", "Logs/debug.LOG", "x/cache.tmp", "big.bin.part"}) {
    EXPECT_NE(PublishPathProblem(path).find("player's own file"), std::string::npos) << path;
  }
}

TEST(PublishPathProblem, NamesWindowsWouldTurnIntoPlayerFilesAreRefused) {
  EXPECT_TRUE(Refused("coinit.tmp."));
  EXPECT_TRUE(Refused("./KMLauncher.log"));
}

TEST(PublishPathProblem, PathsTheLauncherCallsUnsafeAreRefused) {
  const std::vector<std::string> paths = {"", "/abs.dat", "../up.dat", "a/../b", "..", "C:x.dat",
                                          std::string("a\0b", 3), "a/... /y.txt", "KMLAUN~1.CFG",
                                          "CONIN$", "lpt\xB9.dat", "lpt\xC2\xB9.dat", "COM\xC2\xB3"};
  for (const std::string& path : paths) {
    EXPECT_TRUE(Refused(path)) << path;
  }
  EXPECT_NE(PublishPathProblem("a/../b").find("unsafe"), std::string::npos);
}

TEST(PublishPathProblem, NamesThatAreNotUtf8AreRefusedWithTheReason) {
  // Latin-1 "été", a cut sequence, an overlong "/", a UTF-16 surrogate.
  for (const char* path : {"\xE9t\xE9.pak", "data/\xE6\x97", "a\xC0\xAF" "b", "x\xED\xA0\x80.dat"}) {
    EXPECT_NE(PublishPathProblem(path).find("not valid UTF-8"), std::string::npos) << path;
  }
}

TEST(PublishPathProblem, NamesWindowsCannotHoldAreRefused) {
  for (const char* path : {"a<b", "a>b", "what?.txt", "star*.dat", "pipe|x", "quote\"x", "back\\slash",
                           "tab\there", "dot./x", "b../c", "blank /x", "name.", "name ", "CON", "con.txt",
                           "dir/nul.dat", "Aux", "prn.x.y", "COM1", "lpt9.log2", "COM0"}) {
    EXPECT_TRUE(Refused(path)) << path;
  }
}

TEST(PublishPathProblem, ALeadingBlankIsRefusedBecauseTheManifestLineWouldLoseIt) {
  EXPECT_NE(PublishPathProblem(" lead.dat").find("blank"), std::string::npos);
}

TEST(PublishPathProblem, FilesInDotFoldersAreRefusedBecauseServersHideThem) {
  EXPECT_TRUE(Refused(".config/settings.ini"));
  EXPECT_TRUE(Refused("data/.cache/a.pak"));
  EXPECT_FALSE(Refused("data/.served-as-any-file.pak"));
}

TEST(PublishPathProblem, OverlongPathsAreRefused) {
  std::string path = std::string(100, 'a') + "/" + std::string(kMaxPublishedPathBytes - 101, 'b');
  EXPECT_FALSE(Refused(path));
  EXPECT_TRUE(Refused(path + "c"));
  EXPECT_TRUE(Refused(std::string(256, 'n')));
}

TEST(CaseClashes, PathsDifferingOnlyInLetterCaseClash) {
  std::vector<std::string> clashes = CaseClashes({"Data/A.dat", "data/a.DAT", "Data/b.dat"});
  ASSERT_EQ(clashes.size(), 1u);
  EXPECT_NE(clashes[0].find("Data/A.dat"), std::string::npos);
  EXPECT_NE(clashes[0].find("data/a.DAT"), std::string::npos);
}

TEST(CaseClashes, NamesWindowsFoldsBeyondAsciiClash) {
  EXPECT_EQ(CaseClashes({"data/\xC3\x89p\xC3\xA9" "e.txt", "data/\xC3\xA9p\xC3\xA9" "e.txt"}).size(), 1u);
  EXPECT_EQ(CaseClashes({"\xC3\x89t\xC3\xA9/a", "\xC3\xA9t\xC3\xA9"}).size(), 1u);  // a file named like a folder
}

TEST(CaseClashes, AFileNamedLikeAFolderClashes) {
  EXPECT_EQ(CaseClashes({"maps", "Maps/x.dat"}).size(), 1u);
  EXPECT_EQ(CaseClashes({"a/b", "A/B/c"}).size(), 1u);
}

TEST(CaseClashes, FoldersSpelledDifferentlyShareOneFolderWithoutClash) {
  EXPECT_TRUE(CaseClashes({"Data/a.dat", "data/b.dat", "DATA/sub/c.dat"}).empty());
  EXPECT_TRUE(CaseClashes({"a.dat", "a.dat2", "a"}).empty());
}

}  // namespace

// The rules for downloads run ahead of the update pass: which entries may run ahead
// without two downloads touching one file or folder, and which first sources are certain.
#include "update/fetch_ahead.h"
#include <gtest/gtest.h>

namespace {
std::vector<bool> Candidates(const std::vector<std::string>& paths, uint64_t maxSize = 100) {
  std::vector<RemoteFile> files;
  std::vector<size_t> updates;
  for (const std::string& path : paths) {
    updates.push_back(files.size());
    files.push_back(RemoteFile{path, 10, 0});
  }
  return AheadCandidates(files, updates, maxSize, std::vector<bool>(updates.size(), false));
}
}  // namespace

TEST(AheadCandidates, NamesWindowsTakesAsOneFileOrAFolderOnTheWayStayInOrder) {
  EXPECT_EQ(Candidates({"a/b.dat", "c.dat", "a/d.dat"}), (std::vector<bool>{true, true, true}));
  // Letter case, trailing dots and blanks, "." parts and either separator.
  EXPECT_EQ(Candidates({"Data/X.pak", "data/x.pak", "y"}), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(Candidates({"a/b.", "a/b ", "a/./b", "a\\b", "c"}), (std::vector<bool>{false, false, false, false, true}));
  // A file where another entry needs a folder, in either order: neither runs ahead.
  EXPECT_EQ(Candidates({"maps", "maps/one.dat", "maps-2/x"}), (std::vector<bool>{false, false, true}));
  EXPECT_EQ(Candidates({"Maps/sub/one.dat", "maps/SUB"}), (std::vector<bool>{false, false}));
  // Non-ASCII letters may be one letter in two cases: such names are taken to collide.
  EXPECT_EQ(Candidates({"st\xE4" "dte/a", "st\xC4" "dte/A", "st\xE4" "dte/b"}), (std::vector<bool>{false, false, true}));
}

TEST(AheadCandidates, ShortNamesKeepTheWholeListInOrderAndBigFilesStayWithThePass) {
  EXPECT_EQ(Candidates({"a.dat", "LONGNA~1.DAT", "b.dat"}), (std::vector<bool>{false, false, false}));
  std::vector<RemoteFile> files{{"big.pak", 101, 0}, {"small.dat", 100, 0}, {"skipped", 1, 0}};
  EXPECT_EQ(AheadCandidates(files, {1, 0}, 100, {false, false}), (std::vector<bool>{true, false}));
  // A file the pass patches from its old version stays with the pass, whatever its size.
  EXPECT_EQ(AheadCandidates(files, {1, 2}, 100, {false, true}), (std::vector<bool>{true, false}));
}

TEST(FirstSource, CertainOnlyWhenTheEntriesBeforeCannotTurnTheMirrorOff) {
  const std::vector<bool> nothingKnown(50, false);
  MirrorStanding none;
  EXPECT_EQ(CertainSourceEnd(none, nothingKnown), 50u);
  EXPECT_FALSE(FirstSourceIsMirror(none));

  MirrorStanding fresh;
  fresh.announced = true;
  EXPECT_TRUE(FirstSourceIsMirror(fresh));
  // Entries 0, 1 and 2 undecided before entry 3: three failures would turn the mirror off.
  EXPECT_EQ(CertainSourceEnd(fresh, nothingKnown), 3u);

  MirrorStanding twoFailed = fresh;
  twoFailed.failures = 2;
  twoFailed.decided = 5;
  EXPECT_EQ(CertainSourceEnd(twoFailed, nothingKnown), 6u);

  MirrorStanding off = fresh;
  off.failures = 3;
  off.decided = 3;
  EXPECT_EQ(CertainSourceEnd(off, nothingKnown), 50u);
  EXPECT_FALSE(FirstSourceIsMirror(off));
}

TEST(FirstSource, FilesTheMirrorSuppliedAheadLetTheCertainEntriesRunOn) {
  MirrorStanding fresh;
  fresh.announced = true;
  fresh.decided = 1;
  std::vector<bool> supplied(10, false);
  supplied[1] = supplied[2] = true;  // no failure can come from these two
  EXPECT_EQ(CertainSourceEnd(fresh, supplied), 6u);
  // A supply after two open entries resets the count the pass will have.
  supplied[5] = true;
  EXPECT_EQ(CertainSourceEnd(fresh, supplied), 9u);
  // Supplies before the decided entries are the pass's own business.
  fresh.decided = 6;
  fresh.failures = 1;
  EXPECT_EQ(CertainSourceEnd(fresh, supplied), 8u);
}

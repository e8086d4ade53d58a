// The text of KMLauncher.crc (reading, writing, the 1200-byte line pieces) and the
// player-file rule.
#include "update/cache_file.h"
#include <gtest/gtest.h>

namespace {

FileStateCache Parse(const std::string& text) {
  FileStateCache cache;
  ParseCacheText(text, cache);
  return cache;
}

void ExpectEntry(const FileStateCache& cache, const std::string& key, uint32_t crc, uint64_t size,
                 uint64_t mtime) {
  auto found = cache.find(key);
  ASSERT_NE(found, cache.end()) << key;
  EXPECT_EQ(found->second.crc, crc) << key;
  EXPECT_EQ(found->second.size, size) << key;
  EXPECT_EQ(found->second.mtime, mtime) << key;
}

bool SameEntries(const FileStateCache& a, const FileStateCache& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, entry] : a) {
    auto found = b.find(key);
    if (found == b.end()) return false;
    const CacheEntry& other = found->second;
    if (entry.crc != other.crc || entry.size != other.size || entry.mtime != other.mtime) return false;
  }
  return true;
}

TEST(CacheRead, WrittenLineWithCrLfReadsBack) {
  FileStateCache cache = Parse("0000ABCD 10 20 dir/file.dat\r\n");
  ASSERT_EQ(cache.size(), 1u);
  ExpectEntry(cache, "dir/file.dat", 0xABCD, 10, 20);
}

TEST(CacheRead, KeysAreLowerCasedAndALaterLineWins) {
  FileStateCache cache = Parse("1 2 3 Data/File.DAT\n4 5 6 data/file.dat\n7 8 9 Other\n");
  ASSERT_EQ(cache.size(), 2u);
  ExpectEntry(cache, "data/file.dat", 4, 5, 6);
  ExpectEntry(cache, "other", 7, 8, 9);
}

TEST(CacheRead, KeyKeepsBlanksButLosesTrailingLineEndBytes) {
  FileStateCache cache = Parse("1 2 3 my dir/a file.dat \r\r\n4 5 6 \tlast");
  ExpectEntry(cache, "my dir/a file.dat ", 1, 2, 3);
  ExpectEntry(cache, "last", 4, 5, 6);
}

TEST(CacheRead, DamagedLinesAreSkippedAndTheRestIsRead) {
  FileStateCache cache = Parse(
      "zz 1 2 bad-crc\n1 2 two-numbers\n\n-1 2 3 negative\n1 -2 3 negative-size\n"
      "1FFFFFFFF 2 3 wide-crc\n1 2 99999999999999999999 wide-time\n"
      "FFFFFFFF 18446744073709551615 0 good\n");
  ASSERT_EQ(cache.size(), 1u);
  ExpectEntry(cache, "good", 0xFFFFFFFF, UINT64_MAX, 0);
}

TEST(CacheRead, NulByteEndsTheLineLikeACString) {
  FileStateCache cache = Parse(std::string("1 2 3 ab\0cd\n4 5 6 next\n", 23));
  ExpectEntry(cache, "ab", 1, 2, 3);
  ExpectEntry(cache, "next", 4, 5, 6);
}

TEST(CacheRead, OverlongLineArrivesAsPiecesEachALineOfItsOwn) {
  const std::string head = "1 2 3 ";
  const std::string key(kCacheLineMax - head.size(), 'k');
  FileStateCache cache = Parse(head + key + "4 5 6 tail\n");
  ASSERT_EQ(cache.size(), 2u);
  ExpectEntry(cache, key, 1, 2, 3);
  ExpectEntry(cache, "tail", 4, 5, 6);
}

TEST(CacheRead, LineOfExactlyTheBufferLengthIsWhole) {
  const std::string head = "1 2 3 ";
  const std::string key(kCacheLineMax - head.size(), 'k');
  FileStateCache cache = Parse(head + key + "\r\n" + head + key + "\n");
  ASSERT_EQ(cache.size(), 1u);
  ExpectEntry(cache, key, 1, 2, 3);
}

TEST(CacheWrite, LineHasEightUpperCaseHexDigitsAndDecimals) {
  EXPECT_EQ(FormatCacheLine("dir/file.dat", {0xABCD, 10, 20}), "0000ABCD 10 20 dir/file.dat\n");
  EXPECT_EQ(FormatCacheLine("k", {0xFFFFFFFF, UINT64_MAX, 0}), "FFFFFFFF 18446744073709551615 0 k\n");
}

TEST(CacheWrite, EntriesAreWrittenInByteOrderOfTheirKeys) {
  FileStateCache cache;
  cache["b.dat"] = {2, 2, 2};
  cache["a_x"] = {3, 3, 3};
  cache["a/x"] = {1, 1, 1};
  EXPECT_EQ(FormatCacheText(cache), "00000001 1 1 a/x\n00000003 3 3 a_x\n00000002 2 2 b.dat\n");
}

TEST(CacheWrite, TextReadsBackAsTheSameEntries) {
  FileStateCache cache;
  cache["my dir/a file.dat "] = {0xDEADBEEF, 123456789012, 133456789012345678};
  cache["data/empty.dat"] = {0, 0, 1};
  cache["x"] = {0xFFFFFFFF, UINT64_MAX, UINT64_MAX};
  EXPECT_TRUE(SameEntries(Parse(FormatCacheText(cache)), cache));
}

TEST(CacheWrite, EntryTheReaderCouldNotTakeWholeIsLeftOut) {
  FileStateCache cache;
  const std::string fits(kCacheLineMax - FormatCacheLine("", {}).size() + 1, 'f');
  cache[fits] = {};
  cache[fits + "g"] = {};
  std::string text = FormatCacheText(cache);
  EXPECT_EQ(text, FormatCacheLine(fits, {}));
  EXPECT_EQ(Parse(text).count(fits), 1u);
}

TEST(PlayerFiles, ProtectedNamesCountOnlyAtTheTop) {
  for (const char* name : {"coinit.tmp", "kmlauncher.cfg", "kmlauncher.crc", "kmlauncher.log",
                           "kmlauncher.old", "musicsetting.cfg"}) {
    EXPECT_TRUE(IsPlayerFile(name)) << name;
  }
  EXPECT_FALSE(IsPlayerFile("sub/musicsetting.cfg"));
  EXPECT_FALSE(IsPlayerFile("sub/kmlauncher.old"));
  EXPECT_FALSE(IsPlayerFile("kmlauncher.exe"));
}

TEST(PlayerFiles, ExtensionIsTakenFromTheLastDot) {
  for (const char* path : {"sub/debug.log", "x.tmp", "a/b/c.part", ".log", "a.b.log"}) {
    EXPECT_TRUE(IsPlayerFile(path)) << path;
  }
  for (const char* path : {"sub/readme.txt", "x.partial", "a.log.bak", "dir.log/file", "logs/tmp", "log"}) {
    EXPECT_FALSE(IsPlayerFile(path)) << path;
  }
}

}  // namespace

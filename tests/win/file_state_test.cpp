// The file-state cache against real files and file times: what is read, what is trusted,
// and the cache file on disk.
#include "core/globals_win.h"
#include "core/text.h"
#include "core/worker_flags.h"
#include "update/crc32.h"
#include "update/file_state_win.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <windows.h>

namespace {
RemoteFile Entry(const std::string& path, const std::string& content) {
  return RemoteFile{path, content.size(), Crc32Of(content.data(), content.size())};
}

std::string PatternBytes(size_t size) {
  std::string content(size, '\0');
  for (size_t i = 0; i < size; i++) content[i] = static_cast<char>((i * 2654435761u) >> 13);
  return content;
}

void SetWriteTime(const std::string& path, uint64_t fileTime) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
}
}  // namespace

class FileState : public ::testing::Test {
 protected:
  void SetUp() override {
    g_exeDir = MakeTestFolder("filestate");
    g_cache.clear();
  }
};

TEST_F(FileState, FolderWhereAFileIsExpectedNeedsUpdating) {
  CreateDirectoryA((g_exeDir + "data").c_str(), nullptr);
  uint64_t size = 0, mtime = 0;
  EXPECT_FALSE(FileInfo(g_exeDir + "data", size, mtime));
  EXPECT_FALSE(IsUpToDate(RemoteFile{"data", 0, 0}));
}

TEST_F(FileState, HashedFileIsCachedAndTrustedWhileSizeAndTimeStay) {
  WriteTestFile(g_exeDir + "a.dat", "content");
  RemoteFile entry = Entry("a.dat", "content");
  uint64_t before = g_hashedBytes;
  EXPECT_TRUE(IsUpToDate(entry));
  EXPECT_EQ(g_hashedBytes - before, 7u);
  EXPECT_TRUE(IsUpToDate(entry));
  EXPECT_EQ(g_hashedBytes - before, 7u) << "a cached file must not be read again";
}

TEST_F(FileState, TouchedFileIsReadOnceAndItsEntryRefreshed) {
  std::string path = g_exeDir + "b.dat";
  WriteTestFile(path, "same bytes");
  RemoteFile entry = Entry("b.dat", "same bytes");
  ASSERT_TRUE(IsUpToDate(entry));
  uint64_t size = 0, mtime = 0;
  ASSERT_TRUE(FileInfo(path, size, mtime));
  SetWriteTime(path, mtime + 10000000);
  uint64_t before = g_hashedBytes;
  EXPECT_TRUE(IsUpToDate(entry));
  EXPECT_EQ(g_hashedBytes - before, 10u);
  EXPECT_EQ(g_cache["b.dat"].mtime, mtime + 10000000);
}

TEST_F(FileState, WrongSizeIsDecidedWithoutReadingAndKeepsTheOldEntry) {
  WriteTestFile(g_exeDir + "c.dat", "longer content");
  g_cache["c.dat"] = CacheEntry{0x1234, 99, 42};
  uint64_t before = g_hashedBytes;
  EXPECT_FALSE(IsUpToDate(Entry("c.dat", "short")));
  EXPECT_EQ(g_hashedBytes, before);
  EXPECT_EQ(g_cache["c.dat"].crc, 0x1234u);
  EXPECT_EQ(g_cache["c.dat"].size, 99u);
}

TEST_F(FileState, CachedCrcThatDiffersMeansUpdateWithoutReading) {
  WriteTestFile(g_exeDir + "d.dat", "abc");
  uint64_t size = 0, mtime = 0;
  ASSERT_TRUE(FileInfo(g_exeDir + "d.dat", size, mtime));
  g_cache["d.dat"] = CacheEntry{0xDEADBEEF, size, mtime};
  uint64_t before = g_hashedBytes;
  EXPECT_FALSE(IsUpToDate(Entry("d.dat", "abc")));
  EXPECT_EQ(g_hashedBytes, before);
}

TEST_F(FileState, PathsDifferingInCaseShareOneEntry) {
  CreateDirectoryA((g_exeDir + "Data").c_str(), nullptr);
  WriteTestFile(g_exeDir + "Data\\File.bin", "xyz");
  EXPECT_TRUE(IsUpToDate(Entry("Data/File.bin", "xyz")));
  uint64_t before = g_hashedBytes;
  EXPECT_TRUE(IsUpToDate(Entry("DATA/file.BIN", "xyz")));
  EXPECT_EQ(g_hashedBytes, before);
  EXPECT_EQ(g_cache.size(), 1u);
}

TEST_F(FileState, CacheFileRoundTripsWithCrLfLines) {
  g_cache["dir/file with blanks.dat"] = CacheEntry{0xABCD, 10, 20};
  g_cache["a.bin"] = CacheEntry{0xFFFFFFFF, 0, 1};
  SaveCache();
  EXPECT_EQ(ReadFileOrEmpty(g_exeDir + "KMLauncher.crc"),
            "FFFFFFFF 0 1 a.bin\r\n0000ABCD 10 20 dir/file with blanks.dat\r\n");
  g_cache.clear();
  LoadCache();
  ASSERT_EQ(g_cache.size(), 2u);
  EXPECT_EQ(g_cache["dir/file with blanks.dat"].crc, 0xABCDu);
  EXPECT_EQ(g_cache["a.bin"].mtime, 1u);
}

TEST_F(FileState, ReadThatFailsPartWayIsNotAWholeFile) {
  // A pipe whose writer has gone: the bytes arrive, then the next read fails.
  HANDLE reader = nullptr, writer = nullptr;
  ASSERT_TRUE(CreatePipe(&reader, &writer, nullptr, 0));
  DWORD wrote = 0;
  WriteFile(writer, "partial", 7, &wrote, nullptr);
  CloseHandle(writer);
  uint32_t crc = 0;
  EXPECT_FALSE(HashOpenFile(reader, crc));
  CloseHandle(reader);
}

TEST_F(FileState, HashOfAFileOverSeveralViewsInTwoHalvesEqualsTheCrcOfItsBytesAndQuitStopsIt) {
  std::string content = PatternBytes(128 * 1048576 + 123);  // many blocks, a short last one
  WriteTestFile(g_exeDir + "big.pak", content);
  WriteTestFile(g_exeDir + "empty.bin", "");
  uint64_t before = g_hashedBytes;
  uint32_t running = 0;
  ASSERT_TRUE(HashFile(g_exeDir + "big.pak", running));
  EXPECT_EQ(~running, Crc32Of(content.data(), content.size()));
  EXPECT_EQ(g_hashedBytes - before, content.size());
  ASSERT_TRUE(HashFile(g_exeDir + "empty.bin", running));
  EXPECT_EQ(~running, 0u);

  g_quit = 1;
  bool complete = HashFile(g_exeDir + "big.pak", running);
  g_quit = 0;
  EXPECT_FALSE(complete);
}

namespace {
// Whether reads of the file fail from byte from on (the preloaded fault injector is active).
bool ReadsFailFrom(const std::string& path, size_t from) {
  HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::string head(from + 4096, '\0');
  DWORD got = 0;
  BOOL read = ReadFile(probe, &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
  CloseHandle(probe);
  return probe != INVALID_HANDLE_VALUE && !read;
}
}  // namespace

// The test runs with tests/win/read_fault preloaded: Linux reads of a file named
// "...read-fails-at-N" fail from byte N on, so ReadFile fails there as on a bad disk sector.
TEST_F(FileState, ReadThatFailsPartWayThroughALargeFileStoresNoCacheEntry) {
  std::string content = PatternBytes(40 * 1048576);  // eighty blocks of the reused buffer
  for (size_t from : {13 * 1048576 + 4096, 33 * 1048576}) {
    std::string failing = "game.read-fails-at-" + std::to_string(from) + ".pak";
    WriteTestFile(g_exeDir + failing, content);
    ASSERT_TRUE(ReadsFailFrom(g_exeDir + failing, from))
        << "reads of this file must fail part-way: run with LD_PRELOAD of the read_fault_preload module";

    uint64_t before = g_hashedBytes;
    EXPECT_FALSE(IsUpToDate(Entry(failing, content))) << from;
    EXPECT_EQ(g_cache.count(Lower(failing)), 0u) << "a partial checksum must never be cached, " << from;
    EXPECT_GE(g_hashedBytes - before, 4u * 1048576) << "the failure came after the first blocks";
    EXPECT_LT(g_hashedBytes - before, content.size());
  }
  WriteTestFile(g_exeDir + "same.pak", content);
  EXPECT_TRUE(IsUpToDate(Entry("same.pak", content)));  // the same bytes without the fault
  EXPECT_EQ(g_cache.count("same.pak"), 1u);
}

// Part files against real files: what a resume takes up, what the check keeps or deletes, and
// the rename through the open handle.
#include "core/globals_win.h"
#include "update/crc32.h"
#include "update/part_file_win.h"
#include "update/release_signature.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <windows.h>

namespace {
const std::string kContent = "the new version of the file, bytes 0 to 47 ....";

RemoteFile Entry(const std::string& content) {
  RemoteFile file{"data/a.dat", content.size(), Crc32Of(content.data(), content.size())};
  return file;
}

RemoteFile SignedEntry(const std::string& content) {
  RemoteFile file = Entry(content);
  file.hasSha256 = true;
  file.sha256 = Sha256Of(content.data(), content.size());
  return file;
}

// Resumes the part file and appends the rest of content after what it holds.
PartFile::Check CompleteFromResume(PartFile& part, const std::string& content) {
  EXPECT_TRUE(part.Resume());
  part.HashSha256WhileWriting();
  EXPECT_TRUE(part.OpenForWriting());
  std::string rest = content.substr(part.Size());
  EXPECT_TRUE(part.Append(rest.data(), rest.size()));
  part.Close();
  return part.VerifyOrDelete();
}

bool Logged(const std::string& prefix) {
  for (const std::string& line : LogLines()) {
    if (line.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}
}  // namespace

class PartFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    g_exeDir = MakeTestFolder("partfile");
    OpenTestLog(g_exeDir);
    path = g_exeDir + "a.dat.part";
  }
  std::string path;
};

TEST_F(PartFiles, ShortPrefixIsResumedAndCompleted) {
  WriteTestFile(path, kContent.substr(0, 5));
  RemoteFile file = Entry(kContent);
  PartFile part(file, path);
  EXPECT_EQ(CompleteFromResume(part, kContent), PartFile::Check::Ok);
  std::string local = g_exeDir + "a.dat";
  HANDLE open = part.TakeHandle();
  EXPECT_TRUE(MovePartIntoPlace(path, local, open));
  CloseHandle(open);
  EXPECT_EQ(ReadFileOrEmpty(local), kContent);
}

TEST_F(PartFiles, PrefixWithChangedBytesFailsTheCheckAndIsDeleted) {
  std::string changed = kContent.substr(0, 20);
  changed[7] ^= 1;
  WriteTestFile(path, changed);
  RemoteFile file = Entry(kContent);
  PartFile part(file, path);
  EXPECT_EQ(CompleteFromResume(part, kContent), PartFile::Check::BadCrc);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(PartFiles, PartLongerThanTheFileIsDeletedAndTheBuildStartsEmpty) {
  WriteTestFile(path, kContent + "more");
  RemoteFile file = Entry(kContent);
  PartFile part(file, path);
  ASSERT_TRUE(part.Resume());
  EXPECT_EQ(part.Size(), 0u);
  EXPECT_FALSE(FileExists(path));
}

TEST_F(PartFiles, NoOtherWriterGetsInBetweenTheResumeAndTheMove) {
  WriteTestFile(path, kContent.substr(0, 10));
  RemoteFile file = Entry(kContent);
  std::string local = g_exeDir + "a.dat";
  {
    PartFile part(file, path);
    ASSERT_TRUE(part.Resume());
    EXPECT_EQ(fopen(path.c_str(), "ab"), nullptr);  // held from the resume on
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    ASSERT_TRUE(part.OpenForWriting());
    std::string rest = kContent.substr(10);
    ASSERT_TRUE(part.Append(rest.data(), rest.size()));
    part.Close();
    ASSERT_EQ(part.VerifyOrDelete(), PartFile::Check::Ok);
  }
  // The verified part stays held after its PartFile is gone, until the move renames it.
  EXPECT_EQ(fopen(path.c_str(), "ab"), nullptr);
  EXPECT_TRUE(MovePartIntoPlace(path, local, INVALID_HANDLE_VALUE));
  EXPECT_EQ(ReadFileOrEmpty(local), kContent);
  EXPECT_FALSE(FileExists(path));
  // A part file no check holds is never moved.
  WriteTestFile(path, kContent);
  EXPECT_FALSE(MovePartIntoPlace(path, local, INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(FileExists(path));
}

TEST_F(PartFiles, RestartForgetsTheResumedPrefix) {
  WriteTestFile(path, "wrong start");
  RemoteFile file = Entry(kContent);
  PartFile part(file, path);
  ASSERT_TRUE(part.Resume());
  part.Restart();
  EXPECT_EQ(part.Size(), 0u);
  EXPECT_EQ(CompleteFromResume(part, kContent), PartFile::Check::Ok);
}

TEST_F(PartFiles, SignedFileWithWrongBytesFailsItsSha256StreamedOrReadBack) {
  RemoteFile file = SignedEntry(kContent);
  file.sha256[0] ^= 1;  // the CRC-32 matches, the SHA-256 does not
  PartFile streamed(file, path);
  EXPECT_EQ(CompleteFromResume(streamed, kContent), PartFile::Check::BadSha256);
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(Logged("SHA-256 mismatch on data/a.dat - deleting the download"));

  WriteTestFile(path, kContent.substr(0, 9));
  PartFile resumed(file, path);
  EXPECT_EQ(CompleteFromResume(resumed, kContent), PartFile::Check::BadSha256);
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(Logged("SHA-256 mismatch on data/a.dat (got "));
}

TEST_F(PartFiles, SignedFileResumedFromAPrefixIsAcceptedWhenWhole) {
  WriteTestFile(path, kContent.substr(0, 30));
  RemoteFile file = SignedEntry(kContent);
  PartFile part(file, path);
  EXPECT_EQ(CompleteFromResume(part, kContent), PartFile::Check::Ok);
}

TEST_F(PartFiles, MoveThroughTheOpenHandleReplacesTheOldFile) {
  std::string local = g_exeDir + "a.dat";
  WriteTestFile(local, "old version");
  RemoteFile file = Entry(kContent);
  PartFile part(file, path);
  part.StartEmpty();
  ASSERT_TRUE(part.OpenForWriting(true));
  ASSERT_TRUE(part.Append(kContent.data(), kContent.size()));
  ASSERT_EQ(part.VerifyOrDelete(), PartFile::Check::Ok);
  HANDLE open = part.TakeHandle();
  ASSERT_NE(open, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(MovePartIntoPlace(path, local, open));
  CloseHandle(open);
  EXPECT_EQ(ReadFileOrEmpty(local), kContent);
  EXPECT_FALSE(FileExists(path));
}

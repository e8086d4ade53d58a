// The install step's real-folder checks on real folders: existing parts are judged, parts
// not made yet are left to the step, the drive root is never refused, a file on the way is,
// and a held folder can still be written into. A junction is tested where the system can make
// one; Wine 8 cannot (FSCTL_SET_REPARSE_POINT is not supported), so under Wine the e2e
// install test shows a link instead, one made on the Linux side.
#include "install/real_folder_win.h"
#include "tests/win/win_test_support.h"
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

namespace {
std::string Folder(const char* name) {
  std::string folder = MakeTestFolder(name);
  folder.pop_back();
  return folder;
}

// A junction at link pointing at target (an existing folder); false when the system cannot.
bool MakeJunction(const std::string& link, const std::string& target) {
  CreateDirectoryA(link.c_str(), nullptr);
  HANDLE handle = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  std::wstring name = L"\\??\\";
  for (char c : target) name += static_cast<wchar_t>(c);
  // REPARSE_DATA_BUFFER of a mount point: tag, data length, reserved, then the substitute
  // name (offset, length), the print name (offset, length, empty) and both names' text.
  std::vector<uint8_t> buffer(16 + (name.size() + 2) * 2);
  WORD substituteBytes = static_cast<WORD>(name.size() * 2);
  DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  WORD dataLength = static_cast<WORD>(buffer.size() - 8), printOffset = static_cast<WORD>(substituteBytes + 2);
  WORD fields[] = {dataLength, 0, 0, substituteBytes, printOffset, 0};
  memcpy(buffer.data(), &tag, 4);
  memcpy(buffer.data() + 4, fields, sizeof fields);
  memcpy(buffer.data() + 16, name.c_str(), substituteBytes);
  DWORD returned = 0;
  BOOL made = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                              nullptr, 0, &returned, nullptr);
  CloseHandle(handle);
  return made != 0;
}
}  // namespace

TEST(RealFolder, RealFoldersPartsNotMadeYetAndTheDriveRootPass) {
  std::string folder = Folder("realfolder");
  EXPECT_TRUE(NoReparsePointOnPath(folder));
  EXPECT_TRUE(NoReparsePointOnPath(folder + "\\not\\made\\yet\\KelmorraGold"));
  EXPECT_TRUE(NoReparsePointOnPath(folder.substr(0, 3) + "KelmorraGold"));
  EXPECT_FALSE(NoReparsePointOnPath("\\\\server\\share\\KelmorraGold"));
}

TEST(RealFolder, AFileOnTheWayIsRefused) {
  std::string folder = Folder("realfolder-file");
  WriteTestFile(folder + "\\KelmorraGold", "a file where the folder should be");
  EXPECT_FALSE(NoReparsePointOnPath(folder + "\\KelmorraGold"));
  EXPECT_FALSE(NoReparsePointOnPath(folder + "\\KelmorraGold\\below\\KelmorraGold"));
  EXPECT_EQ(HoldRealFolder(folder + "\\KelmorraGold"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(HoldRealFolder(folder + "\\missing"), INVALID_HANDLE_VALUE);
}

// The install step writes into the folder it holds. (That the hold keeps the folder from
// being renamed is Windows' sharing rule; Wine does not apply it to folders.)
TEST(RealFolder, AHeldFolderStaysUsable) {
  std::string folder = Folder("realfolder-held");
  HANDLE held = HoldRealFolder(folder);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WriteTestFile(folder + "\\KMLauncher.cfg", "Server=a:1\r\n");
  EXPECT_EQ(ReadFileOrEmpty(folder + "\\KMLauncher.cfg"), "Server=a:1\r\n");
  EXPECT_TRUE(NoReparsePointOnPath(folder));
  CloseHandle(held);
}

TEST(RealFolder, AJunctionOnTheWayIsRefused) {
  std::string folder = Folder("realfolder-junction");
  CreateDirectoryA((folder + "\\target").c_str(), nullptr);
  if (!MakeJunction(folder + "\\KelmorraGold", folder + "\\target")) {
    GTEST_SKIP() << "this system cannot make a junction (error " << GetLastError() << ")";
  }
  EXPECT_FALSE(NoReparsePointOnPath(folder + "\\KelmorraGold"));
  EXPECT_FALSE(NoReparsePointOnPath(folder + "\\KelmorraGold\\sub\\KelmorraGold"));
  EXPECT_EQ(HoldRealFolder(folder + "\\KelmorraGold"), INVALID_HANDLE_VALUE);
}

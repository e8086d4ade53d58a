// The install folder picked by the player, the picker's start folder, and the command line
// handed to the elevated install process.
#include "core/text.h"
#include "install/install_command.h"
#include "install/install_folder.h"
#include <gtest/gtest.h>

TEST(InstallPick, ParentGetsTheInstallFolderAppended) {
  EXPECT_EQ(InstallDirFromPick("D:\\Games"), "D:\\Games\\KelmorraGold\\");
  EXPECT_EQ(InstallDirFromPick("D:\\Games\\"), "D:\\Games\\KelmorraGold\\");
}

TEST(InstallPick, DriveRootGetsNoDoubleBackslash) {
  EXPECT_EQ(InstallDirFromPick("D:\\"), "D:\\KelmorraGold\\");
}

TEST(InstallPick, KelmorraGoldFolderInAnyCaseIsUsedUnchanged) {
  EXPECT_EQ(InstallDirFromPick("D:\\Games\\kelmorragold"), "D:\\Games\\kelmorragold\\");
  EXPECT_EQ(InstallDirFromPick("D:\\KELMORRAGOLD\\"), "D:\\KELMORRAGOLD\\");
}

TEST(InstallPick, OnlyAWholeTrailingFolderNameCounts) {
  // Ends in the name's letters but not in a folder of that name.
  EXPECT_EQ(InstallDirFromPick("D:\\MyKelmorraGold"), "D:\\MyKelmorraGold\\");
  EXPECT_EQ(InstallDirFromPick("D:\\KelmorraGold\\Sub"), "D:\\KelmorraGold\\Sub\\KelmorraGold\\");
  // Shorter than the suffix.
  EXPECT_EQ(InstallDirFromPick("E:"), "E:\\KelmorraGold\\");
}

TEST(InstallPick, DefaultIsTheInstallFolderUnderProgramFiles) {
  EXPECT_EQ(InstallDirUnder("C:\\Program Files"), "C:\\Program Files\\KelmorraGold\\");
  EXPECT_EQ(InstallDirUnder("D:\\Apps\\"), "D:\\Apps\\KelmorraGold\\");
}

TEST(InstallPick, PickerStartsOnTheDefaultFoldersParent) {
  EXPECT_EQ(PickerStartFolder("C:\\Program Files\\KelmorraGold\\"), "C:\\Program Files");
  EXPECT_EQ(PickerStartFolder("D:\\KelmorraGold\\"), "D:");
}

TEST(InstallPick, RecordedFolderWithoutBackslashGetsOneAndKeepsItsName) {
  // InstallDir's rule for the registry value: no suffix rule, only the trailing backslash.
  EXPECT_EQ(WithTrailingBackslash("D:\\Games\\KelmorraGold"), "D:\\Games\\KelmorraGold\\");
  EXPECT_EQ(WithTrailingBackslash("E:\\Other\\"), "E:\\Other\\");
}

TEST(InstallCommand, ParametersQuoteTheFolderWithoutItsTrailingBackslash) {
  EXPECT_EQ(InstallParameters("10.0.0.5:25858", "D:\\Games\\KelmorraGold\\"),
            "/install 10.0.0.5:25858 \"D:\\Games\\KelmorraGold\"");
  EXPECT_EQ(InstallParameters("h:1", "C:\\Program Files\\KelmorraGold\\"),
            "/install h:1 \"C:\\Program Files\\KelmorraGold\"");
}

TEST(InstallCommand, ElevatedProcessReadsServerAndFolder) {
  InstallArguments parsed =
      ParseInstallArguments({"KMLauncher.exe", "/install", "10.0.0.5:25858", "D:\\Games\\KelmorraGold"}, "def:1");
  EXPECT_EQ(parsed.server, "10.0.0.5:25858");
  EXPECT_EQ(parsed.chosenDir, "D:\\Games\\KelmorraGold\\");
}

TEST(InstallCommand, MissingOrEmptyArgumentsFallBack) {
  InstallArguments onlySwitch = ParseInstallArguments({"KMLauncher.exe", "/INSTALL"}, "def:1");
  EXPECT_EQ(onlySwitch.server, "def:1");
  EXPECT_EQ(onlySwitch.chosenDir, "");
  InstallArguments noFolder = ParseInstallArguments({"KMLauncher.exe", "/install", "s:2"}, "def:1");
  EXPECT_EQ(noFolder.server, "s:2");
  EXPECT_EQ(noFolder.chosenDir, "");
  InstallArguments emptyFolder = ParseInstallArguments({"KMLauncher.exe", "/install", "s:2", ""}, "def:1");
  EXPECT_EQ(emptyFolder.chosenDir, "");
}

TEST(InstallCommand, FolderAlreadyEndingInBackslashKeepsOne) {
  EXPECT_EQ(ParseInstallArguments({"x", "/install", "s", "D:\\K\\"}, "d").chosenDir, "D:\\K\\");
}

TEST(InstallCommand, IcaclsGrantsUsersModifyOnTheQuotedFolderWithoutFollowingLinks) {
  EXPECT_EQ(IcaclsCommandLine("C:\\windows\\system32\\icacls.exe", "C:\\Program Files\\KelmorraGold"),
            "\"C:\\windows\\system32\\icacls.exe\" \"C:\\Program Files\\KelmorraGold\" "
            "/grant *S-1-5-32-545:(OI)(CI)M /T /L /Q");
}

TEST(InstallCommand, OnlyAFolderOwnedByAdministratorsSystemOrTheSystemFolderOwnerIsTaken) {
  const std::string trustedInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
  EXPECT_TRUE(IsAdministrativeOwner("S-1-5-32-544", trustedInstaller));
  EXPECT_TRUE(IsAdministrativeOwner("S-1-5-18", trustedInstaller));
  EXPECT_TRUE(IsAdministrativeOwner(trustedInstaller, trustedInstaller));
  EXPECT_FALSE(IsAdministrativeOwner("S-1-5-21-1004336348-1177238915-682003330-1001", trustedInstaller));
  EXPECT_FALSE(IsAdministrativeOwner("S-1-5-32-545", trustedInstaller));  // Users
  EXPECT_FALSE(IsAdministrativeOwner("", ""));                            // unknown
}

TEST(InstallCommand, TheAdministratorsCopyGetsTheSameArgumentsUnderItsOwnSwitch) {
  EXPECT_EQ(InstallCopyCommandLine("C:\\Windows\\Temp\\K\\KMLauncher.exe",
                                   {"D:\\Downloads\\KMLauncher.exe", "/install", "10.1.2.3:4567", "C:\\My Games\\KelmorraGold"}),
            "\"C:\\Windows\\Temp\\K\\KMLauncher.exe\" /install-from-copy \"10.1.2.3:4567\" \"C:\\My Games\\KelmorraGold\"");
  EXPECT_EQ(InstallCopyCommandLine("c.exe", {"a.exe", "/INSTALL"}), "\"c.exe\" /install-from-copy");
  EXPECT_TRUE(IsInstallSwitch("/Install"));
  EXPECT_TRUE(IsInstallSwitch("/install-from-copy"));
  EXPECT_FALSE(IsInstallSwitch("/installer"));
}

TEST(InstallableDir, OnlyAKelmorraGoldFolderOnADriveWrittenPlainlyIsSetUp) {
  for (const char* folder : {"C:\\Program Files\\KelmorraGold\\", "d:\\Games\\kelmorragold\\", "C:\\KelmorraGold\\",
                             "E:\\My Games\\KELMORRAGOLD", "C:\\a..b\\.x\\KelmorraGold\\"}) {
    EXPECT_TRUE(IsInstallableDir(folder)) << folder;
  }
  for (const char* folder : {"C:\\victim\\", "C:\\victim\\..\\victim\\", "C:\\Windows\\", "C:\\",
                             "C:\\victim\\..\\KelmorraGold\\", "C:\\.\\KelmorraGold\\", "C:\\x\\. .\\KelmorraGold\\",
                             "C:\\KelmorraGold\\..\\", "C:\\KelmorraGold.\\", "C:\\x\\KelmorraGold\\\\",
                             "C:\\x\\\\KelmorraGold\\", "\\\\server\\share\\KelmorraGold\\",
                             "\\\\?\\C:\\KelmorraGold\\", "\\\\.\\C:\\KelmorraGold\\", "\\KelmorraGold\\",
                             "C:KelmorraGold\\", "KelmorraGold\\", "1:\\KelmorraGold\\", "C:\\nul\\KelmorraGold\\",
                             "C:\\x\\KelmorraGold:stream\\", "C:\\PROGRA~1\\KelmorraGold\\", "C:\\x/../KelmorraGold\\",
                             ""}) {
    EXPECT_FALSE(IsInstallableDir(folder)) << folder;
  }
}

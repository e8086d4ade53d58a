// Where the game is installed: the rules that turn a picked folder, an environment value or a
// registry value into the install folder (always ending in a backslash).
#pragma once
#include "core/base.h"

// The folder every install ends in, unless the registry names another one.
constexpr const char* kInstallFolderName = "KelmorraGold\\";
constexpr const char* kFallbackProgramFiles = "C:\\Program Files";

// The program-files folder + "\KelmorraGold\".
std::string InstallDirUnder(std::string programFiles);

// The folder the player picked, with "KelmorraGold\" appended unless it already ends in a
// folder of that name in any letter case.
std::string InstallDirFromPick(const std::string& picked);

// The folder the picker opens on: the default install folder's parent.
std::string PickerStartFolder(const std::string& defaultInstallDir);

// True for a folder the elevated install step may set up and open to every local user: an
// absolute folder on a drive letter ("X:\...\"), whose parts are names Windows stores as
// written (no "." or ".." part, no device, short name or stream colon: the manifest path
// rule), and whose last part is "KelmorraGold" in any letter case, as every picked or
// default folder ends. Network and device forms ("\\server\share", "\\?\", "\\.\") are refused.
bool IsInstallableDir(const std::string& installDir);

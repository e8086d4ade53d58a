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

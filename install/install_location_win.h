// The install folder as this run sees it: the player's pick, else the folder an earlier
// install recorded in the registry, else the default under Program Files.
#pragma once
#include "core/base.h"

extern std::string g_chosenInstallDir;

std::string DefaultInstallDir();
std::string InstallDir();

// Shell-link shortcuts made by the install step. COM must be initialised by the caller.
#pragma once
#include "core/base.h"

// Writes a "Kelmorra Gold" shortcut file to the target with the working folder and the
// target's first icon. Every failure is silent: a missing shortcut does not stop an install.
void MakeShortcut(const std::string& shortcutPath, const std::string& target, const std::string& workingDir);

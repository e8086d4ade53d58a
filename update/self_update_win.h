// The launcher's replacement of itself with a verified new executable.
#pragma once
#include "core/base.h"

// Moves the running executable aside to KMLauncher.old, puts the part file in its place and
// starts it; on success posts WM_CLOSE to the main window. False after a failure (logged;
// the old executable is restored when the new one could not be put in place).
// launcherPath is the folder's KMLauncher.exe, the file every check compares: when the
// launcher runs under another name, the release is copied there first.
bool ReplaceRunningLauncher(const std::string& partPath, const std::string& launcherPath);

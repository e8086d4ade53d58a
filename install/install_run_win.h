// The install run: the worker in the ordinary launcher that starts the elevated install
// process and waits for it, and that elevated process itself.
#pragma once
#include "core/base.h"
#include <windows.h>

// Exit codes of the elevated install process.
constexpr int kInstallDone = 0;
constexpr int kInstallNoFolder = 2;
constexpr int kInstallCopyFailed = 3;

// The install worker: elevates a second copy of the launcher with "/install", waits, and on
// success starts the installed launcher and closes the window; otherwise back to NotInstalled.
DWORD WINAPI InstallThread(void* unused);

// The whole elevated install process ("/install" server "folder"); returns its exit code.
int RunInstallStep(const std::vector<std::string>& arguments);
